// The wizard frame in this process: its result, the exit question, the About
// entry's text and the layout of the pages in the page area.
#include "app/InstallApp.h"
#include "app/Languages.h"
#include "resources/resource.h"
#include "support/WindowDriver.h"
#include "wizard/InstallDlg.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <vector>

using namespace qv;

namespace {

class Frame : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_USEREX_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&controls);
        setLanguage(EnglishLanguage);
        app.installPath = L"C:\\Program Files\\Orvane Systems\\Trimora 6";
        app.startMenuFolder = L"C:\\ProgramData\\Start Menu\\Programs\\Orvane Systems\\Trimora 6";
        app.createStartMenuShortcut = app.createDesktopShortcut = true;
    }

    static HWND waitForFrame()
    {
        test::WindowQuery query;
        query.processId = ::GetCurrentProcessId();
        query.className = L"#32770";
        HWND frame = test::waitForWindow(query);
        return frame && ::GetDlgItem(frame, IDC_SIDE_PANEL) ? frame : nullptr;
    }

    // Clicks Exit and answers a question, if one comes, with answer.
    struct ExitResult {
        INT_PTR result = -1;
        bool asked = false;
    };
    ExitResult exitWizard(int answer)
    {
        ExitResult outcome;
        {
            test::ModalDriver driver([&] {
                HWND frame = waitForFrame();
                if (!frame) return;
                test::clickButton(frame, IDCANCEL);
                if (test::waitForWindowGone(frame, 3000)) return;
                test::WindowQuery query;
                query.processId = ::GetCurrentProcessId();
                query.exclude = frame;
                if (HWND box = test::waitForWindow(query)) {
                    outcome.asked = true;
                    test::clickButton(box, answer);
                }
                test::waitForWindowGone(frame);
            });
            CInstallDlg wizard(app);
            outcome.result = wizard.DoModal();
        }
        return outcome;
    }

    CInstallApp app;
};

TEST_F(Frame, AfterASuccessfulInstallationExitEndsWithOneAndAsksNothing)
{
    app.installed = true;
    const ExitResult outcome = exitWizard(IDYES);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_FALSE(outcome.asked);
}

TEST_F(Frame, UnfinishedInstallationAsksAndEndsWithTwo)
{
    const ExitResult outcome = exitWizard(IDYES);
    EXPECT_EQ(outcome.result, 2);
    EXPECT_TRUE(outcome.asked);
}

TEST_F(Frame, NewerVersionEndsWithTwoWithoutQuestion)
{
    app.installState = InstallState::NewerVersion;
    const ExitResult outcome = exitWizard(IDYES);
    EXPECT_EQ(outcome.result, 2);
    EXPECT_FALSE(outcome.asked);
}

TEST_F(Frame, AboutEntryByWritingDirection)
{
    EXPECT_EQ(aboutEntryText(false), L"&About 'Installer'...");
    EXPECT_EQ(aboutEntryText(true), L"...About 'Installer'");
}

RECT rectIn(HWND frame, HWND window)
{
    RECT r{};
    ::GetWindowRect(window, &r);
    ::MapWindowPoints(nullptr, frame, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

BOOL CALLBACK collectPages(HWND child, LPARAM data)
{
    wchar_t cls[16]{};
    ::GetClassNameW(child, cls, 16);
    auto* pages = reinterpret_cast<std::pair<HWND, std::vector<HWND>>*>(data);
    if (::GetParent(child) == pages->first && std::wstring(cls) == L"#32770") pages->second.push_back(child);
    return TRUE;
}

// Every page takes the whole page area: right of the side panel, above the
// separator, to the client's right edge; the frame grew to the widest page.
TEST_F(Frame, PagesFillThePageArea)
{
    std::vector<RECT> pages;
    RECT area{}, client{};
    int modeWidth = 0;
    {
        test::ModalDriver driver([&] {
            HWND frame = waitForFrame();
            if (!frame) return;
            std::pair<HWND, std::vector<HWND>> found{frame, {}};
            ::EnumChildWindows(frame, &collectPages, reinterpret_cast<LPARAM>(&found));
            for (HWND page : found.second) pages.push_back(rectIn(frame, page));
            ::GetClientRect(frame, &client);
            area = client;
            area.left = rectIn(frame, ::GetDlgItem(frame, IDC_SIDE_PANEL)).right;
            area.bottom = rectIn(frame, ::GetDlgItem(frame, IDC_SEPARATOR)).top;
            RECT mode{0, 0, 279, 82};  // the widest page template
            ::MapDialogRect(frame, &mode);
            modeWidth = mode.right;
            RECT separator = rectIn(frame, ::GetDlgItem(frame, IDC_SEPARATOR));
            RECT next = rectIn(frame, ::GetDlgItem(frame, IDOK));
            EXPECT_GT(next.top, separator.bottom);
            EXPECT_LT(next.right, client.right);
            test::clickButton(frame, IDCANCEL);
            test::WindowQuery query;
            query.processId = ::GetCurrentProcessId();
            query.exclude = frame;
            if (HWND box = test::waitForWindow(query)) test::clickButton(box, IDYES);
        });
        CInstallDlg wizard(app);
        wizard.DoModal();
    }
    ASSERT_EQ(pages.size(), 6u);
    for (const RECT& page : pages) {
        EXPECT_EQ(page.left, area.left);
        EXPECT_EQ(page.top, area.top);
        EXPECT_EQ(page.right, area.right);
        EXPECT_EQ(page.bottom, area.bottom);
    }
    EXPECT_EQ(area.right - area.left, modeWidth);
}

}  // namespace
