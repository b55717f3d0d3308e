#include "uninstall/RunRecovery.h"

#include "identity/Product.h"
#include "sys/ProgramRun.h"
#include "uninstall/RunUndo.h"
#include "sys/HResultError.h"
#include "sys/Handles.h"
#include "sys/FileSecurity.h"
#include "sys/PathGuard.h"
#include "sys/PathIdentity.h"
#include "sys/StagedFile.h"
#include "uninstall/InstallationArea.h"
#include "uninstall/KeptFolder.h"
#include "uninstall/JournalLogger.h"
#include "uninstall/RecoveryJournal.h"
#include "uninstall/RecoveryPlan.h"
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

// The folders on the way to where an earlier file goes back, made again
// when they are gone (the installation folder deleted by hand after the run
// ended): the installation folder, the folders below it, and the folders
// above it an installation creates, never anything else. Each is made
// through its checked parent with the protection program files have. The
// installation folder itself when it had to be made again.
std::optional<std::wstring> remakeFoldersOnTheWay(const RecoveryPlan& plan, const std::function<void(const std::wstring&)>& note)
{
    std::optional<std::wstring> remadeInstallFolder;
    InstallationArea area({plan.installFolder});
    for (const LogEntry& entry : plan.entries) {
        if (entry.kind != InstalledFile || entry.keptInPlace || entry.backupPath.empty() || entry.path.empty() ||
            !pathExists(entry.backupPath))
            continue;
        const std::wstring folder = parentOf(entry.path);
        if (isFolder(folder) || !isSameOrBelow(folder, plan.installFolder)) continue;
        std::vector<std::wstring> missing;  // the deepest first
        for (std::wstring f = folder; f.size() > 3 && !pathExists(f); f = parentOf(f)) missing.push_back(f);
        const bool owned = std::all_of(missing.begin(), missing.end(), [&](const std::wstring& f) {
            LogEntry made;
            made.kind = CreatedFolder;
            made.path = f;
            return isPlainDrivePath(f) && area.owns(made);
        });
        if (!owned) continue;
        FolderSecurity security = FolderSecurity::likeProgramFiles();
        for (auto f = missing.rbegin(); f != missing.rend(); ++f) {
            if (!createFolderChecked(*f, security.attributes())) {
                note(L"the folder " + *f + L" is gone and could NOT be made again (error " +
                     std::to_wstring(::GetLastError()) + L")");
                break;
            }
            note(L"the folder " + *f + L" was gone: made again for the earlier files that go back into it");
            if (sameFileName(*f, plan.installFolder)) remadeInstallFolder = *f;
        }
    }
    return remadeInstallFolder;
}

// How many starts of the installer have tried to put an unfinished run
// back, counted in a file of the run folder (administrators only).
constexpr wchar_t kStartsFileName[] = L"recovery.starts";

unsigned countThisStart(const std::wstring& runFolder) noexcept
{
    try {
        CheckedHandle file = openChecked(runFolder + L"\\" + kStartsFileName, GENERIC_READ | GENERIC_WRITE, 0,
                                         OPEN_ALWAYS);
        if (!file || file.isFolder()) return 1;
        std::uint32_t starts = 0;
        DWORD got = 0;
        if (!::ReadFile(file.handle.get(), &starts, sizeof starts, &got, nullptr) || got != sizeof starts) starts = 0;
        starts = starts < 1000 ? starts + 1 : starts;
        LARGE_INTEGER begin{};
        DWORD written = 0;
        if (::SetFilePointerEx(file.handle.get(), begin, nullptr, FILE_BEGIN))
            ::WriteFile(file.handle.get(), &starts, sizeof starts, &written, nullptr);
        ::FlushFileBuffers(file.handle.get());
        return starts;
    } catch (...) {
        return 1;
    }
}

// Whether what stopped the entry's earlier file from going back may go by
// itself: the new file still at its place in the installation folder (held
// open, running, its deletion pending), which a restart frees. A folder or
// a link there, a name with several files behind it, a place outside the
// installation folder (the shared data and sample folders users may write)
// or a folder that is gone does not.
bool mayFreeItself(const LogEntry& entry, const std::wstring& installFolder) noexcept
{
    if (entry.kind != InstalledFile || entry.backupLost || entry.backupPath.empty() || entry.path.empty() ||
        !pathExists(entry.backupPath) || !isSameOrBelow(entry.path, installFolder) || !isFolder(parentOf(entry.path)))
        return false;
    try {
        return nameAt(entry.path) == NameAtPath::File;
    } catch (...) {
        return false;
    }
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
    deleteFile(run.folderPath + L"\\" + kStartsFileName);
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

        RecoveryPlan plan = planFrom(records, folderPath);
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
        std::list<LogEntry> notPutBack;
        std::vector<std::wstring> lostValues;
        std::optional<std::wstring> remadeInstallFolder;
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
            remadeInstallFolder = remakeFoldersOnTheWay(plan, [this](const std::wstring& line) { note(line); });
            UninstallLog journal;
            JournalLogger logger([this](const std::wstring& line) { note(line); });
            journal.setObserver(&logger);
            journal.takeOverEntries(std::move(plan.entries));
            complete = journal.rollback(&notPutBack);
            journal.setObserver(nullptr);
            for (auto value = plan.values.rbegin(); value != plan.values.rend(); ++value) {
                const bool existed = (value->flags & journal_flags::RecordExisted) != 0;
                if (putBackValue(*value)) {
                    note(valueText(*value) + (existed ? L" put back as it was" : L" deleted"));
                } else {
                    note(valueText(*value) + L" could NOT be put back");
                    lostValues.push_back(valueText(*value));
                    complete = false;
                }
            }
        }
        for (const std::wstring& temporary : plan.temporaries) deleteFile(temporary);

        if (!complete) {
            // A file held open may be free after a restart: the run is kept
            // for a few starts. What nothing frees (a folder or link in the
            // place, a place users may write, a lost backup) lets it go at
            // once, and so does the last of those starts.
            const unsigned start = countThisStart(folderPath);
            const bool worthWaiting = std::any_of(notPutBack.begin(), notPutBack.end(), [&](const LogEntry& e) {
                return mayFreeItself(e, plan.installFolder);
            });
            if (worthWaiting && start < kStartsBeforeLettingGo) {
                note(L"NOT everything could be put back: the marker, the journal and the run folder " + folderPath +
                     L" stay, and the next start tries again (start " + std::to_wstring(start) + L" of " +
                     std::to_wstring(kStartsBeforeLettingGo) + L"; a restart of Windows may free what is held)");
                unfinished_ = true;
                return true;
            }
            letGo(run, notPutBack, lostValues);
        }
        if (remadeInstallFolder)
            note(L"LOST: what " + *remadeInstallFolder +
                 L" held besides the files put back above: the folder was deleted after the run ended. Installing "
                 L"again completes the product");
        endMarkedRun(run);
        note(L"done");
        return true;
    } catch (...) {
        note(L"stopped by an unexpected failure; the marker stays for the next start");
        unfinished_ = true;
        return true;
    }
}

void RunRecovery::letGo(MarkedRun& run, const std::list<LogEntry>& notPutBack,
                        const std::vector<std::wstring>& lostValues) const noexcept
{
    note(L"NOT everything could be put back, and waiting would not change that: the run is let go, so that the "
         L"next installation can proceed. What the machine lost:");
    KeptFolder kept(run.folderPath);
    for (const LogEntry& entry : notPutBack) {
        try {
            std::wstring place = entry.restoreTo.empty() ? entry.path : entry.restoreTo;
            if (entry.kind == UninstallKey) place = L"the uninstall key of the earlier installation";
            else if (entry.kind == CreatedFolder || place.empty()) continue;
            if (entry.backupLost || entry.backupPath.empty() || !pathExists(entry.backupPath)) {
                note(L"LOST: " + place + L": its earlier version is gone (its backup is no longer in the run folder)");
                continue;
            }
            const std::wstring keptAs = kept.keep(entry.backupPath, entry.kind == UninstallKey ? std::wstring() : place);
            if (keptAs.empty())
                note(L"LOST: " + place + L": its earlier version could not be put back and stays in " +
                     entry.backupPath);
            else
                note(L"LOST: " + place + L": its earlier version could not be put back; it is kept as " + keptAs);
        } catch (...) {
        }
    }
    for (const std::wstring& value : lostValues) note(L"LOST: the earlier " + value);
    if (!kept.path().empty()) note(L"the earlier files above are kept in " + kept.path());
    (void)run;
}

void RunRecovery::removeRunFoldersWithoutChanges(const std::wstring& base) const noexcept
{
    try {
        if (base.empty()) return;
        std::vector<std::wstring> found;
        WIN32_FIND_DATAW entry{};
        UniqueFindFile search(::FindFirstFileExW((base + L"orvane_*").c_str(), FindExInfoBasic, &entry,
                                                 FindExSearchLimitToDirectories, nullptr, 0));
        if (!search) return;
        do {
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && isRunFolderName(entry.cFileName))
                found.push_back(base + entry.cFileName);
        } while (found.size() < 1000 && ::FindNextFileW(search.get(), &entry));
        search.reset();
        MarkerContent marker;
        std::wstring raw;
        const bool marked = RecoveryMarker::read(marker, raw) == RecoveryMarker::State::Found;
        for (const std::wstring& folder : found) {
            if (marked && sameFileName(parentOf(marker.journalPath), folder)) continue;
            if (removeChecked(folder, Removable::EmptyFolder) != RemoveOutcome::Removed) {
                if (!dropJournalWithoutChanges(folder)) continue;
                if (removeChecked(folder, Removable::EmptyFolder) != RemoveOutcome::Removed) continue;
            }
            note(L"run folder " + folder + L" removed: its run ended before it changed anything");
        }
    } catch (...) {
    }
}

bool RunRecovery::dropJournalWithoutChanges(const std::wstring& folder) const noexcept
{
    try {
        // Nothing but the journal in the folder.
        WIN32_FIND_DATAW entry{};
        UniqueFindFile search(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
        if (!search) return false;
        do {
            const std::wstring name = entry.cFileName;
            if (name != L"." && name != L".." && !sameFileName(name, kRecoveryJournalName)) return false;
        } while (::FindNextFileW(search.get(), &entry));
        search.reset();
        // Open without sharing for writing or deleting: a running run's
        // journal refuses (it is open for writing).
        CheckedHandle journal =
            openChecked(folder + L"\\" + kRecoveryJournalName, GENERIC_READ | DELETE, FILE_SHARE_READ, OPEN_EXISTING);
        if (!journal || journal.isFolder()) return false;
        std::vector<char> bytes(64 * 1024);
        DWORD got = 0;
        if (!::ReadFile(journal.handle.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr))
            return false;
        bytes.resize(got);
        // A header only, cut short, or its RunStarted record and nothing
        // after: no change was announced, so none was made.
        const std::vector<JournalRecord> records = parseJournalRecords(bytes);
        if (records.size() > 1 || (records.size() == 1 && records.front().type != JournalRecordType::RunStarted))
            return false;
        const std::optional<std::uint32_t> version = journalVersion(bytes);
        if (version && *version > 1) return false;
        return markForDeletion(journal.handle.get());
    } catch (...) {
        return false;
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
        const RecoveryPlan plan = planFrom(run.records, run.folderPath);
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
