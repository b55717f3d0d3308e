#include "wizard/FrameArtwork.h"

#include "resources/resource.h"
#include "sys/Dpi.h"

namespace qv {
namespace {

// The static that shows bitmap 137; its template gives it no identifier.
HWND sidePictureControl(HWND window) noexcept
{
    for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[16]{};
        ::GetClassNameW(child, cls, 16);
        if (::lstrcmpiW(cls, L"Static") == 0 && (::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
            return child;
    }
    return nullptr;
}

UniqueIcon applicationIcon(int width, int height)
{
    return UniqueIcon(static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr),
                                                      MAKEINTRESOURCEW(IDI_APPLICATION_ICON), IMAGE_ICON,
                                                      width, height, 0)));
}

}  // namespace

void FrameArtwork::attach(HWND window) noexcept
{
    window_ = window;
    sidePicture_.attach(sidePictureControl(window));
}

void FrameArtwork::follow(UINT dpi)
{
    if (!window_) return;
    sidePicture_.show(dpi);
    // The window shows the new icons before the old ones go.
    if (UniqueIcon icon = applicationIcon(systemMetricForDpi(SM_CXICON, dpi), systemMetricForDpi(SM_CYICON, dpi))) {
        ::SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon.get()));
        bigIcon_ = std::move(icon);
    }
    if (UniqueIcon icon =
            applicationIcon(systemMetricForDpi(SM_CXSMICON, dpi), systemMetricForDpi(SM_CYSMICON, dpi))) {
        ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon.get()));
        smallIcon_ = std::move(icon);
    }
}

UINT FrameArtwork::acceptDpiChange(WPARAM wParam, LPARAM lParam) noexcept
{
    if (const auto* suggested = reinterpret_cast<const RECT*>(lParam); suggested && window_)
        ::SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                       suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    return LOWORD(wParam);
}

}  // namespace qv
