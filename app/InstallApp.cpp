#include "app/InstallApp.h"

#include "identity/Product.h"
#include "app/UiHooks.h"

namespace qv {

void refreshAppTitle()
{
    if (CWinApp* app = CWinApp::current()) app->setAppName(buildAppTitle());
}

CInstallApp::CInstallApp(StartUpSettings settings)
    : startUpSettings(settings)
{
    atRunPoint = settings.atRunPoint;
    productCode = QuorvexProductCode;
    uiHooks().windowIconHook = [] {
        static const HICON icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(128));
        return icon;
    };
}

CInstallApp::~CInstallApp() = default;

bool CInstallApp::InitInstance()
{
    return startUp(*this, startUpSettings);
}

int CInstallApp::ExitInstance()
{
    const int frameworkCode = CWinApp::ExitInstance();
    return exitCode ? *exitCode : frameworkCode;
}

CInstallApp* installApp() noexcept
{
    return dynamic_cast<CInstallApp*>(CWinApp::current());
}

}  // namespace qv
