// Installation time of the embedded payload, beside its floor.
//
//   floor      what the archive alone costs: the verification pass and the
//              extraction of every file, with a handler that does nothing
//   sequence   the whole install sequence with a display that shows
//              nothing: journal, backups, access grants, shortcuts, uninstall
//              key, registration run of the installed program, log
//
// Each run installs into fresh folders below the temporary folder and is
// timed with QueryPerformanceCounter. Sequence runs change the machine
// (registry, shortcuts, shared data): run the benchmark in a throwaway
// prefix (bench_install does).
//
//   qv_install_bench [runs] [archive.bz2]
//
// With an archive file, that archive stands in for the embedded payload.

#include "app/InstallApp.h"
#include "app/Languages.h"
#include "app/Product.h"
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

class SilentDisplay : public qv::InstallDisplay {
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

double now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::wstring scratchFolder(const wchar_t* name, int run)
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"qvbench\\" + name + std::to_wstring(run);
}

void removeTree(const std::wstring& path)
{
    boost::system::error_code ec;
    for (boost::filesystem::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
        ::SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    boost::filesystem::remove_all(path, ec);
}

// Verification and extraction with a handler that only answers; the
// payload's files land below a scratch folder (the shared folders too, as
// <CommonData> and the others still resolve to the machine's folders).
double floorRun(int run, std::uint64_t& bytes)
{
    auto stream = openArchive();
    const std::wstring folder = scratchFolder(L"floor", run);
    const double start = now();
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
    const double seconds = now() - start;
    removeTree(folder);
    return ok ? seconds : -1.0;
}

double sequenceRun(int run, bool& ok, std::wstring& log)
{
    qv::CInstallApp app;
    app.instanceMutex.tryAcquire();
    app.installPath = scratchFolder(L"sequence", run) + L"\\Trimora 6";
    app.startMenuFolder = scratchFolder(L"sequence", run) + L"\\Menu";
    app.createStartMenuShortcut = true;
    app.createDesktopShortcut = true;
    qv::detectInstallation(app, qv::findInstalledProgram());
    const std::wstring earlier = qv::earlierLogPath();
    app.uninstallLog.read(earlier.empty() ? nullptr : earlier.c_str());

    SilentDisplay display;
    qv::InstallTarget target;
    const double start = now();
    ok = qv::InstallSequence(app, display, target, openArchive).run();
    const double seconds = now() - start;
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

    // The sequence first: the floor's runs leave the shared data files in
    // place, which would make the sequence skip them.
    for (int i = 0; i < runs; ++i) {
        bool ok = false;
        std::wstring log;
        const double s = sequenceRun(i, ok, log);
        std::printf("sequence  run %d: %8.3f s  (%s)\n", i + 1, s, ok ? "installed" : "failed");
        if (i == 0) std::fwprintf(stdout, L"%ls\n", log.c_str());
    }
    std::uint64_t bytes = 0;
    for (int i = 0; i < runs; ++i) {
        const double s = floorRun(i, bytes);
        std::printf("floor     run %d: %8.3f s  (%llu bytes decompressed)\n", i + 1, s,
                    static_cast<unsigned long long>(bytes));
    }
    std::fflush(stdout);
    ::CoUninitialize();
    return 0;
}
