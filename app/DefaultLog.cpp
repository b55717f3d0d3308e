#include "app/DefaultLog.h"

#include "sys/FileSecurity.h"
#include "sys/PathGuard.h"
#include "sys/PathText.h"
#include "sys/Security.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace qv {
namespace {

constexpr wchar_t MakerFolderName[] = L"Orvane Systems";
constexpr DWORD shareEverything = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring windowsLogsFolder()
{
    wchar_t windows[MAX_PATH] = {};
    const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return appendElement(std::wstring(windows, length), L"Logs");
}

// The folder, made when missing, then judged through its own handle: a
// folder, reached without a link, left to the administrators. Empty when it
// is fit; else why not.
std::wstring fitFolder(const std::wstring& folder)
{
    CheckedHandle opened = openChecked(folder, READ_CONTROL, shareEverything, OPEN_EXISTING);
    if (!opened) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return folder + L" cannot be opened (error " + std::to_wstring(error) + L")";
        // Nobody but the administrators can open it from its creation on;
        // then it gets them as owner, whatever the token's default owner is,
        // and the protection of the program-files folder (Users read).
        FolderSecurity security = FolderSecurity::administratorsOnly();
        if (!createFolderChecked(folder, security.attributes())) return folder + L" cannot be created";
        PrivilegeScope restore(SE_RESTORE_NAME);
        PrivilegeScope takeOwnership(SE_TAKE_OWNERSHIP_NAME);
        opened = openChecked(folder, READ_CONTROL | WRITE_DAC | WRITE_OWNER, shareEverything, OPEN_EXISTING);
        if (!opened) return folder + L" cannot be opened after it was created";
        if (!opened.isFolder()) return folder + L" is not a folder";
        secureFolder(opened.handle.get());
    }
    if (!opened.isFolder()) return folder + L" is not a folder";
    if (!leftToAdministratorsOrSelf(saveOwnerAndDacl(opened.handle.get())))
        return folder + L" is owned by, or writable for, others than the administrators";
    return {};
}

// Removes the oldest "<stem> *.log" files of the folder so that at most
// keep remain. The names begin with the date and time: their order is the
// files' age.
void removeOldest(const std::wstring& folder, const std::wstring& stem, std::size_t keep)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW(appendElement(folder, stem + L" *.log").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            names.push_back(found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    if (names.size() <= keep) return;
    std::sort(names.begin(), names.end());
    for (std::size_t i = 0; i + keep < names.size(); ++i) removeChecked(appendElement(folder, names[i]), Removable::File);
}

}  // namespace

std::wstring defaultLogFolder()
{
    const std::wstring logs = windowsLogsFolder();
    return logs.empty() ? std::wstring() : appendElement(logs, MakerFolderName);
}

std::unique_ptr<LogFile> openDefaultLog(const std::wstring& stem, std::wstring& why) noexcept
{
    try {
        const std::wstring logs = windowsLogsFolder();
        if (logs.empty()) {
            why = L"the system names no Windows folder";
            return nullptr;
        }
        why = fitFolder(logs);
        if (why.empty()) why = fitFolder(defaultLogFolder());
        if (!why.empty()) return nullptr;
        const std::wstring folder = defaultLogFolder();
        removeOldest(folder, stem, KeptDefaultLogs - 1);
        DWORD error = ERROR_SUCCESS;
        std::unique_ptr<LogFile> log = LogFile::createUnique(folder, stem, error);
        if (!log) why = L"no file can be created in " + folder + L" (error " + std::to_wstring(error) + L")";
        return log;
    } catch (...) {
        why = L"a link or an unreadable folder on the way to " + defaultLogFolder();
        return nullptr;
    }
}

}  // namespace qv
