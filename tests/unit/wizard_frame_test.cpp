// The wizard frame in this process: its result, the exit question, the About
// entry's text and the layout of the pages in the page area.
#include "app/InstallApp.h"
#include "lang/Languages.h"
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

    // Clicks Exit and confirms the question.
    static void exitConfirmed(HWND frame)
    {
        test::clickButton(frame, IDCANCEL);
        test::WindowQuery query;
        query.processId = ::GetCurrentProcessId();
        query.exclude = frame;
        if (HWND box = test::waitForWindow(query)) test::clickButton(box, IDYES);
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

// The frame's system menu as the user opens it: the command ids and texts
// of its entries, read from the window's own menu.
std::vector<std::pair<UINT, std::wstring>> systemMenuEntries(HWND frame)
{
    std::vector<std::pair<UINT, std::wstring>> entries;
    HMENU menu = ::GetSystemMenu(frame, FALSE);
    for (int i = 0; menu && i < ::GetMenuItemCount(menu); ++i) {
        wchar_t text[128]{};
        ::GetMenuStringW(menu, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
        entries.emplace_back(::GetMenuItemID(menu, i), text);
    }
    return entries;
}

std::wstring entryText(const std::vector<std::pair<UINT, std::wstring>>& entries, UINT id)
{
    for (const auto& [entryId, text] : entries)
        if (entryId == id) return text;
    return L"<none>";
}

TEST_F(Frame, SystemMenuWithoutSizeAndMaximizeAndAnAboutEntryInTheLanguage)
{
    std::vector<std::pair<UINT, std::wstring>> english, german;
    {
        test::ModalDriver driver([&] {
            HWND frame = waitForFrame();
            if (!frame) return;
            english = systemMenuEntries(frame);
            // German chosen on the start page, as a user picks it.
            HWND page = ::FindWindowExW(frame, nullptr, L"#32770", nullptr);
            while (page && !::GetDlgItem(page, IDC_LANGUAGE))
                page = ::FindWindowExW(frame, page, L"#32770", nullptr);
            HWND list = page ? ::GetDlgItem(page, IDC_LANGUAGE) : nullptr;
            ::SendMessageW(list, CB_SETCURSEL, 2, 0);
            ::SendMessageW(page, WM_COMMAND, MAKEWPARAM(IDC_LANGUAGE, CBN_SELCHANGE),
                           reinterpret_cast<LPARAM>(list));
            german = systemMenuEntries(frame);
            exitConfirmed(frame);
        });
        // As start-up runs it: the main window, which a language change
        // relabels.
        CInstallDlg wizard(app);
        app.setMainWnd(&wizard);
        wizard.DoModal();
        app.setMainWnd(nullptr);
    }
    ASSERT_FALSE(english.empty());
    for (const auto& entries : {english, german}) {
        EXPECT_EQ(entryText(entries, SC_SIZE), L"<none>");
        EXPECT_EQ(entryText(entries, SC_MAXIMIZE), L"<none>");
        EXPECT_NE(entryText(entries, SC_MOVE), L"<none>");
        EXPECT_NE(entryText(entries, SC_CLOSE), L"<none>");
    }
    EXPECT_EQ(entryText(english, IDM_ABOUT), L"&About 'Installer'...");
    EXPECT_EQ(entryText(german, IDM_ABOUT), L"&Info \u00fcber 'Installationsprogramm'...");
    // Relabelled in place: still the last entry, after a separator.
    ASSERT_EQ(german.size(), english.size());
    EXPECT_EQ(german.back().first, static_cast<UINT>(IDM_ABOUT));
    EXPECT_EQ(german[german.size() - 2].first, 0u);
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
            exitConfirmed(frame);
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
