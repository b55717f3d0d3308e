#pragma once
// Functions in this file:
//   modulePath       the full path of a loaded module's file
//   executableStem   the running executable's file name without folder and extension

#include <windows.h>

#include <string>

namespace qv {

// The module's full path, the running executable's without a module ("" if
// the system cannot tell).
std::wstring modulePath(HMODULE module = nullptr);
// The running executable's file name without folder and extension.
std::wstring executableStem();

}  // namespace qv
