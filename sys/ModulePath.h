#pragma once
// Functions in this file:
//   modulePath       the full path of a loaded module's file
//   executableStem   the running executable's file name without folder and extension
//   systemFolder     the folder the system's own modules and programs are in

#include <windows.h>

#include <string>

namespace qv {

// The module's full path, the running executable's without a module ("" if
// the system cannot tell).
std::wstring modulePath(HMODULE module = nullptr);
// The running executable's file name without folder and extension.
std::wstring executableStem();
// GetSystemDirectoryW's folder, without trailing separator; empty when the
// system cannot tell. Whatever the installer loads or starts of the system's
// is named below it, never searched for.
std::wstring systemFolder();

}  // namespace qv
