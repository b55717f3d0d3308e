#include "wizard/DlgInstall.h"

#include "app/InstallApp.h"
#include "app/Product.h"
#include "engine/InstallTexts.h"
#include "framework/DataExchange.h"
#include "framework/MessagePump.h"
#include "resources/resource.h"

#include <commctrl.h>
#include <shlwapi.h>

namespace qv {

CDlgInstall::CDlgInstall(CInstallApp& app) : CWizardPage(IDD_PAGE_INSTALL, app) {}

BOOL CDlgInstall::OnInitDialog()
{
    BOOL result = CWizardPage::OnInitDialog();
    ::SendMessageW(progress, PBM_SETRANGE32, 0, 100);
    ::ShowWindow(progress, SW_HIDE);
    return result;
}

void CDlgInstall::DoDataExchange(DataExchange& dx)
{
    ddxControl(dx, IDC_LOG, log);
    ddxControl(dx, IDC_PROGRESS, progress);
    // After a successful installation the log keeps what it showed.
    if (!dx.saveAndValidate && !app().installed) showSummary();
}

void CDlgInstall::showSummary()
{
    ::SetWindowTextW(log, L"");
    AppendLog(text(IDS_START_INSTALL, productLabel(false)) + L"\r\n", false);
    AppendLog(text(IDS_OPTIONS_TITLE), true);
    AppendLog(text(IDS_OPTION_FOLDER, quoteSpaces(app().installPath)) + L"\r\n", false);
    if (app().createStartMenuShortcut)
        AppendLog(text(IDS_OPTION_START_MENU, quoteSpaces(app().startMenuFolder)) + L"\r\n", false);
    if (app().createDesktopShortcut) AppendLog(text(IDS_OPTION_DESKTOP) + L"\r\n", false);
    // Back to the first line; the line count bounds the loop should the
    // control not move.
    const LRESULT lines = ::SendMessageW(log, EM_GETLINECOUNT, 0, 0);
    for (LRESULT i = 0; i <= lines && ::SendMessageW(log, EM_GETFIRSTVISIBLELINE, 0, 0) > 0; ++i)
        ::SendMessageW(log, EM_SCROLL, SB_LINEUP, 0);
}

// The width available in the log, measured with the page's font in the log's
// device context, as the log draws it.
std::wstring CDlgInstall::fullWidth(const std::wstring& text)
{
    RECT client{};
    ::GetClientRect(log, &client);
    const DWORD margins = static_cast<DWORD>(::SendMessageW(log, EM_GETMARGINS, 0, 0));
    const int available = client.right - client.left - LOWORD(margins) - HIWORD(margins) - 2;
    HDC dc = ::GetDC(log);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(hwnd(), WM_GETFONT, 0, 0)));
    std::wstring line = fullWidthLine(text, available, [dc](const std::wstring& piece) {
        SIZE size{};
        ::GetTextExtentPoint32W(dc, piece.c_str(), static_cast<int>(piece.size()), &size);
        return static_cast<int>(size.cx);
    });
    ::SelectObject(dc, old);
    ::ReleaseDC(log, dc);
    return line;
}

void CDlgInstall::AppendLog(const std::wstring& text, bool heading)
{
    const std::wstring line = text.empty() || heading ? fullWidth(text) : text;
    // Replacing the empty selection at the end appends without an undo step.
    const int end = ::GetWindowTextLengthW(log);
    ::SendMessageW(log, EM_SETSEL, end, end);
    ::SendMessageW(log, EM_SCROLLCARET, 0, 0);
    ::SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
    ::SendMessageW(log, EM_SCROLL, SB_LINEDOWN, 0);
}

void CDlgInstall::SetStatus(const std::wstring& text)
{
    SetDlgItemText(IDC_STATUS, text);
}

void CDlgInstall::SetStatusPath(const std::wstring& text)
{
    // Shortened to the control's width with an ellipsis in the middle of the
    // path.
    ::PathSetDlgItemPathW(hwnd(), IDC_STATUS, text.c_str());
}

void CDlgInstall::ResetProgress()
{
    ::SendMessageW(progress, PBM_SETPOS, 0, 0);
    ::ShowWindow(progress, SW_SHOW);
}

void CDlgInstall::SetProgress(int position)
{
    ::SendMessageW(progress, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void CDlgInstall::PumpMessages()
{
    pumpWaitingMessages();
}

void CDlgInstall::ShowWaitCursor(bool wait)
{
    waitCursor += wait ? 1 : -1;
    if (waitCursor < 0) waitCursor = 0;
    ::SetCursor(::LoadCursorW(nullptr, waitCursor > 0 ? IDC_WAIT : IDC_ARROW));
}

bool CDlgInstall::runInstallation()
{
    return qv::runInstallation(app(), *this, target);
}

void CDlgInstall::RefreshTexts()
{
    SetDlgItemText(IDC_STATUS, text(IDS_CLICK_START, text(IDS_INSTALL)));
}

void CDlgInstall::StretchControls(int dx, int dy)
{
    adjustControl(IDC_LOG, 0, 0, dx, dy);
    adjustControl(IDC_PROGRESS, 0, dy, dx, 0);
    adjustControl(IDC_STATUS, 0, dy, dx, 0);
}

}  // namespace qv
