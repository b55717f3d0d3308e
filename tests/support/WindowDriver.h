#pragma once
// Helpers for tests that drive windows, of this process (from a second
// thread, while the test's thread sits in a modal loop) or of a process the
// test started. Everything polls with a time-out and never asserts a timing.
//
//   ChildProcess          starts a program, waits for its end, its exit code
//   waitForWindow         the first top-level window that matches, or null
//   findTopLevelWindow    the same without waiting
//   windowText            WM_GETTEXT of any window, also of other processes
//   messageBoxText        the text of a message box (its static 0xFFFF)
//   clickButton           BM_CLICK on a dialog's button, posted
//   dpiAwareness          a window's DPI awareness as Windows reports it
//   ModalDriver           runs a callable on a second thread (to answer the
//                         boxes that the test's own thread opens)

#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace qv::test {

// What a top-level window must be to match; empty fields match anything.
struct WindowQuery {
    DWORD processId = 0;        // 0: any process
    std::wstring className;     // "#32770" for dialogs and message boxes
    std::wstring caption;       // exact
    bool visibleOnly = true;
    HWND exclude = nullptr;     // e.g. a box already answered
};

HWND findTopLevelWindow(const WindowQuery& query);
// Polls every 20 ms; null after timeoutMs.
HWND waitForWindow(const WindowQuery& query, DWORD timeoutMs = 20000);
// Polls until the window is gone; false after timeoutMs.
bool waitForWindowGone(HWND window, DWORD timeoutMs = 20000);

std::wstring windowText(HWND window);
std::wstring className(HWND window);
// The message of a system message box; empty when the window is none.
std::wstring messageBoxText(HWND box);
// The ids of a message box's buttons (IDOK, IDCANCEL, IDRETRY ...), in z-order.
std::vector<int> messageBoxButtons(HWND box);
// True when the box shows the icon of the given MB_ICON* style (checked
// against the system's icon for it).
bool messageBoxHasIcon(HWND box, UINT iconStyle);
void clickButton(HWND dialog, int id);

// "unaware", "system", "per-monitor" or "per-monitor v2"; empty when the
// system cannot tell. Works for windows of other processes.
std::string dpiAwareness(HWND window);
// What dpiAwareness reports for a window of a program whose manifest asks
// for per-monitor awareness v2: Wine keeps no version of per-monitor
// awareness and reports "per-monitor" (without a manifest Wine makes a
// process system aware).
std::string perMonitorAwareByManifest();

class ChildProcess {
public:
    // Starts commandLine (the program's quoted path first) with the extra
    // environment variables added to this process's ones.
    explicit ChildProcess(const std::wstring& commandLine,
                          const std::vector<std::pair<std::wstring, std::wstring>>& environment = {});
    ~ChildProcess();  // ends a process that is still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const noexcept { return info_.hProcess != nullptr; }
    DWORD id() const noexcept { return info_.dwProcessId; }
    HANDLE handle() const noexcept { return info_.hProcess; }
    // The exit code, or STILL_ACTIVE after timeoutMs.
    DWORD wait(DWORD timeoutMs = 30000);

private:
    PROCESS_INFORMATION info_{};
};

// Runs a program with its arguments to its end: its exit code. A program
// that cannot start fails the test and gives 0xFFFFFFFF; one still running
// after timeoutMs is ended and gives STILL_ACTIVE.
DWORD runToEnd(const std::wstring& program, const std::wstring& arguments,
               const std::vector<std::pair<std::wstring, std::wstring>>& environment = {},
               DWORD timeoutMs = 180000);

// The folder of the running test executable, with a trailing backslash.
std::wstring executableFolder();

// Runs work on a second thread; the destructor waits for it. Use it to answer
// a modal box or dialog that the test's own thread is about to show.
class ModalDriver {
public:
    explicit ModalDriver(std::function<void()> work) : thread_(std::move(work)) {}
    ~ModalDriver()
    {
        if (thread_.joinable()) thread_.join();
    }
    ModalDriver(const ModalDriver&) = delete;
    ModalDriver& operator=(const ModalDriver&) = delete;

private:
    std::thread thread_;
};

}  // namespace qv::test
