// CDialog over real dialog templates (tests/startup/FrameworkTest.rc): data
// exchange in both directions, the validation message, the IDOK/IDCANCEL
// rules, modeless child pages, message routing and pre-translation.
#include "framework/Dialog.h"
#include "framework/MessagePump.h"
#include "framework/WinApp.h"

#include "FrameworkTest.h"
#include "support/WindowDriver.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace {

using namespace qv;
using qv::test::WindowQuery;

constexpr UINT WM_RUN_SCRIPT = WM_APP + 1;

// A dialog with one member per exchange helper; once shown it runs the
// test's script on its own thread, inside its modal loop.
class TestDialog : public CDialog {
public:
    explicit TestDialog(UINT id = IDD_TEST_MODAL, CWnd* parent = nullptr) : CDialog(id, parent) {}

    std::wstring text;
    int maxChars = 260;
    int check = 0;
    int radio = -1;
    HWND boundEdit = nullptr;
    std::function<void(TestDialog&)> script;
    int okCalls = 0;
    int cancelCalls = 0;
    int otherClicks = 0;
    bool initRan = false;

    using CDialog::DefWindowProc;

protected:
    BOOL OnInitDialog() override
    {
        initRan = true;
        BOOL result = CDialog::OnInitDialog();
        if (script) ::PostMessageW(hwnd(), WM_RUN_SCRIPT, 0, 0);
        return result;
    }
    void DoDataExchange(DataExchange& dx) override
    {
        ddxControl(dx, IDC_TEST_TEXT, boundEdit);
        ddxText(dx, IDC_TEST_TEXT, text);
        ddvMaxChars(dx, text, maxChars);
        ddxCheck(dx, IDC_TEST_CHECK, check);
        ddxRadio(dx, IDC_TEST_RADIO1, radio);
    }
    void OnOK() override
    {
        ++okCalls;
        CDialog::OnOK();
    }
    void OnCancel() override
    {
        ++cancelCalls;
        CDialog::OnCancel();
    }
    bool OnCommand(WPARAM wParam, LPARAM lParam) override
    {
        if (LOWORD(wParam) == IDC_TEST_OTHER && HIWORD(wParam) == BN_CLICKED) {
            ++otherClicks;
            return true;
        }
        return CDialog::OnCommand(wParam, lParam);
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_RUN_SCRIPT) {
            script(*this);
            return 0;
        }
        if (message == WM_GETTEXT) {
            // Own work after the default handling, as a frame that pins its
            // maximised size does with WM_GETMINMAXINFO.
            LRESULT copied = DefWindowProc(message, wParam, lParam);
            auto* text = reinterpret_cast<wchar_t*>(lParam);
            ::CharUpperBuffW(text, static_cast<DWORD>(copied));
            return copied;
        }
        return CDialog::WindowProc(message, wParam, lParam);
    }
};

// The message box the framework shows on this process's desktop.
HWND waitForOwnBox(const std::wstring& caption)
{
    return qv::test::waitForWindow({::GetCurrentProcessId(), L"#32770", caption});
}

TEST(CDialogDataExchange, LoadShowsTheMembersAndSaveReadsTheControls)
{
    TestDialog dialog;
    dialog.text = L"C:\\Program Files\\Orvane Systems";
    dialog.check = 1;
    dialog.radio = 1;
    std::wstring shownText;
    LRESULT shownCheck = -1, shownRadio1 = -1, shownRadio2 = -1, shownAfter = -1;
    HWND expectedEdit = nullptr;
    dialog.script = [&](TestDialog& d) {
        shownText = d.GetDlgItemText(IDC_TEST_TEXT);
        shownCheck = ::SendMessageW(d.GetDlgItem(IDC_TEST_CHECK), BM_GETCHECK, 0, 0);
        shownRadio1 = ::SendMessageW(d.GetDlgItem(IDC_TEST_RADIO1), BM_GETCHECK, 0, 0);
        shownRadio2 = ::SendMessageW(d.GetDlgItem(IDC_TEST_RADIO2), BM_GETCHECK, 0, 0);
        shownAfter = ::SendMessageW(d.GetDlgItem(IDC_TEST_AFTER), BM_GETCHECK, 0, 0);
        expectedEdit = d.GetDlgItem(IDC_TEST_TEXT);
        // What a user would change:
        d.SetDlgItemText(IDC_TEST_TEXT, L"D:\\Apps\\Q6");
        ::SendMessageW(d.GetDlgItem(IDC_TEST_CHECK), BM_SETCHECK, BST_UNCHECKED, 0);
        ::SendMessageW(d.GetDlgItem(IDC_TEST_RADIO2), BM_SETCHECK, BST_UNCHECKED, 0);
        ::SendMessageW(d.GetDlgItem(IDC_TEST_RADIO1), BM_SETCHECK, BST_CHECKED, 0);
        // The check box after the group must not count as a radio button.
        ::SendMessageW(d.GetDlgItem(IDC_TEST_AFTER), BM_SETCHECK, BST_CHECKED, 0);
        qv::test::clickButton(d.hwnd(), IDOK);
    };
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(shownText, L"C:\\Program Files\\Orvane Systems");
    EXPECT_EQ(shownCheck, BST_CHECKED);
    EXPECT_EQ(shownRadio1, BST_UNCHECKED);
    EXPECT_EQ(shownRadio2, BST_CHECKED);
    EXPECT_EQ(shownAfter, BST_UNCHECKED);
    EXPECT_EQ(dialog.boundEdit, expectedEdit);
    EXPECT_EQ(dialog.text, L"D:\\Apps\\Q6");
    EXPECT_EQ(dialog.check, 0);
    EXPECT_EQ(dialog.radio, 0);
    EXPECT_EQ(dialog.okCalls, 1);
    EXPECT_EQ(dialog.hwnd(), nullptr) << "the window is gone after the modal loop";
}

TEST(CDialogDataExchange, NoRadioButtonCheckedSavesMinusOne)
{
    TestDialog dialog;
    dialog.radio = -1;
    dialog.script = [](TestDialog& d) { qv::test::clickButton(d.hwnd(), IDOK); };
    dialog.radio = 5;  // no button of that position: none is checked
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.radio, -1);
}

TEST(CDialogDataExchange, TextLongerThanTheLimitShowsTheMessageAndKeepsTheDialog)
{
    CWinApp app;
    app.setAppName(L"Installer \u2013 Trimora 6.04");
    TestDialog dialog;
    dialog.maxChars = 10;
    dialog.text = L"0123456789AB";  // longer than the limit, as an earlier installation could give
    LRESULT limit = 0;
    bool okFailed = false;
    HWND focusAfter = nullptr;
    std::wstring textAfter;
    std::wstring boxText;
    bool boxHasExclamation = false;

    dialog.script = [&](TestDialog& d) {
        limit = ::SendMessageW(d.GetDlgItem(IDC_TEST_TEXT), EM_GETLIMITTEXT, 0, 0);
        {
            qv::test::ModalDriver answer([&] {
                HWND box = waitForOwnBox(app.appName());
                if (!box) return;
                boxText = qv::test::messageBoxText(box);
                boxHasExclamation = qv::test::messageBoxHasIcon(box, MB_ICONEXCLAMATION);
                qv::test::clickButton(box, IDOK);
            });
            // Sent, so that the check below runs after OnOK returned.
            ::SendMessageW(d.hwnd(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                           reinterpret_cast<LPARAM>(d.GetDlgItem(IDOK)));
        }
        okFailed = ::IsWindow(d.hwnd()) && d.hwnd() != nullptr;
        focusAfter = ::GetFocus();
        textAfter = d.GetDlgItemText(IDC_TEST_TEXT);
        d.EndDialog(IDCANCEL);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(limit, 10);
    EXPECT_EQ(boxText, L"Enter no more than 10 characters.");
    EXPECT_TRUE(boxHasExclamation);
    EXPECT_TRUE(okFailed) << "a failed save keeps the dialog open";
    EXPECT_EQ(focusAfter, dialog.boundEdit) << "the faulty control receives the focus";
    EXPECT_EQ(textAfter, L"0123456789AB");
    EXPECT_EQ(dialog.text, L"0123456789AB");
}

TEST(CDialogCommands, CancelAndOkAreIgnoredWhileTheirButtonsAreDisabled)
{
    TestDialog dialog;
    std::vector<bool> stillOpen;
    dialog.script = [&](TestDialog& d) {
        d.EnableDlgItem(IDCANCEL, false);
        d.EnableDlgItem(IDOK, false);
        // Escape and the Close command arrive as IDCANCEL, Enter as IDOK.
        ::SendMessageW(d.hwnd(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        ::SendMessageW(d.hwnd(), WM_CLOSE, 0, 0);
        ::SendMessageW(d.hwnd(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        MSG pending;
        while (::PeekMessageW(&pending, d.hwnd(), 0, 0, PM_REMOVE)) ::DispatchMessageW(&pending);
        stillOpen.push_back(::IsWindow(d.hwnd()) != FALSE);
        d.EnableDlgItem(IDCANCEL, true);
        ::PostMessageW(d.hwnd(), WM_CLOSE, 0, 0);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    ASSERT_EQ(stillOpen.size(), 1u);
    EXPECT_TRUE(stillOpen[0]);
    EXPECT_EQ(dialog.okCalls, 0);
    EXPECT_EQ(dialog.cancelCalls, 1) << "only the Close command after enabling Cancel";
}

TEST(CDialogCommands, OtherCommandsReachOnCommandAndDefaultHandlingRunsFirst)
{
    TestDialog dialog;
    std::wstring caption;
    dialog.script = [&](TestDialog& d) {
        ::SendMessageW(d.GetDlgItem(IDC_TEST_OTHER), BM_CLICK, 0, 0);
        caption = d.GetWindowText();
        d.EndDialog(7);
    };
    EXPECT_EQ(dialog.DoModal(), 7);
    EXPECT_EQ(dialog.otherClicks, 1);
    EXPECT_EQ(dialog.okCalls + dialog.cancelCalls, 0);
    EXPECT_EQ(caption, L"FRAMEWORK TEST");
}

TEST(CDialogModal, MissingTemplateGivesMinusOne)
{
    TestDialog dialog(4711);
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_FALSE(dialog.initRan);
}

class PageDialog : public CDialog {
public:
    PageDialog() : CDialog(IDD_TEST_PAGE) {}
    std::wstring text = L"page text";
    int inits = 0;
    int destroyed = 0;

protected:
    BOOL OnInitDialog() override
    {
        ++inits;
        return CDialog::OnInitDialog();
    }
    void DoDataExchange(DataExchange& dx) override { ddxText(dx, IDC_PAGE_TEXT, text); }
    void PostNcDestroy() override { ++destroyed; }
};

class FrameDialog : public TestDialog {
public:
    PageDialog page;
    bool created = false;

protected:
    BOOL OnInitDialog() override
    {
        created = page.Create(IDD_TEST_PAGE, this);
        return TestDialog::OnInitDialog();
    }
};

TEST(CDialogModeless, ChildPageIsCreatedHiddenLoadedOnceAndDestroyedWithItsParent)
{
    FrameDialog frame;
    HWND pageWindow = nullptr, pageParent = nullptr, frameWindow = nullptr;
    bool pageVisible = true, pageIsChild = false, pageIsOurs = false;
    std::wstring pageText;
    frame.script = [&](TestDialog& f) {
        auto& self = static_cast<FrameDialog&>(f);
        pageWindow = self.page.hwnd();
        frameWindow = f.hwnd();
        pageParent = ::GetParent(pageWindow);
        pageVisible = ::IsWindowVisible(pageWindow);
        pageIsChild = (::GetWindowLongW(pageWindow, GWL_STYLE) & WS_CHILD) != 0;
        pageIsOurs = CDialog::fromHandle(pageWindow) == &self.page;
        pageText = self.page.GetDlgItemText(IDC_PAGE_TEXT);
        ::SetDlgItemTextW(pageWindow, IDC_PAGE_TEXT, L"typed");
        EXPECT_TRUE(self.page.UpdateData(true));
        f.EndDialog(IDOK);
    };
    EXPECT_EQ(frame.DoModal(), IDOK);
    EXPECT_TRUE(frame.created);
    EXPECT_EQ(pageParent, frameWindow);
    EXPECT_FALSE(pageVisible);
    EXPECT_TRUE(pageIsChild);
    EXPECT_TRUE(pageIsOurs);
    EXPECT_EQ(frame.page.inits, 1);
    EXPECT_EQ(pageText, L"page text");
    EXPECT_EQ(frame.page.text, L"typed");
    EXPECT_EQ(frame.page.destroyed, 1);
    EXPECT_EQ(frame.page.hwnd(), nullptr);
    EXPECT_FALSE(::IsWindow(pageWindow));
}

TEST(CDialogModeless, DestroyingTheObjectDestroysItsWindow)
{
    HWND window = nullptr;
    {
        TestDialog dialog;
        ASSERT_TRUE(dialog.Create(IDD_TEST_MODAL));
        window = dialog.hwnd();
        ASSERT_TRUE(::IsWindow(window));
        EXPECT_FALSE(dialog.isModal());
    }
    EXPECT_FALSE(::IsWindow(window));
}

TEST(MessagePreTranslation, TabInAChildPageMovesTheFocusThroughTheTopLevelDialog)
{
    TestDialog top;
    ASSERT_TRUE(top.Create(IDD_TEST_MODAL));
    PageDialog page;
    ASSERT_TRUE(page.Create(IDD_TEST_PAGE, &top));
    top.ShowWindow(SW_SHOW);
    ::SetForegroundWindow(top.hwnd());
    HWND edit = top.GetDlgItem(IDC_TEST_TEXT);
    ::SetFocus(edit);
    ASSERT_EQ(::GetFocus(), edit);

    MSG tab{edit, WM_KEYDOWN, VK_TAB, 0x000F0001, 0, {}};
    EXPECT_TRUE(qv::preTranslateMessage(tab)) << "the dialog manager consumes Tab";
    EXPECT_NE(::GetFocus(), edit);
    EXPECT_TRUE(::IsChild(top.hwnd(), ::GetFocus()));

    // A message of a window that is no dialog's is left to the caller.
    HWND plain = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                   nullptr, nullptr);
    MSG other{plain, WM_KEYDOWN, VK_TAB, 0x000F0001, 0, {}};
    EXPECT_FALSE(qv::preTranslateMessage(other));
    ::DestroyWindow(plain);
}

TEST(MessagePump, DispatchesWaitingMessagesAndLeavesAQuitMessageInTheQueue)
{
    TestDialog dialog;
    ASSERT_TRUE(dialog.Create(IDD_TEST_MODAL));
    ::PostMessageW(dialog.hwnd(), WM_COMMAND, MAKEWPARAM(IDC_TEST_OTHER, BN_CLICKED), 0);
    EXPECT_TRUE(qv::pumpWaitingMessages());
    EXPECT_EQ(dialog.otherClicks, 1);

    ::PostQuitMessage(3);
    ::PostMessageW(dialog.hwnd(), WM_COMMAND, MAKEWPARAM(IDC_TEST_OTHER, BN_CLICKED), 0);
    EXPECT_FALSE(qv::pumpWaitingMessages());
    MSG quit{};
    // The quit message comes back first when nothing else is waiting.
    while (::PeekMessageW(&quit, nullptr, 0, 0, PM_REMOVE) && quit.message != WM_QUIT) {
    }
    EXPECT_EQ(quit.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(quit.wParam, 3u);
}

}  // namespace
