#pragma once
// Functions in this file: the framework's modal message box and what it
// needs from the framework.
//   safeOwner       the window that may own a modal box or dialog
//   enableModeless  disables or re-enables the framework's modeless windows
//   appMessageBox   message box with the application's name as caption

#include <windows.h>

#include <string>

namespace qv {

// The owner a modal box should have: parent, or, when parent is null, the
// last active pop-up of the application's main window. A child window is
// never an owner, its first non-child ancestor is taken instead. When
// topLevel is given and the owner's top-level window differs from the owner
// and is enabled, that top-level window is disabled (the box then blocks it
// too) and returned in *topLevel for the caller to enable again; otherwise
// *topLevel is null.
HWND safeOwner(HWND parent, HWND* topLevel) noexcept;

// false disables every modeless top-level dialog of the framework while a
// modal box runs, true enables them again; calls nest.
void enableModeless(bool enable) noexcept;

// Shows text in a modal message box owned by safeOwner(nullptr), with the
// application's name (CWinApp::appName) as caption. Without an icon in type,
// OK and OK/Cancel boxes get the exclamation icon and Yes/No and
// Yes/No/Cancel boxes the question icon. The box reads right to left when its
// owner has the right-to-left layout. Modeless windows are disabled while it
// runs. Returns the button chosen (0 if the box could not be shown). With a
// message-box stand-in set (sys/MessageBoxGate.h), the stand-in's answer.
int appMessageBox(const std::wstring& text, UINT type = MB_OK);

}  // namespace qv
