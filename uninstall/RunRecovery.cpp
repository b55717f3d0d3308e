#include "uninstall/RunRecovery.h"

#include "identity/Product.h"
#include "sys/ProgramRun.h"
#include "uninstall/RunUndo.h"
#include "sys/HResultError.h"
#include "sys/Handles.h"
#include "sys/PathGuard.h"
#include "sys/StagedFile.h"
#include "uninstall/InstallationArea.h"
#include "uninstall/JournalLogger.h"
#include "uninstall/RecoveryJournal.h"
#include "uninstall/RecoveryMarker.h"
#include "uninstall/RunFolderName.h"
#include "uninstall/UninstallLog.h"
#include "sys/PathText.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <list>
#include <optional>
#include <system_error>
#include <vector>

namespace qv {
namespace {

constexpr std::size_t kMaxPath = MAX_PATH - 1;  // 259 characters

// A full path on a drive, in the form the system itself would give it: no
// relative part, no "..", no device or "\\?\" form, no stream.
bool isPlainDrivePath(const std::wstring& path)
{
    if (path.size() < 4 || path.size() > kMaxPath || path[1] != L':' || path[2] != L'\\') return false;
    if (path.find(L':', 2) != std::wstring::npos || path.find(L'/') != std::wstring::npos) return false;
    const std::wstring full = fullPathOf(path);
    return !full.empty() && sameFileName(full, path);
}

bool isBackupIn(const std::wstring& path, const std::wstring& runFolder)
{
    const std::wstring name = nameOf(path);
    return isPlainDrivePath(path) && sameFileName(parentOf(path), runFolder) && name.size() >= 6 &&
           sameFileName(name.substr(0, 2), L"ov") && sameFileName(name.substr(name.size() - 4), L".tmp");
}

bool isStagingFor(const std::wstring& staging, const std::wstring& target)
{
    return isPlainDrivePath(staging) && isPlainDrivePath(target) &&
           sameFileName(parentOf(staging), parentOf(target)) && isStagingName(nameOf(staging));
}

// The code a failure carries, for the log.
std::wstring failureText(const std::exception& e)
{
    wchar_t text[32];
    if (auto* hresult = dynamic_cast<const HResultError*>(&e))
        std::swprintf(text, 32, L"0x%08lx", static_cast<unsigned long>(hresult->code()));
    else if (auto* system = dynamic_cast<const std::system_error*>(&e))
        std::swprintf(text, 32, L"error %d", system->code().value());
    else
        return L"unexpected failure";
    return text;
}

void deleteFile(const std::wstring& path) noexcept
{
    if (!path.empty()) removeChecked(path, Removable::File);
}

// What the journal of the unfinished run says, checked record by record.
struct Plan {
    std::wstring installFolder;
    std::wstring startMenuFolder;
    std::list<LogEntry> entries;
    std::vector<std::pair<std::wstring, std::wstring>> stagings;  // target, temporary name
    std::vector<std::wstring> temporaries;
    std::vector<JournalRecord> values;  // values under the maker's key as they were, first of each
    std::optional<std::pair<std::wstring, std::uint32_t>> registration;  // program, its CRC-32
    std::optional<JournalRecord> committed;
    std::vector<std::wstring> refused;  // what a record named that is none of this installation's
};

Plan planFrom(const std::vector<JournalRecord>& records, const std::wstring& runFolder)
{
    Plan plan;
    plan.installFolder = records.front().path;
    plan.startMenuFolder = records.front().other;
    InstallationArea area({plan.installFolder});
    if (!plan.startMenuFolder.empty()) area.addShortcutFolder(plan.startMenuFolder);
    // A file written under a temporary name: one of the installation's, a
    // shortcut in its place, or a backup's copy in the run folder.
    auto ownsTarget = [&](const std::wstring& target) {
        LogEntry file;
        file.kind = InstalledFile;
        file.path = target;
        return area.owns(file) || area.isShortcutPlace(target) || sameFileName(parentOf(target), runFolder);
    };

    LogEntry* recorded = nullptr;  // the entry a Settled or BackupFailed refers to
    bool recordedExisted = false;
    for (std::size_t i = 1; i < records.size(); ++i) {
        const JournalRecord& r = records[i];
        switch (r.type) {
        case JournalRecordType::FolderCreating: {
            LogEntry entry;
            entry.kind = CreatedFolder;
            entry.path = r.path;
            entry.done = true;
            if (isPlainDrivePath(r.path) && area.owns(entry)) plan.entries.push_back(std::move(entry));
            else plan.refused.push_back(r.path);
            break;
        }
        case JournalRecordType::FileRecorded: {
            LogEntry entry;
            entry.kind = InstalledFile;
            entry.path = r.path;
            entry.payloadKind = static_cast<std::int32_t>(r.number);
            entry.backupPath = r.other;
            entry.savedDacl = r.data;
            recordedExisted = (r.flags & journal_flags::FileExisted) != 0;
            entry.keptInPlace = (r.flags & journal_flags::KeptInPlace) != 0;
            entry.unsavedOriginal = recordedExisted && !entry.keptInPlace && entry.backupPath.empty();
            recorded = nullptr;
            if (!isPlainDrivePath(r.path) || !area.owns(entry) ||
                (!entry.backupPath.empty() && !isBackupIn(entry.backupPath, runFolder))) {
                plan.refused.push_back(r.path);
                break;
            }
            plan.entries.push_back(std::move(entry));
            recorded = &plan.entries.back();
            break;
        }
        case JournalRecordType::BackupFailed:
            if (recorded) {
                recorded->backupPath.clear();
                recorded->restoreTo.clear();
                if (recorded->kind == InstalledFile && !recorded->keptInPlace)
                    recorded->unsavedOriginal = recordedExisted;
            }
            break;
        case JournalRecordType::ShortcutRecorded: {
            recorded = nullptr;
            if (r.number < ProgramShortcut || r.number > DesktopShortcut) break;
            LogEntry entry;
            entry.kind = static_cast<std::int32_t>(r.number);
            if (!r.other.empty()) {
                // An earlier shortcut goes back under its own name, in a
                // place for the installation's shortcuts.
                if (!isBackupIn(r.other, runFolder) || !isPlainDrivePath(r.third) || !area.isShortcutPlace(r.third)) {
                    plan.refused.push_back(r.third);
                    break;
                }
                entry.backupPath = r.other;
                entry.restoreTo = r.third;
                entry.savedDacl = r.data;
            }
            plan.entries.push_back(std::move(entry));
            recorded = &plan.entries.back();
            break;
        }
        case JournalRecordType::ShortcutWriting:
        case JournalRecordType::Settled:
            if (!recorded) break;
            if (r.type == JournalRecordType::Settled) recorded->done = (r.flags & journal_flags::Done) != 0;
            if (!r.path.empty() && recorded->kind >= ProgramShortcut && recorded->kind <= DesktopShortcut) {
                // Deleted only when it is a shortcut into this installation
                // (a file of that name that was there before is not).
                LogEntry named = *recorded;
                named.path = r.path;
                if (isPlainDrivePath(r.path) && (!pathExists(r.path) || area.owns(named))) recorded->path = r.path;
                else plan.refused.push_back(r.path);
            }
            break;
        case JournalRecordType::UninstallKeyRecorded: {
            LogEntry entry;
            entry.kind = UninstallKey;
            if (!r.other.empty() && isBackupIn(r.other, runFolder)) entry.backupPath = r.other;
            entry.savedKey = r.data;
            // A key that existed and could be kept in neither form stays as
            // the run left it rather than be deleted.
            if ((r.flags & journal_flags::KeyExisted) && entry.backupPath.empty() && entry.savedKey.empty()) {
                recorded = nullptr;
                break;
            }
            plan.entries.push_back(std::move(entry));
            recorded = &plan.entries.back();
            break;
        }
        case JournalRecordType::RegistrationRun: {
            LogEntry entry;
            entry.kind = ClassesRootKeys;
            plan.entries.push_back(std::move(entry));
            recorded = &plan.entries.back();
            LogEntry program;
            program.kind = InstalledFile;
            program.path = r.path;
            if (isPlainDrivePath(r.path) && area.owns(program)) plan.registration.emplace(r.path, r.number);
            break;
        }
        case JournalRecordType::Staging:
            if (isStagingFor(r.other, r.path) && ownsTarget(r.path)) plan.stagings.emplace_back(r.path, r.other);
            else plan.refused.push_back(r.other);
            break;
        case JournalRecordType::TemporaryFile:
            if (isPlainDrivePath(r.path) && sameFileName(parentOf(r.path), runFolder))
                plan.temporaries.push_back(r.path);
            break;
        case JournalRecordType::InstallationRecord: {
            if (!isValueOfTheRun(r)) {
                plan.refused.push_back(r.path + L"\\" + r.other);
                break;
            }
            // The first record of a value holds it as it was before the run.
            const bool seen = std::any_of(plan.values.begin(), plan.values.end(), [&](const JournalRecord& v) {
                return sameFileName(v.path, r.path) && sameFileName(v.other, r.other);
            });
            if (!seen) plan.values.push_back(r);
            break;
        }
        case JournalRecordType::Committed: {
            LogEntry log;
            log.kind = InstalledFile;
            log.path = r.path;
            if (isPlainDrivePath(r.path) && sameFileName(nameOf(r.path), kUninstallLogName) && area.owns(log) &&
                (r.other.empty() || isStagingFor(r.other, r.path)))
                plan.committed = r;
            break;
        }
        case JournalRecordType::RunStarted:
            break;
        }
    }
    return plan;
}

std::wstring valueText(const JournalRecord& value)
{
    return value.path.empty() ? L"installation record" : L"value " + value.other + L" of " + value.path;
}

// The journal file's version, when its first bytes are a journal's header.
std::optional<std::uint32_t> journalVersion(const std::vector<char>& bytes)
{
    const std::string header = journalHeader();
    if (bytes.size() < header.size() || std::memcmp(bytes.data(), header.data(), 4) != 0) return std::nullopt;
    std::uint32_t version = 0;
    std::memcpy(&version, bytes.data() + 4, sizeof version);
    return version;
}

}  // namespace

RunRecovery::RunRecovery(LogLine log, std::function<void(bool)> lend) : log_(std::move(log)), lend_(std::move(lend))
{
}

void RunRecovery::note(const std::wstring& line) const noexcept
{
    try {
        if (log_) log_(L"Recovery: " + line);
    } catch (...) {
    }
}

// The run the marker names, opened as nothing but that run: the folder and
// the journal the run made (same identities, no link), pinned while they
// are used, and the journal's records.
struct RunRecovery::MarkedRun {
    MarkerContent marker;
    std::wstring folderPath;
    CheckedHandle folder;
    CheckedHandle file;
    std::vector<JournalRecord> records;
};

std::optional<RunRecovery::MarkedRun> RunRecovery::openMarkedRun(bool& found) const
{
    found = false;
    MarkerContent marker;
    std::wstring raw;
    switch (RecoveryMarker::read(marker, raw)) {
    case RecoveryMarker::State::None:
        return std::nullopt;
    case RecoveryMarker::State::Newer:
        found = true;
        note(L"the marker of an unfinished run was written by a newer installer (" + raw +
             L"): left for that installer, nothing done");
        return std::nullopt;
    case RecoveryMarker::State::Unreadable:
        found = true;
        note(L"the marker of an unfinished run is no marker of this installer (" + raw +
             L"): removed, nothing rolled back");
        RecoveryMarker::clear(false);
        return std::nullopt;
    case RecoveryMarker::State::Found:
        break;
    }
    found = true;
    note(L"an earlier installation run did not end; its journal: " + marker.journalPath);
    MarkedRun run;
    run.marker = marker;
    run.folderPath = parentOf(marker.journalPath);
    const std::wstring& folderPath = run.folderPath;
    // What is not the run's own is never acted on, and its marker goes.
    auto giveUp = [&](const std::wstring& why) {
        note(why + L": nothing rolled back, the marker is removed");
        RecoveryMarker::clear(marker.makerKeyCreated);
        return std::nullopt;
    };
    // What the run left cannot be undone without its journal: the marker
    // stays, so that every start says so until an installation completes
    // (its own marker takes this one's place).
    auto cannotUndo = [&](const std::wstring& why) {
        note(why + L": the run can NOT be rolled back; the marker stays. Installing again completes the product");
        return std::nullopt;
    };
    if (!isPlainDrivePath(marker.journalPath) || !sameFileName(nameOf(marker.journalPath), kRecoveryJournalName) ||
        !isRunFolderName(nameOf(folderPath)))
        return giveUp(L"the marker names no journal of a run folder");

    // The folder pinned while it is used: no delete sharing, so that it
    // cannot be renamed or replaced meanwhile.
    try {
        run.folder = openChecked(folderPath, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | DELETE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    } catch (...) {
        return giveUp(L"the run folder " + folderPath + L" lies behind a link");
    }
    if (!run.folder) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return cannotUndo(L"the run folder " + folderPath + L" is gone (a cleaned temporary folder?)");
        note(L"the run folder " + folderPath + L" cannot be opened (error " + std::to_wstring(error) +
             L"); the marker stays for the next start");
        return std::nullopt;
    }
    if (!run.folder.isFolder() || !(identityOf(run.folder.info) == marker.folder))
        return giveUp(L"refused: the folder is not the one the run made (" + folderPath + L")");

    try {
        run.file = openChecked(marker.journalPath, GENERIC_READ | DELETE, FILE_SHARE_READ, OPEN_EXISTING);
    } catch (...) {
        return giveUp(L"the journal lies behind a link");
    }
    if (!run.file) return cannotUndo(L"the journal is gone");
    if (run.file.isFolder() || ::GetFileType(run.file.handle.get()) != FILE_TYPE_DISK ||
        !(identityOf(run.file.info) == marker.journal))
        return giveUp(L"refused: the journal is not the one the run wrote (" + marker.journalPath + L")");

    std::vector<char> bytes;
    char chunk[4096];
    while (bytes.size() < kMaxJournalBytes) {
        DWORD got = 0;
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(sizeof chunk, kMaxJournalBytes - bytes.size()));
        if (!::ReadFile(run.file.handle.get(), chunk, wanted, &got, nullptr) || got == 0) break;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    if (const std::optional<std::uint32_t> version = journalVersion(bytes); version && *version > 1) {
        note(L"the journal is of a newer installer (version " + std::to_wstring(*version) +
             L"): left for that installer, nothing done");
        return std::nullopt;
    }
    run.records = parseJournalRecords(bytes);
    if (run.records.empty() || run.records.front().type != JournalRecordType::RunStarted ||
        !sameFileName(run.records.front().third, folderPath)) {
        markForDeletion(run.file.handle.get());
        return giveUp(L"the journal holds no run");
    }
    return run;
}

void RunRecovery::endMarkedRun(MarkedRun& run) const noexcept
{
    RecoveryMarker::clear(run.marker.makerKeyCreated);
    markForDeletion(run.file.handle.get());
    run.file.handle.reset();
    if (markForDeletion(run.folder.handle.get())) note(L"run folder " + run.folderPath + L" removed");
    else note(L"run folder " + run.folderPath + L" kept: something in it could not be put back");
    run.folder.handle.reset();
}

bool RunRecovery::recover() noexcept
{
    unfinished_ = false;
    try {
        bool found = false;
        std::optional<MarkedRun> opened = openMarkedRun(found);
        if (!opened) {
            unfinished_ = found && markerStays();
            return found;
        }
        MarkedRun& run = *opened;
        const std::wstring& folderPath = run.folderPath;
        const std::vector<JournalRecord>& records = run.records;

        Plan plan = planFrom(records, folderPath);
        note(L"the run installed into " + plan.installFolder + L"; " + std::to_wstring(records.size()) +
             L" journal records read");
        for (const std::wstring& path : plan.refused)
            note(L"left alone: " + path + L" is nothing this installation writes");

        // A registration run that outlived its installer still writes, and
        // holds the program open: it ends before anything is undone.
        if (plan.registration && !plan.committed) {
            if (const unsigned runs = endProgramRuns(plan.registration->first, 30000))
                note(L"waited for " + std::to_wstring(runs) + L" run(s) of " + plan.registration->first +
                     L" to end (ended after 30 s)");
        }

        for (const auto& [target, staging] : plan.stagings) {
            // The new uninstall log of a run of an earlier version past its
            // commit is complete: it goes into place below.
            if (plan.committed && sameFileName(staging, plan.committed->other)) continue;
            if (removeChecked(staging, Removable::File) == RemoveOutcome::Removed)
                note(L"deleted " + staging + L", the part written of " + target);
        }

        bool complete = true;
        if (plan.committed) {
            // Every change was made: the run is completed, not undone.
            note(L"the run had made every change: it is completed");
            const std::wstring& staged = plan.committed->other;
            if (!staged.empty() && pathExists(staged)) {
                try {
                    putInPlace(staged, plan.committed->path, kUninstallLogAttributes);
                    note(L"uninstall log " + plan.committed->path + L" put in place");
                } catch (const std::exception& e) {
                    note(L"uninstall log " + plan.committed->path + L" could NOT be put in place (" +
                         failureText(e) + L"); its new content stays in " + staged);
                }
            }
            for (const LogEntry& entry : plan.entries)
                if (!entry.backupPath.empty() && pathExists(entry.backupPath)) {
                    deleteFile(entry.backupPath);
                    note(L"backup " + entry.backupPath + L" deleted");
                }
        } else {
            note(L"rolling the run back");
            if (plan.registration) {
                const auto& [program, crc] = *plan.registration;
                const auto entry = std::find_if(plan.entries.begin(), plan.entries.end(), [&](const LogEntry& e) {
                    return e.kind == InstalledFile && sameFileName(e.path, program);
                });
                const bool earlierComesBack =
                    entry == plan.entries.end() || !entry->backupPath.empty() || entry->unsavedOriginal;
                if (earlierComesBack) {
                    note(L"the program's registrations stay: they name " + program +
                         L", where the earlier program comes back");
                } else {
                    const ProgramRun run = runVerifiedProgram(program, crc, L" /Unregister /Background", lend_);
                    if (!run.started)
                        note(L"\"" + program + L"\" /Unregister could NOT run (the program is gone or changed)");
                    else
                        note(L"\"" + program + L"\" /Unregister ended with " +
                             std::to_wstring(static_cast<long>(run.exitCode)));
                }
            }
            UninstallLog journal;
            JournalLogger logger([this](const std::wstring& line) { note(line); });
            journal.setObserver(&logger);
            journal.takeOverEntries(std::move(plan.entries));
            complete = journal.rollback();
            journal.setObserver(nullptr);
            for (auto value = plan.values.rbegin(); value != plan.values.rend(); ++value) {
                const bool existed = (value->flags & journal_flags::RecordExisted) != 0;
                if (putBackValue(*value)) {
                    note(valueText(*value) + (existed ? L" put back as it was" : L" deleted"));
                } else {
                    note(valueText(*value) + L" could NOT be put back");
                    complete = false;
                }
            }
        }
        for (const std::wstring& temporary : plan.temporaries) deleteFile(temporary);

        if (!complete) {
            // What could not be put back waits in the run folder, which the
            // journal names: the next start tries again.
            note(L"NOT everything could be put back: the marker, the journal and the run folder " + folderPath +
                 L" stay, and the next start tries again");
            unfinished_ = true;
            return true;
        }
        endMarkedRun(run);
        note(L"done");
        return true;
    } catch (...) {
        note(L"stopped by an unexpected failure; the marker stays for the next start");
        unfinished_ = true;
        return true;
    }
}

bool RunRecovery::markerStays() noexcept
{
    MarkerContent marker;
    std::wstring raw;
    return RecoveryMarker::read(marker, raw) != RecoveryMarker::State::None;
}

bool RunRecovery::dropUnfinishedRun() noexcept
{
    try {
        bool found = false;
        std::optional<MarkedRun> opened = openMarkedRun(found);
        if (!opened) return false;
        MarkedRun& run = *opened;
        note(L"the installation that run would put back is removed: its backups, journal and marker go");
        const Plan plan = planFrom(run.records, run.folderPath);
        for (const LogEntry& entry : plan.entries)
            if (!entry.backupPath.empty() && pathExists(entry.backupPath)) {
                deleteFile(entry.backupPath);
                note(L"backup " + entry.backupPath + L" deleted");
            }
        for (const auto& [target, staging] : plan.stagings)
            if (sameFileName(parentOf(staging), run.folderPath)) deleteFile(staging);
        endMarkedRun(run);
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace qv
