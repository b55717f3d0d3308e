#include "sys/OwnerWindow.h"

namespace qv {
namespace {

BOOL CALLBACK firstCaptionedRoot(HWND window, LPARAM found) noexcept
{
    HWND root = ::GetAncestor(window, GA_ROOTOWNER);
    if (root && (::GetWindowLongW(root, GWL_STYLE) & WS_CAPTION) == WS_CAPTION) {
        *reinterpret_cast<HWND*>(found) = root;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND findOwnerWindow() noexcept
{
    HWND window = ::GetActiveWindow();
    if (window) {
        window = ::GetAncestor(window, GA_ROOTOWNER);
    } else {
        ::EnumThreadWindows(::GetCurrentThreadId(), firstCaptionedRoot,
                            reinterpret_cast<LPARAM>(&window));
    }
    return window ? ::GetLastActivePopup(window) : nullptr;
}

}  // namespace qv
