// The journal side of UninstallLog: recording changes before they are made
// and settling them after, and the Uninstall.ulog file that a successful
// run leaves (commit, with the merge of an earlier log) and the next one
// reads. The backups and the rollback: UninstallLogBackups.cpp; the text
// of the file: UlogFormat.h.

#include "uninstall/UninstallLog.h"

#include "identity/Product.h"
#include "sys/FileSecurity.h"
#include "sys/HResultError.h"
#include "sys/Handles.h"
#include "sys/KeyContent.h"
#include "sys/PathGuard.h"
#include "sys/PathIdentity.h"
#include "sys/PathText.h"
#include "sys/RunFolder.h"
#include "sys/Security.h"
#include "sys/StagedFile.h"
#include "uninstall/InstallationArea.h"
#include "uninstall/JournalObserver.h"
#include "uninstall/RecoveryJournal.h"
#include "uninstall/UlogFormat.h"

#include <shlobj.h>

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include <algorithm>
#include <iterator>
#include <optional>
#include <system_error>
#include <vector>

namespace qv {
namespace {

constexpr std::size_t kMaxPath = MAX_PATH - 1;      // 259 characters
constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool isExistingFolder(const std::wstring& path)
{
    if (path.empty()) return false;
    boost::system::error_code ec;
    return boost::filesystem::is_directory(path, ec) && !ec;
}

// The reader's memory bound: a thousand lines of the longest kind, many times
// what an installation writes. A larger (or endless) file is read this far,
// and what follows counts as damage.
constexpr DWORD kMaxLogBytes = 1024 * 1024;

bool readWholeFile(const wchar_t* path, std::vector<char>& bytes)
{
    CheckedHandle file;
    try {
        // Not through a link, and never a device or pipe that would not end.
        file = openChecked(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, SeveralNames);
    } catch (...) {
        return false;
    }
    if (!file || file.isFolder() || ::GetFileType(file.handle.get()) != FILE_TYPE_DISK) return false;
    char chunk[4096];
    while (bytes.size() < kMaxLogBytes) {
        DWORD got = 0;
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(sizeof chunk, kMaxLogBytes - bytes.size()));
        // A read error ends reading; what came before is still used.
        if (!::ReadFile(file.handle.get(), chunk, wanted, &got, nullptr) || got == 0) break;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return true;
}

}  // namespace

LogEntry& UninstallLog::append(std::int32_t kind)
{
    LogEntry& entry = newEntries_.emplace_back();
    entry.kind = kind;
    return entry;
}

bool UninstallLog::createFolders(const std::wstring& folder)
{
    if (folder.empty() || folder.size() > kMaxPath) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }

    // Walk the path from the top down, skipping its first element (the
    // drive, or the server of a network path), and create what is missing.
    constexpr wchar_t separators[] = L"\\/";
    const std::size_t first = folder.find_first_not_of(separators);
    if (first == std::wstring::npos) {
        ::SetLastError(ERROR_BAD_PATHNAME);
        return false;
    }
    std::size_t end = folder.find_first_of(separators, first);
    while (end != std::wstring::npos) {
        const std::size_t element = folder.find_first_not_of(separators, end);
        if (element == std::wstring::npos) break;  // trailing separators
        end = folder.find_first_of(separators, element);
        const std::wstring current = folder.substr(0, end);
        if (isFolder(current)) continue;
        try {
            writeAhead(JournalRecord(JournalRecordType::FolderCreating, current));
        } catch (...) {
            setLastErrorFromException();
            return false;  // not announced: not created
        }
        if (!createFolder(current)) return false;
        ::SHChangeNotify(SHCNE_MKDIR, SHCNF_PATHW, current.c_str(), nullptr);
        // Made with the protection: nothing to take over.
        if (!securedRoot_.empty()) securedFolders_.push_back(current);
        LogEntry& entry = append(CreatedFolder);
        entry.path = current;
        entry.done = true;
        if (observer_) observer_->recorded(entry);
    }
    return true;
}

bool UninstallLog::createFolder(const std::wstring& folder)
{
    try {
        std::optional<FolderSecurity> security;
        if (!protectedFolder_.empty() && isSameOrBelow(protectedFolder_, folder))
            security.emplace(FolderSecurity::likeProgramFiles());
        return createFolderChecked(folder, security ? security->attributes() : nullptr);
    } catch (...) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
}

void UninstallLog::setInstallationArea(const InstallationArea& area)
{
    for (LogEntry& entry : previousEntries_) entry.foreign = !area.owns(entry);
}

void UninstallLog::writeAhead(const JournalRecord& record)
{
    if (recoveryJournal_) recoveryJournal_->append(record);
}

void UninstallLog::recordFile(const std::wstring& path, std::int32_t entryKind, bool copy)
{
    recordFileAs(path, entryKind, copy, false);
}

void UninstallLog::recordPlantedName(const std::wstring& path, std::int32_t entryKind)
{
    recordFileAs(path, entryKind, false, true);
}

void UninstallLog::recordFileAs(const std::wstring& path, std::int32_t entryKind, bool copy, bool setAside)
{
    // The folders first, each journalled: in a run, one that cannot be made
    // (or announced) fails the file here, before anything else is changed.
    const std::wstring folder = boost::filesystem::path(path).parent_path().wstring();
    if (runFolder_) secureFoldersDownTo(folder);
    if (!createFolders(folder) && !isFolder(folder) && runFolder_) {
        const DWORD error = ::GetLastError();
        // A refusal fails as a refused grant does (code 7).
        if (error == errorLinkRefused) throwHResult(HRESULT_FROM_WIN32(error));
        throw std::system_error(static_cast<int>(error ? error : ERROR_PATH_NOT_FOUND), std::system_category());
    }
    const bool existed = pathExists(path);
    JournalRecord announced(JournalRecordType::FileRecorded, path,
                            static_cast<std::uint8_t>((existed ? journal_flags::FileExisted : 0) |
                                                      (existed && copy ? journal_flags::KeptInPlace : 0)),
                            static_cast<std::uint32_t>(entryKind));
    bool written = false;
    // A link at the file, or on its way, throws here: nothing is recorded,
    // so that rollback leaves it as it found it. So does a journal on disk
    // that cannot say what is about to happen.
    Backup backup;
    if (existed)
        backup = takeBackup(
            path, copy,
            [&](const Backup& planned) {
                announced.other = planned.path;
                announced.data = planned.dacl;
                if (planned.identityKnown) announced.third = earlierFileText(planned.volume, planned.index);
                writeAhead(announced);
                written = true;
            },
            setAside);
    if (!written) {
        writeAhead(announced);
    } else if (backup.path.empty()) {
        try {
            writeAhead(JournalRecord(JournalRecordType::BackupFailed));
        } catch (...) {
            // The backup named before stays missing: the recovery leaves
            // the file at path alone then, as it must.
        }
    }
    // In a run, a file is replaced only once its earlier version is safe:
    // without a backup it stays as it is, and the extraction fails at it. A
    // journal kept outside any run (no run folder) has no backup to make.
    const bool unsaved = existed && !copy && backup.path.empty();
    if (unsaved && runFolder_) throw std::system_error(static_cast<int>(backup.error), std::system_category());
    pending_ = true;
    LogEntry& entry = append(InstalledFile);
    entry.path = path;
    entry.payloadKind = entryKind;
    entry.backupPath = std::move(backup.path);
    entry.savedDacl = std::move(backup.dacl);
    entry.earlierKnown = backup.identityKnown && !entry.backupPath.empty();
    entry.earlierVolume = backup.volume;
    entry.earlierIndex = backup.index;
    entry.keptInPlace = existed && copy;
    entry.unsavedOriginal = unsaved;
    if (observer_) observer_->recorded(entry);
}

void UninstallLog::recordSecurityChange(const std::wstring& path, std::int32_t entryKind)
{
    std::vector<BYTE> saved;
    {
        PrivilegeScope reading(SE_BACKUP_NAME);
        CheckedHandle file = openChecked(path, READ_CONTROL, shareAll, OPEN_EXISTING);
        if (!file || file.isFolder()) return;
        saved = saveOwnerAndDacl(file.handle.get());
    }
    recordSavedSecurity(path, entryKind, std::move(saved));
}

void UninstallLog::recordSavedSecurity(const std::wstring& path, std::int32_t entryKind, std::vector<BYTE> saved)
{
    JournalRecord announced(JournalRecordType::FileRecorded, path,
                            journal_flags::FileExisted | journal_flags::KeptInPlace,
                            static_cast<std::uint32_t>(entryKind));
    announced.data = saved;
    writeAhead(announced);
    LogEntry& entry = append(InstalledFile);
    entry.path = path;
    entry.payloadKind = entryKind;
    entry.done = true;
    entry.keptInPlace = true;
    entry.securityOnly = true;
    entry.savedDacl = std::move(saved);
    writeAhead(JournalRecord(JournalRecordType::Settled, {}, journal_flags::Done));
    if (observer_) observer_->recorded(entry);
}

void UninstallLog::secureFoldersDownTo(const std::wstring& folder)
{
    if (securedRoot_.empty() || !isSameOrBelow(folder, securedRoot_)) return;
    // From the root down: a folder is judged before anything below it.
    std::vector<std::wstring> way;
    for (std::wstring current = folder; isSameOrBelow(current, securedRoot_); current = parentOf(current)) {
        way.push_back(current);
        if (parentOf(current).empty()) break;
    }
    for (auto current = way.rbegin(); current != way.rend(); ++current) {
        const bool known = std::any_of(securedFolders_.begin(), securedFolders_.end(),
                                       [&](const std::wstring& f) { return sameFileName(f, *current); });
        if (known) continue;
        if (!isFolder(*current)) return;  // not there yet: the run makes it, with the protection
        PrivilegeScope restore(SE_RESTORE_NAME);
        PrivilegeScope backup(SE_BACKUP_NAME);
        PrivilegeScope takeOwnership(SE_TAKE_OWNERSHIP_NAME);
        CheckedHandle opened =
            openChecked(*current, READ_CONTROL | WRITE_DAC | WRITE_OWNER, shareAll, OPEN_EXISTING);
        if (!opened) throwLastError();
        if (!opened.isFolder()) throwHResult(HRESULT_FROM_WIN32(ERROR_DIRECTORY));
        std::vector<BYTE> saved = saveOwnerAndDacl(opened.handle.get());
        if (!leftToAdministrators(saved)) {
            recordSavedSecurity(*current, takenOverFolderKind, std::move(saved));
            secureFolder(opened.handle.get());
        }
        securedFolders_.push_back(*current);
    }
}

void UninstallLog::recordShortcut(int which, const std::wstring& folder)
{
    pending_ = true;
    createFolders(folder);
    const std::int32_t kind = which == 0 ? ProgramShortcut : which == 1 ? UninstallShortcut : DesktopShortcut;
    JournalRecord announced(JournalRecordType::ShortcutRecorded, {}, 0, static_cast<std::uint32_t>(kind));
    bool written = false;
    Backup backup;
    std::wstring earlierPath;
    for (const LogEntry& earlier : previousEntries_) {
        if (earlier.kind != kind) continue;
        earlierPath = earlier.path;
        // A shortcut that is not this installation's stays where it is.
        if (!earlier.foreign && pathExists(earlier.path)) {
            try {
                backup = takeBackup(earlier.path, false, [&](const Backup& planned) {
                    announced.other = planned.path;
                    announced.third = earlier.path;
                    announced.data = planned.dacl;
                    writeAhead(announced);
                    written = true;
                });
            } catch (...) {
                // Behind a link, or not announced: left alone.
                backup = {};
            }
        }
        break;  // only the first earlier shortcut of this kind
    }
    try {
        if (!written) writeAhead(announced);
        else if (backup.path.empty()) writeAhead(JournalRecord(JournalRecordType::BackupFailed));
    } catch (...) {
        // Settled as not done by the caller; nothing was moved that the
        // journal on disk does not name.
    }
    LogEntry& entry = append(kind);
    // The earlier shortcut goes back where it was, whether or not a new one
    // is made, and wherever that lands.
    if (!backup.path.empty()) entry.restoreTo = earlierPath;
    entry.backupPath = std::move(backup.path);
    entry.savedDacl = std::move(backup.dacl);
    if (observer_) observer_->recorded(entry);
}

void UninstallLog::announceShortcut(const std::wstring& path)
{
    writeAhead(JournalRecord(JournalRecordType::ShortcutWriting, path));
}

void UninstallLog::recordUninstallKey(HKEY key)
{
    JournalRecord announced(JournalRecordType::UninstallKeyRecorded);
    std::wstring backupPath;
    std::vector<BYTE> content;
    if (key) {
        announced.flags = journal_flags::KeyExisted;
        // Saved twice: as the hive file RegSaveKeyW writes, and as a copy of
        // its values and subkeys that every system can put back
        // (sys/KeyContent.h).
        if (std::optional<std::vector<BYTE>> saved = saveKeyContent(key)) content = std::move(*saved);
        backupPath = makeBackup(nullptr, false);
        if (!backupPath.empty()) {
            PrivilegeScope backup(SE_BACKUP_NAME);
            if (::RegSaveKeyW(key, backupPath.c_str(), nullptr) != ERROR_SUCCESS) {
                deleteRunFile(backupPath);
                backupPath.clear();
            }
        }
        announced.other = backupPath;
        announced.data = content;
    }
    // Before a value is written: a key the journal on disk does not name
    // is not touched. A new key was announced before it was created.
    try {
        if (key || !newKeyAnnounced_) writeAhead(announced);
    } catch (...) {
        if (!backupPath.empty()) deleteRunFile(backupPath);
        throw;
    }
    newKeyAnnounced_ = false;
    pending_ = true;
    LogEntry& entry = append(UninstallKey);
    entry.backupPath = std::move(backupPath);
    entry.savedKey = std::move(content);
    if (observer_) observer_->recorded(entry);
}

void UninstallLog::announceNewUninstallKey()
{
    writeAhead(JournalRecord(JournalRecordType::UninstallKeyRecorded));
    newKeyAnnounced_ = true;
}

void UninstallLog::recordClassesRoot()
{
    pending_ = true;
    const LogEntry& entry = append(ClassesRootKeys);
    if (observer_) observer_->recorded(entry);
}

void UninstallLog::confirm(bool done, const wchar_t* path)
{
    if (!pending_ || newEntries_.empty()) return;
    pending_ = false;
    LogEntry& last = newEntries_.back();
    last.done = done;
    if (path) last.path = path;
    try {
        writeAhead(JournalRecord(JournalRecordType::Settled, path ? std::wstring(path) : std::wstring(),
                                 done ? journal_flags::Done : 0));
    } catch (...) {
        // The change is made: its outcome only completes the picture.
    }
    if (observer_) observer_->settled(last);
}

bool UninstallLog::wasInstalled(const std::wstring& path) const
{
    for (const LogEntry& entry : previousEntries_)
        if (entry.kind == InstalledFile && entry.done && entry.path == path) return true;
    return false;
}

void UninstallLog::takeOverEntries(std::list<LogEntry> entries)
{
    newEntries_ = std::move(entries);
    pending_ = false;
}

// ---------------------------------------------------------------------------
// The log file

std::list<LogEntry> UninstallLog::mergedEntries() const
{
    // A change of a kept file's security alone is nothing the log names.
    std::list<LogEntry> merged;
    std::copy_if(newEntries_.begin(), newEntries_.end(), std::back_inserter(merged),
                 [](const LogEntry& entry) { return !entry.securityOnly; });
    // Without an earlier log there is nothing to merge, and no path's
    // identity (a file-system query each) to work out.
    if (previousEntries_.empty()) return merged;
    // Each path's identity is worked out once: a pairwise samePath would ask
    // the file system for every earlier entry against every new one.
    const auto comparesPaths = [](std::int32_t kind) { return kind == CreatedFolder || kind == InstalledFile; };
    struct Current {
        const LogEntry* entry;
        std::optional<PathIdentity> identity;
    };
    std::list<Current> current;
    for (const LogEntry& entry : merged)
        current.push_back({&entry, comparesPaths(entry.kind) ? std::optional(PathIdentity(entry.path)) : std::nullopt});

    for (auto previous = previousEntries_.rbegin(); previous != previousEntries_.rend(); ++previous) {
        const LogEntry& earlier = *previous;
        // A line this installation cannot own is carried over as it stands:
        // its path is not even looked at (it might name a network share).
        if (earlier.foreign) {
            merged.push_front(earlier);
            continue;
        }
        std::optional<PathIdentity> identity;
        if (comparesPaths(earlier.kind)) identity.emplace(earlier.path);
        bool matched = false;
        for (const Current& candidate : current) {
            if (candidate.entry->kind != earlier.kind) continue;
            if (identity && !identity->sameAs(*candidate.identity)) continue;
            matched = true;
            break;
        }
        if (matched) continue;
        merged.push_front(earlier);
        // Earlier entries that match each other: only the last one survives.
        current.push_front({&merged.front(), std::move(identity)});
    }
    return merged;
}

bool UninstallLog::commit(const std::wstring& logPath, const std::wstring& installFolder,
                          const std::wstring& shortcutFolder)
{
    // The merge works on a copy: should the log not reach its place, a
    // rollback undoes this run's entries alone, never the earlier ones.
    std::list<LogEntry> merged;
    std::vector<std::wstring> lines;
    try {
        merged = mergedEntries();
        lines = formatUlog({productLabel(false), previousLabel_, installFolder, shortcutFolder}, merged);
        // The earlier log is replaced like every file of the run: moved to a
        // backup first, so that a rollback puts it back. A folder in its
        // place, or a journal that cannot say so, fails here. A log written
        // outside a run (no run folder) has no rollback to serve.
        if (runFolder_) recordFile(logPath, -1, false);
    } catch (...) {
        setLastErrorFromException();
        return false;
    }

    // Written whole under a temporary name beside the log, then moved into
    // its place: a process that ends meanwhile leaves no log cut off, and
    // the recovery puts the earlier one back.
    try {
        StagedFile staged(logPath, [this](const std::wstring& target, const std::wstring& staging) {
            JournalRecord announced(JournalRecordType::Staging, target);
            announced.other = staging;
            writeAhead(announced);
        });
        const std::vector<char> bytes = ulogFileBytes(lines);
        staged.write(bytes.data(), bytes.size());
        staged.flush();
        staged.commit(kUninstallLogAttributes);
    } catch (...) {
        setLastErrorFromException();
        const DWORD error = ::GetLastError();
        if (runFolder_) confirm(false);
        ::SetLastError(error);
        return false;
    }
    if (runFolder_) confirm(true);

    // The point from which the run goes forward: every change is made and
    // the log is in place. Should the process end now, the next start
    // deletes the backups rather than undo a complete installation. A
    // journal that cannot say so fails the run, which is then undone.
    try {
        writeAhead(JournalRecord(JournalRecordType::Committed, logPath));
    } catch (...) {
        setLastErrorFromException();
        return false;
    }

    // The installation is final now: the backups are no longer needed.
    for (LogEntry& entry : newEntries_) {
        if (entry.backupPath.empty()) continue;
        deleteRunFile(entry.backupPath);
        entry.backupPath.clear();
    }
    for (LogEntry& entry : merged) entry.backupPath.clear();
    newEntries_ = std::move(merged);
    previousEntries_.clear();
    pending_ = false;
    return true;
}

void UninstallLog::read(const wchar_t* logPath)
{
    installFolder_.clear();
    shortcutFolder_.clear();
    if (!logPath) return;

    std::vector<char> bytes;
    if (!readWholeFile(logPath, bytes)) return;

    // Of the folders the file names, only those that still exist are taken;
    // the entries join any that an earlier reading left.
    UlogContents contents = parseUlog(bytes);
    if (contents.label) previousLabel_ = std::move(*contents.label);
    if (contents.installFolder && isExistingFolder(*contents.installFolder))
        installFolder_ = std::move(*contents.installFolder);
    if (contents.shortcutFolder && isExistingFolder(*contents.shortcutFolder))
        shortcutFolder_ = std::move(*contents.shortcutFolder);
    previousEntries_.splice(previousEntries_.end(), contents.entries);
}

}  // namespace qv
