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
// After the product's own values come those that administrators' tools
// read: QuietUninstallString (the uninstaller with /VERYSILENT),
// InstallLocation (installFolder, left out when empty), InstallDate (today,
// yyyymmdd) and EstimatedSize (installedSizeKiB of the log).
bool writeUninstallKey(UninstallLog& log, const std::wstring& uninstallerPath,
                       const std::wstring& programPath, std::uint32_t productCode,
                       std::uint32_t languageIndex, const std::wstring& installFolder = {});

// The size in KiB, rounded up, of the files the installation holds: those
// this run installed and those an earlier installation left that this run
// did not install again, as far as they exist.
std::uint32_t installedSizeKiB(const UninstallLog& log);

}  // namespace qv
