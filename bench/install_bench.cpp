// Installation time of the embedded payload, beside its floor.
//
//   first      the whole install sequence on a machine without the product,
//              with a display that shows nothing: journal, access grants,
//              shortcuts, uninstall key, registration run of the installed
//              program, log
//   reinstall  the same again over the last first installation, in the same
//              folder: backups of the replaced files, the earlier log read
//              and merged into the new one
//   floor      what the archive alone costs on a machine without the
//              product: the verification pass and the extraction of every
//              file, with a handler that does nothing
//
// Each run is timed with QueryPerformanceCounter. Before every first
// installation and every floor run, what the earlier runs left is removed
// (untimed): folders, shared data, samples, shortcuts, uninstall key,
// installation record and the program's document type; otherwise the
// earlier runs would make a "first" run a reinstallation and let the floor
// find the shared folders already there. The runs change the machine: run
// the benchmark in a throwaway prefix (bench_install does).
//
//   qv_install_bench [runs] [archive.bz2]
//
// With an archive file, that archive stands in for the embedded payload.

#include "engine/Detection.h"
#include "engine/InstallSession.h"
#include "lang/Languages.h"
#include "identity/Product.h"
#include "bench/BenchSupport.h"
#include "engine/Archive.h"
#include "engine/InstallSequence.h"

#include <windows.h>
#include <objbase.h>

#include <boost/filesystem/operations.hpp>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <cwchar>
#include <string>

namespace {

// The archive file named on the command line, else the payload resource.
std::wstring archiveFile;

std::unique_ptr<std::istream> openArchive()
{
    if (archiveFile.empty()) return qv::loadResourceStream();
    std::ifstream in(boost::filesystem::path(archiveFile).string(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return std::make_unique<std::istringstream>(bytes.str());
}

// All runs work below this folder.
std::wstring benchFolder()
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"qvbench";
}

std::wstring scratchFolder(const wchar_t* name, int run)
{
    return benchFolder() + L"\\" + name + std::to_wstring(run);
}

void removeInstallations()
{
    qv::bench::removeInstallations({benchFolder()});
}

// Verification and extraction with a handler that only answers; the
// payload's files land below a scratch folder (the shared folders too, as
// <CommonData> and the others still resolve to the machine's folders).
double floorRun(int run, std::uint64_t& bytes)
{
    auto stream = openArchive();
    const std::wstring folder = scratchFolder(L"floor", run);
    const double start = qv::bench::now();
    bool ok = false;
    auto handler = [&](qv::notification n) {
        if (std::holds_alternative<qv::Started>(n)) {
            if (!qv::verifyArchive(*stream)) throw std::runtime_error("verification failed");
            stream->clear();
            stream->seekg(0);
        } else if (auto* f = std::get_if<qv::Finished>(&n)) {
            bytes = f->total;
        }
        return qv::result::Continue;
    };
    ok = qv::extractArchive(*stream, folder + L"\\Install", folder + L"\\Samples", folder + L"\\Temp", handler);
    const double seconds = qv::bench::now() - start;
    qv::bench::removeTree(folder);
    return ok ? seconds : -1.0;
}

double sequenceRun(int run, bool& ok, std::wstring& log, qv::InstallState& state)
{
    qv::InstallSession app;
    app.instanceMutex.tryAcquire();
    app.installPath = scratchFolder(L"sequence", run) + L"\\Trimora 6";
    app.startMenuFolder = scratchFolder(L"sequence", run) + L"\\Menu";
    app.createStartMenuShortcut = true;
    app.createDesktopShortcut = true;
    qv::detectInstallation(app, qv::findInstalledProgram());
    const std::wstring earlier = qv::earlierLogPath();
    app.uninstallLog.read(earlier.empty() ? nullptr : earlier.c_str());
    state = app.installState;

    qv::bench::SilentDisplay display;
    qv::InstallTarget target;
    const double start = qv::bench::now();
    ok = qv::InstallSequence(app, display, target, openArchive).run();
    const double seconds = qv::bench::now() - start;
    log = display.log;
    return seconds;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const int runs = argc > 1 ? std::max(1, _wtoi(argv[1])) : 3;
    if (argc > 2) archiveFile = argv[2];
    ::CoInitialize(nullptr);
    qv::applicationId() = L"Quorvex6";
    qv::setLanguage(qv::EnglishLanguage);

    auto stateName = [](qv::InstallState state) {
        return state == qv::InstallState::NotInstalled ? "first installation"
               : state == qv::InstallState::SameVersion ? "reinstallation"
                                                          : "other";
    };
    for (int i = 0; i < runs; ++i) {
        removeInstallations();
        bool ok = false;
        std::wstring log;
        qv::InstallState state{};
        const double s = sequenceRun(i, ok, log, state);
        std::printf("first     run %d: %8.3f s  (%s, %s)\n", i + 1, s, stateName(state), ok ? "installed" : "failed");
        if (i == 0) std::fwprintf(stdout, L"%ls\n", log.c_str());
    }
    // Over the last first installation, into its folder.
    for (int i = 0; i < runs; ++i) {
        bool ok = false;
        std::wstring log;
        qv::InstallState state{};
        const double s = sequenceRun(runs - 1, ok, log, state);
        std::printf("reinstall run %d: %8.3f s  (%s, %s)\n", i + 1, s, stateName(state), ok ? "installed" : "failed");
    }
    std::uint64_t bytes = 0;
    for (int i = 0; i < runs; ++i) {
        removeInstallations();
        const double s = floorRun(i, bytes);
        std::printf("floor     run %d: %8.3f s  (%llu bytes decompressed)\n", i + 1, s,
                    static_cast<unsigned long long>(bytes));
    }
    removeInstallations();
    std::fflush(stdout);
    ::CoUninitialize();
    return 0;
}
