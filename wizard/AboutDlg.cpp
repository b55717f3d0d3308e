#include "wizard/AboutDlg.h"

#include "lang/LocalizedStrings.h"
#include "sys/TextFormat.h"
#include "resources/resource.h"
#include "identity/VersionLabel.h"
#include "sys/VersionInfo.h"

namespace qv {

CAboutDlg::CAboutDlg(CWnd* parent) : CDialog(IDD_ABOUT, parent) {}

BOOL CAboutDlg::OnInitDialog()
{
    BOOL result = CDialog::OnInitDialog();

    std::wstring pattern = loadLocalizedString(IDS_ABOUT);
    if (pattern.empty()) pattern = GetWindowText();
    SetWindowText(formatText(pattern, {loadLocalizedString(IDS_APP_TITLE)}));

    const VersionInfo& self = VersionInfo::ofSelf();
    std::wstring label = displayLabel(self);
    if (!label.empty()) SetDlgItemText(IDC_ABOUT_VERSION, label);
    std::wstring copyright = self.stringValue(L"LegalCopyright");
    if (!copyright.empty()) SetDlgItemText(IDC_ABOUT_COPYRIGHT, copyright);

    SetDlgItemText(IDOK, loadLocalizedString(IDS_OK));
    return result;
}

}  // namespace qv
