#include "engine/InstallRun.h"
#include "wizard/InstallDlg.h"

#include "engine/InstallSession.h"
#include "framework/WinApp.h"
#include "lang/Languages.h"
#include "lang/LocalizedStrings.h"
#include "app/UiHooks.h"
#include "sys/TextFormat.h"
#include "resources/resource.h"
#include "sys/Dpi.h"
#include "wizard/AboutDlg.h"
#include "sys/MessageBoxGate.h"

namespace qv {

std::wstring aboutEntryText(bool rightToLeft)
{
    std::wstring pattern = loadLocalizedString(IDS_ABOUT);
    if (pattern.empty()) return {};
    std::wstring entry = formatText(pattern, {loadLocalizedString(IDS_APP_TITLE)});
    return rightToLeft ? L"..." + entry : L"&" + entry + L"...";
}

CInstallDlg::CInstallDlg(InstallSession& session)
    : CDialog(IDD_INSTALL),
      session_(session),
      start_(session),
      mode_(session),
      path_(session),
      shortcut_(session),
      install_(session),
      end_(session),
      pages{&start_, &mode_, &path_, &shortcut_, &install_, &end_}
{
}

BOOL CInstallDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetWindowText(buildAppTitle());

    setAboutEntry(true);
    if (HMENU system = ::GetSystemMenu(hwnd(), FALSE)) {
        ::DeleteMenu(system, SC_SIZE, MF_BYCOMMAND);
        ::DeleteMenu(system, SC_MAXIMIZE, MF_BYCOMMAND);
    }

    HICON icon = uiHooks().windowIconHook ? uiHooks().windowIconHook() : nullptr;
    if (icon) ::SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));

    for (CWizardPage* page : pages) page->Create(page->templateId(), this);
    layoutPages();
    // At 96 DPI the template's picture and the application's icon stay.
    artwork.attach(hwnd());
    if (const UINT dpi = windowDpi(hwnd()); dpi != kDefaultDpi) followDpi(dpi);
    RefreshTexts();
    ShowPage(PageStart);

    if (session_.installState == InstallState::NewerVersion) {
        // Only informs: Exit is the one way on.
        EnableDlgItem(IDOK, false);
        SetDefID(IDCANCEL);
        GotoDlgCtrl(GetDlgItem(IDCANCEL));
    }
    return FALSE;  // the focus is set
}

RECT CInstallDlg::controlRect(int id) const noexcept
{
    RECT r{};
    if (HWND control = GetDlgItem(id)) {
        ::GetWindowRect(control, &r);
        ::MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&r), 2);
    }
    return r;
}

void CInstallDlg::adjustControl(int id, int moveX, int moveY, int growX, int growY) noexcept
{
    HWND control = GetDlgItem(id);
    if (!control) return;
    RECT r = controlRect(id);
    ::SetWindowPos(control, nullptr, r.left + moveX, r.top + moveY, r.right - r.left + growX,
                   r.bottom - r.top + growY, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
}

// The page area lies right of the side panel and above the separator. Pages
// larger than it make the frame grow (never shrink); then every page takes
// the whole area and stretches its controls to it.
void CInstallDlg::layoutPages()
{
    constexpr UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW;
    RECT area{};
    ::GetClientRect(hwnd(), &area);
    area.left = controlRect(IDC_SIDE_PANEL).right;
    area.bottom = controlRect(IDC_SEPARATOR).top;

    RECT needed = area;
    for (CWizardPage* page : pages) {
        ::SetWindowPos(page->hwnd(), nullptr, area.left, area.top, 0, 0, flags | SWP_NOSIZE);
        RECT r{};
        ::GetWindowRect(page->hwnd(), &r);
        ::MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&r), 2);
        ::UnionRect(&needed, &needed, &r);
    }
    const int width = needed.right - needed.left;
    const int height = needed.bottom - needed.top;
    const int dx = width - (area.right - area.left);
    const int dy = height - (area.bottom - area.top);

    RECT frame{};
    ::GetWindowRect(hwnd(), &frame);
    ::SetWindowPos(hwnd(), nullptr, 0, 0, frame.right - frame.left + dx, frame.bottom - frame.top + dy,
                   flags | SWP_NOMOVE);

    for (CWizardPage* page : pages) {
        RECT r{};
        ::GetWindowRect(page->hwnd(), &r);
        const int pdx = width - (r.right - r.left);
        const int pdy = height - (r.bottom - r.top);
        ::SetWindowPos(page->hwnd(), nullptr, needed.left, needed.top, width, height, flags);
        page->StretchControls(pdx, pdy);
    }

    adjustControl(IDC_SIDE_PANEL, 0, 0, 0, dy);
    adjustControl(IDC_SEPARATOR, 0, dy, dx, 0);
    for (int id : {IDC_BACK, IDOK, IDCANCEL}) adjustControl(id, dx, dy, 0, 0);
    // The frame was laid out without repainting: now draw it once, whole.
    ::RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
}

void CInstallDlg::followDpi(UINT dpi)
{
    artwork.follow(dpi);
    for (CWizardPage* page : pages) page->FollowDpi(dpi);
}

void CInstallDlg::setAboutEntry(bool append)
{
    HMENU system = ::GetSystemMenu(hwnd(), FALSE);
    if (!system) return;
    std::wstring entry = aboutEntryText(currentLanguage().rightToLeft);
    if (append) {
        if (entry.empty()) return;
        ::AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(system, MF_STRING, IDM_ABOUT, entry.c_str());
    } else {
        ::ModifyMenuW(system, IDM_ABOUT, MF_BYCOMMAND | MF_STRING, IDM_ABOUT, entry.c_str());
    }
}

void CInstallDlg::RefreshTexts()
{
    if (!hwnd()) return;
    SetWindowText(buildAppTitle());
    setAboutEntry(false);
    UpdateButtonLabels();
    for (CWizardPage* page : pages) page->RefreshTexts();
}

void CInstallDlg::UpdateButtonLabels()
{
    if (currentPage == PageInstall && !session_.installed)
        SetDlgItemText(IDOK, loadLocalizedString(IDS_INSTALL));
    else
        SetDlgItemText(IDOK, loadLocalizedString(IDS_NEXT) + L"  >");
    SetDlgItemText(IDC_BACK, L"<  " + loadLocalizedString(IDS_BACK));
    SetDlgItemText(IDCANCEL, loadLocalizedString(session_.installed ? IDS_EXIT : IDS_CANCEL));
}

bool CInstallDlg::ShowPage(int n)
{
    if (n < 0 || n >= PageCount) return false;
    if (currentPage != -1) {
        if (!pages[currentPage]->save()) return false;
        pages[currentPage]->ShowWindow(SW_HIDE);
    }

    int target = n;
    if (!session_.advancedMode && n != currentPage) {
        const int step = n > currentPage ? 1 : -1;
        while (target == PagePath || target == PageShortcut) target += step;
    }
    if (target != currentPage) pages[target]->load();

    currentPage = target;
    pages[target]->ShowWindow(SW_SHOW);
    UpdateButtonLabels();

    EnableDlgItem(IDC_BACK, (currentPage > PageStart && !session_.installed) || currentPage > PageInstall);
    const bool nextEnabled = currentPage < PageEnd;
    EnableDlgItem(IDOK, nextEnabled);
    const int focus = nextEnabled ? IDOK : IDCANCEL;
    SetDefID(focus);
    GotoDlgCtrl(GetDlgItem(focus));
    return true;
}

void CInstallDlg::OnOK()
{
    if (currentPage != PageInstall || session_.installed) {
        ShowPage(currentPage + 1);
        return;
    }
    for (int id : {IDC_BACK, IDOK, IDCANCEL}) EnableDlgItem(id, false);
    const bool installed = install_.runInstallation();
    if (installed) session_.installed = true;
    ShowPage(currentPage);
    EnableDlgItem(IDCANCEL, true);
}

void CInstallDlg::OnCancel()
{
    const InstallState state = session_.installState;
    const bool asks = !session_.installed && state != InstallState::NewerVersion &&
                      !(state == InstallState::SameVersion && currentPage == PageStart);
    if (asks) {
        const CWinApp* application = CWinApp::current();
        const UINT style = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;
        const std::wstring question = loadLocalizedString(IDS_CONFIRM_EXIT);
        const int answer = application ? application->messageBox(question, style)
                                       : gatedMessageBox(hwnd(), question, {}, style);
        if (answer != IDYES) return;
    }
    EndDialog(session_.installed ? 1 : 2);
}

bool CInstallDlg::OnCommand(WPARAM wParam, LPARAM lParam)
{
    if (LOWORD(wParam) == IDC_BACK && HIWORD(wParam) == BN_CLICKED) {
        if (currentPage > 0) ShowPage(currentPage - 1);
        return true;
    }
    return CDialog::OnCommand(wParam, lParam);
}

LRESULT CInstallDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUT) {
            CAboutDlg about(this);
            about.DoModal();
            return 0;
        }
        break;
    case WM_INITMENUPOPUP: {
        LRESULT result = DefWindowProc(message, wParam, lParam);
        if (HIWORD(lParam)) {
            HMENU menu = reinterpret_cast<HMENU>(wParam);
            const bool minimized = ::IsIconic(hwnd()) != FALSE;
            ::EnableMenuItem(menu, SC_MINIMIZE, MF_BYCOMMAND | (minimized ? MF_GRAYED : MF_ENABLED));
            ::EnableMenuItem(menu, SC_RESTORE, MF_BYCOMMAND | (minimized ? MF_ENABLED : MF_GRAYED));
        }
        return result;
    }
    case WM_GETMINMAXINFO: {
        LRESULT result = DefWindowProc(message, wParam, lParam);
        WINDOWPLACEMENT placement{};
        placement.length = sizeof placement;
        if (::GetWindowPlacement(hwnd(), &placement)) {
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            const RECT& normal = placement.rcNormalPosition;
            info->ptMaxSize = {normal.right - normal.left, normal.bottom - normal.top};
            info->ptMaxPosition = {normal.left, normal.top};
        }
        return result;
    }
    case WM_DPICHANGED: {
        // Per-monitor aware (v2): Windows' dialog manager scales the controls
        // and their fonts. The frame takes the place Windows suggests on the
        // new screen, and what it draws itself follows.
        const LRESULT result = CDialog::WindowProc(message, wParam, lParam);
        followDpi(artwork.acceptDpiChange(wParam, lParam));
        return result;
    }
    case WM_SETCURSOR:
        // The install sequence runs on this thread and pumps messages: keep
        // the wait cursor over the whole wizard meanwhile.
        if (install_.isBusy()) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
            return TRUE;
        }
        break;
    default:
        break;
    }
    return CDialog::WindowProc(message, wParam, lParam);
}

}  // namespace qv
