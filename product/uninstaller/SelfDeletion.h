#pragma once
// Functions in this file:
//   removeAfterExit      starts the clean-up copy that deletes the uninstaller
//   removeAtNextStart    without that copy: the uninstaller goes at the restart
//   runCleanup           the clean-up copy's own work
//   deleteCopyAfterExit  hands the copy's own file and run folder to the
//                        system's command interpreter
//
// A running program's file cannot be deleted, nor the folder it lies in
// removed. The uninstaller lies in the installation folder it removes, so
// it leaves its own file and folders to a copy of itself that waits for its
// end, and that copy leaves its own file and folder in turn to the command
// interpreter. This is kept apart from the uninstaller proper
// (Uninstaller.h): none of it reads Uninstall.ulog, it is given the paths
// the uninstaller decided on.

#include <windows.h>

#include <string>
#include <vector>

namespace qv::product {

// Starts a copy of this executable that waits until this process has ended,
// then deletes selfPath and removes the folders (in the order given, each
// only if empty). The copy runs as administrator too, so it lies in a
// private run folder (sys/RunFolder.h) below the temporary folder, where no
// user can replace it before it starts. Once this process has ended, the
// copy takes the installers' mutex for its deletions and deletes nothing
// while an installer holds it: an installation begun in between keeps its
// files. False when it could not be started.
bool removeAfterExit(const std::wstring& selfPath, const std::vector<std::wstring>& folders);

// Where no clean-up copy could start: Windows deletes selfPath, then the
// folders in the order given (each only if empty by then), when it starts
// again. False when selfPath could not be handed to it.
bool removeAtNextStart(const std::wstring& selfPath, const std::vector<std::wstring>& folders);

// The clean-up copy's own work (command line "/cleanup:<handle> <file> <folders>...").
// Its own file and run folder go once it has ended, through
// deleteCopyAfterExit.
int runCleanup(HANDLE waitFor, const std::vector<std::wstring>& paths);

// A running program's file cannot be deleted, so the clean-up copy hands its
// own file and run folder to the system's command interpreter (cmd.exe from
// the system folder, AutoRun off, no window): it waits until its input, a
// pipe only this process writes, reaches its end as this process ends, then
// deletes the copy and removes the emptied folder. It makes the run folder
// its working folder while the copy still runs from it, and says so before
// this returns: held as a working folder, nobody can rename or replace it
// meanwhile. The copy is named relative to it, and nothing of the command
// line comes from a path a user chose. No entry is left for the next start
// of Windows. False when the interpreter could not be started or did not
// get into the run folder, or the names are not as this program makes them.
bool deleteCopyAfterExit(const std::wstring& copyPath);

}  // namespace qv::product
