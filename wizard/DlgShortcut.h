#pragma once
// Classes in this file:
//   CDlgShortcut   the shortcuts of an advanced installation: one in a
//                  Start-menu folder (chosen with Browse only) and one on the
//                  desktop
// Functions:
//   startMenuFolderText   the Start-menu folder as the page shows it
//   startMenuFolderPath   and back

#include "wizard/WizardPage.h"

#include <string>

namespace qv {

// folder relative to root: empty for root itself, the full path when there is
// no relative one.
std::wstring startMenuFolderText(const std::wstring& folder, const std::wstring& root);
// root combined with the text; an empty text gives root itself.
std::wstring startMenuFolderPath(const std::wstring& root, const std::wstring& text);

class CDlgShortcut : public CWizardPage {
public:
    explicit CDlgShortcut(InstallSession& session);

    void RefreshTexts() override;
    void StretchControls(int dx, int dy) override;

protected:
    void DoDataExchange(DataExchange& dx) override;
    BOOL OnInitDialog() override;
    bool OnCommand(WPARAM wParam, LPARAM lParam) override;

private:
    void onBrowse();
    void onMenuCheck();

    int desktopCheck = 0;
    int startMenuCheck = 0;
    std::wstring folderText;     // relative to startMenuRoot
    std::wstring startMenuRoot;  // full path of the Start Menu folder
};

}  // namespace qv
