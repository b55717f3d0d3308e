#include "engine/InstallRun.h"
#include "wizard/ProgressDlg.h"

#include "engine/InstallSession.h"
#include "app/UiHooks.h"
#include "framework/UnhandledException.h"
#include "resources/resource.h"
#include "sys/Dpi.h"

namespace qv {
namespace {

// Posted to itself from its initialisation: the installation starts from
// the modal window's own loop, once the window exists.
constexpr UINT startInstallation = WM_APP + 1;

}  // namespace

CProgressDlg::CProgressDlg(InstallSession& session) : CDialog(IDD_PROGRESS), session_(session), page_(session) {}

BOOL CProgressDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetWindowText(buildAppTitle());
    HICON icon = uiHooks().windowIconHook ? uiHooks().windowIconHook() : nullptr;
    if (icon) ::SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    // At 96 DPI the template's picture and the application's icon stay.
    artwork_.attach(hwnd());
    if (const UINT dpi = windowDpi(hwnd()); dpi != kDefaultDpi) artwork_.follow(dpi);

    page_.Create(IDD_PAGE_INSTALL, this);
    placePage();
    page_.RefreshTexts();
    page_.ShowWindow(SW_SHOW);
    ::PostMessageW(hwnd(), startInstallation, 0, 0);
    return TRUE;
}

// The page fills the area right of the side panel; the template makes that
// area at least as large as the page.
void CProgressDlg::placePage()
{
    RECT area{};
    ::GetClientRect(hwnd(), &area);
    if (HWND panel = GetDlgItem(IDC_SIDE_PANEL)) {
        RECT r{};
        ::GetWindowRect(panel, &r);
        ::MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&r), 2);
        area.left = r.right;
    }
    RECT page{};
    ::GetWindowRect(page_.hwnd(), &page);
    const int dx = (area.right - area.left) - (page.right - page.left);
    const int dy = (area.bottom - area.top) - (page.bottom - page.top);
    ::SetWindowPos(page_.hwnd(), nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    page_.StretchControls(dx > 0 ? dx : 0, dy > 0 ? dy : 0);
}

void CProgressDlg::install()
{
    // A modal dialog shows itself once its loop finds the queue empty; this
    // message comes first, and the installation keeps the queue busy.
    ::ShowWindow(hwnd(), SW_SHOW);
    ::UpdateWindow(hwnd());
    bool installed = false;
    try {
        installed = page_.runInstallation();
    } catch (...) {
        // Reported (in a silent run: logged), and the window closes all the
        // same: nobody is there to close it.
        reportUnhandledException();
    }
    if (installed) session_.installed = true;
    EndDialog(installed ? 1 : 2);
}

LRESULT CProgressDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == startInstallation) {
        install();
        return 0;
    }
    if (message == WM_DPICHANGED) {
        // Per-monitor aware (v2): Windows' dialog manager scales the controls
        // and their fonts; the window takes its new place, its pictures follow.
        const LRESULT result = CDialog::WindowProc(message, wParam, lParam);
        artwork_.follow(artwork_.acceptDpiChange(wParam, lParam));
        return result;
    }
    if (message == WM_SETCURSOR && page_.isBusy()) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
    }
    return CDialog::WindowProc(message, wParam, lParam);
}

}  // namespace qv
