#include "wizard/DlgEnd.h"

#include "engine/InstallSession.h"
#include "framework/DataExchange.h"
#include "resources/resource.h"

namespace qv {

CDlgEnd::CDlgEnd(InstallSession& session) : CWizardPage(IDD_PAGE_END, session) {}

void CDlgEnd::DoDataExchange(DataExchange& dx)
{
    if (!dx.saveAndValidate && session().installed) SetDlgItemText(IDC_INFO, text(IDS_INSTALL_COMPLETE));
}

void CDlgEnd::RefreshTexts()
{
    // The closing text is set again when the page is shown.
    SetDlgItemText(IDC_INFO, L"");
    SetDlgItemText(IDC_STATUS, text(IDS_CLICK_EXIT, text(IDS_EXIT)));
}

void CDlgEnd::StretchControls(int dx, int dy)
{
    adjustControl(IDC_INFO, 0, 0, dx, dy);
    adjustControl(IDC_STATUS, 0, dy, dx, 0);
}

}  // namespace qv
