#pragma once
// Classes in this file:
//   InstallState    what start-up found installed
//   InstallOutcome  how the last install sequence of the process ended
//   InstallSession  the plain record of one installer session: what start-up
//                   found on the machine, what the user or the switches
//                   chose, and what the install sequence reports back
//
// Start-up fills the record, the wizard pages change it, the install
// sequence reads it. The application object (app/InstallApp.h) is such a
// record; tests build one on its own, without a window framework.
//
// There is no locking: every reader and writer runs on one thread.

#include "engine/RunPoints.h"
#include "identity/InstanceObjects.h"
#include "identity/Product.h"
#include "sys/LogFile.h"
#include "uninstall/UninstallLog.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qv {

// The values are stored and compared as numbers elsewhere, so they are fixed.
enum class InstallState : std::int32_t {
    NotInstalled = 0,  // no installed program was found
    SameVersion = 1,   // version 6.4.0.2, or no readable version: a reinstallation
    OlderVersion = 2,  // older than 6.4.0.2: an update
    NewerVersion = -1, // newer than 6.4.0.2: the wizard only informs
};

enum class InstallOutcome {
    NotRun,
    Installed,
    InstalledWithFailedSteps,  // every file is in place; a later step failed
    FailedRolledBack,          // nothing of the run remains installed
    FailedPartlyRolledBack,    // failed, and not everything could be put back: the next start tries again
    RefusedUnfinishedRun,      // not started: an earlier run that did not end must be finished first
};

struct InstallSession {
    InstallSession() = default;
    InstallSession(const InstallSession&) = delete;
    InstallSession& operator=(const InstallSession&) = delete;
    virtual ~InstallSession() = default;

    // installState; for OlderVersion and NewerVersion, previousVersionText is
    // also copied into *versionText when it is given.
    InstallState getInstallState(std::wstring* versionText) const
    {
        if (versionText &&
            (installState == InstallState::OlderVersion || installState == InstallState::NewerVersion))
            *versionText = previousVersionText;
        return installState;
    }

    InstallState installState = InstallState::NotInstalled;
    // displayLabel of the installed program (Trimora 6.03); only for
    // OlderVersion and NewerVersion.
    std::wstring previousVersionText;
    // File version of the installed program (MS word × 2^32 + LS word); only
    // for OlderVersion, 0 otherwise.
    std::uint64_t previousVersion = 0;
    // The installers' global mutex, created not owned; start-up takes it,
    // the install sequence lends it to the registration run.
    NamedMutex instanceMutex{instanceMutexName(applicationId()), false, true};
    // Installation folder of this run, without trailing separator.
    std::wstring installPath;
    // Full path of the Start-menu folder that receives the shortcuts.
    std::wstring startMenuFolder;
    // The run's temporary folder, the value of <Temporary>.
    std::wstring tempFolder;
    // Start-up sets the three options together to true, true, false.
    bool createStartMenuShortcut = false;
    bool createDesktopShortcut = false;
    bool advancedMode = false;
    // The run's journal, preloaded by start-up from an earlier installation.
    UninstallLog uninstallLog;
    // The install sequence of this run has succeeded; never goes back to false.
    bool installed = false;
    // Start-up found an earlier run that did not end and could not finish
    // it yet: no installation can start, and the start page says so.
    bool unfinishedRunInTheWay = false;

    // --- what a run started with a switch adds ----------------------------
    // /NOSAMPLES: the sample documents stay out.
    bool noSamples = false;
    // /LOG: the run's log file, open before anything changes.
    std::unique_ptr<LogFile> runLog;
    // Called by the install sequence at each RunPoint; only a test build of
    // the installer sets one.
    RunPointHook atRunPoint = nullptr;
    InstallOutcome lastOutcome = InstallOutcome::NotRun;
};

}  // namespace qv
