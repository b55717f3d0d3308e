#include "uninstall/JournalLogger.h"

#include "identity/Product.h"
#include "sys/FileSecurity.h"
#include "sys/Handles.h"
#include "sys/PathText.h"

#include <windows.h>

#include <string>

namespace qv {
namespace {

const wchar_t* kindName(std::int32_t kind)
{
    switch (kind) {
    case CreatedFolder: return L"folder";
    case InstalledFile: return L"file";
    case ProgramShortcut: return L"program shortcut";
    case UninstallShortcut: return L"uninstaller shortcut";
    case DesktopShortcut: return L"desktop shortcut";
    case UninstallKey: return L"uninstall key";
    case ClassesRootKeys: return L"program's registrations under HKEY_CLASSES_ROOT";
    default: return L"entry";
    }
}

std::wstring subject(const LogEntry& entry)
{
    std::wstring text = kindName(entry.kind);
    if (entry.kind == UninstallKey)
        return text + L" HKEY_LOCAL_MACHINE\\" + UninstallKeyPath + productKeyName(productCode);
    if (!entry.path.empty()) text += L" " + entry.path;
    return text;
}

bool uninstallKeyExists()
{
    UniqueKey key;
    const std::wstring path = std::wstring(UninstallKeyPath) + productKeyName(productCode);
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::wstring undoneText(const LogEntry& entry)
{
    switch (entry.kind) {
    case CreatedFolder:
        return pathExists(entry.path) ? L"kept (not empty)" : L"removed";
    case InstalledFile:
    case ProgramShortcut:
    case UninstallShortcut:
    case DesktopShortcut:
        if (entry.keptInPlace && entry.payloadKind == takenOverFolderKind)
            return L"folder given back its earlier owner and DACL";
        if (entry.keptInPlace) return L"kept in place, with the DACL it had";
        if (entry.backupLost)
            return L"NOT restored: its backup " + entry.backupPath +
                   L" is no longer in the run folder, and the file there is not the earlier one";
        if (entry.unsavedOriginal && !entry.done)
            return pathExists(entry.path) ? L"left as it was: the run did not change it"
                                          : L"the run did not change it, and it is gone";
        if (!entry.restoreTo.empty() && !entry.backupPath.empty())
            return pathExists(entry.backupPath) ? L"NOT restored, the earlier file is still in " + entry.backupPath
                                            : L"earlier file put back as " + entry.restoreTo;
        if (entry.path.empty()) return entry.backupPath.empty() ? L"nothing to undo" : L"backup left in " + entry.backupPath;
        if (pathExists(entry.path) && (::GetFileAttributesW(entry.path.c_str()) & FILE_ATTRIBUTE_DIRECTORY))
            return L"a folder stands there, left in place with all it holds";
        if (!entry.backupPath.empty())
            return pathExists(entry.backupPath) ? L"NOT restored, the earlier file is still in " + entry.backupPath
                                            : L"earlier file restored";
        return pathExists(entry.path) ? L"could NOT be deleted" : L"deleted";
    case UninstallKey:
        // What the restore did cannot be read back from the key itself.
        if (!entry.backupPath.empty()) return L"earlier key put back from its saved copy " + entry.backupPath;
        return uninstallKeyExists() ? L"could NOT be deleted" : L"deleted";
    default:
        return L"left to the program";
    }
}

}  // namespace

void JournalLogger::recorded(const LogEntry& entry) noexcept
{
    try {
        if (entry.kind == CreatedFolder) {
            write_(L"Journal: created folder " + entry.path);
            return;
        }
        if (entry.securityOnly && entry.payloadKind == takenOverFolderKind) {
            const std::wstring earlier = securityText(entry.savedDacl);
            write_(L"Journal: the existing folder " + entry.path +
                   L" is taken over for the administrators (owner Administrators, the protection of a "
                   L"created folder): it was " +
                   (earlier.empty() ? std::wstring(L"unreadable") : earlier));
            return;
        }
        std::wstring text = L"Journal: recorded " + subject(entry);
        if (!entry.backupPath.empty())
            text += L"; the earlier one is kept as backup " + entry.backupPath;
        write_(text);
    } catch (...) {
    }
}

void JournalLogger::settled(const LogEntry& entry) noexcept
{
    try {
        // A written file's "OK" is in the install log already.
        if (entry.kind == InstalledFile && entry.done) return;
        write_(L"Journal: " + subject(entry) + (entry.done ? L" done" : L" NOT done"));
    } catch (...) {
    }
}

void JournalLogger::rollingBack(std::size_t entries) noexcept
{
    try {
        write_(L"Rollback: undoing " + std::to_wstring(entries) + L" journal entries, the last first");
    } catch (...) {
    }
}

void JournalLogger::undone(const LogEntry& entry) noexcept
{
    try {
        write_(L"Rollback: " + subject(entry) + L": " + undoneText(entry));
    } catch (...) {
    }
}

void JournalLogger::rolledBack(bool complete) noexcept
{
    try {
        if (!complete)
            write_(L"Rollback: INCOMPLETE: what is NOT restored above waits in the run folder; the journal and its "
                   L"marker stay, and the next start of the installer tries again");
    } catch (...) {
    }
}

}  // namespace qv
