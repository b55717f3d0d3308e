#include "uninstall/UninstallKey.h"

#include "app/Product.h"
#include "app/PublisherContact.h"
#include "sys/Handles.h"
#include "uninstall/UninstallLog.h"

#include <windows.h>

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

}  // namespace

bool writeUninstallKey(UninstallLog& log, const std::wstring& uninstallerPath,
                       const std::wstring& programPath, std::uint32_t productCode,
                       std::uint32_t languageIndex)
{
    UniqueKey parent;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallParentKeyPath, 0, KEY_ALL_ACCESS, parent.put()) !=
        ERROR_SUCCESS)
        return false;

    UniqueKey product;
    DWORD disposition = 0;
    if (::RegCreateKeyExW(parent.get(), productKeyName(productCode).c_str(), 0, nullptr,
                          REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, product.put(),
                          &disposition) != ERROR_SUCCESS)
        return false;

    // Journal first: an existing key is saved so that rollback can restore
    // it; a new one is simply deleted.
    log.recordUninstallKey(disposition == REG_OPENED_EXISTING_KEY ? product.get() : nullptr);

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

    product.reset();
    log.confirm(ok);
    return ok;
}

}  // namespace qv
