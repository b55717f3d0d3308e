// Browse on the Path and Shortcut pages, as a user clicks it in the wizard
// of this process: the page is saved, the shell's browser starts from the
// session's folder with the product's folder name kept at its end, and the
// folder the user confirms is written back to the session and shown again.
// Wine's browser returns the folder selected in its tree (it ignores the
// edit box): the folders confirmed here exist, so that Windows, which takes
// the edit box's text, returns the same.
#include "app/InstallApp.h"
#include "lang/Languages.h"
#include "resources/resource.h"
#include "support/TestFiles.h"
#include "support/WindowDriver.h"
#include "wizard/InstallDlg.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <shlobj.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace qv;

namespace {

using test::shellFolder;

constexpr DWORD Timeout = 20000;

// The page on show: the visible child dialog of the frame.
HWND visiblePage(HWND frame)
{
    for (HWND page = ::FindWindowExW(frame, nullptr, L"#32770", nullptr); page;
         page = ::FindWindowExW(frame, page, L"#32770", nullptr))
        if (::IsWindowVisible(page)) return page;
    return nullptr;
}

// Waits until the page on show has the control that only that page has.
HWND waitForPageWith(HWND frame, int id)
{
    for (DWORD waited = 0; waited < Timeout; waited += 20) {
        HWND page = visiblePage(frame);
        if (page && ::GetDlgItem(page, id)) return page;
        ::Sleep(20);
    }
    return nullptr;
}

BOOL CALLBACK findChild(HWND child, LPARAM data)
{
    auto* search = reinterpret_cast<std::pair<const wchar_t*, HWND>*>(data);
    if (test::className(child) != search->first) return TRUE;
    search->second = child;
    return FALSE;
}

HWND childOfClass(HWND window, const wchar_t* className)
{
    std::pair<const wchar_t*, HWND> search{className, nullptr};
    ::EnumChildWindows(window, &findChild, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

// The shell's browser, opened by a click on Browse: the top-level dialog of
// this process with a folder tree.
HWND waitForBrowser(HWND frame)
{
    test::WindowQuery query;
    query.processId = ::GetCurrentProcessId();
    query.className = L"#32770";
    query.exclude = frame;
    HWND browser = test::waitForWindow(query, Timeout);
    return browser && childOfClass(browser, L"SysTreeView32") ? browser : nullptr;
}

// The browser's edit box once it shows a text other than before.
std::wstring editText(HWND browser, const std::wstring& before = {})
{
    std::wstring shown;
    for (DWORD waited = 0; waited < Timeout; waited += 50) {
        shown = test::windowText(childOfClass(browser, L"Edit"));
        if (!shown.empty() && shown != before) break;
        ::Sleep(50);
    }
    return shown;
}

// The child of a tree item with the given text, its children listed first.
HTREEITEM childItem(HWND tree, HTREEITEM parent, const std::wstring& text)
{
    ::SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
    for (auto item = reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD,
                                                                reinterpret_cast<LPARAM>(parent)));
         item; item = reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT,
                                                                  reinterpret_cast<LPARAM>(item)))) {
        wchar_t name[MAX_PATH]{};
        TVITEMW data{};
        data.mask = TVIF_TEXT;
        data.hItem = item;
        data.pszText = name;
        data.cchTextMax = MAX_PATH;
        ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
        if (text == name) return item;
    }
    return nullptr;
}

// Clicks the folder below the tree's top folder that the names lead to.
void clickInTree(HWND browser, const std::vector<std::wstring>& names)
{
    HWND tree = childOfClass(browser, L"SysTreeView32");
    auto item = reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    for (const std::wstring& name : names)
        if (item) item = childItem(tree, item, name);
    if (item) ::SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

// What the user saw in one run of the browser.
struct BrowseRun {
    std::wstring shown;      // the edit box when the browser opened
    std::wstring confirmed;  // the edit box after the selection, before OK
    std::wstring pageShows;  // the page's folder box after the browser closed
};

// Clicks Browse on the page; lets choose select a folder in the browser,
// then clicks OK, or Cancel without choose.
BrowseRun browse(HWND frame, HWND page, const std::function<void(HWND)>& choose = {})
{
    BrowseRun run;
    HWND folderBox = ::GetDlgItem(page, IDC_FOLDER);
    const std::wstring before = test::windowText(folderBox);
    test::clickButton(page, IDC_BROWSE);
    HWND browser = waitForBrowser(frame);
    if (!browser) return run;
    run.shown = editText(browser);
    if (choose) {
        choose(browser);
        run.confirmed = editText(browser, run.shown);
        test::clickButton(browser, IDOK);
    } else {
        test::clickButton(browser, IDCANCEL);
    }
    test::waitForWindowGone(browser, Timeout);
    // After OK the page is loaded again once the browser has gone.
    run.pageShows = test::windowText(folderBox);
    for (DWORD waited = 0; choose && run.pageShows == before && waited < Timeout; waited += 20) {
        ::Sleep(20);
        run.pageShows = test::windowText(folderBox);
    }
    return run;
}

class PageBrowse : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_USEREX_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&controls);
        setLanguage(EnglishLanguage);
        app.installPath = shellFolder(CSIDL_PROGRAM_FILES) + L"\\Orvane Systems\\Trimora 6";
        // Wine's tree, asked to select its top folder, selects that folder's
        // first child instead: here the Start-menu folder has an existing
        // ancestor below the top, the maker's folder.
        app.startMenuFolder = programs + L"\\Orvane Systems\\Quorvex Suite\\Trimora 6";
        std::filesystem::create_directories(programs + L"\\Orvane Systems");
        app.createStartMenuShortcut = app.createDesktopShortcut = true;
        std::filesystem::create_directories(otherFolder);
        std::filesystem::create_directories(otherMenuFolder);
        for (const std::wstring& folder : {programs + L"\\Orvane Systems", otherMenuFolder, otherFolder})
            test::readFoldersOnce(folder);
    }

    const std::wstring programs = shellFolder(CSIDL_COMMON_PROGRAMS);
    const std::wstring otherFolder = L"C:\\Tools\\Trimora 6";
    const std::wstring otherMenuFolder = programs + L"\\Tools\\Trimora 6";
    CInstallApp app;
};

TEST_F(PageBrowse, PathAndShortcutPagesBrowseFromTheSessionAndWriteTheChoiceBack)
{
    const std::wstring typed = L"C:\\Typed Folder";
    BrowseRun cancelled, chosen, menu;
    std::wstring pathAfterCancel;
    {
        test::ModalDriver driver([&] {
            HWND frame = test::waitForWindow({::GetCurrentProcessId(), L"#32770"}, Timeout);
            if (!frame) return;
            test::clickButton(frame, IDOK);
            HWND mode = waitForPageWith(frame, IDC_MODE_ADVANCED);
            if (!mode) return;
            ::SendMessageW(::GetDlgItem(mode, IDC_MODE_ADVANCED), BM_CLICK, 0, 0);
            test::clickButton(frame, IDOK);
            HWND path = waitForPageWith(frame, IDC_FOLDER_PROMPT);
            if (!path) return;

            // A folder typed on the page is where the browser starts.
            ::SendMessageW(::GetDlgItem(path, IDC_FOLDER), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
            cancelled = browse(frame, path);
            chosen = browse(frame, path, [&](HWND browser) {
                ::SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(otherFolder.c_str()));
            });

            test::clickButton(frame, IDOK);
            HWND shortcut = waitForPageWith(frame, IDC_MENU_SHORTCUT);
            if (shortcut)
                menu = browse(frame, shortcut, [](HWND browser) { clickInTree(browser, {L"Tools", L"Trimora 6"}); });

            test::clickButton(frame, IDCANCEL);
            test::WindowQuery query;
            query.processId = ::GetCurrentProcessId();
            query.exclude = frame;
            if (HWND box = test::waitForWindow(query, Timeout)) test::clickButton(box, IDYES);
        });
        CInstallDlg wizard(app);
        wizard.DoModal();
    }
    // The typed folder does not exist: the browser stands on C:\ and shows
    // the typed folder whole, with the product's folder name; Cancel keeps
    // what the page saved.
    EXPECT_EQ(cancelled.shown, typed + L"\\Trimora 6");
    EXPECT_EQ(cancelled.pageShows, typed);
    // Starting from the saved folder again; the chosen one is written back.
    EXPECT_EQ(chosen.shown, typed + L"\\Trimora 6");
    EXPECT_EQ(chosen.confirmed, otherFolder);
    EXPECT_EQ(chosen.pageShows, otherFolder);
    EXPECT_EQ(app.installPath, otherFolder);

    // The Start-menu browser shows its folders relative to the Start Menu
    // folder, the part that does not exist yet included.
    EXPECT_EQ(menu.shown, L"Programs\\Orvane Systems\\Quorvex Suite\\Trimora 6");
    EXPECT_EQ(menu.confirmed, L"Programs\\Tools\\Trimora 6");
    EXPECT_EQ(menu.pageShows, L"Programs\\Tools\\Trimora 6");
    EXPECT_EQ(app.startMenuFolder, otherMenuFolder);
}

}  // namespace
