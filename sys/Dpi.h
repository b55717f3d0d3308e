#pragma once
// Functions in this file:
//   windowDpi            the DPI a window is drawn at
//   systemDpi            the DPI of the screen's device context
//   scaledForDpi         a length of the 96-DPI layout at another DPI
//   systemMetricForDpi   a system metric (icon sizes) at a DPI
//
// A per-monitor aware window is drawn at the DPI of the screen it is on,
// which changes when it moves (WM_DPICHANGED). The per-window functions
// exist from Windows 10 1607 on and are bound by name; before that a
// process is at most system aware and every window has the system's DPI.

#include <windows.h>

namespace qv {

inline constexpr UINT kDefaultDpi = 96;  // 100 %

// GetDpiForWindow where Windows has it, else the DPI of the screen's device
// context; 96 when neither answers.
UINT windowDpi(HWND window) noexcept;

// The DPI the system's fonts and metrics were made for (per-monitor aware:
// the primary screen's when the user signed in); 96 when unknown.
UINT systemDpi() noexcept;

// length * dpi / 96, halves rounded up (MulDiv's rounding).
int scaledForDpi(int length, UINT dpi) noexcept;

// GetSystemMetricsForDpi where Windows has it, else GetSystemMetrics
// scaled from the system's DPI to dpi.
int systemMetricForDpi(int index, UINT dpi) noexcept;

}  // namespace qv
