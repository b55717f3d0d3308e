#pragma once
// Functions in this file: the one home of the run folder's name.
//   newRunFolderName   a fresh name, "orvane_{<random v4 UUID>}"
//   isRunFolderName    whether a name is one newRunFolderName makes
//
// The installer names its run folders so; the recovery and the uninstaller
// act only on a folder whose name is exactly of this form.

#include <string>

namespace qv {

// Random from the system's generator (BCryptGenRandom); throws when no
// provider can be opened.
std::wstring newRunFolderName();

// "orvane_{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" in lower-case hex digits,
// nothing more nor less.
bool isRunFolderName(const std::wstring& name) noexcept;

}  // namespace qv
