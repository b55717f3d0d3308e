#pragma once
// Classes in this file:
//   FrameArtwork   what a window with the side picture (the wizard frame, the
//                  window of a silent run) draws itself, for the DPI of its
//                  screen: the side picture and the window's icons; and the
//                  window's place when it moves to a screen of another DPI

#include "sys/Handles.h"
#include "wizard/SidePicture.h"

#include <windows.h>

namespace qv {

class FrameArtwork {
public:
    // window: a dialog whose template holds the side picture (bitmap 137 in
    // an SS_BITMAP static without identifier). Until follow changes them the
    // template's picture and the application's icon stay.
    void attach(HWND window) noexcept;

    // The side picture for dpi, and icon 128 at the sizes Windows draws a
    // window's icons at dpi (caption and task bar).
    void follow(UINT dpi);

    // WM_DPICHANGED, after the dialog manager's own handling: the window
    // takes the rectangle Windows suggests on the new screen. Returns the
    // new DPI.
    UINT acceptDpiChange(WPARAM wParam, LPARAM lParam) noexcept;

private:
    HWND window_ = nullptr;
    SidePicture sidePicture_;
    UniqueIcon bigIcon_, smallIcon_;
};

}  // namespace qv
