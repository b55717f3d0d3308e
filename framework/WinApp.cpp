#include "framework/WinApp.h"

#include "framework/MessageBox.h"
#include "framework/MessagePump.h"
#include "framework/Wnd.h"

#include <vector>

namespace qv {

namespace {
CWinApp* currentApp = nullptr;

std::wstring fileStem(const std::wstring& path)
{
    auto start = path.find_last_of(L"\\/");
    start = (start == std::wstring::npos) ? 0 : start + 1;
    auto dot = path.rfind(L'.');
    if (dot == std::wstring::npos || dot < start) dot = path.size();
    return path.substr(start, dot - start);
}
}  // namespace

std::wstring modulePath(HMODULE module)
{
    // GetModuleFileNameW truncates silently when the buffer is too small.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD n = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

CWinApp::CWinApp() : appName_(fileStem(modulePath())), previous_(currentApp)
{
    currentApp = this;
}

CWinApp::~CWinApp()
{
    if (currentApp == this) currentApp = previous_;
}

bool CWinApp::InitInstance()
{
    return true;
}

int CWinApp::ExitInstance()
{
    return quitCode_;
}

bool CWinApp::PreTranslateMessage(MSG& message)
{
    return preTranslateMessage(message);
}

int CWinApp::run()
{
    if (InitInstance()) {
        MSG message;
        BOOL got;
        while ((got = ::GetMessageW(&message, nullptr, 0, 0)) != 0 && got != -1) {
            if (PreTranslateMessage(message)) continue;
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (got == 0) quitCode_ = static_cast<int>(message.wParam);
    }
    return ExitInstance();
}

int CWinApp::messageBox(const std::wstring& text, UINT type) const
{
    return appMessageBox(text, type);
}

CWinApp* CWinApp::current() noexcept
{
    return currentApp;
}

}  // namespace qv
