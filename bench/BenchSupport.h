#pragma once
// Classes in this file:
//   SilentDisplay        an install display that shows nothing and keeps the log
//   now                  the wall clock, in seconds
//   removeTree           a folder and everything below it, read-only files too
//   removeInstallations  the machine as before the product's first installation
//
// What the benchmarks share. They change the machine: run them in a
// throwaway Wine prefix (their CMake targets do).

#include "engine/InstallDisplay.h"

#include <string>
#include <vector>

namespace qv::bench {

class SilentDisplay : public InstallDisplay {
public:
    void AppendLog(const std::wstring& text, bool) override { log += text; }
    void SetStatus(const std::wstring&) override {}
    void SetStatusPath(const std::wstring&) override {}
    void ResetProgress() override {}
    void SetProgress(int) override {}
    void PumpMessages() override {}
    void ShowWaitCursor(bool) override {}
    std::wstring log;
};

double now();

void removeTree(const std::wstring& path);

// Removes what an installation of the product leaves outside its own
// folders (shared data, samples, desktop shortcut, uninstall key,
// installation record, the program's document type), then the given folders
// with everything in them. A first installation must find none of it, or it
// would be a reinstallation.
void removeInstallations(const std::vector<std::wstring>& folders);

}  // namespace qv::bench
