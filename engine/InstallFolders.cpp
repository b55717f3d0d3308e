#include "engine/InstallFolders.h"

#include "sys/FileSecurity.h"
#include "sys/Handles.h"
#include "sys/PathIdentity.h"
#include "sys/PathText.h"
#include "sys/Security.h"
#include "sys/ShellFolders.h"

#include <shlobj.h>

#include <vector>

namespace qv {

// Whether a data file lies below a folder all users share (all-users
// application data, public documents, the all-users desktop): only there
// does its Users grant serve its purpose. One in a profile (the per-user
// word list below the installing account's application data, or SYSTEM's)
// keeps the security it inherits there: the grant would let every user of
// the machine read and change another user's file.
bool inSharedDataFolder(const std::wstring& path)
{
    for (int csidl : {CSIDL_COMMON_APPDATA, CSIDL_COMMON_DOCUMENTS, CSIDL_COMMON_DESKTOPDIRECTORY}) {
        const std::wstring folder = specialFolder(csidl);
        if (!folder.empty() && isSameOrBelow(path, folder)) return true;
    }
    return false;
}

// The uninstall entry's command line is the uninstaller's path unquoted,
// as every earlier installer reads it. For "C:\Tools\Orvane Systems\..."
// the list of installed programs starts "C:\Tools\Orvane.exe" when one
// exists, and so on at every blank: one line for each folder holding such
// a name in which others than the administrators may create a file.
std::vector<std::wstring> unquotedCommandWarnings(const std::wstring& command)
{
    constexpr ACCESS_MASK creating = FILE_ADD_FILE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL |
                                     MAXIMUM_ALLOWED;
    std::vector<std::wstring> lines;
    for (std::size_t blank = command.find(L' '); blank != std::wstring::npos; blank = command.find(L' ', blank + 1)) {
        const std::wstring planted = command.substr(0, blank) + L".exe";
        std::wstring folder = parentOf(planted);
        if (!folder.empty() && folder.back() == L':') folder += L'\\';  // the drive's root, not its current folder
        UniqueFile opened(::CreateFileW(folder.c_str(), READ_CONTROL,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!opened) continue;
        if (leftToAdministrators(saveOwnerAndDacl(opened.get()), creating, false)) continue;
        lines.push_back(L"Warning: the uninstall entry's command line " + command +
                        L" is unquoted, as earlier installers read it, and users other than the administrators may "
                        L"create files in " + folder + L": a program planted as " + planted +
                        L" would be started in the uninstaller's place from the list of installed programs. A "
                        L"folder below the program-files folder has no such risk.");
    }
    return lines;
}

// Whether the folder lies in a program-files folder, whose protection the
// folders created below it inherit. A 32-bit process is told of the 64-bit
// one only through the environment.
bool insideProgramFiles(const std::wstring& folder)
{
    std::vector<std::wstring> programFiles;
    for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86}) {
        if (std::wstring path = specialFolder(csidl); !path.empty()) programFiles.push_back(path);
    }
    wchar_t native[MAX_PATH] = {};
    if (DWORD n = ::GetEnvironmentVariableW(L"ProgramW6432", native, MAX_PATH); n > 0 && n < MAX_PATH)
        programFiles.push_back(native);
    for (const std::wstring& root : programFiles)
        if (isSameOrBelow(folder, root)) return true;
    return false;
}

}  // namespace qv
