// What the user waits for, beside what the design cannot avoid.
//
//   qv_installer_bench [--runs N] [--steps] <shipped installer> <installer>...
//
// Every <installer> is the shipped installer linked with another payload
// (bench/CMakeLists.txt builds them). For each one, N times (3 unless told),
// on a machine cleared of the product before every run (untimed):
//   floor       what the design cannot avoid: one plain libbz2 decompression
//               of the payload into nothing, one that writes its files, each
//               file read back for its CRC as soon as it is written; in the
//               design's 4096-byte chunks, into one folder
//   engine      the install sequence without windows, in this process, over
//               the installer's payload resource: temporary folder, journal,
//               files, access grants, shortcuts, uninstall key, registration
//               run of the installed program, log
//   wizard      the installer itself, driven through its windows: a quick
//               installation, timed from the click on Install until Exit is
//               enabled again (the sequence has returned)
//   first page  from the start of the installer's process until its first
//               page shows
//   memory      the private memory of the installer's Wine process (RssAnon
//               in /proc/<pid>/status) when the first page shows and when
//               the installation has ended
// and prints one table: the fastest time of the N runs, the highest memory.
// The empty installer's wizard time is the fixed cost of an installation.
// The last row is each executable's size less its payload resource.
// --steps also prints, for the last installer, when the sequence without
// windows reached each of its steps.
//
// Wine's own time to start a process counts in "first page"; everything
// else runs with the Wine server already up. Poll intervals are 1 ms and
// read window state through the server, never through the installer's
// message queue, so the measuring does not slow the installer down.

#include "engine/Detection.h"
#include "app/InstallApp.h"
#include "lang/Languages.h"
#include "identity/Product.h"
#include "app/DefaultFolders.h"
#include "app/StartUp.h"
#include "bench/BenchSupport.h"
#include "engine/Archive.h"
#include "engine/ArchiveFormat.h"
#include "sys/Crc32.h"
#include "engine/InstallSequence.h"
#include "resources/resource.h"
#include "support/WindowDriver.h"
#include "sys/Handles.h"

#include <windows.h>
#include <objbase.h>

#include <boost/filesystem/operations.hpp>
#include <bzlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = boost::filesystem;
using qv::bench::now;

constexpr std::size_t chunkSize = 4096;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "qv_installer_bench: %s\n", what);
    std::fflush(stderr);
    std::exit(1);
}

// --- The installer's files ----------------------------------------------------

struct Installer {
    std::wstring path;
    qv::UniqueModule module;  // loaded as a data file: its payload where the system mapped it
    std::string_view payload;
    std::uint64_t fileSize = 0;
};

Installer openInstaller(const std::wstring& path)
{
    Installer installer;
    installer.path = path;
    installer.module.reset(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!installer.module) fail("cannot load an installer as a data file");
    installer.payload = qv::resourceBytes(installer.module.get(), qv::payloadResourceType, qv::payloadResourceId);
    installer.fileSize = fs::file_size(fs::path(path));
    return installer;
}

// --- The floor ------------------------------------------------------------------

// One plain decompression of the whole payload, chunk by chunk.
void plainDecompress(std::string_view packed, const std::function<void(const char*, std::size_t)>& consume)
{
    bz_stream stream{};
    if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) fail("libbz2 cannot start");
    stream.next_in = const_cast<char*>(packed.data());
    stream.avail_in = static_cast<unsigned>(packed.size());
    char out[chunkSize];
    int status;
    do {
        stream.next_out = out;
        stream.avail_out = sizeof out;
        status = BZ2_bzDecompress(&stream);
        if (const std::size_t n = sizeof out - stream.avail_out) consume(out, n);
    } while (status == BZ_OK);
    BZ2_bzDecompressEnd(&stream);
    if (status != BZ_STREAM_END) fail("the payload does not decompress");
}

// The decompressed archive written as plain files named by their index,
// each one read back for its CRC once it is complete.
class PlainWriter {
public:
    explicit PlainWriter(std::wstring folder) : folder_(std::move(folder)) {}

    void write(const char* p, std::size_t n)
    {
        while (n > 0) {
            const std::size_t used = entries_.empty() && !parsed_ ? collectHeader(p, n) : writeData(p, n);
            p += used;
            n -= used;
        }
    }

    void finish()
    {
        while (next_ < entries_.size()) openNext();  // empty entries at the end
        closeCurrent();
    }

private:
    std::size_t collectHeader(const char* p, std::size_t n)
    {
        const std::size_t want = header_.size() < 8 ? 8 : static_cast<std::size_t>(qv::readHeaderSize(header_.data()));
        const std::size_t take = std::min(want - header_.size(), n);
        header_.append(p, take);
        if (header_.size() >= 8 && header_.size() == qv::readHeaderSize(header_.data())) {
            entries_ = qv::parseHeader(header_);
            parsed_ = true;
        }
        return take;
    }

    std::size_t writeData(const char* p, std::size_t n)
    {
        while (remaining_ == 0) openNext();
        const std::size_t m = static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, n));
        DWORD written = 0;
        if (!::WriteFile(file_.get(), p, static_cast<DWORD>(m), &written, nullptr) || written != m)
            fail("the floor cannot write");
        remaining_ -= m;
        return m;
    }

    void openNext()
    {
        closeCurrent();
        if (next_ >= entries_.size()) fail("the payload has data beyond its last entry");
        current_ = folder_ + L"\\" + std::to_wstring(next_);
        file_.reset(::CreateFileW(current_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_) fail("the floor cannot create a file");
        crc_ = entries_[next_].crc;
        remaining_ = entries_[next_].size;
        ++next_;
    }

    void closeCurrent()
    {
        if (!file_) return;
        file_.reset();
        if (qv::fileCrc(current_) != crc_) fail("the floor read back a wrong CRC");
    }

    std::wstring folder_;
    std::string header_;
    bool parsed_ = false;
    std::vector<qv::ArchiveEntry> entries_;
    std::size_t next_ = 0;
    std::wstring current_;
    qv::UniqueFile file_;
    std::uint32_t crc_ = 0;
    std::uint64_t remaining_ = 0;
};

std::wstring scratchFolder()
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"qv_installer_bench";
}

double floorRun(const Installer& installer)
{
    const std::wstring folder = scratchFolder();
    qv::bench::removeTree(folder);
    fs::create_directories(fs::path(folder));
    const double start = now();
    plainDecompress(installer.payload, [](const char*, std::size_t) {});
    PlainWriter writer(folder);
    plainDecompress(installer.payload, [&](const char* p, std::size_t n) { writer.write(p, n); });
    writer.finish();
    const double seconds = now() - start;
    qv::bench::removeTree(folder);
    return seconds;
}

// --- The engine -------------------------------------------------------------------

// Notes when the sequence reached each of its steps: every step begins with
// a status or a log line.
class StepClock : public qv::bench::SilentDisplay {
public:
    void AppendLog(const std::wstring& text, bool heading) override
    {
        note(L"log    ", text);
        SilentDisplay::AppendLog(text, heading);
    }
    void SetStatus(const std::wstring& text) override { note(L"status ", text); }
    void SetStatusPath(const std::wstring& text) override { note(L"path   ", text); }
    void ResetProgress() override { note(L"progress reset", L""); }

    void print() const
    {
        double last = start_;
        for (const auto& [time, text] : notes_) {
            std::wprintf(L"  %8.1f ms  +%7.1f ms  %ls\n", (time - start_) * 1e3, (time - last) * 1e3, text.c_str());
            last = time;
        }
    }

private:
    void note(const wchar_t* what, std::wstring text)
    {
        if (text.size() > 70) text = text.substr(0, 67) + L"...";
        for (wchar_t& c : text)
            if (c == L'\r' || c == L'\n') c = L' ';
        notes_.emplace_back(now(), what + text);
    }

    double start_ = now();
    std::vector<std::pair<double, std::wstring>> notes_;
};

// The folders the installer chooses in a quick installation, and the
// maker's folders above them.
std::vector<std::wstring> installationFolders()
{
    std::vector<std::wstring> folders;
    for (const std::wstring& folder : {qv::defaultInstallPath(), qv::defaultStartMenuFolder()})
        folders.push_back(fs::path(folder).parent_path().wstring());
    return folders;
}

double engineRun(const Installer& installer, qv::bench::SilentDisplay& display)
{
    qv::CInstallApp app;
    app.instanceMutex.tryAcquire();
    app.installPath = qv::defaultInstallPath();
    app.startMenuFolder = qv::defaultStartMenuFolder();
    app.createStartMenuShortcut = true;
    app.createDesktopShortcut = true;
    qv::detectInstallation(app, qv::findInstalledProgram());
    if (app.installState != qv::InstallState::NotInstalled) fail("the engine's run found an installation");
    app.uninstallLog.read(nullptr);

    qv::InstallTarget target;
    HMODULE module = installer.module.get();
    const double start = now();
    const bool ok = qv::InstallSequence(app, display, target, [module] { return qv::loadResourceStream(module); }).run();
    const double seconds = now() - start;
    if (!ok) fail("the install sequence failed");
    return seconds;
}

// --- The wizard ---------------------------------------------------------------------

// The private memory of a process of this Wine prefix whose program is the
// given file: Wine names a process in /proc after its Windows program.
double privateMemoryMiB(const std::wstring& program)
{
    auto readAll = [](const std::wstring& path) {
        std::string bytes;
        qv::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        if (!file) return bytes;
        char block[4096];
        DWORD got = 0;
        while (::ReadFile(file.get(), block, sizeof block, &got, nullptr) && got > 0) bytes.append(block, got);
        return bytes;
    };
    auto lower = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    // Our paths are ASCII.
    auto narrow = [](const std::wstring& text) { return std::string(text.begin(), text.end()); };
    const std::string name = lower(narrow(fs::path(program).filename().wstring()));
    wchar_t prefixValue[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"WINEPREFIX", prefixValue, MAX_PATH);
    const std::string prefix = "WINEPREFIX=" + narrow(prefixValue) + '\0';

    WIN32_FIND_DATAW found{};
    qv::UniqueFindFile search(::FindFirstFileW(L"Z:\\proc\\*", &found));
    if (!search) fail("cannot list /proc");
    do {
        const std::wstring pid = found.cFileName;
        if (pid.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
        const std::string command = lower(readAll(L"Z:\\proc\\" + pid + L"\\cmdline"));
        const std::string first = command.substr(0, command.find('\0'));
        if (first.size() < name.size() || first.compare(first.size() - name.size(), name.size(), name) != 0) continue;
        if (readAll(L"Z:\\proc\\" + pid + L"\\environ").find(prefix) == std::string::npos) continue;
        const std::string status = readAll(L"Z:\\proc\\" + pid + L"\\status");
        const std::size_t at = status.find("RssAnon:");
        if (at == std::string::npos) continue;
        return std::strtod(status.c_str() + at + 8, nullptr) / 1024.0;
    } while (::FindNextFileW(search.get(), &found));
    fail("the installer's process is not in /proc");
}

struct WizardRun {
    double firstPage = 0;
    double install = 0;
    double memoryFirstPage = 0;
    double memoryEnd = 0;
};

class Wizard {
public:
    explicit Wizard(const std::wstring& program)
        : started_(now()), process_(L"\"" + program + L"\"")
    {
        if (!process_.started()) fail("cannot start an installer");
    }

    // Polls every millisecond until test is true; false after 10 minutes.
    template <class Test>
    bool waitFor(Test test)
    {
        for (const double until = now() + 600; now() < until; ::Sleep(1))
            if (test()) return true;
        return false;
    }

    HWND frame()
    {
        if (!frame_) {
            qv::test::WindowQuery query;
            query.processId = process_.id();
            query.className = L"#32770";
            HWND window = qv::test::findTopLevelWindow(query);
            if (window && ::GetDlgItem(window, IDC_SIDE_PANEL)) frame_ = window;
        }
        return frame_;
    }

    // The page on show has a control of this id.
    bool showsPageWith(int control)
    {
        HWND page = pageWindow(control);
        return page && ::IsWindowVisible(page);
    }

    bool buttonEnabled(int id) { return ::IsWindowEnabled(::GetDlgItem(frame(), id)) != FALSE; }

    // Next, then waits for the page with that control, ready when Next or
    // Exit (on the last page) can be clicked.
    void next(int pageControl)
    {
        qv::test::clickButton(frame(), IDOK);
        if (!waitFor([&] { return showsPageWith(pageControl) && (buttonEnabled(IDOK) || buttonEnabled(IDCANCEL)); }))
            fail("the wizard did not go on");
    }

    WizardRun run(const std::wstring& program)
    {
        WizardRun result;
        if (!waitFor([&] { return showsPageWith(IDC_LANGUAGE); })) fail("the installer showed no first page");
        result.firstPage = now() - started_;
        result.memoryFirstPage = privateMemoryMiB(program);

        next(IDC_MODE_QUICK);
        next(IDC_LOG);
        const double start = now();
        qv::test::clickButton(frame(), IDOK);
        if (!waitFor([&] { return !buttonEnabled(IDCANCEL); }) || !waitFor([&] { return buttonEnabled(IDCANCEL); }))
            fail("the installation did not end");
        result.install = now() - start;
        result.memoryEnd = privateMemoryMiB(program);
        if (qv::test::windowText(::GetDlgItem(pageWindow(IDC_LOG), IDC_STATUS)) != L"Click on 'Next' to continue.")
            fail("the installation failed in the wizard");

        next(IDC_INFO);
        qv::test::clickButton(frame(), IDCANCEL);
        if (process_.wait(60000) == STILL_ACTIVE) fail("the installer did not end");
        return result;
    }

private:
    // The page among the frame's children with a control of this id; the
    // visible one when several pages have it.
    HWND pageWindow(int control)
    {
        HWND found = nullptr;
        for (HWND child = ::GetWindow(frame(), GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
            if (::GetDlgItem(child, control) && (!found || ::IsWindowVisible(child))) found = child;
        return found;
    }

    double started_;
    qv::test::ChildProcess process_;
    HWND frame_ = nullptr;
};

// --- The table ---------------------------------------------------------------------

struct Column {
    std::string label;
    double floor = 1e30, engine = 1e30, wizard = 1e30, firstPage = 1e30;
    double memoryFirstPage = 0, memoryEnd = 0;
    std::uint64_t decompressed = 0;
    std::uint64_t withoutPayload = 0;
};

void printRow(const char* name, const std::vector<Column>& columns, const std::function<std::string(const Column&)>& cell)
{
    std::printf("%-34s", name);
    for (const Column& c : columns) std::printf(" %14s", cell(c).c_str());
    std::printf("\n");
}

std::string format(const char* pattern, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    int runs = 3;
    bool steps = false;
    std::vector<std::wstring> programs;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument == L"--runs" && i + 1 < argc)
            runs = std::max(1, _wtoi(argv[++i]));
        else if (argument == L"--steps")
            steps = true;
        else
            programs.push_back(argument);
    }
    if (programs.size() < 2) {
        std::fprintf(stderr, "usage: qv_installer_bench [--runs N] [--steps] <shipped installer> <installer>...\n");
        return 2;
    }
    ::CoInitialize(nullptr);
    qv::applicationId() = L"Quorvex6";
    qv::setLanguage(qv::EnglishLanguage);
    const std::vector<std::wstring> folders = installationFolders();

    const Installer shipped = openInstaller(programs[0]);
    std::vector<Column> columns;
    for (std::size_t p = 1; p < programs.size(); ++p) {
        const Installer installer = openInstaller(programs[p]);
        if (installer.payload.empty()) fail("an installer has no payload");
        Column column;
        column.withoutPayload = installer.fileSize - installer.payload.size();
        for (int run = 0; run < runs; ++run) {
            qv::bench::removeInstallations(folders);
            const double floor = floorRun(installer);

            qv::bench::removeInstallations(folders);
            StepClock display;
            const double engine = engineRun(installer, display);
            if (steps && run == runs - 1 && p == programs.size() - 1) {
                std::wprintf(L"The install sequence without windows, %ls:\n", fs::path(programs[p]).filename().c_str());
                display.print();
            }

            qv::bench::removeInstallations(folders);
            const WizardRun wizard = Wizard(programs[p]).run(programs[p]);
            std::fprintf(stderr, "%ls run %d: floor %.3f s, engine %.3f s, wizard %.3f s, first page %.3f s\n",
                         fs::path(programs[p]).filename().c_str(), run + 1, floor, engine, wizard.install,
                         wizard.firstPage);
            column.floor = std::min(column.floor, floor);
            column.engine = std::min(column.engine, engine);
            column.wizard = std::min(column.wizard, wizard.install);
            column.firstPage = std::min(column.firstPage, wizard.firstPage);
            column.memoryFirstPage = std::max(column.memoryFirstPage, wizard.memoryFirstPage);
            column.memoryEnd = std::max(column.memoryEnd, wizard.memoryEnd);
        }
        qv::bench::removeInstallations(folders);
        std::uint64_t total = 0;
        plainDecompress(installer.payload, [&](const char*, std::size_t n) { total += n; });
        column.decompressed = total;
        column.label = total ? format("%.1f MB", static_cast<double>(total) / 1e6) : "empty files";
        columns.push_back(column);
    }

    std::printf("\n%d runs each: fastest time, highest memory\n", runs);
    printRow("payload, decompressed", columns, [](const Column& c) { return c.label; });
    printRow("floor (2 decompressions, write, read)", columns, [](const Column& c) { return format("%.3f s", c.floor); });
    printRow("engine (sequence without windows)", columns, [](const Column& c) { return format("%.3f s", c.engine); });
    printRow("wizard (Install to finished)", columns, [](const Column& c) { return format("%.3f s", c.wizard); });
    printRow("engine / floor", columns, [](const Column& c) { return c.decompressed ? format("%.2f", c.engine / c.floor) : "-"; });
    printRow("wizard / engine", columns, [](const Column& c) { return format("%.2f", c.wizard / c.engine); });
    printRow("time to the first page", columns, [](const Column& c) { return format("%.3f s", c.firstPage); });
    printRow("private memory, first page", columns, [](const Column& c) { return format("%.1f MiB", c.memoryFirstPage); });
    printRow("private memory, end", columns, [](const Column& c) { return format("%.1f MiB", c.memoryEnd); });
    printRow("executable less payload", columns, [](const Column& c) { return format("%.0f bytes", static_cast<double>(c.withoutPayload)); });
    for (const Column& c : columns)
        if (!c.decompressed) std::printf("fixed cost with empty files (wizard): %.3f s\n", c.wizard);
    std::printf("shipped installer %ls: %llu bytes, %llu without its payload\n",
                fs::path(programs[0]).filename().c_str(), static_cast<unsigned long long>(shipped.fileSize),
                static_cast<unsigned long long>(shipped.fileSize - shipped.payload.size()));
    ::CoUninitialize();
    return 0;
}
