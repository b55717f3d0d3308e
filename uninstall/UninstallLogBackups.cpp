// The backups of UninstallLog: saving what a change replaces in the run
// folder before the change is made, and putting it back when the run is
// rolled back (undo, rollback).

#include "uninstall/UninstallLog.h"

#include "identity/Product.h"
#include "sys/Crc32.h"
#include "sys/FileSecurity.h"
#include "sys/HResultError.h"
#include "sys/Handles.h"
#include "sys/KeyContent.h"
#include "sys/PathGuard.h"
#include "sys/PathText.h"
#include "sys/RunFolder.h"
#include "sys/Security.h"
#include "sys/StagedFile.h"
#include "uninstall/JournalObserver.h"
#include "uninstall/RecoveryJournal.h"
#include "uninstall/UninstallKey.h"

#include <functional>
#include <iterator>
#include <vector>

namespace qv {
namespace {

constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Copies what the open file holds into a new file at destination, which
// gets the source's attributes. The copy never follows a name the source
// could have been swapped for: it reads the handle that was checked. It is
// written under a temporary name beside destination (announced first),
// flushed and read back against the source's checksum, and only then takes
// destination's name: a process that ends during the copy never leaves a
// partial file under the name the journal gave the backup. partWritten,
// when given, is called after every part that more may follow. False, with
// the thread's last error, when it cannot be made.
bool copyByHandle(HANDLE source, const std::wstring& destination, DWORD attributes,
                  const StagedFile::Announce& announce, const std::function<void()>& partWritten = {}) noexcept
{
    try {
        LARGE_INTEGER start{};
        if (!::SetFilePointerEx(source, start, nullptr, FILE_BEGIN)) return false;
        StagedFile copy(destination, announce);
        Crc32 crc;
        std::vector<char> chunk(64 * 1024);
        for (;;) {
            DWORD read = 0;
            if (!::ReadFile(source, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) return false;
            if (read == 0) break;
            crc.update(chunk.data(), read);
            copy.write(chunk.data(), read);
            if (partWritten && read == chunk.size()) partWritten();
        }
        copy.flush();
        if (crcOfOpenFile(copy.handle()) != crc.value()) {
            ::SetLastError(ERROR_CRC);
            return false;
        }
        copy.commit(attributes & ~FILE_ATTRIBUTE_DIRECTORY);
        return true;
    } catch (...) {
        setLastErrorFromException();
        return false;
    }
}

// Whether path holds the file the entry's backup held (the identity the
// journal noted of it when it was moved).
bool holdsEarlierFile(const LogEntry& entry) noexcept
{
    if (!entry.earlierKnown || entry.path.empty()) return false;
    try {
        CheckedHandle file = openChecked(entry.path, FILE_READ_ATTRIBUTES, shareAll, OPEN_EXISTING, SeveralNames);
        return file && !file.isFolder() && file.info.dwVolumeSerialNumber == entry.earlierVolume &&
               (static_cast<std::uint64_t>(file.info.nFileIndexHigh) << 32 | file.info.nFileIndexLow) ==
                   entry.earlierIndex;
    } catch (...) {
        return false;
    }
}

void deleteBackup(const std::wstring& backup) noexcept
{
    deleteRunFile(backup);
}

// Puts a moved-away file back under destination, with the DACL it had.
// The folders of the path are checked first and the destination's folder is
// held open meanwhile; where the file landed is checked after: had a folder
// been swapped for a link all the same, the file goes back into the run
// folder rather than stay elsewhere. False when the
// earlier file is not back under destination (it stays in the run folder):
// a file there that could not go (held open, running, its deletion
// pending), a refusal, a failed copy.
bool restoreBackup(const LogEntry& entry, const std::wstring& destination) noexcept
{
    try {
        UniqueFile backup(::CreateFileW(entry.backupPath.c_str(),
                                        DELETE | GENERIC_READ | READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES |
                                            FILE_WRITE_ATTRIBUTES,
                                        shareAll, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!backup) return false;
        // The destination's folder, checked and held open without leave to
        // delete: until the rename is done it can be neither renamed nor
        // deleted, nor can a folder above it, so none can be swapped for a
        // link in between (as a staged file's open handle holds its folder).
        const std::wstring full = fullPathOf(destination);
        CheckedHandle pinned = openChecked(folderHolding(full), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           OPEN_EXISTING);
        if (!pinned || !pinned.isFolder()) return false;
        const std::wstring folder = finalPathOf(pinned.handle.get());
        if (folder.empty()) return false;
        if (!renameOpenFile(backup.get(), full, false)) {
            if (::GetLastError() != ERROR_NOT_SAME_DEVICE) return false;
            // Another volume: the bytes go through a file created new where
            // they belong (never through a link) and take the name only
            // complete, with the backup's attributes and the DACL it had.
            BY_HANDLE_FILE_INFORMATION info{};
            if (!::GetFileInformationByHandle(backup.get(), &info)) return false;
            if (!copyByHandle(backup.get(), destination, info.dwFileAttributes, nullptr)) return false;
            CheckedHandle restored = openChecked(destination, READ_CONTROL | WRITE_DAC, shareAll, OPEN_EXISTING);
            if (restored) restoreDacl(restored.handle.get(), entry.savedDacl);
            deleteNameOnClose(backup.get(), info);
            return true;
        }
        if (!sameFileName(parentOf(finalPathOf(backup.get())), folder)) {
            renameOpenFile(backup.get(), entry.backupPath, false);
            return false;
        }
        restoreDacl(backup.get(), entry.savedDacl);
        return true;
    } catch (...) {
        // Refused: the backup stays in the run folder.
        return false;
    }
}

}  // namespace

UninstallLog::Backup UninstallLog::takeBackup(const std::wstring& source, bool copy,
                                              const std::function<void(const Backup&)>& announce, bool asItself)
{
    Backup backup;
    if (!runFolder_) {
        backup.error = ERROR_PATH_NOT_FOUND;
        return backup;
    }
    const std::wstring name = runFolder_->freshFileName(L"ov");
    if (name.empty()) {
        backup.error = ERROR_FILE_EXISTS;
        return backup;
    }
    // A copy is written under a temporary name beside the backup's, which
    // the journal on disk names first, like every file the run writes.
    const StagedFile::Announce staging = [this](const std::wstring& target, const std::wstring& temporary) {
        JournalRecord record(JournalRecordType::Staging, target);
        record.other = temporary;
        writeAhead(record);
    };
    auto failedOn = [&backup](DWORD error) {
        backup.path.clear();
        backup.error = error ? error : ERROR_WRITE_FAULT;
        return backup;
    };
    auto failed = [&failedOn] { return failedOn(::GetLastError()); };

    if (copy) {
        // The file stays where it is; reading it through another name of it
        // does no harm. Read with the backup privilege: a file a user shut
        // the administrators out of is saved too, owner and all, before the
        // run takes it back.
        CheckedHandle file;
        {
            PrivilegeScope reading(SE_BACKUP_NAME);
            file = openChecked(source, GENERIC_READ | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                               SeveralNames);
        }
        if (!file) return failed();
        if (file.isFolder()) return failedOn(ERROR_ACCESS_DENIED);
        backup.dacl = saveOwnerAndDacl(file.handle.get());
        if (announce) announce(backup.withName(name));
        if (!copyByHandle(file.handle.get(), name, file.info.dwFileAttributes, staging, copyHook_)) return failed();
        backup.path = name;
        return backup;
    }

    // Moving one name away leaves the file's other names alone; a link
    // taken as itself is moved, never what it points at.
    CheckedHandle file = openChecked(source, DELETE | GENERIC_READ | READ_CONTROL | FILE_WRITE_ATTRIBUTES, shareAll,
                                     OPEN_EXISTING, SeveralNames | (asItself ? LinkItself : NoLinks));
    if (!file) return failed();
    // A folder in the file's place is no file to save: it stays.
    if (file.isFolder() && !file.isLink) return failedOn(ERROR_ACCESS_DENIED);
    // The security of a name set aside as itself is its target's (or the
    // link's own): it moves with the name and is never written again.
    if (!asItself) backup.dacl = saveDacl(file.handle.get());
    // A move within the volume keeps the file's identity, by which the
    // recovery knows it back at its place; a copy to another volume is
    // another file.
    backup.identityKnown = runFolder_->identity().dwVolumeSerialNumber == file.info.dwVolumeSerialNumber;
    backup.volume = file.info.dwVolumeSerialNumber;
    backup.index = static_cast<std::uint64_t>(file.info.nFileIndexHigh) << 32 | file.info.nFileIndexLow;
    if (announce) announce(backup.withName(name));
    // Renamed through the checked handle, the file keeps its attributes.
    if (renameOpenFile(file.handle.get(), name, false)) {
        backup.path = name;
        return backup;
    }
    if (::GetLastError() != ERROR_NOT_SAME_DEVICE) return failed();
    // A link cannot be carried to another volume as itself.
    if (file.isLink) return failedOn(ERROR_NOT_SAME_DEVICE);
    // The run folder lies on another volume: a complete, verified copy
    // first, then the original goes.
    const DWORD attributes = file.info.dwFileAttributes;
    if (!copyByHandle(file.handle.get(), name, attributes, staging, copyHook_)) return failed();
    if (!deleteNameOnClose(file.handle.get(), file.info)) {
        const DWORD error = ::GetLastError();
        deleteBackup(name);
        ::SetLastError(error);
        return failed();
    }
    backup.path = name;
    return backup;
}

std::wstring UninstallLog::makeBackup(const wchar_t* source, bool copy)
{
    if (!source) return runFolder_ ? runFolder_->freshFileName(L"ov") : std::wstring();
    return takeBackup(source, copy).path;
}

bool UninstallLog::undo(LogEntry& entry) noexcept
{
    switch (entry.kind) {
    case CreatedFolder:
        // A folder that stays holds something that is not this run's.
        removeChecked(entry.path, Removable::EmptyFolder);
        return true;
    case InstalledFile:
    case ProgramShortcut:
    case UninstallShortcut:
    case DesktopShortcut: {
        if (entry.keptInPlace) {
            // The file never left its place and the run did not write it:
            // only its security changed (the Users grant, the owner taken
            // back from a user), and that goes back, the owner with the
            // restore privilege.
            try {
                PrivilegeScope restoring(SE_RESTORE_NAME);
                CheckedHandle kept =
                    openChecked(entry.path, READ_CONTROL | WRITE_DAC | WRITE_OWNER, shareAll, OPEN_EXISTING);
                // A folder only where the run took a folder over: never
                // one swapped in for a kept file.
                if (kept && kept.isFolder() == (entry.payloadKind == takenOverFolderKind))
                    restoreOwnerAndDacl(kept.handle.get(), entry.savedDacl);
            } catch (...) {
            }
            if (!entry.backupPath.empty()) deleteBackup(entry.backupPath);
            return true;
        }
        // A backup that is not there was put back already when path holds
        // the very file it held; otherwise the earlier version is lost.
        // (The recovery takes a backup the process ended before making as
        // none: uninstall/RunRecovery.cpp.)
        if (!entry.backupPath.empty() && !pathExists(entry.backupPath)) {
            if (holdsEarlierFile(entry)) return true;
            entry.backupLost = true;
            return false;
        }
        // A file the run could not save and did not write is as it was,
        // attributes included.
        if (entry.unsavedOriginal && !entry.done) return true;
        // A folder there is none of this run's files: it stays, with all it
        // holds (removeChecked deletes files only). A link on the way
        // refuses: the backup then stays in the run folder rather than go
        // through it.
        if (!entry.path.empty() && removeChecked(entry.path, Removable::File) == RemoveOutcome::Refused)
            return entry.backupPath.empty();
        // A shortcut that was never created has no path: its backup then
        // stays where it is rather than being moved to nowhere.
        const std::wstring& destination = entry.restoreTo.empty() ? entry.path : entry.restoreTo;
        if (entry.backupPath.empty() || destination.empty()) return entry.backupPath.empty();
        // The new file may still stand there (held open, running, its
        // deletion pending): the earlier one then waits in the run folder.
        return restoreBackup(entry, destination);
    }
    case UninstallKey: {
        PrivilegeScope restore(SE_RESTORE_NAME);
        UniqueKey parent;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallParentKeyPath, 0, KEY_ALL_ACCESS, parent.put()) !=
            ERROR_SUCCESS)
            return false;
        std::wstring name;
        try {
            name = productKeyName(productCode);
        } catch (...) {
            return false;
        }
        bool undone = true;
        if (!entry.savedKey.empty()) {
            // The copy of its values and subkeys: RegRestoreKeyW restores
            // nothing under Wine.
            undone = restoreKeyContent(parent.get(), name, entry.savedKey);
        } else if (!entry.backupPath.empty()) {
            UniqueKey product;
            undone = ::RegOpenKeyExW(parent.get(), name.c_str(), 0, KEY_ALL_ACCESS, product.put()) == ERROR_SUCCESS &&
                     ::RegRestoreKeyW(product.get(), entry.backupPath.c_str(), 0) == ERROR_SUCCESS;
        } else {
            const LSTATUS status = ::RegDeleteTreeW(parent.get(), name.c_str());
            undone = status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
        }
        // A key that could not be put back keeps its saved copy for the
        // next attempt.
        if (undone && !entry.backupPath.empty()) deleteBackup(entry.backupPath);
        return undone;
    }
    default:  // ClassesRootKeys: the program's own registrations stay
        return true;
    }
}

bool UninstallLog::rollback(std::list<LogEntry>* notUndone) noexcept
{
    if (observer_) observer_->rollingBack(newEntries_.size());
    bool complete = true;
    while (!newEntries_.empty()) {
        const bool undone = undo(newEntries_.back());
        if (!undone) complete = false;
        if (observer_) observer_->undone(newEntries_.back());
        if (!undone && notUndone) notUndone->splice(notUndone->end(), newEntries_, std::prev(newEntries_.end()));
        else newEntries_.pop_back();
    }
    if (observer_) observer_->rolledBack(complete);
    return complete;
}

}  // namespace qv
