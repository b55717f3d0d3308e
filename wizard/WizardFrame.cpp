// The wizard frame that start-up runs (wizard/WizardFrame.h).
#include "wizard/WizardFrame.h"

#include "wizard/InstallDlg.h"
#include "wizard/ProgressDlg.h"

namespace qv {

std::unique_ptr<CDialog> createInstallDlg(InstallSession& session)
{
    return std::make_unique<CInstallDlg>(session);
}

std::unique_ptr<CDialog> createProgressDlg(InstallSession& session)
{
    return std::make_unique<CProgressDlg>(session);
}

}  // namespace qv
