#pragma once
// Classes in this file:
//   SidePicture   the wizard frame's side picture drawn for the DPI of the
//                 screen the wizard is on
// Functions:
//   sidePictureFor   which of the artwork's bitmaps serves a DPI, and the
//                    size the picture takes there

#include "sys/Handles.h"

#include <windows.h>

namespace qv {

struct SidePictureChoice {
    UINT bitmapId;  // 137 (100 %), 138 (150 %) or 139 (200 %)
    int width;      // 87 x 171 at the DPI, halves rounded up
    int height;
};

// The bitmap drawn for the DPI, or else for the next DPI above it (200 %
// above 192 DPI), and the picture's size at dpi: the bitmap's own size at
// 96, 144 and 192 DPI.
SidePictureChoice sidePictureFor(UINT dpi) noexcept;

class SidePicture {
public:
    SidePicture() = default;
    SidePicture(const SidePicture&) = delete;
    SidePicture& operator=(const SidePicture&) = delete;
    // Takes its own bitmap back from the control before deleting it.
    ~SidePicture();

    // control: the frame's SS_BITMAP static, which its template gave the
    // 100 % picture.
    void attach(HWND control) noexcept { control_ = control; }

    // Shows the picture for dpi; the static control takes the bitmap's size.
    // Nothing changes while dpi is the one shown (96 at first: the
    // template's own bitmap stays). A DPI between the artwork's gets the
    // next larger bitmap, reduced. False when no bitmap could be made; the
    // control keeps what it showed.
    bool show(UINT dpi);

    UINT dpi() const noexcept { return dpi_; }

private:
    HWND control_ = nullptr;
    UniqueBitmap bitmap_;  // the one the control shows, once it is ours
    UINT dpi_ = 96;
};

}  // namespace qv
