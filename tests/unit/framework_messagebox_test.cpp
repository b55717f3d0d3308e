// The framework's message box: caption, default icons, owner, the disabling
// of modeless windows while it runs, and its result.
#include "framework/Dialog.h"
#include "framework/MessageBox.h"
#include "framework/WinApp.h"

#include "FrameworkTest.h"
#include "support/WindowDriver.h"

#include <gtest/gtest.h>

namespace {

using namespace qv;

struct Seen {
    std::wstring text;
    std::vector<int> buttons;
    bool hasIcon = false;
    HWND owner = nullptr;
    bool modelessEnabled = true;
};

// Shows the box on this thread and answers it from a second one with the
// given button, recording what the box looked like.
int showAndAnswer(const std::wstring& caption, const std::wstring& text, UINT type, UINT icon,
                  int answer, Seen& seen, HWND modeless = nullptr)
{
    qv::test::ModalDriver driver([&] {
        HWND box = qv::test::waitForWindow({::GetCurrentProcessId(), L"#32770", caption});
        if (!box) return;
        seen.text = qv::test::messageBoxText(box);
        seen.buttons = qv::test::messageBoxButtons(box);
        seen.hasIcon = qv::test::messageBoxHasIcon(box, icon);
        seen.owner = ::GetWindow(box, GW_OWNER);
        if (modeless) seen.modelessEnabled = ::IsWindowEnabled(modeless) != FALSE;
        qv::test::clickButton(box, answer);
    });
    return appMessageBox(text, type);
}

struct IconCase {
    UINT type;
    UINT expectedIcon;  // 0: none
    int answer;
};

class AppMessageBoxIcons : public testing::TestWithParam<IconCase> {};

TEST_P(AppMessageBoxIcons, ButtonSetsWithoutIconGetTheirDefaultIcon)
{
    CWinApp app;
    app.setAppName(L"Installer \u2013 Trimora 6.04");
    Seen seen;
    const IconCase& c = GetParam();
    int result = showAndAnswer(app.appName(), L"Some text", c.type, c.expectedIcon, c.answer, seen);
    EXPECT_EQ(result, c.answer);
    EXPECT_EQ(seen.text, L"Some text");
    EXPECT_TRUE(seen.hasIcon) << "type 0x" << std::hex << c.type;
}

INSTANTIATE_TEST_SUITE_P(
    Styles, AppMessageBoxIcons,
    testing::Values(IconCase{MB_OK, MB_ICONEXCLAMATION, IDOK},
                    IconCase{MB_OKCANCEL, MB_ICONEXCLAMATION, IDCANCEL},
                    IconCase{MB_YESNOCANCEL, MB_ICONQUESTION, IDNO},
                    IconCase{MB_YESNO, MB_ICONQUESTION, IDYES},
                    IconCase{MB_RETRYCANCEL, 0, IDRETRY},
                    IconCase{MB_OK | MB_ICONERROR, MB_ICONERROR, IDOK},
                    IconCase{MB_YESNO | MB_ICONINFORMATION, MB_ICONINFORMATION, IDNO}));

TEST(AppMessageBox, WithoutApplicationObjectTheCaptionIsTheExecutablesName)
{
    Seen seen;
    int result = showAndAnswer(L"framework_messagebox_test", L"No application", MB_OK,
                               MB_ICONEXCLAMATION, IDOK, seen);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(seen.text, L"No application");
}

class MainWindow : public CDialog {
public:
    MainWindow() : CDialog(IDD_TEST_MODAL) {}
};

TEST(AppMessageBox, IsOwnedByTheMainWindowAndDisablesModelessDialogsWhileItRuns)
{
    CWinApp app;
    app.setAppName(L"Owner test");
    MainWindow main;
    ASSERT_TRUE(main.Create(IDD_TEST_MODAL));
    main.ShowWindow(SW_SHOW);
    app.setMainWnd(&main);

    Seen seen;
    EXPECT_EQ(showAndAnswer(app.appName(), L"Owned", MB_RETRYCANCEL, 0, IDCANCEL, seen, main.hwnd()),
              IDCANCEL);
    EXPECT_EQ(seen.buttons, (std::vector<int>{IDRETRY, IDCANCEL}));
    EXPECT_EQ(seen.owner, main.hwnd());
    EXPECT_FALSE(seen.modelessEnabled) << "the modeless main window is disabled under the box";
    EXPECT_TRUE(::IsWindowEnabled(main.hwnd())) << "and enabled again afterwards";
    app.setMainWnd(nullptr);
}

TEST(SafeOwner, ChildWindowsGiveTheirTopLevelWindowWhichIsDisabledOnlyWhenItDiffers)
{
    MainWindow top;
    ASSERT_TRUE(top.Create(IDD_TEST_MODAL));
    HWND child = top.GetDlgItem(IDC_TEST_TEXT);
    HWND topLevel = reinterpret_cast<HWND>(1);
    EXPECT_EQ(safeOwner(child, &topLevel), top.hwnd());
    EXPECT_EQ(topLevel, nullptr) << "the owner is its own top level: nothing to disable";
    EXPECT_TRUE(::IsWindowEnabled(top.hwnd()));

    HWND popup = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_CAPTION, 0, 0, 50, 50,
                                   top.hwnd(), nullptr, nullptr, nullptr);
    // An owned pop-up is not a child: it is the owner itself, and the window
    // that owns it is blocked as well until the caller enables it again.
    EXPECT_EQ(safeOwner(popup, &topLevel), popup);
    EXPECT_EQ(topLevel, top.hwnd());
    EXPECT_FALSE(::IsWindowEnabled(top.hwnd()));
    ::EnableWindow(top.hwnd(), TRUE);
    ::DestroyWindow(popup);

    EXPECT_EQ(safeOwner(nullptr, &topLevel), nullptr) << "no main window, no owner";
}

TEST(EnableModeless, NestedCallsEnableOnlyAtTheOutermostEnd)
{
    MainWindow modeless;
    ASSERT_TRUE(modeless.Create(IDD_TEST_MODAL));
    enableModeless(false);
    enableModeless(false);
    EXPECT_FALSE(::IsWindowEnabled(modeless.hwnd()));
    enableModeless(true);
    EXPECT_FALSE(::IsWindowEnabled(modeless.hwnd()));
    enableModeless(true);
    EXPECT_TRUE(::IsWindowEnabled(modeless.hwnd()));
    enableModeless(true);  // unbalanced: nothing happens
    EXPECT_TRUE(::IsWindowEnabled(modeless.hwnd()));
}

}  // namespace
