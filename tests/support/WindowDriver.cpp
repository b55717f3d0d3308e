#include "support/WindowDriver.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

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

namespace {

// The pixels of a window's client area as the screen shows them.
std::vector<COLORREF> capture(HWND window, int width, int height)
{
    std::vector<COLORREF> pixels;
    // From the screen: a window DC of another process does not give its
    // pixels under Wine.
    POINT origin{0, 0};
    ::ClientToScreen(window, &origin);
    HDC source = ::GetDC(nullptr);
    if (!source) return pixels;
    HDC memory = ::CreateCompatibleDC(source);
    HBITMAP bitmap = ::CreateCompatibleBitmap(source, width, height);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, source, origin.x, origin.y, SRCCOPY);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) pixels.push_back(::GetPixel(memory, x, y));
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, source);
    return pixels;
}

// The icon drawn over the given background as a static control draws it.
std::vector<COLORREF> render(HICON icon, const std::vector<COLORREF>& background, int width, int height)
{
    std::vector<COLORREF> pixels;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) ::SetPixel(memory, x, y, background[y * width + x]);
    ::DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) pixels.push_back(::GetPixel(memory, x, y));
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return pixels;
}

size_t difference(const std::vector<COLORREF>& a, const std::vector<COLORREF>& b)
{
    size_t count = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) count += a[i] != b[i];
    return count;
}

}  // namespace

bool messageBoxHasIcon(HWND box, UINT iconStyle)
{
    // The box's icon is a static holding the system icon that the style
    // names: id 0x14 on Windows, 0x440 (stc1) in Wine.
    HWND icon = ::GetDlgItem(box, 0x14);
    if (!icon) icon = ::GetDlgItem(box, 0x440);
    const bool shown = icon && ::IsWindowVisible(icon);
    const UINT wanted = iconStyle & MB_ICONMASK;
    if (!shown) return !wanted;

    const UINT styles[] = {MB_ICONHAND, MB_ICONQUESTION, MB_ICONEXCLAMATION, MB_ICONASTERISK};
    const LPCWSTR ids[] = {IDI_HAND, IDI_QUESTION, IDI_EXCLAMATION, IDI_ASTERISK};
    DWORD pid = 0;
    ::GetWindowThreadProcessId(box, &pid);
    if (pid == ::GetCurrentProcessId()) {
        HICON held = reinterpret_cast<HICON>(::SendMessageW(icon, STM_GETICON, 0, 0));
        if (!wanted) return held == nullptr;
        for (int i = 0; i < 4; ++i)
            if (styles[i] == wanted) return held && held == ::LoadIconW(nullptr, ids[i]);
        return false;
    }
    // Icon handles of another process cannot be compared (Wine loads the
    // system icons per process): compare what the static shows with each
    // system icon drawn over the same background, and take the best match.
    // The other process may not have painted yet: look again for a while.
    const int width = ::GetSystemMetrics(SM_CXICON), height = ::GetSystemMetrics(SM_CYICON);
    const ULONGLONG end = ::GetTickCount64() + 10000;
    for (;;) {
        const std::vector<COLORREF> seen = capture(icon, width, height);
        if (!seen.empty()) {
            std::vector<COLORREF> background(seen.size(), seen[0]);
            if (!wanted) return difference(seen, background) == 0;
            size_t best = static_cast<size_t>(-1);
            UINT bestStyle = 0;
            for (int i = 0; i < 4; ++i) {
                size_t d = difference(seen, render(::LoadIconW(nullptr, ids[i]), background, width, height));
                if (d < best) best = d, bestStyle = styles[i];
            }
            // A capture that matches nothing well is not the drawn icon yet.
            if (best * 10 < seen.size()) return bestStyle == wanted;
        }
        if (::GetTickCount64() > end) return false;
        ::Sleep(50);
    }
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

DWORD runToEnd(const std::wstring& program, const std::wstring& arguments,
               const std::vector<std::pair<std::wstring, std::wstring>>& environment, DWORD timeoutMs)
{
    ChildProcess process(L"\"" + program + L"\" " + arguments, environment);
    if (!process.started()) {
        ADD_FAILURE() << "cannot start " << testing::PrintToString(program);
        return 0xFFFFFFFF;
    }
    return process.wait(timeoutMs);
}

std::wstring executableFolder()
{
    wchar_t path[MAX_PATH] = {};
    DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

std::string dpiAwareness(HWND window)
{
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    using GetContextFn = HANDLE(WINAPI*)(HWND);
    using GetAwarenessFn = int(WINAPI*)(HANDLE);
    using EqualFn = BOOL(WINAPI*)(HANDLE, HANDLE);
    auto getContext = reinterpret_cast<GetContextFn>(
        reinterpret_cast<void*>(::GetProcAddress(user32, "GetWindowDpiAwarenessContext")));
    auto getAwareness = reinterpret_cast<GetAwarenessFn>(
        reinterpret_cast<void*>(::GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
    auto equal = reinterpret_cast<EqualFn>(
        reinterpret_cast<void*>(::GetProcAddress(user32, "AreDpiAwarenessContextsEqual")));
    if (!getContext || !getAwareness || !equal) return {};
    const HANDLE context = getContext(window);
    if (equal(context, reinterpret_cast<HANDLE>(-4))) return "per-monitor v2";  // ..._PER_MONITOR_AWARE_V2
    switch (getAwareness(context)) {
    case 0: return "unaware";
    case 1: return "system";
    case 2: return "per-monitor";
    default: return {};
    }
}

std::string perMonitorAwareByManifest()
{
    return runningUnderWine() ? "per-monitor" : "per-monitor v2";
}

}  // namespace qv::test
