// The installer's static initialisation. Everything start-up relies on is
// set up here, before the framework's entry point (framework/WinMain.cpp)
// runs the application object, in this order:
//   1. DLL search restricted to the system folder, boxes kept out of a
//      silent run, then the processor check, ahead of every other static
//      initialiser of the program (priority 101);
//   2. the module initialisation, the application initialisation and the
//      user-interface hooks (app/ProcessSetup.h, app/UiHooks.h);
//   3. the application object.
// Static objects of one file are initialised in the order they are defined.
#include "app/InstallApp.h"
#include "app/ProcessSetup.h"
#include "app/StartUp.h"
#include "app/UiHooks.h"

namespace qv {
// The executable's choice of wizard frame, administrator test and processor
// test (InstallerSettings.cpp, or the test build's own).
StartUpSettings installerSettings();
}  // namespace qv

namespace {

struct FirstOfAll {
    FirstOfAll()
    {
        qv::restrictDllSearch();
        qv::keepBoxesOutOfSilentRun(qv::installerSettings().hasInteractiveDesktop);
        qv::checkProcessor(qv::installerSettings().processorHasSse2);
    }
};
FirstOfAll firstOfAll __attribute__((init_priority(101)));

struct Initialisation {
    Initialisation()
    {
        qv::initializeModule();
        qv::initializeApplication();
        qv::installDefaultUiHooks();
    }
};
Initialisation initialisation;

qv::CInstallApp theApp(qv::installerSettings());

}  // namespace
