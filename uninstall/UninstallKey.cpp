#include "uninstall/UninstallKey.h"

#include "identity/Product.h"
#include "identity/PublisherContact.h"
#include "sys/Handles.h"
#include "uninstall/UninstallLog.h"
#include "sys/PathText.h"

#include <windows.h>

#include <cwchar>

namespace qv {
namespace {

bool setString(HKEY key, const wchar_t* name, const std::wstring& value)
{
    // REG_SZ data carries its terminating NUL.
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) ==
           ERROR_SUCCESS;
}

bool setNumber(HKEY key, const wchar_t* name, DWORD value)
{
    return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
           ERROR_SUCCESS;
}

std::uint64_t fileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (path.empty() || !::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    return (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::wstring today()
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    wchar_t text[16] = {};
    std::swprintf(text, 16, L"%04u%02u%02u", unsigned(now.wYear), unsigned(now.wMonth), unsigned(now.wDay));
    return text;
}

}  // namespace

std::uint32_t installedSizeKiB(const UninstallLog& log)
{
    std::uint64_t bytes = 0;
    auto installedFile = [](const LogEntry& e) { return e.kind == InstalledFile && e.done && !e.path.empty(); };
    for (const LogEntry& entry : log.newEntries())
        if (installedFile(entry)) bytes += fileSize(entry.path);
    for (const LogEntry& earlier : log.previousEntries()) {
        if (!installedFile(earlier)) continue;
        bool again = false;
        for (const LogEntry& entry : log.newEntries())
            if (installedFile(entry) && sameFileName(entry.path, earlier.path)) again = true;
        if (!again) bytes += fileSize(earlier.path);
    }
    const std::uint64_t kib = (bytes + 1023) / 1024;
    return kib > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(kib);
}

bool writeUninstallKey(UninstallLog& log, const std::wstring& uninstallerPath,
                       const std::wstring& programPath, std::uint32_t productCode,
                       std::uint32_t languageIndex, const std::wstring& installFolder)
{
    UniqueKey parent;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallParentKeyPath, 0, KEY_ALL_ACCESS, parent.put()) !=
        ERROR_SUCCESS)
        return false;

    // Journal first: an existing key is saved so that rollback can restore
    // it; a new one is simply deleted. The journal on disk hears of a new
    // one before it is created, so that no key of a run that ends half-way
    // is left that nothing names.
    const std::wstring name = productKeyName(productCode);
    UniqueKey product;
    if (::RegOpenKeyExW(parent.get(), name.c_str(), 0, KEY_ALL_ACCESS, product.put()) == ERROR_SUCCESS) {
        log.recordUninstallKey(product.get());
    } else {
        log.announceNewUninstallKey();
        if (::RegCreateKeyExW(parent.get(), name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, product.put(), nullptr) != ERROR_SUCCESS)
            return false;
        log.recordUninstallKey(nullptr);
    }

    const HKEY key = product.get();
    bool ok = setString(key, L"DisplayName", productLabel(false));
    ok &= setString(key, L"UninstallString", uninstallerPath);
    setString(key, L"DisplayIcon", programPath + L",0");
    setString(key, L"DisplayVersion", ProductFileVersionText);
    setString(key, L"Publisher", kPublisherName);
    setString(key, L"URLInfoAbout", kPublisherWebAddress);
    setString(key, L"HelpLink", kPublisherWebAddress);
    setString(key, L"URLUpdateInfo", kPublisherWebAddress);
    setString(key, L"HelpTelephone", kPublisherTelephone);
    setNumber(key, L"NoModify", 1);
    setNumber(key, L"NoRepair", 1);
    setNumber(key, L"OvLanguage", languageIndex);
    // Read by deployment tools and the list of installed programs.
    setString(key, L"QuietUninstallString", L"\"" + uninstallerPath + L"\" /VERYSILENT");
    if (!installFolder.empty()) setString(key, L"InstallLocation", installFolder);
    setString(key, L"InstallDate", today());
    setNumber(key, L"EstimatedSize", installedSizeKiB(log));

    product.reset();
    log.confirm(ok);
    return ok;
}

}  // namespace qv
