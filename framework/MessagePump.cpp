#include "framework/MessagePump.h"

#include "framework/Dialog.h"
#include "framework/WinApp.h"

namespace qv {

bool preTranslateMessage(MSG& message)
{
    for (HWND window = message.hwnd; window; window = ::GetAncestor(window, GA_PARENT)) {
        if (CDialog* dialog = CDialog::fromHandle(window))
            if (dialog->PreTranslateMessage(message)) return true;
        if (!(::GetWindowLongW(window, GWL_STYLE) & WS_CHILD)) break;
    }
    return false;
}

bool pumpWaitingMessages()
{
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return false;
        }
        CWinApp* app = CWinApp::current();
        if (!(app ? app->PreTranslateMessage(message) : preTranslateMessage(message))) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    return true;
}

}  // namespace qv
