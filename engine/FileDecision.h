#pragma once
// Classes in this file:
//   FileFacts      what decides the fate of one archive entry
//   FileDecision   what the run does with it
// Functions:
//   decideFile        the policy, as a pure function of the facts
//   writesArchiveBytes  whether a decision writes the entry's bytes
//   decideFileOnDisk  the facts gathered from the session and the disk, then
//                     decideFile: what the install sequence does and what
//                     the free-space check counts, from one rule
//
// The rule: samples stay out of an update and of a run with /NOSAMPLES; a
// data file already there is never written (one the earlier installation
// left is the user's now; one nobody recorded is kept and journalled as the
// run's); a link or second name a user planted at a data file's or sample's
// name in a folder all users may write is set aside and the file written.

#include "engine/ArchiveFormat.h"
#include "engine/InstallSession.h"
#include "sys/PathGuard.h"

namespace qv {

struct FileFacts {
    EntryKind kind = EntryKind::ProgramFile;
    InstallState installState = InstallState::NotInstalled;
    bool noSamples = false;
    // A file (not a folder) has the entry's name. Only asked for data files.
    bool fileAtPath = false;
    // The earlier installation's log lists the entry's path.
    bool earlierInstalled = false;
    // In a folder all users may write: a link, or one name of a file with
    // several, has the entry's name.
    bool plantedName = false;
};

enum class FileDecision {
    Write,               // the archive's file is written, journalled first
    LeaveOutSample,      // a sample on an update or with /NOSAMPLES
    KeepUsersDataFile,   // a data file the earlier installation left: it stays
    AdoptDataFile,       // a data file nobody recorded: kept, journalled as installed
    SetAsidePlantedName, // the planted name is set aside, then the file written
};

FileDecision decideFile(const FileFacts& facts) noexcept;

bool writesArchiveBytes(FileDecision decision) noexcept;

// decideFile of the entry's facts as the session and the disk tell them now.
// planted, when given, receives what stands at a planted name (Link or
// SeveralNames), Missing otherwise.
FileDecision decideFileOnDisk(const ArchiveEntry& entry, const InstallSession& session,
                              NameAtPath* planted = nullptr);

}  // namespace qv
