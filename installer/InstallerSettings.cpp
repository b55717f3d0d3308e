// The shipped installer: the wizard's frame, the progress window of /S, the
// installation without any window of /VERYSILENT, and the security layer's
// own administrator test.
#include "app/StartUp.h"
#include "app/WizardFrame.h"
#include "engine/InstallSequence.h"

namespace qv {

StartUpSettings installerSettings()
{
    return StartUpSettings{&createInstallDlg, nullptr, &createProgressDlg, &runInstallationWithoutWindow};
}

}  // namespace qv
