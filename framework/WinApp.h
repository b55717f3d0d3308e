#pragma once
// Classes in this file:
//   CWinApp   the one application object of the process: its name (the
//             caption of its message boxes), its main window and the
//             per-application initialisation that derived applications override

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

    // Until the application names itself, its name is the stem of the
    // executable's file name.
    const std::wstring& appName() const noexcept { return appName_; }
    void setAppName(std::wstring name) { appName_ = std::move(name); }

    CWnd* mainWnd() const noexcept { return mainWnd_; }
    void setMainWnd(CWnd* wnd) noexcept { mainWnd_ = wnd; }

    // A message box owned by the main window (when it has one), with the
    // application's name as caption. Returns the button chosen.
    int messageBox(const std::wstring& text, UINT type) const;

    // The application object of the process, or null outside its lifetime.
    static CWinApp* current() noexcept;

private:
    std::wstring appName_;
    CWnd* mainWnd_ = nullptr;
    CWinApp* previous_ = nullptr;
};

// The running executable's full path ("" if the system cannot tell).
std::wstring modulePath(HMODULE module = nullptr);

}  // namespace qv
