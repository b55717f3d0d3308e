#include "app/UiHooks.h"

#include "framework/MessageBox.h"
#include "framework/WinApp.h"

namespace qv {

UiHooks& uiHooks()
{
    static UiHooks hooks;
    return hooks;
}

void installDefaultUiHooks()
{
    static const bool installed = [] {
        UiHooks& hooks = uiHooks();
        hooks.captionHook = [] {
            CWinApp* app = CWinApp::current();
            return app ? app->appName() : std::wstring();
        };
        hooks.ownerHook = [] {
            HWND topLevel = nullptr;
            HWND owner = safeOwner(nullptr, &topLevel);
            return std::pair<HWND, HWND>(owner, topLevel);
        };
        hooks.modalHook = [](bool enable) { enableModeless(enable); };
        return true;
    }();
    (void)installed;
}

}  // namespace qv
