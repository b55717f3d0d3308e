#pragma once
// Functions in this file: what an install run asks about the folders it
// writes into.
//   inSharedDataFolder       below a folder all users share
//   insideProgramFiles       in a program-files folder
//   unquotedCommandWarnings  the folders where the unquoted uninstall
//                            command could start another program

#include <string>
#include <vector>

namespace qv {

// Below all-users application data, public documents or the all-users
// desktop: only there does a data file's Users grant serve its purpose.
bool inSharedDataFolder(const std::wstring& path);

// In the 32-bit or 64-bit program-files folder, whose protection the folders
// created below it inherit.
bool insideProgramFiles(const std::wstring& folder);

// One line for each folder on the unquoted command's path in which others
// than the administrators may create a file named like its start.
std::vector<std::wstring> unquotedCommandWarnings(const std::wstring& command);

}  // namespace qv
