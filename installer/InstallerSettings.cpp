// The shipped installer: the wizard's frame, the security layer's own
// administrator test, the system's answer on the processor, the progress
// window of /S and the installation without any window of /VERYSILENT.
#include "app/StartUp.h"
#include "wizard/WizardFrame.h"
#include "engine/InstallRun.h"
#include "engine/InstallSequence.h"

namespace qv {

StartUpSettings installerSettings()
{
    return StartUpSettings{&createInstallDlg, nullptr, nullptr, &createProgressDlg, &runInstallationWithoutWindow};
}

}  // namespace qv
