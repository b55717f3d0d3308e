// The wizard frame at the screen's DPI, in this process: the side picture,
// the flags and the window's icons drawn for the DPI the frame opens at and
// for the DPI that a move to another screen announces (WM_DPICHANGED), and
// every text of the frame and its pages whole in its control. CTest runs it
// in prefixes at 96, 144 and 192 DPI (QV_WINE_DPI, scripts/wine-run.sh).
//
// Under Wine no screen changes its DPI, and Wine's dialog manager does not
// rescale a dialog's controls and fonts on WM_DPICHANGED as Windows does for
// per-monitor (v2) dialogs: the move here is a WM_DPICHANGED that the test
// sends, and what it checks is what the frame does itself, its pictures, its
// icons and its place.
#include "app/InstallApp.h"
#include "lang/Languages.h"
#include "resources/resource.h"
#include "support/WindowDriver.h"
#include "sys/Dpi.h"
#include "wizard/InstallDlg.h"
#include "wizard/SidePicture.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using namespace qv;

namespace {

// As the installer's manifest asks: per-monitor aware (v2).
void becomePerMonitorAware()
{
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    auto set = reinterpret_cast<SetContextFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    if (set) set(reinterpret_cast<HANDLE>(-4));  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
}

struct Size {
    int width = 0, height = 0;
    bool operator==(const Size&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Size& s) { return out << s.width << " x " << s.height; }
};

Size bitmapSize(HBITMAP bitmap)
{
    BITMAP info{};
    if (!bitmap || !::GetObjectW(bitmap, sizeof info, &info)) return {};
    return {info.bmWidth, info.bmHeight};
}

Size iconSize(HICON icon)
{
    ICONINFO info{};
    if (!icon || !::GetIconInfo(icon, &info)) return {};
    Size size = bitmapSize(info.hbmColor ? info.hbmColor : info.hbmMask);
    if (!info.hbmColor) size.height /= 2;  // a monochrome icon: mask over image
    if (info.hbmColor) ::DeleteObject(info.hbmColor);
    if (info.hbmMask) ::DeleteObject(info.hbmMask);
    return size;
}

Size windowSize(HWND window)
{
    RECT r{};
    ::GetWindowRect(window, &r);
    return {r.right - r.left, r.bottom - r.top};
}

// The pixels of a bitmap as 32-bit rows, for comparing two bitmaps.
std::vector<DWORD> pixels(HBITMAP bitmap)
{
    const Size size = bitmapSize(bitmap);
    std::vector<DWORD> result(static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = size.width;
    info.bmiHeader.biHeight = -size.height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = ::GetDC(nullptr);
    ::GetDIBits(screen, bitmap, 0, static_cast<UINT>(size.height), result.data(), &info, DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, screen);
    return result;
}

HWND sidePictureControl(HWND frame)
{
    for (HWND child = ::GetWindow(frame, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        if (test::className(child) == L"Static" && (::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
            return child;
    return nullptr;
}

HWND languageList(HWND frame)
{
    for (HWND page = ::GetWindow(frame, GW_CHILD); page; page = ::GetWindow(page, GW_HWNDNEXT))
        if (HWND list = ::GetDlgItem(page, IDC_LANGUAGE)) return list;
    return nullptr;
}

// What the frame draws for a DPI, as it shows it.
struct Drawn {
    Size picture, pictureControl, flagCell, bigIcon, smallIcon;
    RECT window{};
};

Drawn drawn(HWND frame)
{
    Drawn d;
    HWND picture = sidePictureControl(frame);
    d.picture = bitmapSize(reinterpret_cast<HBITMAP>(::SendMessageW(picture, STM_GETIMAGE, IMAGE_BITMAP, 0)));
    d.pictureControl = windowSize(picture);
    HIMAGELIST flags = reinterpret_cast<HIMAGELIST>(::SendMessageW(languageList(frame), CBEM_GETIMAGELIST, 0, 0));
    int cx = 0, cy = 0;
    if (flags && ::ImageList_GetIconSize(flags, &cx, &cy)) d.flagCell = {cx, cy};
    d.bigIcon = iconSize(reinterpret_cast<HICON>(::SendMessageW(frame, WM_GETICON, ICON_BIG, 0)));
    d.smallIcon = iconSize(reinterpret_cast<HICON>(::SendMessageW(frame, WM_GETICON, ICON_SMALL, 0)));
    ::GetWindowRect(frame, &d.window);
    return d;
}

void expectDrawnFor(const Drawn& d, UINT dpi)
{
    const SidePictureChoice choice = sidePictureFor(dpi);
    const Size picture{choice.width, choice.height};
    EXPECT_EQ(d.picture, picture) << dpi << " DPI";
    EXPECT_EQ(d.pictureControl, picture) << dpi << " DPI";
    EXPECT_EQ(d.flagCell, (Size{scaledForDpi(18, dpi), scaledForDpi(12, dpi)})) << dpi << " DPI";
}

class WizardAtDpi : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        becomePerMonitorAware();
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_USEREX_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&controls);
    }

    void SetUp() override
    {
        setLanguage(EnglishLanguage);
        app.installPath = L"C:\\Program Files\\Orvane Systems\\Trimora 6";
        app.startMenuFolder = L"C:\\ProgramData\\Start Menu\\Programs\\Orvane Systems\\Trimora 6";
        app.createStartMenuShortcut = app.createDesktopShortcut = true;
    }

    // Runs the wizard; look runs on a second thread with the frame, then the
    // wizard is left with Exit and Yes.
    void withFrame(const std::function<void(HWND)>& look)
    {
        test::ModalDriver driver([&] {
            test::WindowQuery query;
            query.processId = ::GetCurrentProcessId();
            query.className = L"#32770";
            HWND frame = test::waitForWindow(query);
            if (!frame || !::GetDlgItem(frame, IDC_SIDE_PANEL)) {
                ADD_FAILURE() << "no wizard frame";
                return;
            }
            look(frame);
            test::clickButton(frame, IDCANCEL);
            query.exclude = frame;
            if (HWND box = test::waitForWindow(query, 5000)) test::clickButton(box, IDYES);
        });
        CInstallDlg wizard(app);
        wizard.DoModal();
    }

    CInstallApp app;
};

// Which bitmap serves which DPI: the artwork's own at 96, 144 and 192 DPI,
// the next larger one reduced in between, the 200 % one enlarged above.
TEST(SidePictureChoice, TheArtworksBitmapAtItsDpiAndTheNextLargerElsewhere)
{
    struct Case {
        UINT dpi, bitmap;
        int width, height;
    };
    for (const Case& c : {Case{96, IDB_SIDE_PICTURE, 87, 171}, Case{120, IDB_SIDE_PICTURE_150, 109, 214},
                          Case{144, IDB_SIDE_PICTURE_150, 131, 257}, Case{168, IDB_SIDE_PICTURE_200, 152, 299},
                          Case{192, IDB_SIDE_PICTURE_200, 174, 342}, Case{288, IDB_SIDE_PICTURE_200, 261, 513}}) {
        const SidePictureChoice choice = sidePictureFor(c.dpi);
        EXPECT_EQ(choice.bitmapId, c.bitmap) << c.dpi;
        EXPECT_EQ(choice.width, c.width) << c.dpi;
        EXPECT_EQ(choice.height, c.height) << c.dpi;
    }
    // The artwork's bitmaps have exactly the sizes of their DPIs.
    for (UINT dpi : {96u, 144u, 192u}) {
        const SidePictureChoice choice = sidePictureFor(dpi);
        HBITMAP bitmap = static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr),
                                                           MAKEINTRESOURCEW(choice.bitmapId), IMAGE_BITMAP, 0, 0, 0));
        EXPECT_EQ(bitmapSize(bitmap), (Size{choice.width, choice.height})) << dpi;
        if (bitmap) ::DeleteObject(bitmap);
    }
}

// The icons hold the sizes Windows draws window icons and flags at 100, 150
// and 200 %, so that none of them is scaled from another size.
TEST(Artwork, IconsCarryTheSizesOfEachScale)
{
    HINSTANCE module = ::GetModuleHandleW(nullptr);
    auto exact = [&](UINT id, int width, int height) {
        // LR_DEFAULTCOLOR without LR_SHARED: the icon as its resource holds
        // it at that size, or the nearest one stretched. Its image must be
        // the resource's own: the group's entry for that size.
        HRSRC group = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
        if (!group) return false;
        const auto* bytes = static_cast<const BYTE*>(::LockResource(::LoadResource(module, group)));
        const WORD count = *reinterpret_cast<const WORD*>(bytes + 4);
        for (WORD i = 0; i < count; ++i) {
            const BYTE* entry = bytes + 6 + 14 * i;
            const int w = entry[0] ? entry[0] : 256, h = entry[1] ? entry[1] : 256;
            if (w == width && h == height) return true;
        }
        return false;
    };
    for (int size : {16, 20, 24, 32, 40, 48, 64, 256})
        EXPECT_TRUE(exact(IDI_APPLICATION_ICON, size, size)) << "icon 128 at " << size;
    for (UINT flag : {IDI_FLAG_FRENCH, IDI_FLAG_ENGLISH, IDI_FLAG_GREEK, IDI_FLAG_HUNGARIAN})
        for (UINT dpi : {96u, 144u, 192u})
            EXPECT_TRUE(exact(flag, scaledForDpi(16, dpi), scaledForDpi(12, dpi))) << "flag " << flag << " at " << dpi;
}

TEST_F(WizardAtDpi, OpensWithThePicturesOfTheScreensDpi)
{
    UINT dpi = 0;
    Drawn seen;
    withFrame([&](HWND frame) {
        dpi = windowDpi(frame);
        seen = drawn(frame);
    });
    ASSERT_NE(dpi, 0u);
    // The prefix's DPI (scripts/wine-run.sh) reached the frame.
    if (const char* prefixDpi = std::getenv("QV_WINE_DPI")) EXPECT_EQ(dpi, std::stoul(prefixDpi));
    expectDrawnFor(seen, dpi);
    if (dpi != kDefaultDpi) {
        EXPECT_EQ(seen.bigIcon, (Size{systemMetricForDpi(SM_CXICON, dpi), systemMetricForDpi(SM_CYICON, dpi)}));
        EXPECT_EQ(seen.smallIcon,
                  (Size{systemMetricForDpi(SM_CXSMICON, dpi), systemMetricForDpi(SM_CYSMICON, dpi)}));
    }
}

// Moves to screens of 150, 125 and 200 % and back to the first: each time the
// frame takes the rectangle Windows suggests and draws for the new DPI; back
// at 96 DPI it shows the 100 % picture itself again.
TEST_F(WizardAtDpi, FollowsAMoveToAScreenOfAnotherDpi)
{
    struct Step {
        UINT dpi;
        RECT suggested;
        Drawn seen;
    };
    std::vector<Step> steps;
    UINT start = 0;
    std::vector<DWORD> shownAtTheEnd, picture100;
    withFrame([&](HWND frame) {
        start = windowDpi(frame);
        RECT r{};
        ::GetWindowRect(frame, &r);
        int offset = 0;
        for (UINT dpi : {144u, 120u, 192u, start}) {
            offset += 10;
            const RECT suggested{r.left + offset, r.top + offset,
                                 r.left + offset + ::MulDiv(r.right - r.left, static_cast<int>(dpi), static_cast<int>(start)),
                                 r.top + offset + ::MulDiv(r.bottom - r.top, static_cast<int>(dpi), static_cast<int>(start))};
            ::SendMessageW(frame, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
            steps.push_back({dpi, suggested, drawn(frame)});
        }
        shownAtTheEnd = pixels(reinterpret_cast<HBITMAP>(
            ::SendMessageW(sidePictureControl(frame), STM_GETIMAGE, IMAGE_BITMAP, 0)));
        HBITMAP own = static_cast<HBITMAP>(
            ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_SIDE_PICTURE), IMAGE_BITMAP, 0, 0, 0));
        picture100 = pixels(own);
        ::DeleteObject(own);
    });
    ASSERT_EQ(steps.size(), 4u);
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << step.dpi << " DPI");
        EXPECT_TRUE(::EqualRect(&step.seen.window, &step.suggested));
        expectDrawnFor(step.seen, step.dpi);
        EXPECT_EQ(step.seen.bigIcon,
                  (Size{systemMetricForDpi(SM_CXICON, step.dpi), systemMetricForDpi(SM_CYICON, step.dpi)}));
        EXPECT_EQ(step.seen.smallIcon,
                  (Size{systemMetricForDpi(SM_CXSMICON, step.dpi), systemMetricForDpi(SM_CYSMICON, step.dpi)}));
    }
    if (start == kDefaultDpi) {
        ASSERT_FALSE(picture100.empty());
        EXPECT_EQ(shownAtTheEnd, picture100);
    }
}

std::wstring withoutMnemonics(const std::wstring& text)
{
    std::wstring result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && i + 1 < text.size()) ++i;
        result += text[i];
    }
    return result;
}

std::string narrow(const std::wstring& text)
{
    std::string result;
    for (wchar_t c : text) result += c < 128 ? static_cast<char>(c) : '?';
    return result;
}

// The texts of window's controls (and of the pages in it) that their
// controls cannot show whole, measured with each control's own font, and
// controls that reach beyond the right or bottom edge of their window.
// Single-line texts of buttons are measured as one line; statics that wrap
// are measured wrapped at their width.
void collectCut(HWND window, UINT dpi, std::vector<std::string>& cut)
{
    RECT area{};
    ::GetClientRect(window, &area);
    for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        const std::wstring cls = test::className(child);
        const std::wstring text = test::windowText(child);
        const std::string name = narrow(cls) + " " + std::to_string(::GetDlgCtrlID(child)) + " \"" + narrow(text) + "\"";
        // The template's rules and panels run to the frame's edges on purpose.
        const LONG staticType = ::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK;
        const bool ornament = cls == L"Static" && (staticType == SS_ETCHEDHORZ || staticType == SS_WHITERECT);
        RECT r{};
        ::GetWindowRect(child, &r);
        ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        if (!ornament && (r.right > area.right || r.bottom > area.bottom))
            cut.push_back(name + " reaches beyond its window");
        if (cls == L"#32770") {
            collectCut(child, dpi, cut);
            continue;
        }
        if (text.empty()) continue;
        const LONG style = ::GetWindowLongW(child, GWL_STYLE);
        RECT client{};
        ::GetClientRect(child, &client);
        HDC dc = ::GetDC(child);
        HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(child, WM_GETFONT, 0, 0)));
        if (cls == L"Static") {
            const LONG type = style & SS_TYPEMASK;
            if (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT || type == SS_LEFTNOWORDWRAP) {
                UINT flags = DT_CALCRECT | DT_EXPANDTABS | (type == SS_LEFTNOWORDWRAP ? DT_SINGLELINE : DT_WORDBREAK);
                if (style & SS_NOPREFIX) flags |= DT_NOPREFIX;
                RECT needed{0, 0, client.right, 0};
                ::DrawTextW(dc, text.c_str(), -1, &needed, flags);
                if (needed.right > client.right || needed.bottom > client.bottom)
                    cut.push_back(name + " needs " + std::to_string(needed.right) + " x " +
                                  std::to_string(needed.bottom) + ", has " + std::to_string(client.right) + " x " +
                                  std::to_string(client.bottom));
            }
        } else if (cls == L"Button") {
            const LONG type = style & BS_TYPEMASK;
            SIZE extent{};
            const std::wstring shown = withoutMnemonics(text);
            ::GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &extent);
            // Room for the text: push buttons keep a margin inside their edge,
            // check boxes and radio buttons lose their box and the gap after
            // it, group boxes their frame's indent.
            int room = client.right;
            if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON)
                room -= scaledForDpi(6, dpi);
            else if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON ||
                     type == BS_AUTORADIOBUTTON || type == BS_3STATE || type == BS_AUTO3STATE)
                room -= scaledForDpi(13 + 3, dpi);
            else if (type == BS_GROUPBOX)
                room -= scaledForDpi(2 * 8, dpi);
            if (extent.cx > room || extent.cy > client.bottom)
                cut.push_back(name + " needs " + std::to_string(extent.cx) + " x " + std::to_string(extent.cy) +
                              ", has " + std::to_string(room) + " x " + std::to_string(client.bottom));
        }
        ::SelectObject(dc, old);
        ::ReleaseDC(child, dc);
    }
}

class WizardTexts : public WizardAtDpi, public ::testing::WithParamInterface<std::uint32_t> {};

// Every text of the frame and its six pages as the wizard opens, in English
// and in French: none is cut off at the screen's DPI, no control reaches
// beyond its window, and the frame fits the screen's work area.
TEST_P(WizardTexts, AreWholeAtTheScreensDpi)
{
    setLanguage(GetParam());
    std::vector<std::string> cut;
    RECT frameRect{}, workArea{};
    withFrame([&](HWND frame) {
        collectCut(frame, windowDpi(frame), cut);
        ::GetWindowRect(frame, &frameRect);
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        ::GetMonitorInfoW(::MonitorFromWindow(frame, MONITOR_DEFAULTTONEAREST), &monitor);
        workArea = monitor.rcWork;
    });
    EXPECT_TRUE(cut.empty()) << testing::PrintToString(cut);
    RECT both{};
    ::IntersectRect(&both, &frameRect, &workArea);
    EXPECT_TRUE(::EqualRect(&both, &frameRect)) << "the frame does not fit the work area";
}

INSTANTIATE_TEST_SUITE_P(Languages, WizardTexts, testing::Values(EnglishLanguage, FrenchLanguage),
                         [](const testing::TestParamInfo<std::uint32_t>& info) {
                             return info.param == FrenchLanguage ? std::string("French") : std::string("English");
                         });

}  // namespace
