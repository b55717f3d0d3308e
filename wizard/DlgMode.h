#pragma once
// Classes in this file:
//   CDlgMode   the second page: quick installation (the default folders and
//              shortcuts) or advanced (the Path and Shortcut pages follow)

#include "wizard/WizardPage.h"

namespace qv {

class CDlgMode : public CWizardPage {
public:
    explicit CDlgMode(InstallSession& session);

    void RefreshTexts() override;
    void StretchControls(int dx, int dy) override;

protected:
    void DoDataExchange(DataExchange& dx) override;

private:
    int modeIndex = -1;  // 0 quick, 1 advanced, -1 none checked
};

}  // namespace qv
