#pragma once
// Classes in this file:
//   CDlgEnd   the last page, shown after a successful installation

#include "wizard/WizardPage.h"

namespace qv {

class CDlgEnd : public CWizardPage {
public:
    explicit CDlgEnd(InstallSession& session);

    void RefreshTexts() override;
    void StretchControls(int dx, int dy) override;

protected:
    void DoDataExchange(DataExchange& dx) override;
};

}  // namespace qv
