#pragma once
// Classes in this file:
//   InstallTarget      where the program and the uninstaller were installed
//   ArchiveSource      opens the payload archive for one run
//   InstallSequence    the one operation that changes the machine
// (One run of it with its log and outcome: engine/InstallRun.h.)
//
// The sequence prepares the run's temporary folder, extracts the payload
// with a handler that decides per file (skip, journal, write), and, once
// every file is in place, creates the shortcuts, registers the product,
// runs the installed program once so that it registers itself and writes
// Uninstall.ulog. Every change is journalled first, so a failed extraction
// is rolled back; the steps after it only report "Failed" in the log, but for
// the uninstall log itself and the journal on disk: a run whose log cannot be
// put in place, or whose journal can no longer say what it does, is rolled
// back as a whole. A run starts changing the machine only once its journal
// on disk and the marker pointing at it are in place.
// It reports through InstallDisplay alone and runs without windows.

#include "engine/Archive.h"
#include "engine/InstallDisplay.h"
#include "engine/RunPoints.h"
#include "uninstall/RecoveryJournal.h"
#include "uninstall/RunJournal.h"

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <vector>

namespace qv {

struct InstallSession;
class RunFolder;

// Filled while the archive is extracted with the final paths of its
// program (kind 1) and uninstaller (kind 2) entries; emptied when a run
// starts. The install page holds them for the wizard.
struct InstallTarget {
    std::wstring programPath;
    std::wstring uninstallerPath;
    // The program's CRC-32 as the archive gives it: the registration run
    // starts the program only while it still holds these bytes.
    std::uint32_t programCrc = 0;
};

using ArchiveSource = std::function<std::unique_ptr<std::istream>()>;

// The payload resource (type 260, id 134) of the language state's resource
// module, else of the executable.
std::unique_ptr<std::istream> openPayloadArchive();

class InstallSequence {
public:
    InstallSequence(InstallSession& session, InstallDisplay& display, InstallTarget& target,
                    ArchiveSource source = openPayloadArchive);
    ~InstallSequence();
    InstallSequence(const InstallSequence&) = delete;
    InstallSequence& operator=(const InstallSequence&) = delete;

    // True when every archive entry was extracted and the uninstall log is
    // in place (a step between may have failed: that shows only in the log);
    // false when the run could not start (no temporary folder, no journal on
    // disk or marker) or failed and was rolled back. A rollback that could
    // not put everything back leaves the journal and its marker for the next
    // start, which tries again.
    bool run();

    // The extraction handler: one notification of the extractor, then the
    // display's message pump, then the answer.
    result onInstallEvent(const notification& event);

    // A step after the extraction ended in "Failed" during the last run.
    bool stepFailed() const noexcept { return stepFailed_; }
    // The last run failed and its rollback could not put everything back.
    bool rollbackIncomplete() const noexcept { return rollbackIncomplete_; }
    // The last run did not start: the marker of an earlier unfinished run
    // stands (or one this installer cannot read).
    bool refusedForUnfinishedRun() const noexcept { return refusedForUnfinishedRun_; }

private:
    result handle(const Started&);
    result handle(const Finished&) { return result::Continue; }
    result handle(const FileBegin& begin);
    result handle(const FileEnd& end);
    result handle(const Progress& progress);
    result handle(const Failed& failed);

    void prepareJournal(const RunFolder& runFolder);
    // The journal on disk and its marker (uninstall/RunJournal.h): set up
    // before anything changes, gone once the run has ended either way, kept
    // when a rollback left something for the next start. False, with why,
    // when they cannot be set up.
    bool beginRecoveryJournal(const RunFolder& runFolder, std::wstring& why);
    void endRecoveryJournal() noexcept;
    void keepRecoveryJournal() noexcept;
    bool journalBroken() const noexcept;
    // Undoes the run: the program's registrations (when no earlier program
    // comes back in its place), every journalled change, the values it wrote
    // under the maker's key. Ends the journal on disk, or keeps it when
    // something could not be put back. False then.
    bool rollBack() noexcept;
    // A run past its extraction that cannot go on: shown as failed with
    // code, why in the run's log, rolled back. Always false.
    bool failAfterExtraction(DWORD code, const std::wstring& why);
    // Announces a change in the journal on disk; throws when it cannot.
    void writeAhead(const JournalRecord& record);
    void reached(RunPoint point);
    void beginStep(const std::wstring& text);
    void endStep(bool ok);
    void setReadOnly(const std::wstring& path);
    bool createShortcuts();
    bool writeRegistration();
    bool writeInstallationRecord();
    bool runRegistration();
    bool writeLog();

    InstallSession& session_;
    InstallDisplay& display_;
    InstallTarget& target_;
    ArchiveSource source_;
    std::istream* archive_ = nullptr;  // the run's archive stream, while it lives
    bool stepFailed_ = false;
    bool rollbackIncomplete_ = false;
    bool refusedForUnfinishedRun_ = false;
    std::wstring sampleFolder_;
    RunJournal journal_;
    // Values under the maker's key as they were before the run wrote them,
    // in the order written.
    std::vector<JournalRecord> earlierValues_;
    bool registrationRan_ = false;
    // Where the data file being written lies in the decompressed archive.
    std::uint64_t bytesDone_ = 0, dataFileBegin_ = 0, dataFileEnd_ = 0;
};

}  // namespace qv
