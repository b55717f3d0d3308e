#pragma once
// Classes in this file:
//   RunRecovery   at the installer's start, finishes what an earlier run
//                 left half-done: rolls it back, or, past the point from
//                 which it goes forward, completes it
//
// A run that ends without ending its journal (the process killed, the power
// lost) leaves its marker (uninstall/RecoveryMarker.h) and its journal on
// disk (uninstall/RecoveryJournal.h). The next start, after the check for
// running copies and before it looks for an earlier installation, finds the
// marker and trusts nothing of it blindly: the journal must lie in a run
// folder of ours ("orvane_{<uuid>}"), reached without a link, and folder
// and file must be the very ones the run made (volume serial number and
// file index, which the marker in HKEY_LOCAL_MACHINE holds and only
// administrators can write); every path a record names must be one this
// installation writes (uninstall/InstallationArea.h), every backup a name
// in the run folder, every temporary name one beside its target.
//
// Rolled back: the files written half-way under their temporary names are
// deleted; the program's registrations are undone by the program itself
// (" /Unregister", only with the bytes the archive gave it) when no earlier
// program comes back to their place; then the journal's entries are undone
// as a failed run's are (backups put back with their attributes and DACLs,
// what was created removed, the uninstall key put back or deleted); the
// installation record is put back as it was. Rolled forward, once the run
// had every change made: its uninstall log is moved into place and its
// backups deleted. Every step goes to the log. Then the marker, the journal
// and the run folder (when empty) go.

#include "uninstall/LogEntry.h"

#include <cstdint>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <vector>

namespace qv {

// The starts of the installer that may try to put an unfinished run back
// while something in the way may free itself (a file held open, which a
// restart of Windows frees); the last of them lets the run go.
inline constexpr unsigned kStartsBeforeLettingGo = 3;

class RunRecovery {
public:
    using LogLine = std::function<void(const std::wstring&)>;
    // lend(true) before the installed program runs for its clean-up,
    // lend(false) after (the installer's mutex).
    RunRecovery(LogLine log, std::function<void(bool)> lend);

    // Looks for the marker of an unfinished run and deals with it as above.
    // False when there was none (nothing is logged then). Never throws.
    bool recover() noexcept;
    // Whether the last recover() left a marker behind: something could not
    // be put back (the next start tries again), the run cannot be undone
    // without its journal, or the marker is a newer installer's.
    bool unfinished() const noexcept { return unfinished_; }

    // The run folders of this installer's naming directly in base (a
    // temporary folder, with its trailing separator) that changed nothing:
    // empty, or holding only a journal that announces no change and that no
    // marker names (a run killed at its first flushes, before its marker
    // existed, changes nothing). Each goes through checked handles; a folder
    // that holds anything else (a backup, a clean-up copy), or whose journal
    // is open (a running installer's), stays. Logged when one went. Never
    // throws.
    void removeRunFoldersWithoutChanges(const std::wstring& base) const noexcept;

    // For the uninstaller, once it has removed the installation that an
    // unfinished run's rollback would put back: the run's backups, its
    // journal, its run folder and its marker go. Only the run the marker
    // names, checked as recover() checks it. False when there was none.
    bool dropUnfinishedRun() noexcept;

private:
    struct MarkedRun;
    // The marker's run; nothing when there is none or it is not to be acted
    // on (each case logged and its marker kept or removed as it must be).
    // found: a marker was there.
    std::optional<MarkedRun> openMarkedRun(bool& found) const;
    // The marker, the journal and the run folder (when empty) go.
    void endMarkedRun(MarkedRun& run) const noexcept;
    // What could not be put back is logged as lost, its backups moved to a
    // kept folder (uninstall/KeptFolder.h), and the marker goes.
    void letGo(MarkedRun& run, const std::list<LogEntry>& notPutBack,
               const std::vector<std::wstring>& lostValues) const noexcept;
    static bool markerStays() noexcept;
    // The folder's only file is a journal that announces no change: it is
    // deleted. Never throws.
    bool dropJournalWithoutChanges(const std::wstring& folder) const noexcept;
    void note(const std::wstring& line) const noexcept;

    LogLine log_;
    std::function<void(bool)> lend_;
    bool unfinished_ = false;
};

}  // namespace qv
