#pragma once
// Classes in this file:
//   LogEntryKind   what one journal entry records
//   LogEntry       one journal entry
//
// The record shared by the journal of a run (UninstallLog.h) and the text of
// Uninstall.ulog (UlogFormat.h): kept apart from both so that the text can be
// read and written without the journal that fills it.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

enum LogEntryKind : std::int32_t {
    CreatedFolder = 0,
    InstalledFile = 1,
    ProgramShortcut = 2,
    UninstallShortcut = 3,
    DesktopShortcut = 4,
    UninstallKey = 5,
    ClassesRootKeys = 6,
};

// The payload kind of a security-only entry for a folder the run took over
// (UninstallLog::secureExistingFolders), journalled like a kept file's.
inline constexpr std::int32_t takenOverFolderKind = -1;

struct LogEntry {
    std::int32_t kind = CreatedFolder;
    std::wstring path;
    std::wstring backupPath;  // earlier state of what this entry replaced
    bool done = false;
    std::int32_t payloadKind = -1;  // archive entry kind for InstalledFile

    // Kept in memory only, never written to the log file:
    // the DACL of the file that was backed up, put back on rollback;
    std::vector<BYTE> savedDacl;
    // the file existed and stays where it is (a kept data file): rollback
    // leaves it in place;
    bool keptInPlace = false;
    // an earlier entry this installation cannot own (InstallationArea):
    // nothing acts on it, the merge carries its line over as it is;
    bool foreign = false;
    // the file existed and no backup of it could be made (a journal kept
    // outside a run, or on disk by an earlier version): rollback leaves it
    // alone unless the run wrote it (done);
    bool unsavedOriginal = false;
    // only the file's security changes (the Users grant of a data file an
    // earlier installation left, its owner taken back from a user): undone
    // by a rollback, never written to the log file, whose earlier line for
    // the file stays;
    bool securityOnly = false;
    // where the backup goes back to when that is not path (the recovery of
    // an interrupted run puts an earlier shortcut back under its own name);
    std::wstring restoreTo;
    // the uninstall key's content as it was (sys/KeyContent.h), put back on
    // rollback; empty when none could be kept (the hive file then serves).
    std::vector<BYTE> savedKey;
    // the earlier file as it stood at path before the run moved it to its
    // backup (volume serial number and file index; earlierKnown false when
    // not journalled): a backup no longer in the run folder counts as put
    // back only while path holds that very file;
    bool earlierKnown = false;
    DWORD earlierVolume = 0;
    std::uint64_t earlierIndex = 0;
    // set by a rollback that found the backup gone and the earlier file not
    // at path: the earlier version is lost.
    bool backupLost = false;
};

}  // namespace qv
