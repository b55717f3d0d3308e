#pragma once
// Classes in this file:
//   CAboutDlg   the About box of the system menu: the installer's version
//               label, its copyright and the publisher's contact lines

#include "framework/Dialog.h"

namespace qv {

class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(CWnd* parent = nullptr);

protected:
    BOOL OnInitDialog() override;
};

}  // namespace qv
