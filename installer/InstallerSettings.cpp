// The shipped installer: the wizard's frame and the security layer's own
// administrator test.
#include "app/StartUp.h"
#include "app/WizardFrame.h"

namespace qv {

StartUpSettings installerSettings()
{
    return StartUpSettings{&createInstallDlg, nullptr};
}

}  // namespace qv
