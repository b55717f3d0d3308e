#pragma once
// Classes in this file:
//   CInstallApp   the installer's application object: the session record
//                 (engine/InstallSession.h) that start-up fills, the wizard
//                 pages change and the install sequence reads, plus what the
//                 process itself needs (its switches, start-up settings,
//                 exit code)
// Functions:
//   installApp        the process's application object
//   refreshAppTitle   renews the application's name after a language change

#include "app/CommandLine.h"
#include "app/StartUp.h"
#include "engine/InstallSession.h"
#include "framework/WinApp.h"

#include <optional>
#include <string>

namespace qv {

class CInstallApp : public CWinApp, public InstallSession {
public:
    // Installs the window-icon hook (icon 128 of the executable); the
    // session's mutex is created, not owned. The settings choose the wizard
    // frame that start-up runs.
    explicit CInstallApp(StartUpSettings settings = {});
    // Releases instanceMutex if owned; uninstallLog goes without touching a file.
    ~CInstallApp() override;

    // Start-up (app/StartUp.cpp); always false: the process then ends.
    bool InitInstance() override;
    // exitCode when start-up set one, else the framework's own code.
    int ExitInstance() override;

    StartUpSettings startUpSettings;

    // --- runs started with a switch ---------------------------------------
    // The switches of this run; start-up reads them first.
    CommandLineOptions options;
    // The process's exit code, set by start-up only for a run started with
    // a switch: a run without arguments ends as the framework ends it.
    std::optional<int> exitCode;
};

// The process's application object, or null outside its lifetime.
CInstallApp* installApp() noexcept;

// Rebuilds the title (buildAppTitle) and makes it the application's name,
// the caption of its message boxes. Does nothing before the application
// object exists.
void refreshAppTitle();

}  // namespace qv
