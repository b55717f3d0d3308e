// What scripts/run.sh shows on a machine without a display: starts the
// installer, drives a quick installation to its end page, saves a screenshot
// of every page it passes and prints where they are.
//
//   wizard_demo <installer (Windows path)> <screenshot folder (Unix path)>
#include "wizard/WizardDriver.h"

#include <cstdio>
#include <string>

using namespace qv::test;

namespace {

std::string narrow(const wchar_t* text)
{
    std::string result;
    for (; *text; ++text) result += static_cast<char>(*text);
    return result;
}

bool step(WizardDriver& w, const std::string& folder, const char* name)
{
    const std::string path = folder + "/" + name + ".png";
    if (!w.screenshot(path)) {
        std::fprintf(stderr, "wizard_demo: no screenshot of the %s page\n", name);
        return false;
    }
    std::printf("%s page: %s\n", name, path.c_str());
    std::fflush(stdout);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: wizard_demo <installer> <screenshot folder>\n");
        return 2;
    }
    const std::string folder = narrow(argv[2]);
    WizardDriver w(argv[1]);
    if (!w.frame()) {
        std::fprintf(stderr, "wizard_demo: the installer showed no wizard\n");
        return 1;
    }
    bool ok = step(w, folder, "1-start");
    ok = w.next(WizardPage::Mode) && step(w, folder, "2-mode") && ok;
    ok = w.next(WizardPage::Install) && step(w, folder, "3-install") && ok;
    w.click(IDOK);
    if (!w.waitForStatus({L"Click on 'Next' to continue."})) {
        std::fprintf(stderr, "wizard_demo: the installation did not finish\n");
        return 1;
    }
    ok = step(w, folder, "4-installed") && ok;
    ok = w.next(WizardPage::End) && step(w, folder, "5-end") && ok;
    w.click(IDCANCEL);
    const DWORD code = w.waitExit();
    std::printf("installer exit code: %lu\n", static_cast<unsigned long>(code));
    return ok && code == 0 ? 0 : 1;
}
