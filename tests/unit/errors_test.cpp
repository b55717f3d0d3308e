// Error texts and the message box of start-up errors. Texts are compared with
// what this system's FormatMessageW says, never with Windows' wording.
#include "app/ErrorMessages.h"
#include "app/UiHooks.h"
#include "framework/WinApp.h"
#include "framework/Wnd.h"
#include "identity/VersionLabel.h"
#include "sys/VersionInfo.h"

#include "support/WindowDriver.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

using namespace qv;

// FormatMessageW's own answer without its trailing line break; empty when it
// has none.
std::wstring formatted(DWORD code, LANGID language = 0)
{
    wchar_t* buffer = nullptr;
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                   FORMAT_MESSAGE_ALLOCATE_BUFFER,
                               nullptr, code, language, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text(buffer ? buffer : L"", n);
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
    return text;
}

TEST(SystemErrorText, IsTheSystemsTextWithoutTrailingLineBreaks)
{
    const std::wstring busy = systemErrorText(ERROR_BUSY, 0);
    ASSERT_FALSE(busy.empty());
    EXPECT_EQ(busy, formatted(ERROR_BUSY));
    EXPECT_NE(busy.back(), L'\n');
    EXPECT_NE(busy.back(), L'\r');
}

TEST(SystemErrorText, ALanguageWithoutTextsFallsBackToTheSystemsChoice)
{
    // Wine has no Hebrew message texts (1815 for every code), Windows may.
    const LANGID hebrew = MAKELANGID(LANG_HEBREW, SUBLANG_DEFAULT);
    const std::wstring own = formatted(ERROR_BUSY, hebrew);
    EXPECT_EQ(systemErrorText(ERROR_BUSY, hebrew), own.empty() ? formatted(ERROR_BUSY) : own);
}

struct FallbackCase {
    const char* name;
    DWORD code;
};

class ErrorTextFallsBackToEFail : public testing::TestWithParam<FallbackCase> {};

TEST_P(ErrorTextFallsBackToEFail, WhenThereIsNoTextOfItsOwn)
{
    const std::wstring eFail = formatted(static_cast<DWORD>(E_FAIL));
    ASSERT_FALSE(eFail.empty());
    EXPECT_EQ(errorText(GetParam().code), eFail);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ErrorTextFallsBackToEFail,
    testing::Values(FallbackCase{"CustomerCodeWithoutOwnStringBit", 0x20000000u | 1126u},
                    FallbackCase{"OwnStringThatDoesNotExist", 0x28000000u | 999u},
                    FallbackCase{"CodeTheSystemDoesNotKnow", 0xA0CD0123u},
                    FallbackCase{"EFailItself", static_cast<DWORD>(E_FAIL)}),
    [](const testing::TestParamInfo<FallbackCase>& info) { return info.param.name; });

TEST(ErrorText, UnexpectedFailureHasTheSystemsTextOrThatOfEFail)
{
    // Wine has no text for E_UNEXPECTED (error 317): then the E_FAIL text.
    const std::wstring own = formatted(static_cast<DWORD>(E_UNEXPECTED));
    EXPECT_EQ(errorText(static_cast<DWORD>(E_UNEXPECTED)),
              own.empty() ? formatted(static_cast<DWORD>(E_FAIL)) : own);
}

TEST(ErrorText, CustomerCodeWithOwnStringBitNamesTheInstallersString)
{
    // This test carries the installer's string tables: 1126 is the French
    // block's text, 2126 the English one.
    const wchar_t* text = nullptr;
    int n = ::LoadStringW(::GetModuleHandleW(nullptr), 2126, reinterpret_cast<LPWSTR>(&text), 0);
    ASSERT_GT(n, 0);
    EXPECT_EQ(errorText(0x28000000u | 2126u), std::wstring(text, n));
    EXPECT_EQ(errorText(0xE8000000u | 2126u), std::wstring(text, n)) << "severity bits do not matter";
}

TEST(ErrorText, OtherCodesAreTheSystemsText)
{
    EXPECT_EQ(errorText(ERROR_ACCESS_DENIED), formatted(ERROR_ACCESS_DENIED));
    EXPECT_EQ(errorText(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))),
              formatted(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))));
}

struct Seen {
    std::wstring caption, text;
    std::vector<int> buttons;
    bool icon = false;
    HWND owner = nullptr;
};

// Shows the box on this thread and answers it from a second one after noting
// what it looked like.
template <class Text>
int showAndAnswer(Text text, UINT style, UINT icon, int button, Seen& seen)
{
    int result = 0;
    {
        qv::test::ModalDriver driver([&] {
            HWND box = qv::test::waitForWindow({::GetCurrentProcessId(), L"#32770", L""});
            if (!box) return;
            seen.caption = qv::test::windowText(box);
            seen.text = qv::test::messageBoxText(box);
            seen.buttons = qv::test::messageBoxButtons(box);
            seen.icon = qv::test::messageBoxHasIcon(box, icon);
            seen.owner = ::GetWindow(box, GW_OWNER);
            qv::test::clickButton(box, button);
        });
        result = showMessage(text, style);
    }
    return result;
}

struct StyleCase {
    const char* name;
    UINT style;
    UINT icon;
    std::vector<int> buttons;
    int answer;
};

class ShowMessageStyles : public testing::TestWithParam<StyleCase> {};

TEST_P(ShowMessageStyles, AddTheDefaultIconOnlyWhenNoneIsGiven)
{
    const StyleCase& c = GetParam();
    Seen seen;
    EXPECT_EQ(showAndAnswer(std::wstring(L"Text of the box"), c.style, c.icon, c.answer, seen), c.answer);
    EXPECT_EQ(seen.text, L"Text of the box");
    EXPECT_EQ(seen.buttons, c.buttons);
    EXPECT_TRUE(seen.icon);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, ShowMessageStyles,
    testing::Values(StyleCase{"Ok", MB_OK, MB_ICONEXCLAMATION, {IDOK}, IDOK},
                    StyleCase{"OkCancel", MB_OKCANCEL, MB_ICONEXCLAMATION, {IDOK, IDCANCEL}, IDCANCEL},
                    StyleCase{"YesNoCancel", MB_YESNOCANCEL, MB_ICONQUESTION, {IDYES, IDNO, IDCANCEL}, IDNO},
                    StyleCase{"YesNo", MB_YESNO, MB_ICONQUESTION, {IDYES, IDNO}, IDYES},
                    StyleCase{"RetryCancelStaysWithout", MB_RETRYCANCEL, 0, {IDRETRY, IDCANCEL}, IDRETRY},
                    StyleCase{"ErrorIconStays", MB_ICONERROR, MB_ICONERROR, {IDOK}, IDOK},
                    StyleCase{"InformationOnYesNoStays", MB_YESNO | MB_ICONINFORMATION,
                              MB_ICONINFORMATION, {IDYES, IDNO}, IDNO}),
    [](const testing::TestParamInfo<StyleCase>& info) { return info.param.name; });

TEST(ShowMessage, WithoutHooksTheCaptionIsTheInstallersVersionLabel)
{
    // No application object and no hooks: the version resource this test
    // carries (the installer's) names the box.
    uiHooks() = UiHooks{};
    const std::wstring label = displayLabel(VersionInfo::ofSelf());
    ASSERT_FALSE(label.empty());
    Seen seen;
    showAndAnswer(std::wstring(L"x"), MB_OK, MB_ICONEXCLAMATION, IDOK, seen);
    EXPECT_EQ(seen.caption, label);
    EXPECT_EQ(seen.owner, nullptr) << "no window of this thread: no owner";
}

TEST(ReportStartupError, ShowsTheErrorTextWithTheExclamationIcon)
{
    installDefaultUiHooks();
    CWinApp app;
    app.setAppName(L"Installer \u2013 Trimora 6.04");
    Seen seen;
    {
        qv::test::ModalDriver driver([&] {
            HWND box = qv::test::waitForWindow({::GetCurrentProcessId(), L"#32770", L""});
            if (!box) return;
            seen.caption = qv::test::windowText(box);
            seen.text = qv::test::messageBoxText(box);
            seen.icon = qv::test::messageBoxHasIcon(box, MB_ICONEXCLAMATION);
            qv::test::clickButton(box, IDOK);
        });
        reportStartupError(ERROR_BUSY);
    }
    EXPECT_EQ(seen.caption, L"Installer \u2013 Trimora 6.04");
    EXPECT_EQ(seen.text, formatted(ERROR_BUSY));
    EXPECT_TRUE(seen.icon);
}

TEST(ShowMessage, AResourceIdentifierShowsThatStringOfTheInstaller)
{
    const wchar_t* text = nullptr;
    int n = ::LoadStringW(::GetModuleHandleW(nullptr), 2127, reinterpret_cast<LPWSTR>(&text), 0);
    ASSERT_GT(n, 0);
    Seen seen;
    showAndAnswer(MAKEINTRESOURCEW(2127), MB_RETRYCANCEL | MB_ICONEXCLAMATION, MB_ICONEXCLAMATION,
                  IDCANCEL, seen);
    EXPECT_EQ(seen.text, std::wstring(text, n));
}

class FrameWindow : public CWnd {
public:
    FrameWindow()
    {
        hwnd_ = ::CreateWindowExW(0, L"STATIC", L"frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300,
                                  200, nullptr, nullptr, nullptr, nullptr);
    }
    ~FrameWindow() override { ::DestroyWindow(hwnd_); }
};

TEST(ShowMessage, WithTheDefaultHooksTheMainWindowOwnsTheBoxAndIsEnabledAfterwards)
{
    installDefaultUiHooks();
    CWinApp app;
    app.setAppName(L"Owner");
    FrameWindow frame;
    app.setMainWnd(&frame);
    HWND popup = ::CreateWindowExW(0, L"STATIC", L"popup", WS_POPUP | WS_CAPTION | WS_VISIBLE, 20, 20,
                                   200, 100, frame.hwnd(), nullptr, nullptr, nullptr);
    ::SetActiveWindow(popup);
    Seen seen;
    bool frameEnabledMeanwhile = true;
    {
        qv::test::ModalDriver driver([&] {
            HWND box = qv::test::waitForWindow({::GetCurrentProcessId(), L"#32770", L"Owner"});
            if (!box) return;
            seen.owner = ::GetWindow(box, GW_OWNER);
            frameEnabledMeanwhile = ::IsWindowEnabled(frame.hwnd()) != FALSE;
            qv::test::clickButton(box, IDOK);
        });
        showMessage(std::wstring(L"owned"), MB_OK);
    }
    // The main window's last active pop-up owns the box; the main window
    // itself is blocked while it shows and usable again afterwards.
    EXPECT_EQ(seen.owner, popup);
    EXPECT_FALSE(frameEnabledMeanwhile);
    EXPECT_TRUE(::IsWindowEnabled(frame.hwnd()));
    EXPECT_TRUE(::IsWindowEnabled(popup));
    ::DestroyWindow(popup);
    app.setMainWnd(nullptr);
}

}  // namespace
