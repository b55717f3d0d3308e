#include "framework/WinApp.h"

#include "framework/MessageBox.h"
#include "framework/MessagePump.h"
#include "framework/Wnd.h"
#include "sys/ModulePath.h"

#include <vector>

namespace qv {

namespace {
CWinApp* currentApp = nullptr;
}  // namespace

CWinApp::CWinApp() : appName_(executableStem()), previous_(currentApp)
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
