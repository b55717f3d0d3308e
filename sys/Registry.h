#pragma once
// Classes in this file:
//   RegistryKey   owner of one open registry key (null: the key does not exist)
// and the reading and writing operations over it.
//
// A missing key or value is an answer (null key, false); every other failure
// of the system throws std::system_error with the Win32 code in the system
// category. Keys are opened with MAXIMUM_ALLOWED and without a view flag, so
// a 32-bit process works in the 32-bit view on 64-bit Windows.

#include "sys/Handles.h"

#include <windows.h>

#include <cstddef>
#include <string>

namespace qv {

class RegistryKey {
public:
    RegistryKey() noexcept = default;
    explicit RegistryKey(HKEY key) noexcept : key_(key) {}

    HKEY get() const noexcept { return key_.get(); }
    explicit operator bool() const noexcept { return static_cast<bool>(key_); }

private:
    UniqueKey key_;
};

// Opens parent\subKey; a null key when it does not exist.
RegistryKey openKey(HKEY parent, const std::wstring& subKey);
RegistryKey openKey(const RegistryKey& parent, const std::wstring& subKey);

// Opens parent\subKey in the registry view of the other edition: the
// 32-bit view (WOW6432Node) from a 64-bit process, the 64-bit view from a
// 32-bit process on 64-bit Windows; a null key on 32-bit Windows, which has
// no other view, and when the key does not exist.
RegistryKey openKeyInOtherView(HKEY parent, const std::wstring& subKey);

// Creates parent\subKey (non-volatile, default security) or opens it.
RegistryKey createKey(HKEY parent, const std::wstring& subKey);
RegistryKey createKey(const RegistryKey& parent, const std::wstring& subKey);

// A REG_SZ or REG_EXPAND_SZ value (unexpanded) with its terminating NUL.
// False, and text untouched, for a missing value, another type, an odd size
// or data that does not end in NUL.
bool readString(const RegistryKey& key, const std::wstring& name, std::wstring& text);

// A REG_BINARY value of exactly `size` bytes; false for a missing value,
// another type or another size.
bool readBinary(const RegistryKey& key, const std::wstring& name, void* buffer, DWORD size);

// Stores text as REG_SZ with its terminating NUL; a null text stores an empty
// value of size 0.
void writeString(const RegistryKey& key, const std::wstring& name, const wchar_t* text, std::size_t length);
inline void writeString(const RegistryKey& key, const std::wstring& name, const std::wstring& text)
{
    writeString(key, name, text.c_str(), text.size());
}

}  // namespace qv
