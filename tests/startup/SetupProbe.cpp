// The installer's test build: the installer's own static initialisation and
// start-up (installer/InstallerMain.cpp), with a stand-in for the wizard
// frame that shows the session start-up filled, and an administrator test
// that answers "no" when QV_PROBE_NOT_ADMINISTRATOR=1 is in the environment
// (under Wine the user is always an administrator). Never shipped.
#include "app/InstallApp.h"
#include "app/Languages.h"
#include "app/StartUp.h"
#include "app/UiHooks.h"
#include "framework/Dialog.h"
#include "sys/Security.h"

#include "SetupProbe.h"

#include <memory>
#include <string>

namespace qv {
namespace {

class ProbeFrame : public CDialog {
public:
    explicit ProbeFrame(CInstallApp& app) : CDialog(IDD_PROBE_FRAME), app_(app) {}

protected:
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        SetWindowText(app_.appName());
        SetDlgItemText(IDC_PROBE_INSTALL_PATH, app_.installPath);
        SetDlgItemText(IDC_PROBE_START_MENU, app_.startMenuFolder);
        SetDlgItemText(IDC_PROBE_SESSION,
                       L"state=" + std::to_wstring(static_cast<int>(app_.installState)) +
                           L" language=" + std::to_wstring(currentLanguage().languageIndex) +
                           L" startMenu=" + std::to_wstring(app_.createStartMenuShortcut) +
                           L" desktop=" + std::to_wstring(app_.createDesktopShortcut) +
                           L" advanced=" + std::to_wstring(app_.advancedMode) +
                           L" icon=" + std::to_wstring(uiHooks().windowIconHook &&
                                                       uiHooks().windowIconHook() != nullptr));
        return TRUE;
    }

private:
    CInstallApp& app_;
};

std::unique_ptr<CDialog> createProbeFrame(CInstallApp& app)
{
    return std::make_unique<ProbeFrame>(app);
}

bool probeIsAdministrator()
{
    wchar_t value[8] = {};
    if (::GetEnvironmentVariableW(L"QV_PROBE_NOT_ADMINISTRATOR", value, 8) && value == std::wstring(L"1"))
        return false;
    return isAdministrator();
}

}  // namespace

StartUpSettings installerSettings()
{
    return StartUpSettings{&createProbeFrame, &probeIsAdministrator};
}

}  // namespace qv
