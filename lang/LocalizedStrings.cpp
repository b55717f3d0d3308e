#include "lang/LocalizedStrings.h"

#include "lang/Languages.h"

namespace qv {

namespace {
constexpr wchar_t Untranslated[] = L"#";
constexpr UINT EnglishOffset = 1000;
}  // namespace

std::wstring loadResourceString(UINT id)
{
    LanguageState& state = currentLanguage();
    if (!state.resourceModule) state.resourceModule = ::GetModuleHandleW(nullptr);
    // With a buffer size of 0, LoadStringW hands out a pointer to the
    // resource's own text, which is not NUL-terminated.
    const wchar_t* text = nullptr;
    int length = ::LoadStringW(state.resourceModule, id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || !text) return {};
    return std::wstring(text, static_cast<size_t>(length));
}

UINT localizedId(UINT baseId)
{
    std::uint32_t language = currentLanguage().languageIndex;
    if (!hasInstallerTranslation(language)) language = EnglishLanguage;
    if (language == FrenchLanguage) return baseId;
    // A missing text loads as empty, which is not "#": it is not replaced.
    UINT id = baseId + stringOffsetOf(language);
    if (loadResourceString(id) != Untranslated) return id;
    if (language != EnglishLanguage && loadResourceString(baseId + EnglishOffset) != Untranslated)
        return baseId + EnglishOffset;
    return baseId;
}

std::wstring loadLocalizedString(UINT baseId)
{
    return loadResourceString(localizedId(baseId));
}

}  // namespace qv
