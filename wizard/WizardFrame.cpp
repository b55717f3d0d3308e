// The wizard frame that start-up runs (app/WizardFrame.h).
#include "app/WizardFrame.h"

#include "wizard/InstallDlg.h"
#include "wizard/ProgressDlg.h"

namespace qv {

std::unique_ptr<CDialog> createInstallDlg(CInstallApp& app)
{
    return std::make_unique<CInstallDlg>(app);
}

std::unique_ptr<CDialog> createProgressDlg(CInstallApp& app)
{
    return std::make_unique<CProgressDlg>(app);
}

}  // namespace qv
