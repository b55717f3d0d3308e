// The installer's test build: the installer's own static initialisation and
// start-up (installer/InstallerMain.cpp), with a stand-in for the wizard
// frame that shows the session start-up filled, an administrator test that
// answers "no" when QV_PROBE_NOT_ADMINISTRATOR=1 is in the environment (under
// Wine the user is always an administrator), a processor test that answers
// "no SSE2" when QV_PROBE_NO_SSE2=1 is (every processor Wine runs on has
// it), and a desktop test that answers "nobody can see a window", as for
// SYSTEM in session 0, when QV_PROBE_NO_DESKTOP=1 is. Never shipped.
#include "app/InstallApp.h"
#include "lang/Languages.h"
#include "app/StartUp.h"
#include "app/UiHooks.h"
#include "framework/Dialog.h"
#include "sys/InteractiveDesktop.h"
#include "sys/Security.h"

#include "SetupProbe.h"

#include <memory>
#include <string>

namespace qv {
namespace {

class ProbeFrame : public CDialog {
public:
    explicit ProbeFrame(InstallSession& session) : CDialog(IDD_PROBE_FRAME), app_(session) {}

protected:
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        SetWindowText(CWinApp::current()->appName());
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
    InstallSession& app_;
};

std::unique_ptr<CDialog> createProbeFrame(InstallSession& session)
{
    return std::make_unique<ProbeFrame>(session);
}

bool environmentSaysYes(const wchar_t* name)
{
    wchar_t value[8] = {};
    return ::GetEnvironmentVariableW(name, value, 8) && value == std::wstring(L"1");
}

bool probeIsAdministrator()
{
    return !environmentSaysYes(L"QV_PROBE_NOT_ADMINISTRATOR") && isAdministrator();
}

// Asked before any other static initialiser of the program has run.
bool probeHasSse2()
{
    return !environmentSaysYes(L"QV_PROBE_NO_SSE2") &&
           ::IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != FALSE;
}

bool probeHasInteractiveDesktop()
{
    return !environmentSaysYes(L"QV_PROBE_NO_DESKTOP") && hasInteractiveDesktop();
}

}  // namespace

StartUpSettings installerSettings()
{
    StartUpSettings settings{&createProbeFrame, &probeIsAdministrator, &probeHasSse2};
    settings.hasInteractiveDesktop = &probeHasInteractiveDesktop;
    return settings;
}

}  // namespace qv
