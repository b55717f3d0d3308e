#pragma once
// Classes in this file:
//   UninstallLog   the run's journal: recording, backups, rollback, and the
//                  Uninstall.ulog file that a successful run leaves behind
// (its entries, LogEntry: uninstall/LogEntry.h)
//
// Every change an installation makes is recorded here before it is made and
// settled after it (record, act, confirm). A failed run is undone by walking
// the journal backwards; a successful one writes it out for the uninstaller,
// merged with the log of the installation it replaces.
//
// One class in three files, one for each of its jobs: the journal in memory
// and the log file it is written to (UninstallLog.cpp), the backups and
// putting them back (UninstallLogBackups.cpp), and the text of the log file,
// kept apart from any file so that it can be tested alone (UlogFormat.h).

#include "uninstall/LogEntry.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace qv {

class InstallationArea;
class JournalObserver;
class RecoveryJournal;
class RunFolder;
struct JournalRecord;

class UninstallLog {
public:
    // --- the log file -----------------------------------------------------
    // Loads an earlier log; a missing, unreadable or damaged file yields
    // less, never an error. Null only clears the two folders.
    void read(const wchar_t* logPath);
    // Merges the earlier entries, writes the log file, announces the run's
    // commit in the journal on disk and deletes every backup of this run.
    // The earlier log is recorded like any file the run replaces (moved to a
    // backup); the new one is written under a temporary name beside it and
    // takes its name only complete (sys/StagedFile.h). A line its reader
    // could not read back (a merged earlier entry longer than a line may
    // be) is not written. True when the log is in place and the commit
    // announced; false, with the thread's last error, when not: the caller
    // then rolls the run back, which puts the earlier log back too (the
    // merge changed nothing then).
    bool commit(const std::wstring& logPath, const std::wstring& installFolder,
                const std::wstring& shortcutFolder);

    // --- the journal ------------------------------------------------------
    void recordFile(const std::wstring& path, std::int32_t entryKind, bool copy);
    // Before a file is written where somebody planted a name (a link, or one
    // name of a file with several): that name is moved into the run folder
    // as itself, as a replaced file is, so that a rollback puts it back, and
    // nothing reaches the file or folder behind it. Its security is left as
    // it is. Throws as recordFile does.
    void recordPlantedName(const std::wstring& path, std::int32_t entryKind);
    // Before the security of a file the run leaves in place is changed: its
    // owner and DACL, announced in the journal on disk, put back by a
    // rollback. Nothing for a file that cannot be read (a link on the way
    // throws). The caller changes the security after it.
    void recordSecurityChange(const std::wstring& path, std::int32_t entryKind);
    // which: 0 program shortcut, 1 uninstaller shortcut, other: desktop.
    void recordShortcut(int which, const std::wstring& folder);
    // key: the existing product key to back up, or null when it was created.
    void recordUninstallKey(HKEY key);
    // Before the product key is created: the journal on disk names it first.
    void announceNewUninstallKey();
    void recordClassesRoot();
    // The shortcut file the last recordShortcut's shortcut is about to be
    // written to: the journal on disk names it before it exists.
    void announceShortcut(const std::wstring& path);
    // Settles the entry recorded last; a second call without a new recording
    // changes nothing.
    void confirm(bool done, const wchar_t* path = nullptr);
    bool wasInstalled(const std::wstring& path) const;
    // Undoes this run's entries from the last to the first. False when an
    // earlier state could not be put back: an earlier file still waits in
    // the run folder (the new one could not go), its backup is gone from
    // there (backupLost), or the earlier uninstall key could not be
    // restored. The caller then keeps what the next attempt needs (the run
    // folder, the journal on disk and its marker). notUndone, when given,
    // receives those entries, in the order they were undone. Never throws.
    bool rollback(std::list<LogEntry>* notUndone = nullptr) noexcept;
    // Entries of a run that an earlier process could not finish, read back
    // from its journal on disk, to be undone by rollback.
    void takeOverEntries(std::list<LogEntry> entries);
    // Creates the missing folders from the top down, each journalled. A
    // folder on the way that is a link ends the creation there (nothing is
    // created through it). False, with the thread's last error, when a
    // folder could not be announced or made; never throws.
    bool createFolders(const std::wstring& folder);
    // The take-over of secureExistingFolders for the folders down to
    // folder; throws (HResultError) when one cannot be taken over.
    void secureFoldersDownTo(const std::wstring& folder);
    // Returns the backup's path, or empty when none could be made. Without a
    // source only a fresh unused name is returned. Backups are made in the
    // run folder only (useRunFolder); without one there is none. A source
    // that is a link or lies behind one throws HResultError.
    std::wstring makeBackup(const wchar_t* source, bool copy);

    // --- the run's setting ----------------------------------------------------
    // Where the backups go: the run's private folder, which must outlive the
    // journal's use of it (null: no backups).
    void useRunFolder(const RunFolder* folder) noexcept { runFolder_ = folder; }
    // The journal kept on disk while the run lasts (uninstall/RecoveryJournal.h):
    // every change is announced there before it is made, and a recording
    // operation whose announcement cannot be written throws instead of
    // making its change. Null: none.
    void useRecoveryJournal(RecoveryJournal* journal) noexcept { recoveryJournal_ = journal; }
    // Marks the earlier entries this installation cannot own as foreign:
    // the merge then keeps their lines untouched and the shortcut clean-up
    // leaves their files alone. Without an area every entry is taken as it
    // stands.
    void setInstallationArea(const InstallationArea& area);
    // Folders created on the way to this folder (it included) get the
    // protection of the program-files folder instead of their parent's:
    // for an installation folder outside it. Empty: none.
    void protectNewFolders(std::wstring folder) { protectedFolder_ = std::move(folder); }
    // Existing folders from this one down (the installation folder outside
    // the program-files folder) that a file is about to be written into are
    // taken over first when anyone but the administrators owns them or may
    // change in them: owner Administrators and the protection a created
    // folder gets, the earlier owner and DACL journalled (an entry with
    // takenOverFolderKind) and put back by a rollback. Empty: none.
    void secureExistingFolders(std::wstring folder) { securedRoot_ = std::move(folder); }

    // --- read access --------------------------------------------------------
    const std::wstring& installFolder() const noexcept { return installFolder_; }
    const std::wstring& shortcutFolder() const noexcept { return shortcutFolder_; }
    const std::wstring& previousLabel() const noexcept { return previousLabel_; }
    const std::list<LogEntry>& previousEntries() const noexcept { return previousEntries_; }
    const std::list<LogEntry>& newEntries() const noexcept { return newEntries_; }
    bool pending() const noexcept { return pending_; }

    // Told of every entry recorded, settled and undone; null: nobody.
    void setObserver(JournalObserver* observer) noexcept { observer_ = observer; }
    // Called while a backup is copied to another volume, after each part
    // that more follow (a test build of the installer ends its process
    // there); empty: nothing.
    void setBackupCopyHook(std::function<void()> hook) { copyHook_ = std::move(hook); }

private:
    struct Backup {
        std::wstring path;
        std::vector<BYTE> dacl;
        DWORD error = ERROR_SUCCESS;  // why there is no path
        // The moved file's identity (a move only; unknown for a copy).
        bool identityKnown = false;
        DWORD volume = 0;
        std::uint64_t index = 0;
        Backup withName(std::wstring name) const
        {
            Backup named = *this;
            named.path = std::move(name);
            return named;
        }
    };
    LogEntry& append(std::int32_t kind);
    // This run's entries with the earlier ones it did not replace, in the
    // order of the log file.
    std::list<LogEntry> mergedEntries() const;
    // True when the entry's earlier state is back (or there was none).
    bool undo(LogEntry& entry) noexcept;
    // announce is told the backup's name and the DACL before the file is
    // moved or copied.
    // asItself: a link at source is moved as itself, its security not read.
    Backup takeBackup(const std::wstring& source, bool copy, const std::function<void(const Backup&)>& announce = {},
                      bool asItself = false);
    void recordFileAs(const std::wstring& path, std::int32_t entryKind, bool copy, bool setAside);
    // Announces and enters the owner and DACL saved of something the run
    // leaves in place and is about to change the security of, so that a
    // rollback puts them back.
    void recordSavedSecurity(const std::wstring& path, std::int32_t entryKind, std::vector<BYTE> saved);
    void writeAhead(const JournalRecord& record);
    bool createFolder(const std::wstring& folder);

    std::wstring installFolder_;
    std::wstring shortcutFolder_;
    std::list<LogEntry> previousEntries_;
    std::list<LogEntry> newEntries_;
    bool pending_ = false;
    std::wstring previousLabel_;
    const RunFolder* runFolder_ = nullptr;
    std::wstring protectedFolder_;
    std::wstring securedRoot_;
    std::vector<std::wstring> securedFolders_;  // checked or taken over in this run
    JournalObserver* observer_ = nullptr;
    RecoveryJournal* recoveryJournal_ = nullptr;
    bool newKeyAnnounced_ = false;
    std::function<void()> copyHook_;
};

// The attributes of a written Uninstall.ulog.
inline constexpr DWORD kUninstallLogAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// Its name, beside the installed uninstaller.
inline constexpr wchar_t kUninstallLogName[] = L"Uninstall.ulog";

}  // namespace qv
