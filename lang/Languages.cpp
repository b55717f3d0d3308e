#include "lang/Languages.h"

#include "lang/LocalizedStrings.h"
#include "resources/resource.h"
#include "sys/Handles.h"

#include <clocale>
#include <locale>
#include <stdexcept>
#include <vector>

namespace qv {

namespace {

struct LanguageEntry {
    LANGID langId;
    bool translated;        // the installer has its own texts
    std::uint32_t offset;   // of the language's string block
};

// Indexed by language index. The string blocks were added in another order
// than the indexes, hence the offsets.
constexpr LanguageEntry languageTable[LanguageCount] = {
    {0x040C, true, 0},        // 0 French
    {0x0409, true, 1000},     // 1 English (United States)
    {0x0407, true, 2000},     // 2 German
    {0x0C0A, true, 3000},     // 3 Spanish (modern sort)
    {0x0816, true, 4000},     // 4 Portuguese (Portugal)
    {0x0413, false, 6000},    // 5 Dutch
    {0x0406, false, 7000},    // 6 Danish
    {0x041F, true, 8000},     // 7 Turkish
    {0x0402, false, 10000},   // 8 Bulgarian
    {0x0418, true, 11000},    // 9 Romanian
    {0x0804, false, 9000},    // 10 Chinese (simplified, PRC)
    {0x0410, true, 5000},     // 11 Italian
    {0x0405, false, 12000},   // 12 Czech
    {0x0414, false, 13000},   // 13 Norwegian (Bokmål)
    {0x0408, false, 14000},   // 14 Greek
    {0x0415, false, 15000},   // 15 Polish
    {0x040D, false, 16000},   // 16 Hebrew
    {0x042A, false, 17000},   // 17 Vietnamese
    {0x0411, false, 18000},   // 18 Japanese
    {0x040E, false, 19000},   // 19 Hungarian
};

const LanguageEntry& entryOf(std::uint32_t index)
{
    if (index >= LanguageCount) throw std::out_of_range("language index");
    return languageTable[index];
}

LanguageState& makeState()
{
    static LanguageState state;
    state.lcid = localeOf(0);
    // Category locales set later apply to every thread, not only the caller.
    _configthreadlocale(_DISABLE_PER_THREAD_LOCALE);
    applyLocale(0);
    ::SetThreadLocale(state.lcid);
    return state;
}

}  // namespace

LanguageState& currentLanguage()
{
    static LanguageState& state = makeState();
    return state;
}

LANGID langIdOf(std::uint32_t index)
{
    return entryOf(index).langId;
}

std::uint32_t stringOffsetOf(std::uint32_t index)
{
    return entryOf(index).offset;
}

bool isOfferedLanguage(std::uint32_t index) noexcept
{
    return index < LanguageCount && ((OfferedLanguages >> index) & 1) != 0;
}

bool hasInstallerTranslation(std::uint32_t index) noexcept
{
    return index >= LanguageCount || languageTable[index].translated;
}

LCID localeOf(std::uint32_t index)
{
    LANGID id = langIdOf(index);
    LCID user = ::GetUserDefaultLCID();
    return LANGIDFROMLCID(user) == id ? user : MAKELCID(id, SORT_DEFAULT);
}

std::string localeNameOf(std::uint32_t index)
{
    LCID lcid = localeOf(index);
    // A Swiss French user keeps fr-CH for French.
    if (PRIMARYLANGID(::GetUserDefaultLangID()) == PRIMARYLANGID(LANGIDFROMLCID(lcid)))
        lcid = ::GetUserDefaultLCID();
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    int length = ::LCIDToLocaleName(lcid, name, LOCALE_NAME_MAX_LENGTH, 0);
    if (length <= 1) return {};
    std::string narrow;
    for (int i = 0; i < length - 1; ++i) {
        if (name[i] > 0x7F) return {};
        narrow += static_cast<char>(name[i]);
    }
    return narrow;
}

void applyLocale(std::uint32_t index)
{
    std::string name = localeNameOf(index);
    // mingw's libstdc++ knows no named locale and throws: the classic one
    // stands in.
    std::locale named = std::locale::classic();
    if (!name.empty()) {
        try {
            named = std::locale(name.c_str());
        } catch (const std::exception&) {
        }
    }
    try {
        std::locale::global(std::locale(std::locale(), named,
                                        std::locale::collate | std::locale::ctype |
                                            std::locale::monetary | std::locale::time));
    } catch (const std::exception&) {
    }
    // The C runtime: numbers always classic. msvcrt accepts language names
    // ("French") but not locale names ("fr-FR"); a refusal leaves "C".
    std::setlocale(LC_ALL, "C");
    if (!name.empty()) {
        for (int category : {LC_CTYPE, LC_COLLATE, LC_TIME, LC_MONETARY})
            std::setlocale(category, name.c_str());
    }
}

void setLanguage(std::uint32_t index)
{
    LanguageState& state = currentLanguage();
    if (index != state.languageIndex) applyLocale(index);
    state.languageIndex = index;
    state.lcid = localeOf(index);
    wchar_t codePage[16] = {};
    UINT cp = 0;
    if (::GetLocaleInfoW(state.lcid, LOCALE_IDEFAULTANSICODEPAGE, codePage, 16) > 0)
        cp = static_cast<UINT>(std::wcstoul(codePage, nullptr, 10));
    state.codePage = cp ? cp : ::GetACP();
    state.resourceModule = nullptr;
    state.rightToLeft = isRightToLeft(index);
}

std::uint32_t languageFromUserLocale(std::uint32_t mask)
{
    if (mask == 0) mask = currentLanguage().offeredMask;
    LANGID user = ::GetUserDefaultLangID();
    WORD primary = PRIMARYLANGID(user);
    WORD sub = SUBLANGID(user);
    for (std::uint32_t i = 0; i < LanguageCount; ++i) {
        if (PRIMARYLANGID(languageTable[i].langId) != primary) continue;
        // Only simplified Chinese (PRC, Singapore) is the table's Chinese.
        if (primary == LANG_CHINESE && sub != SUBLANG_CHINESE_SIMPLIFIED && sub != SUBLANG_CHINESE_SINGAPORE)
            break;
        if ((mask >> i) & 1) return i;
        break;
    }
    return (mask & (1u << EnglishLanguage)) ? EnglishLanguage : FrenchLanguage;
}

bool isRightToLeft(std::uint32_t index)
{
    LOCALESIGNATURE signature = {};
    if (::GetLocaleInfoW(MAKELCID(langIdOf(index), SORT_DEFAULT), LOCALE_FONTSIGNATURE,
                         reinterpret_cast<LPWSTR>(&signature), sizeof(signature) / sizeof(WCHAR)) > 0)
        return (signature.lsUsb[3] >> 27) & 1;  // Unicode subset bit 123: right-to-left layout
    return index == 16;
}

std::wstring nativeLanguageName(std::uint32_t index)
{
    LCID lcid = localeOf(index);
    int size = ::GetLocaleInfoW(lcid, LOCALE_SNATIVELANGNAME, nullptr, 0);
    if (size <= 1) return {};
    std::vector<wchar_t> buffer(size);
    if (::GetLocaleInfoW(lcid, LOCALE_SNATIVELANGNAME, buffer.data(), size) <= 1) return {};
    std::wstring name(buffer.data());
    // The first character as the system delimits it (a surrogate pair is one).
    int first = static_cast<int>(::CharNextW(name.c_str()) - name.c_str());
    wchar_t upper[8] = {};
    int length = first > 0 && first < 8 ? ::LCMapStringW(lcid, LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING,
                                                         name.c_str(), first, upper, 8)
                                        : 0;
    if (length > 0) name.replace(0, first, upper, length);
    return name;
}

}  // namespace qv
