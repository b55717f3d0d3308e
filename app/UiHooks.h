#pragma once
// Classes in this file:
//   UiHooks   the process-wide callbacks through which the application
//             framework tells the message layer (ErrorMessages.h) the owner
//             of a box, its caption, the installer's window icon, and when a
//             modal box begins and ends
// Functions:
//   uiHooks                the record, every hook empty until installed
//   installDefaultUiHooks  binds the hooks to the framework (static
//                          initialisation, once)

#include <windows.h>

#include <functional>
#include <string>
#include <utility>

namespace qv {

struct UiHooks {
    // Default caption of showMessage.
    std::function<std::wstring()> captionHook;
    // The icon of the installer's windows; the wizard frame takes it as its
    // big icon.
    std::function<HICON()> windowIconHook;
    // Owner of a showMessage box, and a top-level window that the hook
    // disabled and that is to be enabled again after the box.
    std::function<std::pair<HWND, HWND>()> ownerHook;
    // false before a box is shown, true after it closed: modeless windows
    // may be enabled again.
    std::function<void(bool)> modalHook;
};

UiHooks& uiHooks();

// Caption: the framework's application name; owner: the framework's safe
// owner window with the top-level window it disabled; modal: the framework's
// enabling of its modeless windows. The window-icon hook stays empty: the
// application object installs it. Runs once per process.
void installDefaultUiHooks();

}  // namespace qv
