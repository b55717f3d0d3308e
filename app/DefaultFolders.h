#pragma once
// The folders a run starts from: the maker's folders that the application
// initialisation finds, the default installation and Start-menu folders,
// and those an earlier installation's log names.

#include "uninstall/UninstallLog.h"

#include <string>

namespace qv {

// What the application initialisation found (nothing is created).
struct MakerFolders {
    std::wstring commonData;  // <all users' application data>\Orvane Systems
    std::wstring userData;    // <user's roaming application data>\Orvane Systems
    std::wstring documents;   // the user's Documents, where the folder browser starts
};
const MakerFolders& makerFolders();

// The default installation folder, <32-bit program files>\Orvane Systems
// \<productFolderName>. Should the system not tell the program-files folder,
// <system drive>\Program Files stands in: a relative path would install below
// whatever the current folder happens to be.
std::wstring defaultInstallPath();
// The default Start-menu folder, <all users' programs>\Orvane Systems
// \<productFolderName>, else the same below the user's programs; empty when
// the system tells neither.
std::wstring defaultStartMenuFolder();
// The Programs folder of the all-users Start menu, else the user's own;
// empty when the system tells neither.
std::wstring startMenuProgramsFolder();

// The installation folder an earlier log names, taken only when it is the
// folder that holds the log (logPath): a line a user changed in a log they
// can write must not send the next installation elsewhere. Empty otherwise.
std::wstring earlierInstallFolder(const UninstallLog& log, const std::wstring& logPath);

// The Start-menu folder an earlier log names, taken only below the all-users
// or the user's Start-menu programs folder: anywhere else the shortcuts and
// the folders for them would be written into a folder the line chose.
std::wstring earlierStartMenuFolder(const UninstallLog& log);

// The maker's folder name below the shell's folders.
inline constexpr wchar_t MakerFolderName[] = L"Orvane Systems";

namespace detail {
// The record initializeApplication (app/ProcessSetup.h) fills.
MakerFolders& makerFoldersToFill();
}  // namespace detail

}  // namespace qv
