#pragma once
// What the installer executable needs from the wizard (wizard/): start-up
// constructs the frame through it, makes it the main window and runs it
// modally (app/StartUp.h, StartUpSettings::createWizardFrame); a run with /S
// runs the progress window instead (createProgressFrame).

#include <memory>

namespace qv {

class CDialog;
struct InstallSession;

// Constructs CInstallDlg for the application's session; no window exists yet.
std::unique_ptr<CDialog> createInstallDlg(InstallSession& session);

// Constructs CProgressDlg, the install page alone, for a run with /S.
std::unique_ptr<CDialog> createProgressDlg(InstallSession& session);

}  // namespace qv
