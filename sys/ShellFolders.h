#pragma once
// Functions in this file: the shell's folders, asked without creating any.
//   specialFolder   a CSIDL folder
//   knownFolder     a known folder

#include <windows.h>
#include <shlobj.h>

#include <string>

namespace qv {

// The folder as the shell writes it; empty when it writes none. A folder
// the shell wrote is taken whatever code it returns. owner: the window that
// owns any box the shell might show.
std::wstring specialFolder(int csidl, HWND owner = nullptr);

// The known folder's path; empty when the shell cannot tell.
std::wstring knownFolder(REFKNOWNFOLDERID id);

}  // namespace qv
