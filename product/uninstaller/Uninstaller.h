#pragma once
// Classes and functions in this file:
//   UninstallResult          how an uninstallation ended (also the exit code)
//   Uninstaller              removes what Uninstall.ulog lists, last entry first
//   productProcessesRunning  how many of the product's programs run
//
// How the uninstaller's own file and folders go once it has ended is in
// SelfDeletion.h.
//
// The uninstaller lies in the installation folder beside Uninstall.ulog, which
// the installer wrote; it reads that log with the installer's own reader.
// Shared data files (archive kind 3) stay: other users and other
// installations may still use them.
//
// The log lies where a user may be able to write it, so its lines are taken
// as claims: only entries this installation can own (InstallationArea) are
// acted on, every removal goes through a handle checked for links
// (sys/PathGuard.h), and the program's " /Unregister" runs only for the
// program in the uninstaller's own folder. Entries left alone for that
// reason are named in the /LOG file and make the result Incomplete.
//
// Installers and the uninstaller exclude each other through the installers'
// mutex (identity/InstanceObjects.h): the uninstaller takes it before it looks at
// anything it removes and keeps it to its end; its clean-up copy takes it
// next, for its own deletions. An installation run that did not end is
// recovered first (uninstall/RunRecovery.h), as the installer's start would.

#include "identity/InstanceObjects.h"
#include "product/common/ProductStrings.h"
#include "sys/LogFile.h"
#include "uninstall/UninstallLog.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace qv::product {

// The numbers are the installer's for the same cases (app/ExitCodes.h):
// one meaning per number, for both programs.
enum class UninstallResult : int {
    Removed = 0,
    NoLog = 2,               // Uninstall.ulog missing or unreadable: nothing removed
    Incomplete = 4,          // removed, but something could not be deleted, or a
                             // log entry was not this installation's to remove
    ProductRunning = 170,    // ERROR_BUSY: Trimora runs: nothing removed
    HelpShown = 1223,        // /? or /HELP: nothing removed
    Declined = 1602,         // ERROR_INSTALL_USEREXIT: the user answered No
    UnexpectedError = 1603,  // ERROR_INSTALL_FAILURE: an exception nothing expected, logged
    InstallerRunning = 1618, // ERROR_INSTALL_ALREADY_RUNNING: nothing removed
    LogFileFailed = 1622,    // ERROR_INSTALL_LOG_FAILURE: /LOG cannot be created
    BadCommandLine = 1639,   // ERROR_INVALID_COMMAND_LINE
    RestartRequired = 3010,  // ERROR_SUCCESS_REBOOT_REQUIRED: removed, but a file in use
                             // below the installation folder (or the uninstaller itself,
                             // where no clean-up copy could start) goes only when
                             // Windows starts again
};

class Uninstaller {
public:
    // selfPath: this executable; silent: /S, ask and tell nothing.
    Uninstaller(std::wstring selfPath, bool silent);

    UninstallResult run();

    // /LOG: every step also goes into this file; null: none.
    void setLog(LogFile* log) noexcept { runLog_ = log; }

private:
    bool loadLog();
    bool waitUntilNothingRuns();
    // True when there was an unfinished installation run to deal with.
    bool recoverUnfinishedRun();
    void dropUnfinishedRun();
    bool confirm();
    void unregisterProgram();
    void removeEntries();
    void removeFile(const std::wstring& path);
    void removeFolder(const std::wstring& path);
    // A file in use: deleted when Windows starts again, where that is safe.
    void removeAtRestart(const std::wstring& path);
    // Whether a file deleted at the restart lies below folder.
    bool holdsFileRemovedAtRestart(const std::wstring& folder) const;
    void removeUninstallKey();
    void removeInstallationRecord();
    void removeLogAndSelf();
    void tell(UINT textId, UINT icon) const;
    void note(const std::wstring& text) const;
    bool holdsSelf(const std::wstring& folder) const;
    void judgeEntries();
    void skip(const std::wstring& path, const wchar_t* reason);

    NamedMutex installerMutex_;  // held from waitUntilNothingRuns to the end
    std::wstring self_;
    std::wstring folder_;
    std::wstring logPath_;
    bool silent_;
    ProductStrings strings_;
    std::wstring label_;
    UninstallLog log_;
    std::wstring programPath_;
    std::vector<std::wstring> foldersAfterExit_;  // the uninstaller's folder and its created parents
    std::vector<bool> owned_;                     // per entry of the log, in its order
    bool incomplete_ = false;
    std::vector<std::wstring> removedAtRestart_;  // files Windows deletes at its next start
    bool restartRequired_ = false;
    LogFile* runLog_ = nullptr;
    // The recovery's lines: the run's log, else a log of its own in the
    // temporary folder, made at its first line.
    std::optional<LogOnDemand> recoveryLog_;
    bool runLeftUnfinished_ = false;
    bool installerRan_ = false;  // what waitUntilNothingRuns found, when it gave up
};

// Number of processes registered in the product line's running count,
// counted without registering this one.
std::uint32_t productProcessesRunning();

}  // namespace qv::product
