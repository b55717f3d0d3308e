#include "wizard/DlgShortcut.h"

#include "engine/InstallSession.h"
#include "identity/Product.h"
#include "framework/DataExchange.h"
#include "resources/resource.h"
#include "wizard/FolderBrowser.h"
#include "sys/ShellFolders.h"

#include <shlobj.h>
#include <shlwapi.h>

namespace qv {

std::wstring startMenuFolderText(const std::wstring& folder, const std::wstring& root)
{
    if (auto relative = relativeFolder(folder, root)) return *relative;
    return folder;
}

std::wstring startMenuFolderPath(const std::wstring& root, const std::wstring& text)
{
    if (text.empty()) return root;
    wchar_t combined[MAX_PATH]{};
    if (!::PathCombineW(combined, root.c_str(), text.c_str())) return text;
    std::wstring result = combined;
    while (result.size() > 3 && result.back() == L'\\') result.pop_back();
    return result;
}

CDlgShortcut::CDlgShortcut(InstallSession& session) : CWizardPage(IDD_PAGE_SHORTCUT, session) {}

BOOL CDlgShortcut::OnInitDialog()
{
    startMenuRoot = specialFolder(CSIDL_COMMON_STARTMENU);
    if (startMenuRoot.empty()) startMenuRoot = specialFolder(CSIDL_STARTMENU);
    BOOL result = CWizardPage::OnInitDialog();
    onMenuCheck();
    return result;
}

void CDlgShortcut::DoDataExchange(DataExchange& dx)
{
    if (!dx.saveAndValidate) {
        desktopCheck = session().createDesktopShortcut ? 1 : 0;
        startMenuCheck = session().createStartMenuShortcut ? 1 : 0;
        folderText = startMenuFolderText(session().startMenuFolder, startMenuRoot);
    }
    ddxCheck(dx, IDC_DESKTOP_SHORTCUT, desktopCheck);
    ddxCheck(dx, IDC_MENU_SHORTCUT, startMenuCheck);
    ddxText(dx, IDC_FOLDER, folderText);
    ddvMaxChars(dx, folderText, MAX_PATH);
    if (dx.saveAndValidate) {
        session().createDesktopShortcut = desktopCheck != 0;
        session().createStartMenuShortcut = startMenuCheck != 0;
        session().startMenuFolder = startMenuFolderPath(startMenuRoot, folderText);
    } else {
        onMenuCheck();
    }
}

bool CDlgShortcut::OnCommand(WPARAM wParam, LPARAM lParam)
{
    if (HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
        case IDC_BROWSE:
            onBrowse();
            return true;
        case IDC_MENU_SHORTCUT:
            onMenuCheck();
            return true;
        default:
            break;
        }
    }
    return CWizardPage::OnCommand(wParam, lParam);
}

// Without a Start-menu shortcut its folder cannot be chosen, but it is kept.
void CDlgShortcut::onMenuCheck()
{
    const bool checked = ::IsDlgButtonChecked(hwnd(), IDC_MENU_SHORTCUT) == BST_CHECKED;
    EnableDlgItem(IDC_FOLDER, checked);
    EnableDlgItem(IDC_BROWSE, checked);
}

void CDlgShortcut::onBrowse()
{
    save();
    FolderBrowser browser;
    auto [full, relative] =
        browser.BrowseStartMenu(session().startMenuFolder, productFolderName(), text(IDS_SHORTCUT_MENU));
    if (full.empty()) return;
    folderText = relative;
    session().startMenuFolder = full;
    load();
}

void CDlgShortcut::RefreshTexts()
{
    SetDlgItemText(IDC_MENU_GROUP, text(IDS_START_MENU));
    SetDlgItemText(IDC_MENU_SHORTCUT, text(IDS_SHORTCUT_MENU));
    SetDlgItemText(IDC_BROWSE, text(IDS_BROWSE));
    SetDlgItemText(IDC_DESKTOP_SHORTCUT, text(IDS_SHORTCUT_DESKTOP));
    SetDlgItemText(IDC_STATUS, text(IDS_CLICK_CONTINUE, text(IDS_NEXT)));
}

void CDlgShortcut::StretchControls(int dx, int dy)
{
    adjustControl(IDC_MENU_GROUP, 0, 0, dx, 0);
    adjustControl(IDC_MENU_SHORTCUT, 0, 0, dx, 0);
    adjustControl(IDC_FOLDER, 0, 0, dx, 0);
    adjustControl(IDC_BROWSE, dx, 0, 0, 0);
    adjustControl(IDC_DESKTOP_SHORTCUT, 0, 0, dx, 0);
    adjustControl(IDC_STATUS, 0, dy, dx, 0);
}

}  // namespace qv
