#pragma once
// Classes in this file:
//   CProgressDlg   the window of a run with /S: the side picture and the
//                  install page alone, whose log and progress bar follow the
//                  installation; it starts the installation as soon as it is
//                  shown, asks nothing, cannot be closed meanwhile and closes
//                  itself when the installation has ended; its pictures
//                  follow the DPI of its screen as the wizard's do

#include "framework/Dialog.h"
#include "wizard/DlgInstall.h"
#include "wizard/FrameArtwork.h"

namespace qv {

struct InstallSession;

class CProgressDlg : public CDialog {
public:
    explicit CProgressDlg(InstallSession& session);

protected:
    BOOL OnInitDialog() override;
    // Neither Enter nor Escape, Alt+F4 nor the end of a session stops an
    // installation half-way: the run ends when the installation does.
    void OnOK() override {}
    void OnCancel() override {}
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void placePage();
    void install();

    InstallSession& session_;
    CDlgInstall page_;
    FrameArtwork artwork_;
};

}  // namespace qv
