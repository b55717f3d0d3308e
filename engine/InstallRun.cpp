#include "engine/InstallRun.h"

#include "engine/LoggingDisplay.h"
#include "sys/Handles.h"
#include "sys/LogFile.h"
#include "uninstall/JournalLogger.h"

namespace qv {

namespace {

// What a run without any window shows: nothing.
class NoDisplay : public InstallDisplay {
public:
    void AppendLog(const std::wstring&, bool) override {}
    void SetStatus(const std::wstring&) override {}
    void SetStatusPath(const std::wstring&) override {}
    void ResetProgress() override {}
    void SetProgress(int) override {}
    void PumpMessages() override {}
    void ShowWaitCursor(bool) override {}
};

const wchar_t* outcomeText(InstallOutcome outcome)
{
    switch (outcome) {
    case InstallOutcome::Installed: return L"installed";
    case InstallOutcome::InstalledWithFailedSteps: return L"installed, but a step after the file copying failed";
    case InstallOutcome::FailedRolledBack: return L"failed; everything this run changed was rolled back";
    case InstallOutcome::FailedPartlyRolledBack:
        return L"failed; NOT everything this run changed could be rolled back: what is NOT restored above waits "
               L"in the run folder for the next start";
    case InstallOutcome::RefusedUnfinishedRun:
        return L"not started: an earlier installation run that did not end must be finished first; nothing was "
               L"changed";
    default: return L"not run";
    }
}

InstallOutcome runSequence(InstallSession& session, InstallDisplay& display, InstallTarget& target,
                           ArchiveSource source)
{
    InstallSequence sequence(session, display, target, std::move(source));
    if (!sequence.run()) {
        if (sequence.refusedForUnfinishedRun()) return InstallOutcome::RefusedUnfinishedRun;
        return sequence.rollbackIncomplete() ? InstallOutcome::FailedPartlyRolledBack
                                             : InstallOutcome::FailedRolledBack;
    }
    return sequence.stepFailed() ? InstallOutcome::InstalledWithFailedSteps : InstallOutcome::Installed;
}

// screen null: a run without any window.
bool installWith(InstallSession& session, InstallDisplay* screen, InstallTarget& target, ArchiveSource source)
{
    NoDisplay nothing;
    if (!session.runLog) {
        session.lastOutcome = runSequence(session, screen ? *screen : nothing, target, std::move(source));
    } else {
        LogFile& log = *session.runLog;
        log.write(L"Installation into " + session.installPath + L" begins");
        {
            LoggingDisplay logged(log, screen);
            JournalLogger journal([&logged](const std::wstring& line) { logged.note(line); });
            session.uninstallLog.setObserver(&journal);
            auto unobserve = scopeExit([&session] { session.uninstallLog.setObserver(nullptr); });
            session.lastOutcome = runSequence(session, logged, target, std::move(source));
        }
        log.write(std::wstring(L"Outcome: ") + outcomeText(session.lastOutcome));
    }
    return session.lastOutcome == InstallOutcome::Installed ||
           session.lastOutcome == InstallOutcome::InstalledWithFailedSteps;
}

}  // namespace

bool runInstallation(InstallSession& session, InstallDisplay& display, InstallTarget& target, ArchiveSource source)
{
    return installWith(session, &display, target, std::move(source));
}

bool runInstallationWithoutWindow(InstallSession& session)
{
    InstallTarget target;
    return installWith(session, nullptr, target, openPayloadArchive);
}

}  // namespace qv
