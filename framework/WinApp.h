#pragma once
// Classes in this file:
//   CWinApp   the one application object of the process: its name (the
//             caption of its message boxes), its main window, the
//             per-application initialisation that derived applications
//             override, the message pre-translation and the exit code
//
// The framework's entry point (framework/WinMain.cpp) runs the application
// object that the program's static initialisation constructed: InitInstance,
// then, only when it returns true, a message loop until WM_QUIT; the process
// ends with ExitInstance's result.

#include <windows.h>

#include <string>

namespace qv {

class CWnd;

class CWinApp {
public:
    // The newest application object becomes the process's current one.
    CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    virtual ~CWinApp();

    // Per-application initialisation. Returning false ends the application
    // without entering a message loop.
    virtual bool InitInstance();
    // The application's end; the result is the process's exit code (the
    // WM_QUIT code after a message loop, else 0).
    virtual int ExitInstance();
    // Every message the framework's loops and pumps take from the queue is
    // offered here before it is translated and dispatched; true consumes it.
    // The default offers it to the framework's dialogs (preTranslateMessage).
    virtual bool PreTranslateMessage(MSG& message);

    // Runs the application as the entry point does: InitInstance, the message
    // loop when it returned true, ExitInstance.
    int run();

    // Until the application names itself, its name is the stem of the
    // executable's file name.
    const std::wstring& appName() const noexcept { return appName_; }
    void setAppName(std::wstring name) { appName_ = std::move(name); }

    CWnd* mainWnd() const noexcept { return mainWnd_; }
    void setMainWnd(CWnd* wnd) noexcept { mainWnd_ = wnd; }

    // The framework's message box (appMessageBox): owned by the safe owner
    // window, the application's name as caption, default icons, modeless
    // windows disabled meanwhile. Returns the button chosen.
    int messageBox(const std::wstring& text, UINT type) const;

    // The application object of the process, or null outside its lifetime.
    static CWinApp* current() noexcept;

private:
    std::wstring appName_;
    CWnd* mainWnd_ = nullptr;
    CWinApp* previous_ = nullptr;
    int quitCode_ = 0;
};

}  // namespace qv
