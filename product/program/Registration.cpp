#include "product/program/Registration.h"

#include "product/common/ProductNames.h"
#include "sys/Handles.h"

#include <cwchar>

namespace qv::product {

namespace {

LONG setString(HKEY key, const wchar_t* name, const std::wstring& value)
{
    // With the terminating NUL, as Explorer and the installer expect.
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LONG createKey(HKEY parent, const std::wstring& path, UniqueKey& key)
{
    return ::RegCreateKeyExW(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                             key.put(), nullptr);
}

LONG createWithDefault(HKEY parent, const std::wstring& path, const std::wstring& value)
{
    UniqueKey key;
    LONG rc = createKey(parent, path, key);
    return rc == ERROR_SUCCESS ? setString(key.get(), nullptr, value) : rc;
}

bool isEmptyKey(HKEY key)
{
    DWORD subkeys = 0, values = 0;
    return ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                              nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

bool gone(LONG rc)
{
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND;
}

std::wstring readString(HKEY key, const wchar_t* name)
{
    wchar_t buffer[512] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t), type = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return buffer;
}

// Deletes the key below parent when it has neither values nor subkeys.
LONG deleteIfEmpty(HKEY parent, const wchar_t* name)
{
    UniqueKey key;
    LONG rc = ::RegOpenKeyExW(parent, name, 0, KEY_READ, key.put());
    if (rc != ERROR_SUCCESS) return gone(rc) ? ERROR_SUCCESS : rc;
    bool empty = isEmptyKey(key.get());
    key.reset();
    return empty ? ::RegDeleteKeyW(parent, name) : ERROR_SUCCESS;
}

}  // namespace

LONG registerDocumentType(const std::wstring& programPath, const std::wstring& typeName)
{
    const std::wstring progId = kDocumentProgId;
    LONG rc = createWithDefault(HKEY_CLASSES_ROOT, kDocumentExtension, progId);
    if (rc == ERROR_SUCCESS) rc = createWithDefault(HKEY_CLASSES_ROOT, progId, typeName);
    if (rc == ERROR_SUCCESS) rc = createWithDefault(HKEY_CLASSES_ROOT, progId + L"\\DefaultIcon", programPath + L",0");
    if (rc == ERROR_SUCCESS)
        rc = createWithDefault(HKEY_CLASSES_ROOT, progId + L"\\shell\\open\\command",
                               L"\"" + programPath + L"\" \"%1\"");
    return rc;
}

LONG unregisterDocumentType()
{
    LONG result = ERROR_SUCCESS;
    auto note = [&](LONG rc) {
        if (!gone(rc) && result == ERROR_SUCCESS) result = rc;
    };

    note(::RegDeleteTreeW(HKEY_CLASSES_ROOT, kDocumentProgId));
    note(::RegDeleteKeyW(HKEY_CLASSES_ROOT, kDocumentProgId));

    {
        UniqueKey extension;
        LONG rc = ::RegOpenKeyExW(HKEY_CLASSES_ROOT, kDocumentExtension, 0, KEY_ALL_ACCESS, extension.put());
        note(rc);
        // Another program may have taken the extension over since: its
        // association stays.
        if (rc == ERROR_SUCCESS && readString(extension.get(), nullptr) == kDocumentProgId)
            note(::RegDeleteValueW(extension.get(), nullptr));
    }
    note(deleteIfEmpty(HKEY_CLASSES_ROOT, kDocumentExtension));

    {
        UniqueKey maker;
        LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMakerKey, 0, KEY_ALL_ACCESS, maker.put());
        note(rc);
        if (rc == ERROR_SUCCESS) {
            UniqueKey product;
            rc = ::RegOpenKeyExW(maker.get(), kProductKeyName, 0, KEY_ALL_ACCESS, product.put());
            note(rc);
            if (rc == ERROR_SUCCESS) note(::RegDeleteValueW(product.get(), kUpdatedFromValue));
            product.reset();
            note(deleteIfEmpty(maker.get(), kProductKeyName));
        }
    }
    return result;
}

std::optional<std::uint64_t> parseUpdateVersion(std::wstring_view digits)
{
    if (digits.size() != 16) return std::nullopt;
    std::uint64_t value = 0;
    for (wchar_t c : digits) {
        unsigned d;
        if (c >= L'0' && c <= L'9') d = c - L'0';
        else if (c >= L'a' && c <= L'f') d = c - L'a' + 10;
        else if (c >= L'A' && c <= L'F') d = c - L'A' + 10;
        else return std::nullopt;
        value = value << 4 | d;
    }
    return value;
}

std::wstring versionText(std::uint64_t version)
{
    wchar_t text[32];
    std::swprintf(text, 32, L"%u.%u.%u.%u", static_cast<unsigned>(version >> 48 & 0xFFFF),
                  static_cast<unsigned>(version >> 32 & 0xFFFF), static_cast<unsigned>(version >> 16 & 0xFFFF),
                  static_cast<unsigned>(version & 0xFFFF));
    return text;
}

LONG storeUpdatedFrom(std::uint64_t version)
{
    UniqueKey key;
    LONG rc = createKey(HKEY_LOCAL_MACHINE, std::wstring(kMakerKey) + L"\\" + kProductKeyName, key);
    return rc == ERROR_SUCCESS ? setString(key.get(), kUpdatedFromValue, versionText(version)) : rc;
}

}  // namespace qv::product
