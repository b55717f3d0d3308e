#pragma once
// Functions in this file:
//   cancelPendingDeletionsBelow  takes back the deletions Windows would make
//                                at its next start in a folder and below it
//
// MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT leaves its operation to the
// Session Manager: the REG_MULTI_SZ value PendingFileRenameOperations (and
// PendingFileRenameOperations2, where a system keeps one) of
// HKLM\SYSTEM\CurrentControlSet\Control\Session Manager holds pairs of
// strings, the source ("\??\C:\path") and the target ("\??\..." or
// "!\??\..." for a rename, empty for a deletion), carried out at the next
// start before anything else runs. The uninstaller leaves its own deletion
// and its folders' there when its clean-up copy cannot remove them; a new
// installation into that folder before the restart would lose its files to
// them.

#include "sys/LogFile.h"

#include <string>
#include <vector>

namespace qv {

// Removes from both values exactly the deletion pairs whose source is folder
// or lies below it (letter case ignored, short names taken as their long
// ones), and keeps every other pair byte for byte in its order; a value left
// without pairs is deleted. Names each cancelled deletion in log (null: no
// log) and returns their sources without "\??\". A value that cannot be
// read, is of another type or cannot be written stays as it is. Never throws.
std::vector<std::wstring> cancelPendingDeletionsBelow(const std::wstring& folder, LogFile* log) noexcept;

}  // namespace qv
