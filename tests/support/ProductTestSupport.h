#pragma once
// Classes in this file:
//   runProcess      starts a command line and waits for its exit code
//   StartedProcess  a process that keeps running until the test ends it
//   findProcessWindow  the top-level window of a class owned by a process
//   regString, regDword, keyExists  reading the real registry
//   waitForCleanupCopies  waits for the uninstaller's self-deleting copies
//   pendingFileRenames    what Windows moves or deletes at its next start
//
// Used by the tests of the installed product (program, uninstaller).

#include "support/WindowDriver.h"  // windowText
#include "sys/Handles.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace qv::test {

// The exit code, or nothing when the process could not be started.
std::optional<DWORD> runProcess(const std::wstring& commandLine, const std::wstring& folder = {});

class StartedProcess {
public:
    explicit StartedProcess(const std::wstring& commandLine, const std::wstring& folder = {});
    ~StartedProcess();  // ends the process if it still runs
    StartedProcess(const StartedProcess&) = delete;
    StartedProcess& operator=(const StartedProcess&) = delete;

    bool started() const noexcept { return static_cast<bool>(process_); }
    DWORD id() const noexcept { return id_; }
    HANDLE handle() const noexcept { return process_.get(); }
    // Waits (at most timeoutMs) for the exit; the exit code or nothing.
    std::optional<DWORD> waitForExit(DWORD timeoutMs);

private:
    UniqueHandle process_;
    DWORD id_ = 0;
};

// Polls (at most timeoutMs) for a visible top-level window of the class
// that belongs to the process.
HWND findProcessWindow(DWORD processId, const wchar_t* windowClass, DWORD timeoutMs);
// The texts of a dialog's static controls, one after another (a message
// box's question).
std::wstring dialogText(HWND dialog);

std::optional<std::wstring> regString(HKEY root, const std::wstring& path, const wchar_t* name);
std::optional<DWORD> regDword(HKEY root, const std::wstring& path, const wchar_t* name);
bool keyExists(HKEY root, const std::wstring& path);
void setRegString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value);
void setRegDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD value);

// Deletes a folder with all it holds, read-only files included, as an
// administrator does by hand with a broken installation. Returns the paths
// that stayed (empty when everything went).
std::vector<std::wstring> deleteTreeByHand(const std::wstring& folder);

// The uninstaller deletes itself through a temporary copy ("qvu*.exe" in the
// temporary folder) that waits for it to end: a test waits for those copies
// before it looks at what the uninstallation left or lays out a new
// installation in the same place. Each copy is waited for until it has
// ended and its file and folder are gone (30 s at most each); the copies
// still there then are returned.
std::vector<std::wstring> waitForCleanupCopies();

// The names of the run folders ("orvane_{...}") in this user's temporary
// folder, sorted.
std::vector<std::wstring> runFoldersInTemp();
// Waits for the clean-up copies, then until the run folders are those of
// before again (30 s at most); the run folders then.
std::vector<std::wstring> runFoldersAfterCleanup(const std::vector<std::wstring>& before);

// HKLM\...\Session Manager PendingFileRenameOperations with each NUL shown
// as '|'; empty when there is none.
std::wstring pendingFileRenames();

}  // namespace qv::test
