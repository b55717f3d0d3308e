#pragma once
// Classes in this file:
//   saveKeyContent     a registry key's values and subkeys as bytes
//   restoreKeyContent  the key replaced by what such bytes hold
//
// The install sequence saves the product's uninstall key before it writes
// it, and a rollback or the recovery of an interrupted run puts it back.
// RegSaveKeyW and RegRestoreKeyW would do that on Windows with the backup
// and restore privileges, but under Wine (8) RegRestoreKeyW restores
// nothing and returns success. A copy of our own, made with the calls every
// process may use on a key it may write, puts back the same values (name,
// type and data) and subkeys on both; what it does not keep (the key's
// class and security, the last-write time) the installation never sets.
//
// Layout: items back to back, each a tag byte (1: a subkey, 2: a value), the
// subkey's path below the key (32-bit count of UTF-16 code units, then the
// units), and for a value its name (the same way), its type (32 bits) and
// its data (32-bit count, then the bytes).

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace qv {

// A key larger than this is not copied (the product's key is about 2 KiB).
inline constexpr std::size_t kMaxKeyContentBytes = 64 * 1024;

// The content of the open key (read access), or nothing when it cannot be
// read whole or exceeds kMaxKeyContentBytes.
std::optional<std::vector<BYTE>> saveKeyContent(HKEY key) noexcept;

// Deletes parent\name with everything below it, then creates it again with
// exactly what content holds. False when content is damaged (nothing is
// changed then) or a call fails.
bool restoreKeyContent(HKEY parent, const std::wstring& name, const std::vector<BYTE>& content) noexcept;

}  // namespace qv
