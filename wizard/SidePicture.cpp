#include "wizard/SidePicture.h"

#include "framework/Dialog.h"
#include "resources/resource.h"
#include "sys/Dpi.h"

namespace qv {
namespace {

constexpr int kWidth = 87, kHeight = 171;  // bitmap 137, the 100 % picture

// StretchBlt with HALFTONE: averages the source pixels, so a reduced
// picture stays smooth.
UniqueBitmap resized(HBITMAP source, int width, int height)
{
    BITMAP info{};
    if (!::GetObjectW(source, sizeof info, &info)) return {};
    HDC screen = ::GetDC(nullptr);
    if (!screen) return {};
    UniqueMemoryDC from(::CreateCompatibleDC(screen));
    UniqueMemoryDC to(::CreateCompatibleDC(screen));
    UniqueBitmap result(::CreateCompatibleBitmap(screen, width, height));
    ::ReleaseDC(nullptr, screen);
    if (!from || !to || !result) return {};
    HGDIOBJ oldFrom = ::SelectObject(from.get(), source);
    HGDIOBJ oldTo = ::SelectObject(to.get(), result.get());
    ::SetStretchBltMode(to.get(), HALFTONE);
    ::SetBrushOrgEx(to.get(), 0, 0, nullptr);
    const BOOL drawn = ::StretchBlt(to.get(), 0, 0, width, height, from.get(), 0, 0, info.bmWidth, info.bmHeight,
                                    SRCCOPY);
    ::SelectObject(from.get(), oldFrom);
    ::SelectObject(to.get(), oldTo);
    return drawn ? std::move(result) : UniqueBitmap();
}

}  // namespace

SidePictureChoice sidePictureFor(UINT dpi) noexcept
{
    const UINT id = dpi <= 96 ? IDB_SIDE_PICTURE : dpi <= 144 ? IDB_SIDE_PICTURE_150 : IDB_SIDE_PICTURE_200;
    return {id, scaledForDpi(kWidth, dpi), scaledForDpi(kHeight, dpi)};
}

SidePicture::~SidePicture()
{
    if (bitmap_ && control_ && ::IsWindow(control_))
        ::SendMessageW(control_, STM_SETIMAGE, IMAGE_BITMAP, 0);
}

bool SidePicture::show(UINT dpi)
{
    if (!control_ || dpi == dpi_) return true;
    const SidePictureChoice choice = sidePictureFor(dpi);
    UniqueBitmap bitmap(static_cast<HBITMAP>(
        ::LoadImageW(CDialog::resourceInstance(), MAKEINTRESOURCEW(choice.bitmapId), IMAGE_BITMAP, 0, 0, 0)));
    if (!bitmap) return false;
    BITMAP info{};
    ::GetObjectW(bitmap.get(), sizeof info, &info);
    if (info.bmWidth != choice.width || info.bmHeight != choice.height) {
        bitmap = resized(bitmap.get(), choice.width, choice.height);
        if (!bitmap) return false;
    }
    // The control returns the bitmap it showed: the template's, which is now
    // ours to delete, or our own earlier one.
    UniqueBitmap previous(reinterpret_cast<HBITMAP>(
        ::SendMessageW(control_, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap.get()))));
    if (previous.get() == bitmap_.get()) previous.release();
    bitmap_ = std::move(bitmap);
    dpi_ = dpi;
    return true;
}

}  // namespace qv
