#include "wizard/DlgMode.h"

#include "engine/InstallSession.h"
#include "framework/DataExchange.h"
#include "resources/resource.h"

namespace qv {

CDlgMode::CDlgMode(InstallSession& session) : CWizardPage(IDD_PAGE_MODE, session) {}

void CDlgMode::DoDataExchange(DataExchange& dx)
{
    if (!dx.saveAndValidate) modeIndex = session().advancedMode ? 1 : 0;
    ddxRadio(dx, IDC_MODE_QUICK, modeIndex);
    if (dx.saveAndValidate) session().advancedMode = modeIndex == 1;
}

void CDlgMode::RefreshTexts()
{
    SetDlgItemText(IDC_MODE_GROUP, text(IDS_MODE_TITLE));
    SetDlgItemText(IDC_MODE_QUICK, text(IDS_MODE_QUICK));
    SetDlgItemText(IDC_MODE_ADVANCED, text(IDS_MODE_ADVANCED));
    SetDlgItemText(IDC_STATUS, text(IDS_CLICK_CONTINUE, text(IDS_NEXT)));
}

void CDlgMode::StretchControls(int dx, int dy)
{
    adjustControl(IDC_MODE_GROUP, 0, 0, dx, 0);
    adjustControl(IDC_MODE_QUICK, 0, 0, dx, 0);
    adjustControl(IDC_MODE_ADVANCED, 0, 0, dx, 0);
    adjustControl(IDC_STATUS, 0, dy, dx, 0);
}

}  // namespace qv
