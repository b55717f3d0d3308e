#include "sys/VersionInfo.h"

#include "sys/ModulePath.h"

#include <cwchar>

namespace qv {

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

}  // namespace qv
