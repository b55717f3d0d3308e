#include "sys/Dpi.h"

namespace qv {
namespace {

template <class Fn>
Fn user32Function(const char* name) noexcept
{
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(user32, name))) : nullptr;
}

}  // namespace

UINT systemDpi() noexcept
{
    UINT dpi = 0;
    if (HDC screen = ::GetDC(nullptr)) {
        dpi = static_cast<UINT>(::GetDeviceCaps(screen, LOGPIXELSY));
        ::ReleaseDC(nullptr, screen);
    }
    return dpi ? dpi : kDefaultDpi;
}

UINT windowDpi(HWND window) noexcept
{
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = user32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpiForWindow && window) {
        if (UINT dpi = getDpiForWindow(window)) return dpi;
    }
    return systemDpi();
}

int scaledForDpi(int length, UINT dpi) noexcept
{
    return ::MulDiv(length, static_cast<int>(dpi), static_cast<int>(kDefaultDpi));
}

int systemMetricForDpi(int index, UINT dpi) noexcept
{
    using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
    static const auto forDpi = user32Function<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
    if (forDpi) return forDpi(index, dpi);
    return ::MulDiv(::GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(systemDpi()));
}

}  // namespace qv
