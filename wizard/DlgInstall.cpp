#include "engine/InstallRun.h"
#include "wizard/DlgInstall.h"

#include "engine/InstallSession.h"
#include "identity/Product.h"
#include "engine/InstallTexts.h"
#include "framework/DataExchange.h"
#include "framework/MessagePump.h"
#include "resources/resource.h"

#include <commctrl.h>
#include <shlwapi.h>

#include <algorithm>
#include <iterator>

namespace qv {

CDlgInstall::CDlgInstall(InstallSession& session) : CWizardPage(IDD_PAGE_INSTALL, session) {}

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
    if (!dx.saveAndValidate && !session().installed) showSummary();
}

void CDlgInstall::showSummary()
{
    ::SetWindowTextW(log, L"");
    AppendLog(text(IDS_START_INSTALL, productLabel(false)) + L"\r\n", false);
    AppendLog(text(IDS_OPTIONS_TITLE), true);
    AppendLog(text(IDS_OPTION_FOLDER, quoteSpaces(session().installPath)) + L"\r\n", false);
    if (session().createStartMenuShortcut)
        AppendLog(text(IDS_OPTION_START_MENU, quoteSpaces(session().startMenuFolder)) + L"\r\n", false);
    if (session().createDesktopShortcut) AppendLog(text(IDS_OPTION_DESKTOP) + L"\r\n", false);
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
    appendToLog(text.empty() || heading ? fullWidth(text) : text);
}

// What the log shows around its text: the first visible line and the scroll
// bars.
struct CDlgInstall::LogView {
    explicit LogView(HWND log)
    {
        firstLine = static_cast<int>(::SendMessageW(log, EM_GETFIRSTVISIBLELINE, 0, 0));
        const LONG objects[] = {OBJID_HSCROLL, OBJID_VSCROLL};
        for (int bar : {SB_HORZ, SB_VERT}) {
            bars[bar].cbSize = sizeof(SCROLLINFO);
            bars[bar].fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
            ::GetScrollInfo(log, bar, &bars[bar]);
            frames[bar].cbSize = sizeof(SCROLLBARINFO);
            ::GetScrollBarInfo(log, objects[bar], &frames[bar]);
        }
    }

    bool sameBar(const LogView& other, int bar) const
    {
        const SCROLLINFO &a = bars[bar], &b = other.bars[bar];
        return a.nMin == b.nMin && a.nMax == b.nMax && a.nPage == b.nPage && a.nPos == b.nPos &&
               frames[bar].rgstate[0] == other.frames[bar].rgstate[0];
    }

    // The bar draws the same pixels: its place, its arrows, its thumb and
    // which of its parts are enabled.
    bool looksSame(const LogView& other, int bar) const
    {
        const SCROLLBARINFO &a = frames[bar], &b = other.frames[bar];
        return ::EqualRect(&a.rcScrollBar, &b.rcScrollBar) && a.dxyLineButton == b.dxyLineButton &&
               a.xyThumbTop == b.xyThumbTop && a.xyThumbBottom == b.xyThumbBottom &&
               std::equal(std::begin(a.rgstate), std::end(a.rgstate), std::begin(b.rgstate));
    }

    int firstLine = 0;
    SCROLLINFO bars[2]{};     // SB_HORZ, SB_VERT
    SCROLLBARINFO frames[2]{};
};

// The caret goes to the end of the log and into view, the line replaces the
// empty selection there (so it cannot be undone), then the log scrolls down
// a line.
//
// Each of these steps that scrolls or changes a scroll range has the edit
// control draw its scroll bars at once: under Wine up to eight bar drawings
// for the two lines of a copied file, the dearest part of an installation's
// display. So nothing is drawn until the line is in place, and then only
// what changed: the view moved as the control moves it, the lines from the
// insertion on (by the next paint), and the scroll bars that changed.
//
// A window draws only while it and its parents are visible. The page's
// visible flag is taken away meanwhile, not the log's: Wine's edit control
// ignores WM_SETREDRAW, and flipping the log's own flag back makes Wine
// repaint the log's whole frame, both bars and the border, at the next
// paint. Unlike WM_SETREDRAW the flag validates nothing: what waits to be
// painted on the page (the status line, an earlier line) still is.
void CDlgInstall::appendToLog(const std::wstring& line)
{
    drawnSincePump = true;
    const int end = ::GetWindowTextLengthW(log);
    const LONG pageStyle = ::GetWindowLongW(hwnd(), GWL_STYLE);
    const bool visible = (pageStyle & WS_VISIBLE) != 0;
    const LogView before(log);
    // The caret, when the log has it, is taken off the screen first: moved
    // while nothing is drawn, it would leave its image behind.
    const bool caret = visible && ::HideCaret(log);
    if (visible) ::SetWindowLongW(hwnd(), GWL_STYLE, pageStyle & ~WS_VISIBLE);

    ::SendMessageW(log, EM_SETSEL, end, end);
    ::SendMessageW(log, EM_SCROLLCARET, 0, 0);
    ::SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
    ::SendMessageW(log, EM_SCROLL, SB_LINEDOWN, 0);

    if (!visible) return;
    ::SetWindowLongW(hwnd(), GWL_STYLE, pageStyle);
    showChanges(before, end);
    if (caret) ::ShowCaret(log);
}

void CDlgInstall::showChanges(const LogView& before, int insertedAt)
{
    const LogView after(log);
    if (before.frames[SB_HORZ].rgstate[0] != after.frames[SB_HORZ].rgstate[0] ||
        before.frames[SB_VERT].rgstate[0] != after.frames[SB_VERT].rgstate[0]) {
        ::RedrawWindow(log, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
        return;
    }

    // The text area, as the control scrolls and paints it.
    RECT area{}, client{};
    ::SendMessageW(log, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
    ::GetClientRect(log, &client);
    ::IntersectRect(&area, &area, &client);
    const int dx = after.bars[SB_HORZ].nPos - before.bars[SB_HORZ].nPos;
    const int dy = (after.firstLine - before.firstLine) * logLineHeight();
    if (dx || dy) ::ScrollWindowEx(log, -dx, -dy, nullptr, &area, nullptr, nullptr, SW_INVALIDATE);

    const int insertedLine = static_cast<int>(::SendMessageW(log, EM_LINEFROMCHAR, insertedAt, 0));
    RECT changed = area;
    changed.top = std::max<LONG>(area.top, area.top + (insertedLine - after.firstLine) * logLineHeight());
    if (changed.top < changed.bottom) ::InvalidateRect(log, &changed, TRUE);

    // A changed scroll bar is drawn as the control draws it, by setting what
    // it shows once more: a non-client paint would draw both bars and the
    // border.
    for (int bar : {SB_HORZ, SB_VERT}) {
        // A bar whose thumb moved by less than a pixel needs no drawing.
        if (before.sameBar(after, bar) || before.looksSame(after, bar)) continue;
        SCROLLINFO shown = after.bars[bar];
        shown.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
        ::SetScrollInfo(log, bar, &shown, TRUE);
    }
}

// The height of a line of the log: its font's, as the control lays lines
// out.
int CDlgInstall::logLineHeight()
{
    if (lineHeight > 0) return lineHeight;
    HDC dc = ::GetDC(log);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(log, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    if (::GetTextMetricsW(dc, &metrics)) lineHeight = metrics.tmHeight;
    ::SelectObject(dc, old);
    ::ReleaseDC(log, dc);
    return lineHeight;
}

void CDlgInstall::SetStatus(const std::wstring& text)
{
    // A static repaints whenever its text is set, even to the text it shows.
    if (GetDlgItemText(IDC_STATUS) == text) return;
    SetDlgItemText(IDC_STATUS, text);
    drawnSincePump = true;
}

void CDlgInstall::SetStatusPath(const std::wstring& text)
{
    if (text == statusPath && GetDlgItemText(IDC_STATUS) == statusShown) return;
    // Shortened to the control's width with an ellipsis in the middle of the
    // path.
    ::PathSetDlgItemPathW(hwnd(), IDC_STATUS, text.c_str());
    statusPath = text;
    statusShown = GetDlgItemText(IDC_STATUS);
    drawnSincePump = true;
}

void CDlgInstall::ResetProgress()
{
    ::SendMessageW(progress, PBM_SETPOS, 0, 0);
    progressShown = 0;
    ::ShowWindow(progress, SW_SHOW);
    drawnSincePump = true;
}

void CDlgInstall::SetProgress(int position)
{
    // The extraction reports every 4 KB; the bar moves a percent at a time.
    if (position == progressShown) return;
    ::SendMessageW(progress, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    progressShown = position;
    drawnSincePump = true;
}

// Most notifications are progress reports of 4 KB that move no percent.
// After those the queue is only asked whether anything waits: one round
// trip to the window system (under Wine a server call), where an empty
// PeekMessage takes two or three. After a notification that drew, the pump
// runs in full, also when nothing waits: Wine shows what was drawn when a
// PeekMessage finds the queue empty.
void CDlgInstall::PumpMessages()
{
    if (!drawnSincePump && HIWORD(::GetQueueStatus(QS_ALLINPUT)) == 0) return;
    drawnSincePump = false;
    pumpWaitingMessages();
}

void CDlgInstall::ShowWaitCursor(bool wait)
{
    drawnSincePump = true;
    waitCursor += wait ? 1 : -1;
    if (waitCursor < 0) waitCursor = 0;
    ::SetCursor(::LoadCursorW(nullptr, waitCursor > 0 ? IDC_WAIT : IDC_ARROW));
}

bool CDlgInstall::runInstallation()
{
    return qv::runInstallation(session(), *this, target);
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
