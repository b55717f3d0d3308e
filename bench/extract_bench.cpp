// extract_bench [--scale N]
//
// Builds a payload shaped like the product's (27 entries, 16,353,621 bytes
// times N, the second entry empty, text that bzip2 -9 packs about 3:1),
// packs it with the archive serializer into a bzip2 file that is then mapped
// into memory as the loader maps the installer's resource, and times:
//   verification  verifyArchive over the mapped data
//   extraction    extractArchive into a temporary folder
//   floor         one plain libbz2 decompression of the same data into nothing
// Each pass runs three times; the fastest counts. Prints the ratio
// (verification + extraction) / floor and the process's peak memory. Run each
// scale in its own process, so that the peak belongs to that scale.

#include "bench/BenchSupport.h"
#include "bench/SyntheticPayload.h"
#include "engine/Archive.h"
#include "engine/ArchiveFormat.h"
#include "sys/Crc32.h"
#include "sys/Handles.h"

#include <windows.h>
#include <psapi.h>
#include <shlobj.h>

#include <boost/filesystem/operations.hpp>
#include <boost/iostreams/device/array.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>
#include <boost/iostreams/stream.hpp>
#include <bzlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = boost::filesystem;
namespace io = boost::iostreams;
using qv::bench::now;

// --- Packing ---------------------------------------------------------------------

std::uint64_t packInto(const std::wstring& path, const std::vector<qv::bench::PlannedFile>& files,
                       std::uint64_t& rawSize)
{
    std::vector<qv::ArchiveEntry> table;
    std::vector<char> block(1 << 16);
    for (std::size_t i = 0; i < files.size(); ++i) {
        qv::Crc32 crc;
        qv::bench::TextSource text(static_cast<std::uint32_t>(i + 1), files[i].size);
        while (std::size_t n = text.read(block.data(), block.size())) crc.update(block.data(), n);
        table.push_back({L"C:\\build\\payload\\" + files[i].name, files[i].destination,
                         static_cast<std::uint32_t>(files[i].kind), files[i].size, crc.value()});
    }
    const std::string header = qv::serializeHeader(table);
    rawSize = qv::archiveTotal(header.size(), table);

    std::ofstream file(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    {
        io::filtering_ostream out;
        out.push(io::bzip2_compressor(io::bzip2_params(9)));
        out.push(file);
        out.write(header.data(), static_cast<std::streamsize>(header.size()));
        for (std::size_t i = 0; i < files.size(); ++i) {
            qv::bench::TextSource text(static_cast<std::uint32_t>(i + 1), files[i].size);
            while (std::size_t n = text.read(block.data(), block.size()))
                out.write(block.data(), static_cast<std::streamsize>(n));
        }
    }
    file.close();
    return fs::file_size(path);
}

// The packed file mapped read-only, as the loader maps a resource.
class MappedFile {
public:
    explicit MappedFile(const std::wstring& path)
    {
        file_.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER size{};
        ::GetFileSizeEx(file_.get(), &size);
        size_ = static_cast<std::size_t>(size.QuadPart);
        mapping_.reset(::CreateFileMappingW(file_.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        view_ = mapping_ ? static_cast<const char*>(::MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, 0)) : nullptr;
        if (!view_) {
            std::fprintf(stderr, "extract_bench: cannot map the packed payload\n");
            std::exit(1);
        }
    }
    ~MappedFile() { ::UnmapViewOfFile(view_); }
    const char* data() const { return view_; }
    std::size_t size() const { return size_; }

private:
    qv::UniqueFile file_;
    qv::UniqueHandle mapping_;
    const char* view_ = nullptr;
    std::size_t size_ = 0;
};

// --- Timing ---------------------------------------------------------------------

// This thread's processor time: on a machine shared with other work it
// varies far less than the wall clock.
double cpuTime()
{
    FILETIME created, exited, kernel, user;
    ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

struct Timing {
    double wall = 1e30;
    double cpu = 1e30;
};

template <class F, class S>
Timing fastestOf3(F&& pass, S&& untimedSetup)
{
    Timing best;
    for (int i = 0; i < 3; ++i) {
        untimedSetup();
        double wall = now(), cpu = cpuTime();
        pass();
        best.cpu = std::min(best.cpu, cpuTime() - cpu);
        best.wall = std::min(best.wall, now() - wall);
    }
    return best;
}

template <class F>
Timing fastestOf3(F&& pass)
{
    return fastestOf3(std::forward<F>(pass), [] {});
}

void plainBzip2(const MappedFile& packed)
{
    bz_stream s{};
    if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) std::exit(1);
    s.next_in = const_cast<char*>(packed.data());
    s.avail_in = static_cast<unsigned>(packed.size());
    static char out[1 << 16];
    int status;
    do {
        s.next_out = out;
        s.avail_out = sizeof out;
        status = BZ2_bzDecompress(&s);
    } while (status == BZ_OK);
    BZ2_bzDecompressEnd(&s);
    if (status != BZ_STREAM_END) {
        std::fprintf(stderr, "extract_bench: plain decompression failed (%d)\n", status);
        std::exit(1);
    }
}

// Removes the extracted files and the folders that they leave empty.
void removeExtracted(std::vector<std::wstring>& written)
{
    boost::system::error_code ignored;
    for (const std::wstring& file : written) {
        fs::remove(file, ignored);
        for (fs::path folder = fs::path(file).parent_path(); fs::is_empty(folder, ignored) && !ignored;
             folder = folder.parent_path())
            if (!fs::remove(folder, ignored)) break;
    }
    written.clear();
}

// The mapped payload's pages count in the working set once read, as the
// installer's resource pages do; "less payload" takes them out, leaving
// what the passes themselves hold.
void printPeak(const char* when, std::uint64_t mappedPayload)
{
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof pmc;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof pmc);
    std::printf("peak memory %-18s working set %7.2f MiB (%7.2f MiB less payload), pagefile usage %6.2f MiB\n",
                when, pmc.PeakWorkingSetSize / 1048576.0, (pmc.PeakWorkingSetSize - mappedPayload) / 1048576.0,
                pmc.PeakPagefileUsage / 1048576.0);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::uint64_t scale = 1;
    for (int i = 1; i < argc; ++i)
        if (std::wstring(argv[i]) == L"--scale" && i + 1 < argc) scale = std::wcstoull(argv[++i], nullptr, 10);
    if (scale == 0) {
        std::fprintf(stderr, "usage: extract_bench [--scale N]\n");
        return 2;
    }

    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring work = std::wstring(temp) + L"qv_extract_bench_" + std::to_wstring(::GetCurrentProcessId());
    fs::create_directories(work);
    const std::wstring packedPath = work + L"\\payload.bz2";

    std::uint64_t rawSize = 0;
    double packStart = now();
    std::uint64_t packedSize = packInto(packedPath, qv::bench::plannedFiles(scale), rawSize);
    std::printf("payload x%llu: 27 entries, %llu bytes packed into %llu (%.2f:1) in %.1f s\n",
                static_cast<unsigned long long>(scale), static_cast<unsigned long long>(rawSize),
                static_cast<unsigned long long>(packedSize), double(rawSize) / double(packedSize), now() - packStart);
    printPeak("after packing:", 0);

    std::vector<std::wstring> written;
    {
        MappedFile packed(packedPath);
        io::stream<io::array_source> stream(packed.data(), packed.data() + packed.size());
        auto rewind = [&] {
            stream.clear();
            stream.seekg(0);
        };

        bool verified = true;
        Timing verification = fastestOf3([&] {
            rewind();
            verified = verified && qv::verifyArchive(stream);
        });

        const std::wstring install = work + L"\\Install", samples = work + L"\\Samples";
        bool extracted = true;
        Timing extraction = fastestOf3([&] {
            extracted = extracted && qv::extractArchive(stream, install, samples, work, [&](qv::notification n) {
                if (auto* end = std::get_if<qv::FileEnd>(&n)) written.push_back(end->entry.destination);
                if (auto* failed = std::get_if<qv::Failed>(&n))
                    std::fprintf(stderr, "extraction failed: %s\n", failed->code.message().c_str());
                return qv::result::Continue;
            });
        }, [&] {
            // Each run writes into folders as a first installation finds them.
            removeExtracted(written);
            rewind();
        });
        Timing floor = fastestOf3([&] { plainBzip2(packed); });
        if (!verified || !extracted || written.size() != 27) {
            std::fprintf(stderr, "extract_bench: the passes failed\n");
            return 1;
        }
        std::printf("wall clock: verification %.3f s, extraction %.3f s, plain bzip2 %.3f s, ratio %.2f\n",
                    verification.wall, extraction.wall, floor.wall,
                    (verification.wall + extraction.wall) / floor.wall);
        std::printf("cpu time:   verification %.3f s, extraction %.3f s, plain bzip2 %.3f s, ratio %.2f\n",
                    verification.cpu, extraction.cpu, floor.cpu, (verification.cpu + extraction.cpu) / floor.cpu);
        printPeak("after the passes:", packed.size());
    }

    // Leave nothing behind: the extracted files, the shared folders they made
    // (only when empty), the working folder.
    removeExtracted(written);
    boost::system::error_code ignored;
    fs::remove_all(work, ignored);
    return 0;
}
