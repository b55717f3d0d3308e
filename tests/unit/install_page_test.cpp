// The install page in this process, on the installer's common controls, as
// the display of a real installation: after every message pump the page
// shows what it shows once drawn whole again. The page draws only what a
// notification changed, so a region it forgets shows stale pixels here.
#include "app/InstallApp.h"
#include "lang/Languages.h"
#include "engine/Archive.h"
#include "engine/InstallRun.h"
#include "engine/InstallSequence.h"
#include "resources/resource.h"
#include "support/TestFiles.h"
#include "wizard/DlgInstall.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

using namespace qv;

namespace {

using test::shellFolder;

// The pixels of a window and its children as they are on screen.
std::vector<std::uint32_t> pixelsOf(HWND window)
{
    RECT r{};
    ::GetWindowRect(window, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC source = ::GetWindowDC(window);
    HDC memory = ::CreateCompatibleDC(source);
    HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    ::GdiFlush();
    std::vector<std::uint32_t> pixels(static_cast<const std::uint32_t*>(bits),
                                      static_cast<const std::uint32_t*>(bits) + width * height);
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(window, source);
    return pixels;
}

// The page as the install sequence's display, compared with a whole redraw
// after each of its message pumps.
class ComparingDisplay : public InstallDisplay {
public:
    explicit ComparingDisplay(CDlgInstall& page) : page_(page) {}

    void AppendLog(const std::wstring& text, bool heading) override
    {
        page_.AppendLog(text, heading);
        last_ = text.empty() || heading ? L"(a full-width line)" : text;
    }
    void SetStatus(const std::wstring& text) override { page_.SetStatus(text); }
    void SetStatusPath(const std::wstring& text) override { page_.SetStatusPath(text); }
    void ResetProgress() override { page_.ResetProgress(); }
    void SetProgress(int position) override { page_.SetProgress(position); }
    void ShowWaitCursor(bool wait) override { page_.ShowWaitCursor(wait); }

    void PumpMessages() override
    {
        page_.PumpMessages();
        ++pumps;
        const std::vector<std::uint32_t> shown = pixelsOf(page_.hwnd());
        redrawWhole();
        const std::vector<std::uint32_t> whole = pixelsOf(page_.hwnd());
        if (whole != shown) stale.push_back(last_ + L" (" + differences(shown, whole) + L")");
    }

    void redrawWhole()
    {
        const UINT flags = RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW;
        ::RedrawWindow(page_.hwnd(), nullptr, nullptr, flags);
        ::RedrawWindow(page_.GetDlgItem(IDC_LOG), nullptr, nullptr, flags);
    }

    int pumps = 0;
    // At each pump that showed stale pixels: the log's last text and where.
    std::vector<std::wstring> stale;

private:
    std::wstring differences(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) const
    {
        RECT r{};
        ::GetWindowRect(page_.hwnd(), &r);
        const long width = r.right - r.left;
        long left = width, top = 1L << 30, right = -1, bottom = -1, count = 0;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (a[i] == b[i]) continue;
            const long x = static_cast<long>(i) % width, y = static_cast<long>(i) / width;
            left = std::min(left, x), top = std::min(top, y), right = std::max(right, x), bottom = std::max(bottom, y);
            ++count;
        }
        return std::to_wstring(count) + L" pixels in (" + std::to_wstring(left) + L"," + std::to_wstring(top) +
               L")-(" + std::to_wstring(right) + L"," + std::to_wstring(bottom) + L") of the page";
    }

    CDlgInstall& page_;
    std::wstring last_;
};

class InstallPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
        ::InitCommonControlsEx(&controls);
        setLanguage(EnglishLanguage);
        // Paths long enough to scroll the log sideways, as the product's do.
        app.installPath = shellFolder(CSIDL_PROGRAM_FILES) + L"\\Orvane Systems\\Trimora 6";
        app.startMenuFolder = shellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Orvane Systems\\Trimora 6";
        app.createStartMenuShortcut = app.createDesktopShortcut = true;
        ASSERT_TRUE(app.instanceMutex.tryAcquire());

        ASSERT_TRUE(host.Create(IDD_PROGRESS));
        ASSERT_TRUE(page.Create(IDD_PAGE_INSTALL, &host));
        page.RefreshTexts();
        host.ShowWindow(SW_SHOW);
        page.ShowWindow(SW_SHOW);
        // The log has the keyboard focus, as after a click into it: its caret
        // moves with every line. The pointer is away, so that nothing lights
        // up under it.
        ::SetFocus(page.GetDlgItem(IDC_LOG));
        ::SetCursorPos(::GetSystemMetrics(SM_CXSCREEN) - 1, ::GetSystemMetrics(SM_CYSCREEN) - 1);
    }

    CInstallApp app;
    CDialog host{IDD_PROGRESS};
    CDlgInstall page{app};
};

TEST_F(InstallPage, ShowsAfterEveryPumpWhatAWholeRedrawShows)
{
    ComparingDisplay display(page);
    display.PumpMessages();  // the options summary, as the page was loaded
    const std::vector<std::uint32_t> summary = pixelsOf(page.hwnd());
    InstallTarget target;
    EXPECT_TRUE(runInstallation(app, display, target, [] { return loadResourceStream(); }));

    EXPECT_GT(display.pumps, 10);
    EXPECT_EQ(display.stale, std::vector<std::wstring>{});
    // The last lines, appended without a pump between them, once shown.
    const std::vector<std::uint32_t> shown = (page.PumpMessages(), pixelsOf(page.hwnd()));
    display.redrawWhole();
    EXPECT_TRUE(pixelsOf(page.hwnd()) == shown);
    // The pixels read are the page's: they changed with what it shows.
    EXPECT_FALSE(shown == summary);
}

// Between two notifications that change nothing on screen, what arrives in
// the queue (a message for the log, one for the thread) is still taken by the
// next pump.
TEST_F(InstallPage, PumpAfterAnUnchangedProgressTakesWhatWaits)
{
    page.ResetProgress();
    page.SetProgress(40);
    page.PumpMessages();

    const UINT probe = ::RegisterWindowMessageW(L"QvInstallPageProbe");
    ::PostMessageW(page.GetDlgItem(IDC_LOG), probe, 0, 0);
    ::PostThreadMessageW(::GetCurrentThreadId(), WM_NULL, 0, 0);
    page.SetProgress(40);  // the same percent: nothing to draw
    page.PumpMessages();

    MSG left{};
    EXPECT_FALSE(::PeekMessageW(&left, nullptr, 0, 0, PM_NOREMOVE)) << "message 0x" << std::hex << left.message;
}

}  // namespace
