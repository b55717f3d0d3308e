#pragma once
// Classes in this file:
//   VersionInfo   one parsed version resource: the fixed file information,
//                 its UTF-16 translations and the strings of the first one

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qv {

class VersionInfo {
public:
    VersionInfo() = default;
    explicit VersionInfo(std::vector<BYTE> block);

    // Empty when the file has no version resource or cannot be read.
    static VersionInfo ofFile(const std::wstring& path);
    // Version resource 1 of the running executable, read once per process.
    static const VersionInfo& ofSelf();

    bool empty() const noexcept { return block_.empty(); }
    const std::optional<VS_FIXEDFILEINFO>& fixed() const noexcept { return fixed_; }
    // Keys such as "040004b0" of the translations in code page 1200, in order.
    const std::vector<std::wstring>& translations() const noexcept { return translations_; }

    // Most significant file-version word × 2^32 + least significant word;
    // 0 without fixed information.
    std::uint64_t fileVersion() const noexcept;

    // A string of the first UTF-16 translation; empty if absent.
    std::wstring stringValue(const std::wstring& name) const;
    std::wstring productName() const { return stringValue(L"ProductName"); }
    std::wstring productVersion() const { return stringValue(L"ProductVersion"); }

private:
    std::vector<BYTE> block_;
    std::optional<VS_FIXEDFILEINFO> fixed_;
    std::vector<std::wstring> translations_;
};

}  // namespace qv
