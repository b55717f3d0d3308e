// The folder browser's rules as functions (suffix, ending test, validation of
// typed text with its error boxes, the Start-menu root), and the shell's
// browser itself for what Wine does with it: Wine's SHBrowseForFolderW
// ignores typed text and never reports a failed validation.
#include "app/ErrorMessages.h"
#include "support/TestFiles.h"
#include "support/WindowDriver.h"
#include "wizard/DlgShortcut.h"
#include "wizard/FolderBrowser.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>

using namespace qv;

namespace {

std::wstring folder(int csidl)
{
    wchar_t path[MAX_PATH]{};
    ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

std::wstring documents()
{
    PWSTR text = nullptr;
    ::SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &text);
    std::wstring result = text ? text : L"";
    ::CoTaskMemFree(text);
    return result;
}

PIDLIST_ABSOLUTE programsRoot()
{
    PIDLIST_ABSOLUTE item = nullptr;
    ::SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_PROGRAMS, &item);
    return item;
}

struct EndingCase {
    const wchar_t* path;
    const wchar_t* relative;
    std::size_t expected;
};

class Ending : public ::testing::TestWithParam<EndingCase> {};

TEST_P(Ending, CountsMatchingComponents)
{
    EXPECT_EQ(pathEndsWith(GetParam().path, GetParam().relative), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, Ending, ::testing::Values(
    EndingCase{L"C:\\Tools\\Trimora 6", L"Trimora 6", 1},
    EndingCase{L"C:\\Tools\\trimora 6\\", L"TRIMORA 6\\", 1},
    EndingCase{L"C:\\A\\Orvane Systems\\Trimora 6", L"Orvane Systems\\Trimora 6", 2},
    EndingCase{L"C:\\A\\Other\\Trimora 6", L"Orvane Systems\\Trimora 6", 0},
    EndingCase{L"C:\\Tools\\Trimora 61", L"Trimora 6", 0},
    // The path needs one component more than the ending.
    EndingCase{L"Trimora 6", L"Trimora 6", 0},
    EndingCase{L"C:\\", L"Trimora 6", 0},
    EndingCase{L"C:\\Tools", L"", 0}));

struct SuffixCase {
    std::wstring start;
    std::wstring suffix;
    std::wstring expected;
};

class Suffix : public ::testing::TestWithParam<SuffixCase> {};

TEST_P(Suffix, PreparationAppendsWhatIsMissing)
{
    FolderBrowser browser;
    browser.prepare(GetParam().start, GetParam().suffix);
    EXPECT_EQ(browser.path(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, Suffix, ::testing::Values(
    SuffixCase{L"C:\\Program Files\\Orvane Systems\\Trimora 6", L"Trimora 6",
               L"C:\\Program Files\\Orvane Systems\\Trimora 6"},
    SuffixCase{L"C:\\Tools", L"Trimora 6", L"C:\\Tools\\Trimora 6"},
    SuffixCase{L"C:\\Tools\\", L"Trimora 6", L"C:\\Tools\\Trimora 6"},
    SuffixCase{L"C:\\Tools\\TRIMORA 6", L"Trimora 6", L"C:\\Tools\\TRIMORA 6"},
    SuffixCase{L"D:", L"Trimora 6", L"D:\\Trimora 6"},
    SuffixCase{L"C:\\Apps\\Orvane Systems", L"Orvane Systems\\Trimora 6", L"C:\\Apps\\Orvane Systems\\Trimora 6"},
    SuffixCase{L"C:\\Apps", L"Orvane Systems\\Trimora 6", L"C:\\Apps\\Orvane Systems\\Trimora 6"},
    SuffixCase{L"C:\\Tools", L"Trimora 6...", L"C:\\Tools\\Trimora 6"},
    // A suffix with a wildcard is not taken.
    SuffixCase{L"C:\\Tools", L"Tri*", L"C:\\Tools"},
    SuffixCase{L"C:\\Tools", L"", L"C:\\Tools"}));

TEST(FolderBrowserStart, RelativeOrEmptyStartIsTheDocumentsFolder)
{
    FolderBrowser browser;
    browser.prepare(L"relative\\folder", L"Trimora 6");
    EXPECT_EQ(browser.path(), documents() + L"\\Trimora 6");
    browser.prepare(L"", L"");
    EXPECT_EQ(browser.path(), documents());
}

TEST(FolderBrowserStart, StartMenuRootMakesThePathRelative)
{
    FolderBrowser browser;
    browser.setRoot(programsRoot());
    const std::wstring startMenu = folder(CSIDL_COMMON_STARTMENU);
    EXPECT_EQ(browser.rootParent(), startMenu);
    browser.prepare(folder(CSIDL_COMMON_PROGRAMS) + L"\\Orvane Systems", L"Trimora 6");
    EXPECT_EQ(browser.path(), L"Programs\\Orvane Systems\\Trimora 6");
    // No start: the root itself, with the suffix.
    browser.prepare(L"", L"Trimora 6");
    EXPECT_EQ(browser.path(), L"Programs\\Trimora 6");
}

struct TypedCase {
    std::wstring typed;
    std::wstring expected;
};

class TypedText : public ::testing::TestWithParam<TypedCase> {};

TEST_P(TypedText, IsQualifiedAndAccepted)
{
    FolderBrowser browser;
    EXPECT_TRUE(browser.validateTypedText(nullptr, GetParam().typed));
    EXPECT_EQ(browser.path(), GetParam().expected);
    EXPECT_TRUE(browser.pathFromTypedText());
}

INSTANTIATE_TEST_SUITE_P(Cases, TypedText, ::testing::Values(
    TypedCase{L"D:", L"D:\\"},
    TypedCase{L"C:\\Not Yet\\Trimora 6", L"C:\\Not Yet\\Trimora 6"},
    TypedCase{L"  C:\\Tools\\  ", L"C:\\Tools"},
    TypedCase{L"C:\\Tools\\..\\Apps", L"C:\\Apps"}));

// Rejected text: an error box with the system's text for the code, the
// exclamation icon and the default caption, answered from a second thread.
void expectRejected(FolderBrowser& browser, const std::wstring& typed, DWORD code)
{
    std::wstring text, caption;
    bool exclamation = false;
    {
        test::ModalDriver driver([&] {
            test::WindowQuery query;
            query.processId = ::GetCurrentProcessId();
            query.className = L"#32770";
            HWND box = test::waitForWindow(query);
            if (!box) return;
            text = test::messageBoxText(box);
            caption = test::windowText(box);
            exclamation = test::messageBoxHasIcon(box, MB_ICONEXCLAMATION);
            test::clickButton(box, IDOK);
        });
        EXPECT_FALSE(browser.validateTypedText(nullptr, typed));
    }
    EXPECT_EQ(text, errorText(code));
    EXPECT_TRUE(exclamation);
    EXPECT_FALSE(caption.empty());
    EXPECT_FALSE(browser.pathFromTypedText());
}

TEST(TypedTextRejected, TooLongIsError206)
{
    FolderBrowser browser;
    expectRejected(browser, L"C:\\" + std::wstring(300, L'a'), HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
}

TEST(TypedTextRejected, WildcardOrInvalidCharacterIsError161)
{
    FolderBrowser browser;
    expectRejected(browser, L"C:\\Tools\\Tri*", ERROR_BAD_PATHNAME);
    expectRejected(browser, L"C:\\Tools\\a|b", ERROR_BAD_PATHNAME);
}

TEST(TypedTextRejected, OutsideTheStartMenuIsError161)
{
    FolderBrowser browser;
    browser.setRoot(programsRoot());
    expectRejected(browser, L"C:\\Tools", ERROR_BAD_PATHNAME);
    // Relative text is taken inside the Start Menu folder.
    EXPECT_TRUE(browser.validateTypedText(nullptr, L"Programs\\Orvane Systems\\Trimora 6"));
    EXPECT_EQ(browser.path(), folder(CSIDL_COMMON_PROGRAMS) + L"\\Orvane Systems\\Trimora 6");
}

TEST(StartMenuFolderText, RelativeToTheStartMenuAndBack)
{
    const std::wstring root = folder(CSIDL_COMMON_STARTMENU);
    EXPECT_EQ(startMenuFolderText(root, root), L"");
    EXPECT_EQ(startMenuFolderPath(root, L""), root);
    const std::wstring inside = root + L"\\Programs\\Orvane Systems\\Trimora 6";
    EXPECT_EQ(startMenuFolderText(inside, root), L"Programs\\Orvane Systems\\Trimora 6");
    EXPECT_EQ(startMenuFolderPath(root, L"Programs\\Orvane Systems\\Trimora 6"), inside);
    EXPECT_EQ(startMenuFolderText(L"Q:\\Elsewhere", root), L"Q:\\Elsewhere");
}

// The browser under Wine: it starts on the nearest existing folder and its
// edit box shows the start folder whole, the part that does not exist yet
// included (on Windows OK returns that text through the failed validation);
// OK returns the selected folder (Wine ignores the edit box), Cancel nothing.
HWND browserWindow()
{
    test::WindowQuery query;
    query.processId = ::GetCurrentProcessId();
    query.className = L"#32770";
    return test::waitForWindow(query);
}

BOOL CALLBACK findEdit(HWND child, LPARAM data)
{
    if (test::className(child) != L"Edit") return TRUE;
    *reinterpret_cast<HWND*>(data) = child;
    return FALSE;
}

HWND editOf(HWND window)
{
    HWND found = nullptr;
    ::EnumChildWindows(window, &findEdit, reinterpret_cast<LPARAM>(&found));
    return found;
}

// The edit box's text once it differs from before (the browser fills it
// after it has opened, and again after every selection).
std::wstring shownAfter(HWND window, const std::wstring& before = {})
{
    std::wstring shown;
    for (int i = 0; i < 100; ++i) {
        shown = test::windowText(editOf(window));
        if (!shown.empty() && shown != before) break;
        ::Sleep(50);
    }
    return shown;
}

// Selects a folder of the tree as a click on it does.
void select(HWND window, const std::wstring& folder)
{
    ::SendMessageW(window, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
}

TEST(BrowserUnderWine, StartsOnNearestExistingFolderShowingTheWholeStartFolder)
{
    const std::wstring windows = folder(CSIDL_WINDOWS);
    const std::wstring start = windows + L"\\Not There\\Trimora 6";
    std::wstring shown, elsewhere, back;
    std::wstring result;
    {
        test::ModalDriver driver([&] {
            HWND window = browserWindow();
            if (!window) return;
            shown = shownAfter(window);
            // Another folder gets the suffix; the start folder again shows
            // the whole start path again.
            select(window, windows + L"\\system32");
            elsewhere = shownAfter(window, shown);
            select(window, windows);
            back = shownAfter(window, elsewhere);
            test::clickButton(window, IDOK);
        });
        FolderBrowser browser;
        result = browser.Browse(start, L"Trimora 6", L"Select");
    }
    EXPECT_EQ(shown, start);
    EXPECT_EQ(elsewhere, windows + L"\\system32\\Trimora 6");
    EXPECT_EQ(back, start);
    EXPECT_EQ(result, windows);
}

// Wine's tree, asked to select its top folder, selects that folder's first
// child instead: the start folder here has an existing ancestor below the
// top, the maker's folder.
TEST(BrowserUnderWine, StartMenuBrowserShowsTheWholeStartFolderRelativeToTheStartMenu)
{
    const std::wstring programs = folder(CSIDL_COMMON_PROGRAMS);
    ASSERT_TRUE(::CreateDirectoryW((programs + L"\\Orvane Systems").c_str(), nullptr) ||
                ::GetLastError() == ERROR_ALREADY_EXISTS);
    test::readFoldersOnce(programs + L"\\Orvane Systems");
    std::wstring shown;
    std::pair<std::wstring, std::wstring> result;
    {
        test::ModalDriver driver([&] {
            HWND window = browserWindow();
            if (!window) return;
            shown = shownAfter(window);
            test::clickButton(window, IDOK);
        });
        FolderBrowser browser;
        result = browser.BrowseStartMenu(programs + L"\\Orvane Systems\\Quorvex Suite\\Trimora 6", L"Trimora 6",
                                         L"Menu");
    }
    ::RemoveDirectoryW((programs + L"\\Orvane Systems").c_str());
    EXPECT_EQ(shown, L"Programs\\Orvane Systems\\Quorvex Suite\\Trimora 6");
    EXPECT_EQ(result.first, programs + L"\\Orvane Systems");
    EXPECT_EQ(result.second, L"Programs\\Orvane Systems");
}

TEST(BrowserUnderWine, CancelReturnsNothing)
{
    std::wstring result = L"unchanged";
    {
        test::ModalDriver driver([&] {
            if (HWND window = browserWindow()) test::clickButton(window, IDCANCEL);
        });
        FolderBrowser browser;
        result = browser.Browse(folder(CSIDL_WINDOWS), L"Trimora 6", L"");
    }
    EXPECT_EQ(result, L"");
}

}  // namespace
