#include "sys/Registry.h"

#include <system_error>
#include <vector>

namespace qv {

namespace {

[[noreturn]] void throwRegistryError(LSTATUS status)
{
    throw std::system_error(std::error_code(static_cast<int>(status), std::system_category()));
}

RegistryKey open(HKEY parent, const std::wstring& subKey, REGSAM view = 0)
{
    HKEY key = nullptr;
    LSTATUS status = ::RegOpenKeyExW(parent, subKey.c_str(), 0, MAXIMUM_ALLOWED | view, &key);
    if (status == ERROR_FILE_NOT_FOUND) return RegistryKey();
    if (status != ERROR_SUCCESS) throwRegistryError(status);
    return RegistryKey(key);
}

RegistryKey create(HKEY parent, const std::wstring& subKey)
{
    HKEY key = nullptr;
    LSTATUS status = ::RegCreateKeyExW(parent, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       MAXIMUM_ALLOWED, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) throwRegistryError(status);
    return RegistryKey(key);
}

// Type and size of a value; false when it does not exist.
bool queryValue(HKEY key, const std::wstring& name, DWORD& type, DWORD& size)
{
    LSTATUS status = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) return false;
    if (status != ERROR_SUCCESS) throwRegistryError(status);
    return true;
}

}  // namespace

RegistryKey openKey(HKEY parent, const std::wstring& subKey)
{
    return open(parent, subKey);
}

RegistryKey openKey(const RegistryKey& parent, const std::wstring& subKey)
{
    return open(parent.get(), subKey);
}

RegistryKey openKeyInOtherView(HKEY parent, const std::wstring& subKey)
{
#ifdef _WIN64
    return open(parent, subKey, KEY_WOW64_32KEY);
#else
    BOOL wow64 = FALSE;
    if (!::IsWow64Process(::GetCurrentProcess(), &wow64) || !wow64) return RegistryKey();
    return open(parent, subKey, KEY_WOW64_64KEY);
#endif
}

RegistryKey createKey(HKEY parent, const std::wstring& subKey)
{
    return create(parent, subKey);
}

RegistryKey createKey(const RegistryKey& parent, const std::wstring& subKey)
{
    return create(parent.get(), subKey);
}

bool readString(const RegistryKey& key, const std::wstring& name, std::wstring& text)
{
    DWORD type = 0, size = 0;
    if (!queryValue(key.get(), name, type, size)) return false;
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size % 2 != 0) return false;
    if (size == 0) {
        text.clear();
        return true;
    }
    std::vector<wchar_t> data(size / 2);
    LSTATUS status = ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type,
                                        reinterpret_cast<BYTE*>(data.data()), &size);
    if (status != ERROR_SUCCESS) throwRegistryError(status);
    // The value may have been rewritten between the two queries: judge the
    // data actually read.
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size % 2 != 0) return false;
    if (size == 0) {
        text.clear();
        return true;
    }
    size_t count = size / 2;
    if (data[count - 1] != L'\0') return false;
    text.assign(data.data(), count - 1);
    return true;
}

bool readBinary(const RegistryKey& key, const std::wstring& name, void* buffer, DWORD size)
{
    DWORD type = 0, actual = 0;
    if (!queryValue(key.get(), name, type, actual)) return false;
    if (type != REG_BINARY || actual != size) return false;
    LSTATUS status = ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type,
                                        static_cast<BYTE*>(buffer), &actual);
    if (status != ERROR_SUCCESS) throwRegistryError(status);
    return type == REG_BINARY && actual == size;
}

void writeString(const RegistryKey& key, const std::wstring& name, const wchar_t* text, std::size_t length)
{
    // The copy guarantees the terminating NUL whatever follows text[length].
    std::wstring data = text ? std::wstring(text, length) : std::wstring();
    DWORD bytes = text ? static_cast<DWORD>((length + 1) * sizeof(wchar_t)) : 0;
    LSTATUS status = ::RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(data.c_str()), bytes);
    if (status != ERROR_SUCCESS) throwRegistryError(status);
}

}  // namespace qv
