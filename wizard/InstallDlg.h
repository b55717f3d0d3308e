#pragma once
// Classes in this file:
//   CInstallDlg   the wizard frame: the side picture, the page area with the
//                 six pages, the Back, Next and Exit buttons; the page order,
//                 the quick-mode skipping, the button rules and labels, the
//                 exit confirmation, the About entry of the system menu, and
//                 its pictures and icons for the DPI of the screen it is on
// Functions:
//   aboutEntryText   the system-menu entry of the About box

#include "wizard/DlgEnd.h"
#include "wizard/DlgInstall.h"
#include "wizard/DlgMode.h"
#include "wizard/DlgPath.h"
#include "wizard/DlgShortcut.h"
#include "wizard/DlgStart.h"
#include "wizard/FrameArtwork.h"

#include <array>
#include <string>

namespace qv {

struct InstallSession;

// String 1003 with %1 = string 1000; left to right: "&" before and "..."
// after it (&About 'Installer'...); right to left: "..." before it and no
// mnemonic. Empty when string 1003 is empty.
std::wstring aboutEntryText(bool rightToLeft);

class CInstallDlg : public CDialog {
public:
    enum PageIndex { PageStart, PageMode, PagePath, PageShortcut, PageInstall, PageEnd, PageCount };

    // The pages are constructed with the frame; no window exists yet.
    explicit CInstallDlg(InstallSession& session);

    // Makes page n the current page, or the page a quick installation shows
    // instead; false when the current page refuses to be left.
    bool ShowPage(int n);
    // The caption, the About entry, the buttons and every page.
    void RefreshTexts() override;
    void UpdateButtonLabels();

    int currentPageIndex() const noexcept { return currentPage; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;      // Next, or Install on the install page
    void OnCancel() override;  // Exit or Cancel, Escape, the Close command
    bool OnCommand(WPARAM wParam, LPARAM lParam) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void layoutPages();
    RECT controlRect(int id) const noexcept;
    void adjustControl(int id, int moveX, int moveY, int growX, int growY) noexcept;
    void setAboutEntry(bool append);
    // The side picture, the window's icons and the pages' pictures for dpi.
    void followDpi(UINT dpi);

    InstallSession& session_;
    CDlgStart start_;
    CDlgMode mode_;
    CDlgPath path_;
    CDlgShortcut shortcut_;
    CDlgInstall install_;
    CDlgEnd end_;
    std::array<CWizardPage*, PageCount> pages;
    int currentPage = -1;
    FrameArtwork artwork;
};

}  // namespace qv
