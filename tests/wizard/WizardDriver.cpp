#include "wizard/WizardDriver.h"

#include "support/UnixSide.h"

#include <commctrl.h>

#include <cstdio>

namespace qv::test {
namespace {

constexpr int SidePanel = 1005;

bool hasControl(HWND window, int id)
{
    return ::GetDlgItem(window, id) != nullptr;
}

struct Search {
    HWND frame;
    HWND result = nullptr;
};

BOOL CALLBACK findVisiblePage(HWND child, LPARAM data)
{
    auto* search = reinterpret_cast<Search*>(data);
    if (::GetParent(child) != search->frame || !::IsWindowVisible(child)) return TRUE;
    wchar_t cls[16]{};
    ::GetClassNameW(child, cls, 16);
    if (std::wstring(cls) != L"#32770") return TRUE;
    search->result = child;
    return FALSE;
}

struct BoxSearch {
    DWORD process;
    HWND frame;
    HWND result = nullptr;
};

BOOL CALLBACK findBoxWindow(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<BoxSearch*>(data);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (pid != search->process || window == search->frame || !::IsWindowVisible(window)) return TRUE;
    search->result = window;
    return FALSE;
}

void poll(DWORD& waited)
{
    ::Sleep(20);
    waited += 20;
}

}  // namespace

const char* pageName(WizardPage page)
{
    static const char* names[] = {"start", "mode", "path", "shortcut", "install", "end", "none"};
    return names[static_cast<int>(page)];
}

std::wstring controlText(HWND window)
{
    return windowText(window);
}

WizardDriver::WizardDriver(const std::wstring& installer,
                           const std::vector<std::pair<std::wstring, std::wstring>>& environment,
                           const std::wstring& arguments)
    : process_(L"\"" + installer + L"\"" + (arguments.empty() ? L"" : L" " + arguments), environment)
{
    if (!process_.started()) return;
    DWORD waited = 0;
    while (waited < 30000) {
        WindowQuery query;
        query.processId = process_.id();
        query.className = L"#32770";
        HWND window = findTopLevelWindow(query);
        if (window && hasControl(window, SidePanel)) {
            frame_ = window;
            // The first page is shown at the end of the frame's set-up.
            waitForPage(WizardPage::Start, 10000);
            return;
        }
        if (::WaitForSingleObject(process_.handle(), 0) == WAIT_OBJECT_0) return;
        poll(waited);
    }
}

HWND WizardDriver::pageWindow() const
{
    if (!frame_) return nullptr;
    Search search{frame_};
    ::EnumChildWindows(frame_, &findVisiblePage, reinterpret_cast<LPARAM>(&search));
    return search.result;
}

WizardPage WizardDriver::page() const
{
    HWND window = pageWindow();
    if (!window) return WizardPage::None;
    if (hasControl(window, 1023)) return WizardPage::Start;
    if (hasControl(window, 1018)) return WizardPage::Mode;
    if (hasControl(window, 1008)) return WizardPage::Path;
    if (hasControl(window, 1012)) return WizardPage::Shortcut;
    if (hasControl(window, 1015)) return WizardPage::Install;
    if (hasControl(window, 1016)) return WizardPage::End;
    return WizardPage::None;
}

bool WizardDriver::waitForPage(WizardPage expected, DWORD timeoutMs) const
{
    for (DWORD waited = 0; waited < timeoutMs; poll(waited))
        if (page() == expected) return true;
    return page() == expected;
}

std::wstring WizardDriver::caption() const
{
    return windowText(frame_);
}

HWND WizardDriver::control(int id) const
{
    return ::GetDlgItem(pageWindow(), id);
}

std::wstring WizardDriver::text(int id) const
{
    return windowText(control(id));
}

bool WizardDriver::enabled(int id) const
{
    HWND window = control(id);
    return window && ::IsWindowEnabled(window);
}

ButtonState WizardDriver::button(int id) const
{
    HWND window = ::GetDlgItem(frame_, id);
    ButtonState state;
    if (!window) return state;
    state.text = windowText(window);
    state.enabled = ::IsWindowEnabled(window) != FALSE;
    state.isDefault = (::GetWindowLongW(window, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON;
    return state;
}

BOOL CALLBACK collectStatic(HWND child, LPARAM data)
{
    if (className(child) == L"Static")
        reinterpret_cast<std::vector<std::wstring>*>(data)->push_back(windowText(child));
    return TRUE;
}

WizardDriver::AboutBox WizardDriver::about(const std::string& screenshotPath) const
{
    AboutBox result;
    // Menus belong to their process under Wine: the entry is reached by its
    // command, as choosing it does.
    ::PostMessageW(frame_, WM_SYSCOMMAND, 16, 0);
    HWND box = waitForBox();
    if (!box) return result;
    result.caption = windowText(box);
    result.version = windowText(::GetDlgItem(box, 1019));
    result.copyright = windowText(::GetDlgItem(box, 1020));
    result.ok = windowText(::GetDlgItem(box, IDOK));
    ::EnumChildWindows(box, &collectStatic, reinterpret_cast<LPARAM>(&result.statics));
    if (!screenshotPath.empty()) screenshot(box, screenshotPath);
    answer(box, IDOK);
    return result;
}

std::wstring WizardDriver::selectedLanguage() const
{
    HWND list = control(1023);
    const LRESULT selected = ::SendMessageW(list, CB_GETCURSEL, 0, 0);
    if (selected < 0) return {};
    wchar_t text[257]{};
    if (::SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(text)) < 0)
        return {};
    return text;
}

void WizardDriver::click(int id) const
{
    if (id == IDOK || id == IDCANCEL || id == 3)
        clickButton(frame_, id);
    else
        clickButton(pageWindow(), id);
}

bool WizardDriver::clickAndWait(int id, WizardPage expected) const
{
    click(id);
    return waitForPage(expected);
}

void WizardDriver::selectLanguage(int position) const
{
    HWND page = pageWindow();
    HWND list = ::GetDlgItem(page, 1023);
    ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
    // CB_SETCURSEL does not notify; the list's owner hears what a click says.
    ::PostMessageW(page, WM_COMMAND, MAKEWPARAM(1023, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

void WizardDriver::setText(int id, const std::wstring& text) const
{
    ::SendMessageW(control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void WizardDriver::setCheck(int id, bool checked) const
{
    HWND box = control(id);
    const bool now = ::SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (now != checked) ::SendMessageW(box, BM_CLICK, 0, 0);
}

HWND WizardDriver::findBox() const
{
    BoxSearch search{process_.id(), frame_};
    ::EnumWindows(&findBoxWindow, reinterpret_cast<LPARAM>(&search));
    return search.result;
}

HWND WizardDriver::waitForBox(DWORD timeoutMs) const
{
    for (DWORD waited = 0; waited < timeoutMs; poll(waited))
        if (HWND box = findBox()) return box;
    return nullptr;
}

void WizardDriver::answer(HWND box, int buttonId) const
{
    clickButton(box, buttonId);
    waitForWindowGone(box);
}

bool WizardDriver::waitForStatus(const std::vector<std::wstring>& texts, DWORD timeoutMs) const
{
    // The sequence sets its last status before it cleans up; the frame
    // enables Exit again only once the sequence has returned.
    for (DWORD waited = 0; waited < timeoutMs; poll(waited)) {
        const std::wstring now = text(1003);
        for (const auto& t : texts)
            if (now == t && button(IDCANCEL).enabled) return true;
    }
    return false;
}

std::vector<std::wstring> WizardDriver::logLines() const
{
    std::vector<std::wstring> lines;
    const std::wstring all = text(1015);
    std::size_t begin = 0;
    while (begin < all.size()) {
        std::size_t end = all.find(L"\r\n", begin);
        if (end == std::wstring::npos) {
            lines.push_back(all.substr(begin));
            break;
        }
        lines.push_back(all.substr(begin, end - begin));
        begin = end + 2;
    }
    return lines;
}

bool WizardDriver::screenshot(HWND window, const std::string& unixPath) const
{
    RECT r{};
    if (!window || !::GetWindowRect(window, &r)) return false;
    // Let the window finish painting first.
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    ::Sleep(300);
    char geometry[64];
    std::snprintf(geometry, sizeof geometry, "%ldx%ld+%ld+%ld", r.right - r.left, r.bottom - r.top, r.left, r.top);
    const std::string folder = unixPath.substr(0, unixPath.find_last_of('/'));
    const std::string partial = unixPath + ".part";
    const std::wstring done = L"Z:" + std::wstring(unixPath.begin(), unixPath.end());
    ::DeleteFileW(done.c_str());
    // The file appears under its name only once it is complete.
    const std::string command = "mkdir -p '" + folder + "' && xwd -root -silent | convert xwd:- -crop " +
                                geometry + " +repage png:'" + partial + "' && mv '" + partial + "' '" +
                                unixPath + "'";
    if (runUnixCommand(command) < 0) return false;
    // Wine does not wait for a native process: wait for its result instead,
    // so that the picture shows the window as it is now.
    for (DWORD waited = 0; waited < 30000; waited += 50) {
        if (::GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        ::Sleep(50);
    }
    return false;
}

}  // namespace qv::test
