#pragma once
// The one function the installer executable needs from the wizard (wizard/):
// start-up constructs the frame through it, makes it the main window and runs
// it modally (app/StartUp.h, StartUpSettings::createWizardFrame).

#include <memory>

namespace qv {

class CDialog;
class CInstallApp;

// Constructs CInstallDlg for the application's session; no window exists yet.
std::unique_ptr<CDialog> createInstallDlg(CInstallApp& app);

}  // namespace qv
