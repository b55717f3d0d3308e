#pragma once
// Functions in this file:
//   runUnixCommand      starts a shell command on the Linux side of Wine
//   runUnixCommandAndWait  the same, waiting for the command to be done
//   unixPathOf          the Linux path Wine gives a Windows path
//   plantLink           a symbolic link made on the Linux side
//   mapDriveLetter      a drive letter standing for a Linux folder
//
// Wine (8) cannot make a junction or a symbolic link from a Windows
// program: FSCTL_SET_REPARSE_POINT fails and CreateSymbolicLinkW creates
// nothing. A link made with ln -s inside the prefix's drive_c is what Wine
// shows as a reparse point instead (FILE_ATTRIBUTE_REPARSE_POINT with the
// folder bit for a link to a folder, nothing for a link to a file), and it
// follows it on every open. Tests that stand for an attacker's junction or
// symbolic link plant one of these.

#include <string>

namespace qv::test {

// Runs a Unix shell command from this Windows process (Wine starts native
// programs given by their Unix path); -1 when it could not be started.
// Wine does not wait for a native process: its exit code means nothing.
int runUnixCommand(const std::string& command);

// Runs the command and waits (at most 60 s) until it has ended, whatever it
// did; false when it could not be started or did not end in time.
bool runUnixCommandAndWait(const std::string& command);

// The Linux path of a Windows path, which need not exist; empty when Wine
// cannot map it (or outside Wine).
std::string unixPathOf(const std::wstring& windowsPath);

// Makes link a symbolic link to target (a Windows path, existing or not)
// and waits until it is there. False when it could not be made.
bool plantLink(const std::wstring& link, const std::wstring& target);

// Makes the drive letter stand for the Linux folder, as Wine's dosdevices
// links do, and waits until the drive answers. A folder on another Linux
// file system than the prefix's is another volume to Windows programs: a
// rename between them fails with ERROR_NOT_SAME_DEVICE. False when it could
// not be made.
bool mapDriveLetter(wchar_t letter, const std::string& unixFolder);

// The Linux folder of a volume of its own that the test's wrapper made
// (tests/reliability/other-volume.sh: QV_OTHER_VOLUME); empty without one.
std::string otherVolumeFolder();

}  // namespace qv::test
