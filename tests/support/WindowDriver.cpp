#include "support/WindowDriver.h"

#include <utility>

namespace qv::test {
namespace {

struct Search {
    const WindowQuery* query;
    HWND found = nullptr;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<Search*>(parameter);
    const WindowQuery& q = *search->query;
    if (window == q.exclude) return TRUE;
    if (q.visibleOnly && !::IsWindowVisible(window)) return TRUE;
    if (q.processId) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(window, &pid);
        if (pid != q.processId) return TRUE;
    }
    if (!q.className.empty() && className(window) != q.className) return TRUE;
    if (!q.caption.empty() && windowText(window) != q.caption) return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

HWND findTopLevelWindow(const WindowQuery& query)
{
    Search search{&query};
    ::EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND waitForWindow(const WindowQuery& query, DWORD timeoutMs)
{
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;) {
        if (HWND window = findTopLevelWindow(query)) return window;
        if (::GetTickCount64() > end) return nullptr;
        ::Sleep(20);
    }
}

bool waitForWindowGone(HWND window, DWORD timeoutMs)
{
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    while (::IsWindow(window)) {
        if (::GetTickCount64() > end) return false;
        ::Sleep(20);
    }
    return true;
}

std::wstring windowText(HWND window)
{
    // WM_GETTEXT rather than GetWindowTextW, which does not ask a window of
    // another process for the text of its controls.
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                               SMTO_ABORTIFHUNG, 5000, &copied))
        return {};
    text.resize(copied);
    return text;
}

std::wstring className(HWND window)
{
    wchar_t name[256] = {};
    int n = ::GetClassNameW(window, name, 256);
    return std::wstring(name, n > 0 ? n : 0);
}

std::wstring messageBoxText(HWND box)
{
    HWND text = ::GetDlgItem(box, 0xFFFF);
    return text ? windowText(text) : std::wstring();
}

std::vector<int> messageBoxButtons(HWND box)
{
    std::vector<int> ids;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        if (className(child) == L"Button") ids.push_back(::GetDlgCtrlID(child));
    return ids;
}

bool messageBoxHasIcon(HWND box, UINT iconStyle)
{
    // The box's icon is a static holding the system icon that the style
    // names: id 0x14 on Windows, 0x440 (stc1) in Wine.
    LPCWSTR id = nullptr;
    switch (iconStyle & MB_ICONMASK) {
    case MB_ICONHAND: id = IDI_HAND; break;
    case MB_ICONQUESTION: id = IDI_QUESTION; break;
    case MB_ICONEXCLAMATION: id = IDI_EXCLAMATION; break;
    case MB_ICONASTERISK: id = IDI_ASTERISK; break;
    default: break;
    }
    HWND icon = ::GetDlgItem(box, 0x14);
    if (!icon) icon = ::GetDlgItem(box, 0x440);
    HICON shown = icon ? reinterpret_cast<HICON>(::SendMessageW(icon, STM_GETICON, 0, 0)) : nullptr;
    if (!id) return shown == nullptr || !::IsWindowVisible(icon);
    return shown && shown == ::LoadIconW(nullptr, id);
}

void clickButton(HWND dialog, int id)
{
    HWND button = ::GetDlgItem(dialog, id);
    if (button) ::PostMessageW(button, BM_CLICK, 0, 0);
}

ChildProcess::ChildProcess(const std::wstring& commandLine,
                           const std::vector<std::pair<std::wstring, std::wstring>>& environment)
{
    std::vector<std::pair<std::wstring, std::wstring>> saved;
    for (const auto& [name, value] : environment) {
        wchar_t old[4096];
        DWORD n = ::GetEnvironmentVariableW(name.c_str(), old, 4096);
        saved.emplace_back(name, n ? std::wstring(old, n) : std::wstring(1, L'\0'));
        ::SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
    std::wstring line = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info_))
        info_ = {};
    for (const auto& [name, value] : saved)
        ::SetEnvironmentVariableW(name.c_str(), value == std::wstring(1, L'\0') ? nullptr : value.c_str());
    if (info_.hThread) ::CloseHandle(std::exchange(info_.hThread, nullptr));
}

ChildProcess::~ChildProcess()
{
    if (!info_.hProcess) return;
    if (::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(info_.hProcess, 255);
        ::WaitForSingleObject(info_.hProcess, 5000);
    }
    ::CloseHandle(info_.hProcess);
}

DWORD ChildProcess::wait(DWORD timeoutMs)
{
    if (!info_.hProcess) return STILL_ACTIVE;
    if (::WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

std::wstring executableFolder()
{
    wchar_t path[MAX_PATH] = {};
    DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

}  // namespace qv::test
