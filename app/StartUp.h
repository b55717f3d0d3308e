#pragma once
// The installer's start-up: the routine that CInstallApp::InitInstance runs,
// from the installer mutex to the wizard, and the settings an executable
// gives it. What the program's static initialisation does before it is
// app/ProcessSetup.h; the default folders are app/DefaultFolders.h.

#include "engine/RunPoints.h"

#include <windows.h>

#include <memory>
#include <string>

namespace qv {

class CDialog;
class CInstallApp;
struct InstallSession;

// The wizard frame that start-up runs; the executable that links the wizard
// provides it.
using WizardFrameFactory = std::unique_ptr<CDialog> (*)(InstallSession&);

struct StartUpSettings {
    // Null: start-up fills the session and returns before the wizard.
    WizardFrameFactory createWizardFrame = nullptr;
    // The administrator test of the security layer. Only a test build of the
    // installer puts another answer here.
    bool (*isAdministrator)() = nullptr;
    // Whether the processor has SSE2, asked by the processor check before
    // anything else runs; null: the system's answer. Only a test build of
    // the installer puts another answer here.
    bool (*processorHasSse2)() = nullptr;
    // /S: the window that shows the install page alone, installs at once
    // and closes itself when done; it sets the session's installed.
    WizardFrameFactory createProgressFrame = nullptr;
    // /VERYSILENT: the installation without any window; true when installed.
    bool (*installWithoutWindow)(InstallSession&) = nullptr;
    // Called by the install sequence at each RunPoint. Only a test build of
    // the installer puts one here (to end the process there).
    RunPointHook atRunPoint = nullptr;
    // Whether a window of this process can be seen (sys/InteractiveDesktop.h);
    // null: the system's answer. Only a test build of the installer puts
    // another answer here.
    bool (*hasInteractiveDesktop)() = nullptr;
};

// The start-up routine; always returns false, so that the framework ends the
// process without a message loop.
//
// It first reads the command line (app/CommandLine.h). Without arguments it
// runs exactly as it always did on an interactive desktop. With switches it
// also opens the run's log file (/LOG, else for a silent run the default log
// of app/DefaultLog.h) before anything else, answers every question of a
// silent run itself, and leaves the run's exit code (app/ExitCodes.h) in the
// session. Where nobody can see a window (hasInteractiveDesktop), a run
// without a silent switch, with or without arguments, shows none: it logs
// why in the default log and ends with ExitBadCommandLine.
bool startUp(CInstallApp& app, const StartUpSettings& settings);

}  // namespace qv
