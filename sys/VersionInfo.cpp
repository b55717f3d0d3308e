#include "sys/VersionInfo.h"

#include "app/Languages.h"
#include "app/SessionState.h"
#include "framework/WinApp.h"

#include <boost/algorithm/string/replace.hpp>

#include <cwchar>

namespace qv {

namespace {

// The installer's own SpecialBuild decides, once, whether this is the German
// edition.
bool isGermanEdition()
{
    static const bool german = VersionInfo::ofSelf().stringValue(L"SpecialBuild") == GermanEditionName;
    return german;
}

}  // namespace

VersionInfo::VersionInfo(std::vector<BYTE> block) : block_(std::move(block))
{
    if (block_.empty()) return;
    void* data = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block_.data(), L"\\", &data, &length) || !data ||
        length < sizeof(VS_FIXEDFILEINFO))
        return;
    fixed_ = *static_cast<const VS_FIXEDFILEINFO*>(data);

    if (!::VerQueryValueW(block_.data(), L"\\VarFileInfo\\Translation", &data, &length) || !data)
        return;
    const WORD* pairs = static_cast<const WORD*>(data);
    for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) {
        if (pairs[i + 1] != 1200) continue;
        wchar_t key[9];
        std::swprintf(key, 9, L"%04hx%04hx", pairs[i], pairs[i + 1]);
        translations_.emplace_back(key);
    }
}

VersionInfo VersionInfo::ofFile(const std::wstring& path)
{
    DWORD handle = 0;
    DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) return VersionInfo();
    std::vector<BYTE> block(size);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return VersionInfo();
    return VersionInfo(std::move(block));
}

const VersionInfo& VersionInfo::ofSelf()
{
    static const VersionInfo self = ofFile(modulePath());
    return self;
}

std::uint64_t VersionInfo::fileVersion() const noexcept
{
    if (!fixed_) return 0;
    return (static_cast<std::uint64_t>(fixed_->dwFileVersionMS) << 32) | fixed_->dwFileVersionLS;
}

std::wstring VersionInfo::stringValue(const std::wstring& name) const
{
    if (block_.empty() || translations_.empty()) return {};
    std::wstring query = L"\\StringFileInfo\\" + translations_.front() + L"\\" + name;
    void* data = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block_.data(), query.c_str(), &data, &length) || !data || length == 0)
        return {};
    std::wstring text(static_cast<const wchar_t*>(data), length);
    if (text.back() == L'\0') text.pop_back();
    return text;
}

std::wstring VersionInfo::displayName() const
{
    std::wstring name = productName();
    if (productCode >= 512 && productCode <= 767) {
        std::uint32_t language = currentLanguage().languageIndex;
        if (isGermanEdition() && language == 2)
            boost::algorithm::replace_last(name, L"Quorvex", GermanEditionName);
        else if (language != 0)
            boost::algorithm::replace_last(name, L"Quorvex", L"Trimora");
    }
    return name;
}

std::wstring VersionInfo::displayLabel() const
{
    std::wstring label = displayName();
    std::wstring version = productVersion();
    if (!version.empty()) label += L" " + version;

    DWORD flags = fixed_ ? (fixed_->dwFileFlags & fixed_->dwFileFlagsMask) : 0;
    if ((flags & VS_FF_PRERELEASE) &&
        PRIMARYLANGID(langIdOf(currentLanguage().languageIndex)) != LANG_FRENCH)
        boost::algorithm::replace_last(label, L"b\u00eata", L"beta");
    if (flags & VS_FF_PRIVATEBUILD) label += L" \u2013 Private";
    if (flags & VS_FF_DEBUG) label += L" \u2013 Debug";
    return label;
}

}  // namespace qv
