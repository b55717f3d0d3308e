// The framework's entry point. The program's static initialisation has
// constructed the application object by the time the C runtime calls this;
// without one there is nothing to run.
#include "framework/WinApp.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    qv::CWinApp* app = qv::CWinApp::current();
    return app ? app->run() : -1;
}
