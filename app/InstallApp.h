#pragma once
// Classes in this file:
//   CInstallApp   the installer's application object and the session state it
//                 holds: start-up fills it, the wizard pages change it, the
//                 install sequence reads it

#include "app/CommandLine.h"
#include "app/InstanceObjects.h"
#include "app/SessionState.h"
#include "app/StartUp.h"
#include "framework/WinApp.h"
#include "sys/LogFile.h"
#include "uninstall/UninstallLog.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace qv {

// How the last install sequence of the run ended.
enum class InstallOutcome {
    NotRun,
    Installed,
    InstalledWithFailedSteps,  // every file is in place; a later step failed
    FailedRolledBack,          // nothing of the run remains installed
};

class CInstallApp : public CWinApp {
public:
    // Creates instanceMutex (not owned) and installs the window-icon hook
    // (icon 128 of the executable). The settings choose the wizard frame that
    // start-up runs.
    explicit CInstallApp(StartUpSettings settings = {});
    // Releases instanceMutex if owned; uninstallLog goes without touching a file.
    ~CInstallApp() override;

    // Start-up (app/StartUp.cpp); always false: the process then ends.
    bool InitInstance() override;
    // exitCode when start-up set one, else the framework's own code.
    int ExitInstance() override;

    // installState; for OlderVersion and NewerVersion, previousVersionText is
    // also copied into *versionText when it is given.
    InstallState getInstallState(std::wstring* versionText) const;

    InstallState installState = InstallState::NotInstalled;
    // displayLabel of the installed program (Trimora 6.03); only for
    // OlderVersion and NewerVersion.
    std::wstring previousVersionText;
    // The installer's own global mutex, created not owned; start-up takes it,
    // the install sequence lends it to the registration run.
    NamedMutex instanceMutex;
    // Installation folder of this run, without trailing separator.
    std::wstring installPath;
    // Full path of the Start-menu folder that receives the shortcuts.
    std::wstring startMenuFolder;
    // The run's temporary folder, the value of <Temporary>.
    std::wstring tempFolder;
    // Start-up sets the three options together to true, true, false.
    bool createStartMenuShortcut = false;
    bool createDesktopShortcut = false;
    bool advancedMode = false;
    // The run's journal, preloaded by start-up from an earlier installation.
    UninstallLog uninstallLog;
    // The install sequence of this run has succeeded; never goes back to false.
    bool installed = false;
    // File version of the installed program (MS word × 2^32 + LS word); only
    // for OlderVersion, 0 otherwise.
    std::uint64_t previousVersion = 0;

    StartUpSettings startUpSettings;

    // --- runs started with a switch ---------------------------------------
    // The switches of this run; start-up reads them first.
    CommandLineOptions options;
    // /LOG: the run's log file, open before anything changes.
    std::unique_ptr<LogFile> runLog;
    InstallOutcome lastOutcome = InstallOutcome::NotRun;
    // The process's exit code, set by start-up only for a run started with
    // a switch: a run without arguments ends as the framework ends it.
    std::optional<int> exitCode;
};

// The process's application object, or null outside its lifetime.
CInstallApp* installApp() noexcept;

}  // namespace qv
