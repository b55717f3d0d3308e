#include "product/common/ProductStrings.h"

#include "product/common/ProductNames.h"

#include <array>

namespace qv::product {

namespace {

struct LanguageCode {
    int index;
    LANGID primary;  // PRIMARYLANGID of the user's interface language
    const wchar_t* code;
};

// The thirteen languages with a library; French (0) is built in.
constexpr std::array<LanguageCode, 13> kLibraries{{
    {1, LANG_ENGLISH, L"en"},     {2, LANG_GERMAN, L"de"},   {3, LANG_SPANISH, L"es"},
    {4, LANG_PORTUGUESE, L"pt"},  {5, LANG_DUTCH, L"nl"},    {7, LANG_TURKISH, L"tr"},
    {8, LANG_BULGARIAN, L"bg"},   {9, LANG_ROMANIAN, L"ro"}, {10, LANG_CHINESE, L"zh"},
    {11, LANG_ITALIAN, L"it"},    {14, LANG_GREEK, L"el"},   {15, LANG_POLISH, L"pl"},
    {19, LANG_HUNGARIAN, L"hu"},
}};

constexpr int kFrench = 0;
constexpr int kEnglish = 1;

bool hasLibrary(int index)
{
    for (const auto& l : kLibraries)
        if (l.index == index) return true;
    return false;
}

UniqueModule loadLibrary(const std::wstring& folder, int index)
{
    std::wstring name = languageLibraryName(index);
    if (name.empty()) return {};
    std::wstring path = folder + L"\\Lang\\" + name;
    // As a data file: nothing of the library runs, and it is not locked
    // against deletion beyond the mapping.
    return UniqueModule(
        ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

std::wstring builtIn(UINT id)
{
    return loadModuleString(::GetModuleHandleW(nullptr), id);
}

}  // namespace

std::wstring languageLibraryName(int languageIndex)
{
    for (const auto& l : kLibraries)
        if (l.index == languageIndex) return std::wstring(L"Trimora_") + l.code + L".dll";
    return {};
}

int installedLanguage()
{
    std::wstring keyPath = std::wstring(kUninstallParentKey) + L"\\" + kUninstallKeyName;
    DWORD value = 0, size = sizeof value, type = 0;
    UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS &&
        ::RegQueryValueExW(key.get(), L"OvLanguage", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof value) {
        int index = static_cast<int>(value);
        if (index == kFrench || hasLibrary(index)) return index;
    }
    LANGID primary = PRIMARYLANGID(::GetUserDefaultUILanguage());
    if (primary == LANG_FRENCH) return kFrench;
    for (const auto& l : kLibraries)
        if (l.primary == primary) return l.index;
    return kEnglish;
}

std::wstring loadModuleString(HMODULE module, UINT id)
{
    if (!module) return {};
    // A string table block holds 16 strings, each a length-prefixed UTF-16
    // run; FindResourceW takes whichever language the block exists in.
    HRSRC info = ::FindResourceW(module, MAKEINTRESOURCEW(id / 16 + 1), MAKEINTRESOURCEW(6));
    if (!info) return {};
    HGLOBAL loaded = ::LoadResource(module, info);
    DWORD size = ::SizeofResource(module, info);
    auto p = static_cast<const WCHAR*>(::LockResource(loaded));
    if (!p) return {};
    const WCHAR* end = p + size / sizeof(WCHAR);
    for (UINT i = 0; i < id % 16 && p < end; ++i) p += 1 + *p;
    if (p >= end || p + 1 + *p > end) return {};
    return std::wstring(p + 1, *p);
}

ProductStrings::ProductStrings(const std::wstring& programFolder, int languageIndex)
    : languageIndex_(languageIndex)
{
    if (languageIndex_ != kFrench) {
        chosen_ = loadLibrary(programFolder, languageIndex_);
        if (languageIndex_ != kEnglish) english_ = loadLibrary(programFolder, kEnglish);
    }
}

std::wstring ProductStrings::get(UINT id) const
{
    std::wstring text = loadModuleString(chosen_.get(), id);
    if (text.empty()) text = loadModuleString(english_.get(), id);
    if (text.empty()) text = builtIn(id);
    return text;
}

std::wstring ProductStrings::format(UINT id, const std::wstring& argument) const
{
    std::wstring text = get(id);
    std::size_t at = text.find(L"%1");
    if (at != std::wstring::npos) text.replace(at, 2, argument);
    return text;
}

void ProductStrings::release() noexcept
{
    chosen_.reset();
    english_.reset();
}

}  // namespace qv::product
