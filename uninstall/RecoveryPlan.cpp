#include "uninstall/RecoveryPlan.h"

#include "sys/PathGuard.h"
#include "sys/PathText.h"
#include "sys/StagedFile.h"
#include "uninstall/InstallationArea.h"
#include "uninstall/RunUndo.h"
#include "uninstall/UninstallLog.h"

#include <windows.h>

#include <algorithm>
#include <set>

namespace qv {
namespace {

constexpr std::size_t kMaxPath = MAX_PATH - 1;  // 259 characters

}  // namespace

// A full path on a drive, in the form the system itself would give it: no
// relative part, no "..", no device or "\\?\" form, no stream.
bool isPlainDrivePath(const std::wstring& path)
{
    if (path.size() < 4 || path.size() > kMaxPath || path[1] != L':' || path[2] != L'\\') return false;
    if (path.find(L':', 2) != std::wstring::npos || path.find(L'/') != std::wstring::npos) return false;
    const std::wstring full = fullPathOf(path);
    return !full.empty() && sameFileName(full, path);
}

namespace {

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

}  // namespace

RecoveryPlan planFrom(const std::vector<JournalRecord>& records, const std::wstring& runFolder)
{
    RecoveryPlan plan;
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
    std::set<const LogEntry*> followed;  // entries a later record goes on with
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
            entry.earlierKnown = parseEarlierFileText(r.third, entry.earlierVolume, entry.earlierIndex);
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
            followed.insert(recorded);
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
            if (recorded && sameFileName(recorded->path, r.path)) followed.insert(recorded);
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
    // A backup announced that nothing came after, and that is not in the
    // run folder, was never made: the process ended before the move (or
    // during a copy to another volume, which leaves the earlier file in its
    // place), so the earlier file never left. Any other missing backup is
    // one that cannot be put back (UninstallLog::undo).
    for (LogEntry& entry : plan.entries)
        if (!entry.backupPath.empty() && !entry.keptInPlace && !followed.count(&entry) &&
            !pathExists(entry.backupPath)) {
            entry.backupPath.clear();
            entry.restoreTo.clear();
            if (entry.kind == InstalledFile) entry.unsavedOriginal = true;
        }
    return plan;
}

}  // namespace qv
