#pragma once
// Classes in this file:
//   CDlgPath   the installation folder of an advanced installation; read-only
//              when an installation of the product was found

#include "wizard/WizardPage.h"

#include <string>

namespace qv {

class CDlgPath : public CWizardPage {
public:
    explicit CDlgPath(InstallSession& session);

    void RefreshTexts() override;
    void StretchControls(int dx, int dy) override;

protected:
    void DoDataExchange(DataExchange& dx) override;
    BOOL OnInitDialog() override;
    bool OnCommand(WPARAM wParam, LPARAM lParam) override;

private:
    void onBrowse();

    std::wstring folderText;  // the folder as the edit box shows it
};

}  // namespace qv
