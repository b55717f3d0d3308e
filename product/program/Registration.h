#pragma once
// Classes in this file:
//   registerDocumentType    what " /Register" writes under HKEY_CLASSES_ROOT
//   unregisterDocumentType  what " /Unregister" removes again
//   parseUpdateVersion      the 16 hexadecimal digits of " /update="
//   storeUpdatedFrom        keeps the version an update came from
//
// The installer runs the program once with " /Register /Background" after
// copying the files (exit code -10 means success) and the uninstaller runs it
// with " /Unregister" before deleting them.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv::product {

// HKCR\.qvn = ProgID; HKCR\<ProgID> = typeName, DefaultIcon = "program,0",
// shell\open\command = "\"program\" \"%1\"". ERROR_SUCCESS or the first
// failing call's code.
LONG registerDocumentType(const std::wstring& programPath, const std::wstring& typeName);

// Removes the ProgID with its subkeys, the extension's default value when
// it still names the ProgID (the extension key itself only when nothing else
// is left in it), and UpdatedFrom with the program's key when empty. What is
// already gone is no failure.
LONG unregisterDocumentType();

// Exactly 16 hexadecimal digits (the installer writes "%016x"); else none.
std::optional<std::uint64_t> parseUpdateVersion(std::wstring_view digits);

// "6.3.0.0" for 0x0006000300000000.
std::wstring versionText(std::uint64_t version);

// HKLM\Software\Orvane Systems\Quorvex 6, REG_SZ UpdatedFrom = versionText.
LONG storeUpdatedFrom(std::uint64_t version);

}  // namespace qv::product
