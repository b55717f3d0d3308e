#pragma once
// The product's entry in the Windows list of installed programs:
// HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\<key name>.

#include <cstdint>
#include <string>

namespace qv {

class UninstallLog;

inline constexpr wchar_t kUninstallParentKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Creates or opens the product's key, journals it (an existing key is backed
// up first) and writes every value. True when DisplayName and
// UninstallString were written; the other values are best effort.
bool writeUninstallKey(UninstallLog& log, const std::wstring& uninstallerPath,
                       const std::wstring& programPath, std::uint32_t productCode,
                       std::uint32_t languageIndex);

}  // namespace qv
