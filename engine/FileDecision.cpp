#include "engine/FileDecision.h"

#include "sys/PathGuard.h"
#include "sys/PathText.h"

namespace qv {

FileDecision decideFile(const FileFacts& facts) noexcept
{
    switch (facts.kind) {
    case EntryKind::SampleFile:
        // Nothing lands on the all-users desktop on an update or with
        // /NOSAMPLES.
        if (facts.installState == InstallState::OlderVersion || facts.noSamples) return FileDecision::LeaveOutSample;
        return facts.plantedName ? FileDecision::SetAsidePlantedName : FileDecision::Write;
    case EntryKind::DataFile:
        if (facts.plantedName) return FileDecision::SetAsidePlantedName;
        if (!facts.fileAtPath) return FileDecision::Write;
        if (facts.installState != InstallState::NotInstalled && facts.earlierInstalled)
            return FileDecision::KeepUsersDataFile;
        return FileDecision::AdoptDataFile;
    default:
        return FileDecision::Write;
    }
}

bool writesArchiveBytes(FileDecision decision) noexcept
{
    return decision == FileDecision::Write || decision == FileDecision::SetAsidePlantedName;
}

FileDecision decideFileOnDisk(const ArchiveEntry& entry, const InstallSession& session, NameAtPath* planted)
{
    FileFacts facts;
    facts.kind = static_cast<EntryKind>(entry.kind);
    facts.installState = session.installState;
    facts.noSamples = session.noSamples;
    if (planted) *planted = NameAtPath::Missing;
    const bool mayBePlanted = facts.kind == EntryKind::DataFile || facts.kind == EntryKind::SampleFile;
    if (!mayBePlanted || decideFile(facts) == FileDecision::LeaveOutSample) return decideFile(facts);
    // In a folder every user may write, a link (or one name of a file with
    // several) at a data file's or sample document's name is somebody's
    // plant, not an earlier file. Elsewhere only an administrator could have
    // put it there, and it fails the file as before.
    if (entry.inSharedFolder) {
        try {
            const NameAtPath found = nameAt(entry.destination);
            if (found == NameAtPath::Link || found == NameAtPath::SeveralNames) {
                facts.plantedName = true;
                if (planted) *planted = found;
            }
        } catch (...) {
            // A link on the way, or one that cannot be opened as itself:
            // refused where the file is recorded, as everywhere.
        }
    }
    if (facts.kind == EntryKind::DataFile && !facts.plantedName) {
        facts.fileAtPath = isFile(entry.destination);
        facts.earlierInstalled = facts.fileAtPath && session.uninstallLog.wasInstalled(entry.destination);
    }
    return decideFile(facts);
}

}  // namespace qv
