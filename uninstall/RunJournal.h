#pragma once
// Classes in this file:
//   RunJournal   the journal on disk of one install run and the marker that
//                points the next start of an installer at it
//
// An install run changes nothing before both are in place: should the
// process end before the run does, the next start reads the journal
// (uninstall/RunRecovery.h) and rolls the run back or completes it. A run
// that ends either way ends the journal (marker first, then the file); one
// whose rollback could not put everything back keeps both for the next
// start.

#include "uninstall/RecoveryJournal.h"
#include "uninstall/UninstallLog.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace qv {

class RunFolder;

class RunJournal {
public:
    RunJournal() = default;
    ~RunJournal();
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // Why no run may start now: the marker of an earlier run whose journal
    // is still there (a start must finish that run first), or one this
    // installer cannot read. Nothing when a run may start.
    static std::optional<std::wstring> unfinishedRunInTheWay();

    // Creates the journal in the run folder with its RunStarted record and
    // sets the marker, then lets the run's log journal through it. A marker
    // whose journal is still there (an earlier run the next start must
    // finish) or that this installer cannot read refuses the run; one whose
    // journal is gone is replaced, with a note. False, with why and the
    // thread's last error, when nothing was set up.
    bool begin(const RunFolder& runFolder, const std::wstring& installPath, const std::wstring& startMenuFolder,
               UninstallLog& log, const std::function<void(const std::wstring&)>& note, std::wstring& why);
    // The run ended either way: the marker goes, then the journal.
    void end() noexcept;
    // Something could not be put back: journal and marker stay for the next
    // start.
    void keep() noexcept;
    // Lets go of the journal without ending or keeping it (the run object
    // goes; whatever is on disk stays as it is).
    void release() noexcept;
    // Announces a change; throws when the journal cannot take it. Nothing
    // happens before begin.
    void append(const JournalRecord& record);
    // A record could not be written: the journal no longer says what the
    // run does.
    bool broken() const noexcept;

private:
    std::unique_ptr<RecoveryJournal> recovery_;
    UninstallLog* log_ = nullptr;
    bool makerKeyCreated_ = false;
};

}  // namespace qv
