#include "wizard/DlgPath.h"

#include "engine/InstallSession.h"
#include "identity/Product.h"
#include "framework/DataExchange.h"
#include "resources/resource.h"
#include "wizard/FolderBrowser.h"

namespace qv {

CDlgPath::CDlgPath(InstallSession& session) : CWizardPage(IDD_PAGE_PATH, session) {}

BOOL CDlgPath::OnInitDialog()
{
    BOOL result = CWizardPage::OnInitDialog();
    // An update or a reinstallation goes where the installed product is.
    if (session().installState != InstallState::NotInstalled) {
        EnableDlgItem(IDC_FOLDER_PROMPT, false);
        EnableDlgItem(IDC_BROWSE, false);
        ::SendMessageW(GetDlgItem(IDC_FOLDER), EM_SETREADONLY, TRUE, 0);
    }
    return result;
}

void CDlgPath::DoDataExchange(DataExchange& dx)
{
    if (!dx.saveAndValidate) folderText = session().installPath;
    ddxText(dx, IDC_FOLDER, folderText);
    ddvMaxChars(dx, folderText, MAX_PATH);
    if (dx.saveAndValidate) session().installPath = folderText;
}

bool CDlgPath::OnCommand(WPARAM wParam, LPARAM lParam)
{
    if (LOWORD(wParam) == IDC_BROWSE && HIWORD(wParam) == BN_CLICKED) {
        onBrowse();
        return true;
    }
    return CWizardPage::OnCommand(wParam, lParam);
}

void CDlgPath::onBrowse()
{
    save();  // a typed folder is where the browser starts
    FolderBrowser browser;
    std::wstring chosen =
        browser.Browse(session().installPath, productFolderName(), text(IDS_PATH_PROMPT, productLabel(true)));
    if (chosen.empty()) return;
    session().installPath = chosen;
    load();
}

void CDlgPath::RefreshTexts()
{
    SetDlgItemText(IDC_FOLDER_GROUP, text(IDS_PATH_TITLE));
    SetDlgItemText(IDC_FOLDER_PROMPT, text(IDS_PATH_PROMPT, productLabel(true)));
    SetDlgItemText(IDC_BROWSE, text(IDS_BROWSE));
    SetDlgItemText(IDC_STATUS, text(IDS_CLICK_CONTINUE, text(IDS_NEXT)));
}

void CDlgPath::StretchControls(int dx, int dy)
{
    adjustControl(IDC_FOLDER_GROUP, 0, 0, dx, 0);
    adjustControl(IDC_FOLDER_PROMPT, 0, 0, dx, 0);
    adjustControl(IDC_FOLDER, 0, 0, dx, 0);
    adjustControl(IDC_BROWSE, dx, 0, 0, 0);
    adjustControl(IDC_STATUS, 0, dy, dx, 0);
}

}  // namespace qv
