#pragma once
// Functions in this file:
//   runInstallation              one install run, for the install page
//   runInstallationWithoutWindow one install run without any window
//
// A run is one InstallSequence over the payload; with a run log (/LOG)
// every report, every journal action and the outcome also go into the log
// file, and the session's lastOutcome says how it ended.

#include "engine/InstallDisplay.h"
#include "engine/InstallSequence.h"
#include "engine/InstallSession.h"

namespace qv {

// The install page's runInstallation: a sequence over the payload resource
// (or source). Sets the session's lastOutcome; with a run log (/LOG) every
// report, every journal action and the outcome also go into the log file.
bool runInstallation(InstallSession& session, InstallDisplay& display, InstallTarget& target,
                     ArchiveSource source = openPayloadArchive);

// The same without any window (/VERYSILENT): reports go only to the run log.
bool runInstallationWithoutWindow(InstallSession& session);

}  // namespace qv
