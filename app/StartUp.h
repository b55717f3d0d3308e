#pragma once
// The installer's start-up: the checks made by the program's static
// initialisation, and the start-up routine that CInstallApp::InitInstance
// runs, from the installer mutex to the wizard.
//
// The static initialisation runs, in this order (installer/InstallerMain.cpp):
//   restrictDllSearch, checkProcessor, initializeModule, initializeApplication,
//   installDefaultUiHooks (UiHooks.h), the construction of the application
//   object. The three middle ones run once per process even if called again.

#include "engine/RunPoints.h"

#include <windows.h>

#include <memory>
#include <string>

namespace qv {

class CDialog;
class CInstallApp;
struct InstallSession;

// Limits the search for DLLs that are loaded by name to the system folder:
// an installer is started from download folders, where a planted DLL could
// wait beside it.
void restrictDllSearch() noexcept;

// Set by the load-time processor check; start-up refuses to run without it.
extern bool processorChecked;

// Without SSE2: a message box without owner, with the system's default
// caption and the error icon, showing incompatibleProcessorText, then the
// process ends at once with exit code 1. Otherwise sets processorChecked.
// The system answers whether the processor has SSE2 unless hasSse2 is given
// (StartUpSettings).
void checkProcessor(bool (*hasSse2)() = nullptr);
// The message in English, French and German.
std::wstring incompatibleProcessorText();

// Error mode without the critical-error and open-file boxes; the C++
// runtime's global locale from the user's default locale when the runtime
// knows its name (the classic locale otherwise). A failure shows
// "Initialization Error" and ends the process with exit code -11.
void initializeModule();

// The maker's folders and Documents, the common-controls check (version 6 or
// later), the common-control classes, applicationId, this process's unit in
// the running-instance count and the COM error handler. A failure shows
// "Initialization Error" and ends the process with exit code -11.
void initializeApplication();

// What the application initialisation found (nothing is created).
struct MakerFolders {
    std::wstring commonData;  // <all users' application data>\Orvane Systems
    std::wstring userData;    // <user's roaming application data>\Orvane Systems
    std::wstring documents;   // the user's Documents, where the folder browser starts
};
const MakerFolders& makerFolders();

// The default installation folder, <32-bit program files>\Orvane Systems
// \<productFolderName>. Should the system not tell the program-files folder,
// <system drive>\Program Files stands in: a relative path would install below
// whatever the current folder happens to be.
std::wstring defaultInstallPath();
// The default Start-menu folder, <all users' programs>\Orvane Systems
// \<productFolderName>, else the same below the user's programs; empty when
// the system tells neither.
std::wstring defaultStartMenuFolder();
// The Programs folder of the all-users Start menu, else the user's own;
// empty when the system tells neither.
std::wstring startMenuProgramsFolder();

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
};

// The start-up routine; always returns false, so that the framework ends the
// process without a message loop.
//
// It first reads the command line (app/CommandLine.h). Without arguments it
// runs exactly as it always did. With switches it also opens the run's log
// file (/LOG) before anything else, answers every question of a silent run
// itself, and leaves the run's exit code (app/ExitCodes.h) in the session.
bool startUp(CInstallApp& app, const StartUpSettings& settings);

}  // namespace qv
