#include "app/InstallApp.h"
#include "app/LanguageChoice.h"
#include "lang/Languages.h"
#include "lang/LocalizedStrings.h"
#include "identity/Product.h"
#include "framework/Wnd.h"
#include "identity/Probes.h"
#include "resources/resource.h"
#include "sys/Handles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <clocale>
#include <cwchar>
#include <mutex>
#include <thread>
#include <vector>

using namespace qv;

namespace {

// ---------------------------------------------------------------------------
// The user's locale. CTest runs this suite once per locale (LANG=de_DE.UTF-8
// and so on: Wine takes the user's locale from LANG when a process starts);
// the case is picked by the language Windows reports for the user.

struct LocaleCase {
    LANGID userLanguage;
    const char* what;
    std::uint32_t fromUserLocale;  // languageFromUserLocale(OfferedLanguages)
    std::uint32_t atStartup;       // after the start-up language choice
    std::uint32_t frenchLcid;      // lcid with French current
    const char* frenchLocaleName;
};

constexpr LocaleCase localeCases[] = {
    {0x0409, "English (United States)", 1, 1, 1036, "fr-FR"},
    {0x0407, "German", 2, 2, 1036, "fr-FR"},
    {0x0413, "Dutch: offered, but no installer texts", 5, 1, 1036, "fr-FR"},
    {0x100C, "Swiss French", 0, 0, 1036, "fr-CH"},
    {0x0404, "traditional Chinese", 1, 1, 1036, "fr-FR"},
    {0x1004, "Chinese (Singapore)", 10, 1, 1036, "fr-FR"},
    {0x0406, "Danish: not offered", 1, 1, 1036, "fr-FR"},
};

TEST(UserLocale, DecidesTheStartupLanguage)
{
    LANGID user = ::GetUserDefaultLangID();
    const LocaleCase* found = nullptr;
    for (const LocaleCase& c : localeCases)
        if (c.userLanguage == user) found = &c;
    ASSERT_NE(found, nullptr) << "no case for the user language 0x" << std::hex << user;
    SCOPED_TRACE(found->what);

    // First use: French, with the state's initial values.
    const LanguageState& state = currentLanguage();
    EXPECT_EQ(state.languageIndex, 0u);
    EXPECT_EQ(state.offeredMask, 1u);
    EXPECT_EQ(state.codePage, 1252u);
    EXPECT_EQ(state.lcid, found->frenchLcid);
    EXPECT_EQ(localeNameOf(0), found->frenchLocaleName);
    // Without a mask, only French is offered.
    EXPECT_EQ(languageFromUserLocale(), 0u);

    EXPECT_EQ(languageFromUserLocale(OfferedLanguages), found->fromUserLocale);
    // With the user's language left out of the mask: English, else French.
    EXPECT_EQ(languageFromUserLocale(0x3), found->fromUserLocale == 0 ? 0u : 1u);
    EXPECT_EQ(languageFromUserLocale(0x1 | (1u << found->fromUserLocale)), found->fromUserLocale);

    chooseStartupLanguage();
    EXPECT_EQ(currentLanguage().languageIndex, found->atStartup);
}

// A user whose language is one of the table's keeps his own locale for it.
TEST(UserLocale, TheUsersOwnLocaleWhenTheLanguageIsHis)
{
    LANGID user = ::GetUserDefaultLangID();
    std::uint32_t index = languageFromUserLocale(OfferedLanguages);
    if (PRIMARYLANGID(langIdOf(index)) != PRIMARYLANGID(user)) GTEST_SKIP() << "the user's language is not offered";
    wchar_t userName[LOCALE_NAME_MAX_LENGTH] = {};
    ASSERT_GT(::LCIDToLocaleName(::GetUserDefaultLCID(), userName, LOCALE_NAME_MAX_LENGTH, 0), 0);
    std::string expected;
    for (const wchar_t* p = userName; *p; ++p) expected += static_cast<char>(*p);
    EXPECT_EQ(localeNameOf(index), expected);
}

// ---------------------------------------------------------------------------
// The language an earlier installation recorded (OvLanguage).

constexpr wchar_t UninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvex 6";

struct RecordedCase {
    const char* what;
    DWORD type;
    std::vector<BYTE> data;
    int expected;  // -1: as without the value
};

class RecordedLanguage : public ::testing::TestWithParam<RecordedCase> {
protected:
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }
    static void clear()
    {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, UninstallKey);
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, UninstallKey);
    }
};

TEST_P(RecordedLanguage, IsTakenWhenItIsAnOfferedIndex)
{
    const RecordedCase& c = GetParam();
    chooseStartupLanguage();
    std::uint32_t withoutValue = currentLanguage().languageIndex;

    UniqueKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, UninstallKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                                nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key.get(), L"OvLanguage", 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size())),
              ERROR_SUCCESS);
    chooseStartupLanguage();
    EXPECT_EQ(currentLanguage().languageIndex, c.expected < 0 ? withoutValue : static_cast<std::uint32_t>(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Languages, RecordedLanguage,
    ::testing::Values(RecordedCase{"Romanian", REG_DWORD, {9, 0, 0, 0}, 9},
                      RecordedCase{"German", REG_DWORD, {2, 0, 0, 0}, 2},
                      RecordedCase{"Danish is not offered", REG_DWORD, {6, 0, 0, 0}, -1},
                      // Offered, but without installer texts: English.
                      RecordedCase{"Polish", REG_DWORD, {15, 0, 0, 0}, 1},
                      RecordedCase{"outside the table", REG_DWORD, {20, 0, 0, 0}, -1},
                      RecordedCase{"eight bytes", REG_QWORD, {9, 0, 0, 0, 0, 0, 0, 0}, -1},
                      RecordedCase{"two bytes", REG_BINARY, {9, 0}, -1},
                      // The type is not looked at, only the four bytes.
                      RecordedCase{"four bytes of another type", REG_BINARY, {11, 0, 0, 0}, 11}),
    [](const auto& info) {
        std::string name = info.param.what;
        for (char& ch : name)
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

// ---------------------------------------------------------------------------
// The language table.

TEST(LanguageTable, OfferedAndTranslatedSets)
{
    const std::uint32_t offered[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 14, 15, 19};
    const std::uint32_t translated[] = {0, 1, 2, 3, 4, 7, 9, 11};
    for (std::uint32_t i = 0; i < LanguageCount; ++i) {
        bool isOffered = std::find(std::begin(offered), std::end(offered), i) != std::end(offered);
        bool isTranslated = std::find(std::begin(translated), std::end(translated), i) != std::end(translated);
        EXPECT_EQ(isOfferedLanguage(i), isOffered) << i;
        EXPECT_EQ(hasInstallerTranslation(i), isTranslated) << i;
    }
    for (std::uint32_t outside : {20u, 31u, 32u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(isOfferedLanguage(outside)) << outside;
        EXPECT_TRUE(hasInstallerTranslation(outside)) << outside;
    }
    EXPECT_EQ(langIdOf(3), 0x0C0A);
    EXPECT_EQ(langIdOf(10), 0x0804);
    EXPECT_EQ(stringOffsetOf(7), 8000u);
    EXPECT_EQ(stringOffsetOf(10), 9000u);
    EXPECT_EQ(stringOffsetOf(11), 5000u);
}

TEST(LanguageTable, SetLanguageTakesTheLanguagesCodePageAndDirection)
{
    struct {
        std::uint32_t index;
        UINT codePage;
        bool rightToLeft;
    } cases[] = {{0, 1252, false}, {2, 1252, false}, {8, 1251, false}, {7, 1254, false},
                 {10, 936, false},  {14, 1253, false}, {16, 1255, true}, {18, 932, false}};
    for (const auto& c : cases) {
        currentLanguage().resourceModule = ::GetModuleHandleW(L"kernel32.dll");
        setLanguage(c.index);
        const LanguageState& state = currentLanguage();
        EXPECT_EQ(state.languageIndex, c.index);
        EXPECT_EQ(state.codePage, c.codePage) << c.index;
        EXPECT_EQ(state.rightToLeft, c.rightToLeft) << c.index;
        EXPECT_EQ(isRightToLeft(c.index), c.rightToLeft) << c.index;
        EXPECT_EQ(state.resourceModule, nullptr) << "lookups start again from the executable";
    }
}

TEST(LanguageTable, NumbersKeepTheClassicFormat)
{
    for (std::uint32_t i = 0; i < LanguageCount; ++i) {
        ASSERT_NO_THROW(setLanguage(i)) << i;
        EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C") << i;
        wchar_t text[16];
        std::swprintf(text, 16, L"%.1f", 1.5);
        EXPECT_STREQ(text, L"1.5") << i;
    }
}

TEST(LanguageTable, NativeNamesStartInUpperCase)
{
    EXPECT_EQ(nativeLanguageName(0), L"Fran\u00e7ais");
    EXPECT_EQ(nativeLanguageName(1), L"English");
    EXPECT_EQ(nativeLanguageName(2), L"Deutsch");
    EXPECT_EQ(nativeLanguageName(7), L"T\u00fcrk\u00e7e");
    EXPECT_EQ(nativeLanguageName(9), L"Rom\u00e2n\u0103");
    EXPECT_EQ(nativeLanguageName(11), L"Italiano");
    EXPECT_EQ(nativeLanguageName(14), L"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac");
    for (std::uint32_t i = 0; i < LanguageCount; ++i) EXPECT_FALSE(nativeLanguageName(i).empty()) << i;
}

// ---------------------------------------------------------------------------
// Fallback of untranslated texts, through a module with crafted tables:
//   base 1000: French, English,   Turkish "#"
//   base 1001: French, English "#", Turkish "#"
//   base 1002: French, English,   no Turkish text at all
//   base 1003: French, English "#", Turkish
//   base 1004: French, English,   Turkish

class Fallback : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::wstring path = (qv::test::probeFolder() / L"fallback-strings.exe").wstring();
        module_ = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module_, nullptr) << ::GetLastError();
    }
    static void TearDownTestSuite()
    {
        currentLanguage().resourceModule = nullptr;
        if (module_) ::FreeLibrary(module_);
    }
    static void use(std::uint32_t language)
    {
        setLanguage(language);
        currentLanguage().resourceModule = module_;
    }
    static HMODULE module_;
};
HMODULE Fallback::module_ = nullptr;

TEST_F(Fallback, TurkishFallsBackToEnglishThenFrench)
{
    use(7);
    EXPECT_EQ(loadLocalizedString(1000), L"en-1000");
    EXPECT_EQ(localizedId(1000), 2000u);
    EXPECT_EQ(loadLocalizedString(1001), L"fr-1001");
    EXPECT_EQ(localizedId(1001), 1001u);
    EXPECT_EQ(loadLocalizedString(1003), L"tr-1003");
    EXPECT_EQ(loadLocalizedString(1004), L"tr-1004");
    // A missing text is not "#": it stays missing and shows as empty.
    EXPECT_EQ(localizedId(1002), 9002u);
    EXPECT_EQ(loadLocalizedString(1002), L"");
}

TEST_F(Fallback, EnglishFallsBackToFrench)
{
    use(1);
    EXPECT_EQ(loadLocalizedString(1000), L"en-1000");
    EXPECT_EQ(loadLocalizedString(1001), L"fr-1001");
    EXPECT_EQ(loadLocalizedString(1003), L"fr-1003");
    EXPECT_EQ(localizedId(1003), 1003u);
}

TEST_F(Fallback, FrenchIsTheBase)
{
    use(0);
    for (UINT id : {1000u, 1001u, 1002u, 1003u, 1004u}) {
        EXPECT_EQ(localizedId(id), id);
        EXPECT_EQ(loadLocalizedString(id), L"fr-" + std::to_wstring(id));
    }
}

TEST_F(Fallback, LanguagesWithoutInstallerTextsShowEnglish)
{
    for (std::uint32_t language : {5u, 6u, 10u, 15u, 16u}) {
        use(language);
        EXPECT_EQ(loadLocalizedString(1000), L"en-1000") << language;
        EXPECT_EQ(loadLocalizedString(1001), L"fr-1001") << language;
    }
}

TEST_F(Fallback, SetLanguageReturnsToTheExecutablesTexts)
{
    use(1);
    EXPECT_EQ(loadLocalizedString(IDS_APP_TITLE), L"en-1000");
    setLanguage(1);
    EXPECT_EQ(loadLocalizedString(IDS_APP_TITLE), L"Installer");
    EXPECT_EQ(currentLanguage().resourceModule, ::GetModuleHandleW(nullptr));
}

// ---------------------------------------------------------------------------
// The start page's language change.

class CountingWindow : public CWnd {
public:
    void RefreshTexts() override { ++refreshed; }
    int refreshed = 0;
};

// Answers the message boxes this process shows with OK and remembers their
// caption and text, the way a user would read them.
class MessageBoxAnswerer {
public:
    struct Box {
        std::wstring caption, text;
    };

    MessageBoxAnswerer() : thread_([this] { run(); }) {}
    ~MessageBoxAnswerer()
    {
        stop_ = true;
        thread_.join();
    }
    std::vector<Box> boxes()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return boxes_;
    }

private:
    static std::wstring textOf(HWND window)
    {
        wchar_t text[1024] = {};
        ::GetWindowTextW(window, text, 1024);
        return text;
    }

    static BOOL CALLBACK findBox(HWND window, LPARAM found)
    {
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        wchar_t className[32] = {};
        ::GetClassNameW(window, className, 32);
        if (process == ::GetCurrentProcessId() && ::IsWindowVisible(window) &&
            std::wcscmp(className, L"#32770") == 0) {
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
        }
        return TRUE;
    }

    static BOOL CALLBACK findText(HWND child, LPARAM text)
    {
        wchar_t className[32] = {};
        ::GetClassNameW(child, className, 32);
        std::wstring childText = textOf(child);
        if (_wcsicmp(className, L"Static") == 0 && !childText.empty()) {
            *reinterpret_cast<std::wstring*>(text) = childText;
            return FALSE;
        }
        return TRUE;
    }

    void run()
    {
        while (!stop_) {
            HWND box = nullptr;
            ::EnumWindows(findBox, reinterpret_cast<LPARAM>(&box));
            if (box) {
                Box seen{textOf(box), L""};
                ::EnumChildWindows(box, findText, reinterpret_cast<LPARAM>(&seen.text));
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    boxes_.push_back(seen);
                }
                ::SendMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
                while (!stop_ && ::IsWindow(box)) ::Sleep(10);
            }
            ::Sleep(10);
        }
    }

    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Box> boxes_;
    std::thread thread_;
};

TEST(LanguageChange, WithoutInstallerTextsTheUserIsToldAndEnglishStays)
{
    CInstallApp app;
    CountingWindow frame;
    app.setMainWnd(&frame);
    setLanguage(1);
    refreshAppTitle();

    MessageBoxAnswerer answerer;
    onLanguageChosen(15);  // Polish

    std::vector<MessageBoxAnswerer::Box> boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Installer \u2013 Trimora 6.04");
    EXPECT_EQ(boxes[0].text, L"'Trimora' will be installed in the selected Langage, but the Installer, "
                             L"still under translation,  shall run in English.");
    EXPECT_EQ(currentLanguage().languageIndex, 1u);
    EXPECT_EQ(app.appName(), L"Installer \u2013 Trimora 6.04");
    EXPECT_EQ(frame.refreshed, 1);
}

TEST(LanguageChange, FromFrenchTheMessageIsInEnglishUnderTheFrenchTitle)
{
    CInstallApp app;
    setLanguage(0);
    refreshAppTitle();

    MessageBoxAnswerer answerer;
    onLanguageChosen(5);  // Dutch

    std::vector<MessageBoxAnswerer::Box> boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Installeur \u2013 Quorvex 6.04");
    EXPECT_EQ(boxes[0].text.substr(0, 25), L"'Trimora' will be install");
    EXPECT_EQ(currentLanguage().languageIndex, 1u);
    EXPECT_EQ(app.appName(), L"Installer \u2013 Trimora 6.04");
}

TEST(LanguageChange, TranslatedLanguageSwitchesWithoutAMessage)
{
    CInstallApp app;
    CountingWindow frame;
    app.setMainWnd(&frame);
    setLanguage(1);
    refreshAppTitle();

    MessageBoxAnswerer answerer;
    onLanguageChosen(11);  // Italian
    EXPECT_TRUE(answerer.boxes().empty());
    EXPECT_EQ(currentLanguage().languageIndex, 11u);
    EXPECT_EQ(app.appName(), L"Programma di installazione \u2013 Trimora 6.04");
    EXPECT_EQ(frame.refreshed, 1);

    onLanguageChosen(0);
    EXPECT_EQ(app.appName(), L"Installeur \u2013 Quorvex 6.04");
    EXPECT_EQ(frame.refreshed, 2);
}

}  // namespace
