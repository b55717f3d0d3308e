#include "app/InstallApp.h"

#include "app/LocalizedStrings.h"
#include "app/Product.h"
#include "app/UiHooks.h"
#include "resources/resource.h"

namespace qv {

std::uint32_t productCode = QuorvexProductCode;
bool processorChecked = false;

std::wstring& applicationId()
{
    // Function-local, so that the application initialisation can set it from
    // any static initialiser.
    static std::wstring id;
    return id;
}

std::wstring buildAppTitle()
{
    return loadLocalizedString(IDS_APP_TITLE) + L" \u2013 " + productLabel(false);
}

void refreshAppTitle()
{
    if (CWinApp* app = CWinApp::current()) app->setAppName(buildAppTitle());
}

CInstallApp::CInstallApp(StartUpSettings settings)
    : instanceMutex(instanceMutexName(applicationId()), false, true), startUpSettings(settings)
{
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

InstallState CInstallApp::getInstallState(std::wstring* versionText) const
{
    if (versionText &&
        (installState == InstallState::OlderVersion || installState == InstallState::NewerVersion))
        *versionText = previousVersionText;
    return installState;
}

CInstallApp* installApp() noexcept
{
    return dynamic_cast<CInstallApp*>(CWinApp::current());
}

}  // namespace qv
