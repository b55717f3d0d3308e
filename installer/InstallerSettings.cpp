// The shipped installer: the wizard's frame, the security layer's own
// administrator test and the system's answer on the processor.
#include "app/StartUp.h"
#include "app/WizardFrame.h"

namespace qv {

StartUpSettings installerSettings()
{
    return StartUpSettings{&createInstallDlg, nullptr, nullptr};
}

}  // namespace qv
