#include "framework/MessageBox.h"

#include "framework/Dialog.h"
#include "framework/WinApp.h"
#include "sys/ModulePath.h"
#include "framework/Wnd.h"
#include "sys/MessageBoxGate.h"

#include <vector>

namespace qv {
namespace {

struct ModelessState {
    int disableDepth = 0;
    std::vector<HWND> disabled;  // what the outermost disable switched off
};

ModelessState& modeless() noexcept
{
    static ModelessState state;
    return state;
}

BOOL CALLBACK disableModelessDialog(HWND window, LPARAM) noexcept
{
    CDialog* dialog = CDialog::fromHandle(window);
    if (dialog && !dialog->isModal() && ::IsWindowEnabled(window)) {
        try {
            modeless().disabled.push_back(window);
        } catch (...) {
            return TRUE;
        }
        ::EnableWindow(window, FALSE);
    }
    return TRUE;
}


}  // namespace

HWND safeOwner(HWND parent, HWND* topLevel) noexcept
{
    HWND owner = parent;
    if (!owner) {
        CWinApp* app = CWinApp::current();
        if (app && app->mainWnd()) owner = app->mainWnd()->hwnd();
    }
    // A pop-up cannot be owned by a child window.
    while (owner && (::GetWindowLongW(owner, GWL_STYLE) & WS_CHILD)) owner = ::GetParent(owner);

    HWND top = owner;
    for (HWND up = owner; up; up = ::GetParent(up)) top = up;

    // With the main window as starting point, a pop-up of it that is active
    // (a modal dialog over it) is the better owner.
    if (!parent && owner) owner = ::GetLastActivePopup(owner);

    if (topLevel) {
        *topLevel = nullptr;
        if (top && top != owner && ::IsWindowEnabled(top)) {
            ::EnableWindow(top, FALSE);
            *topLevel = top;
        }
    }
    return owner;
}

void enableModeless(bool enable) noexcept
{
    ModelessState& state = modeless();
    if (!enable) {
        if (state.disableDepth++ == 0)
            ::EnumThreadWindows(::GetCurrentThreadId(), disableModelessDialog, 0);
        return;
    }
    if (state.disableDepth == 0 || --state.disableDepth > 0) return;
    for (HWND window : state.disabled)
        if (::IsWindow(window)) ::EnableWindow(window, TRUE);
    state.disabled.clear();
}

int appMessageBox(const std::wstring& text, UINT type)
{
    if (MessageBoxStandIn standIn = messageBoxStandIn()) return standIn(text, type);
    if ((type & MB_ICONMASK) == 0) {
        switch (type & MB_TYPEMASK) {
        case MB_OK:
        case MB_OKCANCEL: type |= MB_ICONEXCLAMATION; break;
        case MB_YESNO:
        case MB_YESNOCANCEL: type |= MB_ICONQUESTION; break;
        default: break;
        }
    }
    CWinApp* app = CWinApp::current();
    std::wstring caption = app ? app->appName() : executableStem();

    HWND topLevel = nullptr;
    HWND owner = safeOwner(nullptr, &topLevel);
    if (owner && (::GetWindowLongW(owner, GWL_EXSTYLE) & WS_EX_LAYOUTRTL)) type |= MB_RTLREADING;

    enableModeless(false);
    int result = ::MessageBoxW(owner, text.c_str(), caption.c_str(), type);
    if (topLevel) ::EnableWindow(topLevel, TRUE);
    enableModeless(true);
    return result;
}

}  // namespace qv
