// Mutated inputs through the readers that take them from outside: payload
// archives through the verification pass and the extraction into a scratch
// folder, uninstall logs through the log reader (and its writer). From a
// fixed seed, for a bounded time: no crash, no hang, memory bounded, every
// archive either sound or refused with one of the extraction's codes, and
// nothing written outside the scratch folder.
//
// QV_FUZZ_SEED and QV_FUZZ_SECONDS (default 1 for each input) change the seed and the time;
// scripts/fuzz.sh runs the same harness for longer. The time only decides
// when to stop: no case is judged by how long it took.

#include "engine/Archive.h"
#include "engine/CompressError.h"
#include "support/ArchiveTestSupport.h"
#include "support/MachineSnapshot.h"
#include "support/TestFiles.h"
#include "sys/Handles.h"
#include "sys/PathGuard.h"
#include "uninstall/UninstallLog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>

#include <boost/filesystem/operations.hpp>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>

namespace qv {
namespace {

using test::TestEntry;

const std::wstring scratch = L"C:\\QvFuzz";

unsigned long environmentNumber(const wchar_t* name, unsigned long fallback)
{
    wchar_t value[32] = {};
    if (!::GetEnvironmentVariableW(name, value, 32)) return fallback;
    return std::wcstoul(value, nullptr, 10);
}

std::size_t peakMemory()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return std::max<std::size_t>(counters.PeakWorkingSetSize, counters.PeakPagefileUsage);
}

std::set<std::wstring> namesIn(const std::wstring& folder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    UniqueFindFile find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (find) do names.insert(found.cFileName); while (::FindNextFileW(find.get(), &found));
    return names;
}

void emptyScratch()
{
    boost::system::error_code ignored;
    // Read-only files among them: the extraction's targets may be.
    for (boost::filesystem::recursive_directory_iterator it(scratch, ignored), end; it != end; it.increment(ignored))
        ::SetFileAttributesW(it->path().wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
    boost::filesystem::remove_all(scratch, ignored);
    boost::filesystem::create_directories(scratch, ignored);
}

bool isBelowScratch(const std::wstring& path)
{
    const std::wstring full = fullPathOf(path);
    return full.size() > scratch.size() + 1 && sameFileName(full.substr(0, scratch.size() + 1), scratch + L"\\");
}

std::string pseudoRandomBytes(std::mt19937& random, std::size_t size)
{
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

// Changes the bytes the way damage and hand-made inputs do: bits flipped,
// bytes set to edge values, bytes cut, repeated or inserted, the data cut
// short or extended; mostly in the first bytes, where the structure lies.
std::string mutate(std::string bytes, std::mt19937& random, std::size_t hotSize)
{
    const int changes = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < changes && !bytes.empty(); ++i) {
        const std::size_t span = (random() % 4 != 0 && hotSize > 0) ? std::min(hotSize, bytes.size()) : bytes.size();
        const std::size_t at = random() % span;
        switch (random() % 7) {
        case 0: bytes[at] = static_cast<char>(bytes[at] ^ (1 << (random() % 8))); break;
        case 1: {
            static const unsigned char edges[] = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0xFE, '\\', '.', ':', '<', '>'};
            bytes[at] = static_cast<char>(edges[random() % sizeof edges]);
            break;
        }
        case 2: bytes.erase(at, 1 + random() % 16); break;
        case 3: bytes.insert(at, bytes.substr(at, 1 + random() % 64)); break;
        case 4: bytes.insert(at, pseudoRandomBytes(random, 1 + random() % 32)); break;
        case 5: bytes.resize(at); break;
        default: {
            // A 32-bit field set to an extreme.
            static const std::uint32_t values[] = {0, 1, 0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0x10000u, 4096};
            const std::uint32_t v = values[random() % std::size(values)];
            for (int b = 0; b < 4 && at + b < bytes.size(); ++b) bytes[at + b] = static_cast<char>(v >> (8 * b));
            break;
        }
        }
    }
    return bytes;
}

class Fuzz : public ::testing::Test {
protected:
    void SetUp() override
    {
        seed = environmentNumber(L"QV_FUZZ_SEED", 14);
        seconds = environmentNumber(L"QV_FUZZ_SECONDS", 1);
        emptyScratch();
    }

    bool timeLeft(std::chrono::steady_clock::time_point start) const
    {
        return std::chrono::steady_clock::now() - start < std::chrono::seconds(seconds);
    }

    unsigned long seed = 0, seconds = 0;
};

TEST_F(Fuzz, MutatedArchivesAreWrittenWholeOrRefusedWithACodeAndNothingOutsideTheScratchFolder)
{
    std::mt19937 random(seed);
    const std::vector<TestEntry> entries = {
        {L"C:\\b\\Trimora.exe", L"<InstallPath>", pseudoRandomBytes(random, 9000), 1, {}},
        {L"C:\\b\\Personal.qwl", L"<InstallPath>\\Data", "", 3, {}},
        {L"C:\\b\\Uninstall.exe", L"<InstallPath>", pseudoRandomBytes(random, 3000), 2, {}},
        {L"C:\\b\\Trimora_en.dll", L"<InstallPath>\\Lang", pseudoRandomBytes(random, 5000), 0, {}},
        {L"C:\\b\\Welcome.qvn", L"<SamplePath>", "a sample notebook", 4, {}},
        {L"C:\\b\\setup.tmp", L"<Temporary>", "only while installing", 5, {}},
    };
    const std::string raw = test::rawArchive(entries);
    const std::size_t headerSize = serializeHeader(test::tableOf(entries)).size();
    const std::string packed = test::bzip2(raw);

    const test::MachineSnapshot before = test::MachineSnapshot::take();
    const std::set<std::wstring> driveBefore = namesIn(L"C:");
    const std::set<std::wstring> currentBefore = namesIn(L".");
    const std::size_t memoryBefore = peakMemory();

    std::map<std::string, std::size_t> outcomes;
    std::size_t cases = 0, written = 0, keptOutside = 0;
    const auto start = std::chrono::steady_clock::now();
    while (timeLeft(start)) {
        ++cases;
        // Most cases change the decompressed archive (its structure); some
        // the compressed stream itself.
        const bool compressedDamage = random() % 5 == 0;
        const std::string archive =
            compressedDamage ? mutate(packed, random, packed.size()) : test::bzip2(mutate(raw, random, headerSize));
        const std::wstring install = scratch + L"\\Install", samples = scratch + L"\\Samples",
                           temp = scratch + L"\\Temp";

        std::istringstream verified(archive);
        const std::error_code verdict = verifyArchiveContents(verified, install, samples, temp);
        const bool knownVerdict = !verdict || verdict == make_error_code(CompressError::Unknown) ||
                                  verdict == make_error_code(CompressError::Unexpected);
        EXPECT_TRUE(knownVerdict) << "case " << cases << ": " << verdict.message();

        std::istringstream extracted(archive);
        std::error_code failure;
        const bool extractedAll = extractArchive(extracted, install, samples, temp, [&](notification n) {
            if (auto* begin = std::get_if<FileBegin>(&n); begin && !isBelowScratch(begin->entry.destination)) {
                // An unknown macro leaves a relative path, resolved against
                // the current folder: the harness keeps to its scratch
                // folder, as the install sequence decides per file.
                ++keptOutside;
                return result::Skip;
            }
            if (auto* failed = std::get_if<Failed>(&n)) failure = failed->code;
            return result::Continue;
        });
        // What the verification accepts, the extraction writes whole; only
        // an entry's checksum is left to the file written (which then never
        // takes its name).
        if (!verdict)
            EXPECT_TRUE(extractedAll || failure == make_error_code(CompressError::InvalidChecksum))
                << "case " << cases << ": " << failure.message();
        if (extractedAll) ++written;
        else
            EXPECT_TRUE(failure.category() == compress_category() || failure.category() == std::system_category() ||
                        failure.category() == std::generic_category())
                << "case " << cases;
        ++outcomes[!verdict ? "sound" : verdict.message()];
        emptyScratch();
        if (HasFailure()) break;
    }

    std::cout << "fuzz: seed " << seed << ", " << cases << " mutated archives: ";
    for (const auto& [outcome, count] : outcomes) std::cout << count << " " << outcome << "; ";
    std::cout << written << " extracted whole, " << keptOutside << " entries outside the scratch folder skipped\n";
    RecordProperty("archives", static_cast<int>(cases));

    EXPECT_GT(cases, 0u);
    EXPECT_LT(peakMemory() - memoryBefore, std::size_t(64) << 20) << "memory grew by more than 64 MiB";
    EXPECT_THAT(test::diff(before, test::MachineSnapshot::take()), ::testing::IsEmpty());
    EXPECT_EQ(namesIn(L"C:"), driveBefore);
    EXPECT_EQ(namesIn(L"."), currentBefore);
}

TEST_F(Fuzz, MutatedLogsAreReadWithinTheirBoundsAndWrittenBackReadably)
{
    std::mt19937 random(seed + 1);
    std::wstring text(1, wchar_t(0xFEFF));
    const std::wstring install = L"C:\\Program Files\\Orvane Systems\\Trimora 6";
    for (const std::wstring& line : std::vector<std::wstring>{
             L"// Uninstall Log File v1", L"// ############ WARNING: Do not delete or modify this file. ############",
          L"// Install Trimora 6.03", L"// Install Path : C:\\Program Files\\Orvane Systems\\Trimora 6",
          L"// Shortcut Path : ", L"// ----------------", L"0000:00ff:1 -- " + install,
          L"0001:0101:1 -- " + install + L"\\Trimora.exe", L"0002:0102:1 -- " + install + L"\\Uninstall.exe",
          L"0003:0100:1 -- " + install + L"\\Lang\\Trimora_de.dll", L"0004:0103:0 -- C:\\ProgramData\\Words.qwl",
          L"0005:02ff:1 -- C:\\Menu\\Trimora 6.03.lnk",
          L"0006:05ff:1 -- HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvex 6",
          L"0007:06ff:1 -- HKEY_CLASSES_ROOT\\..."})
        text += line + L"\r\n";
    const std::string utf16(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    std::string ansi;
    for (std::size_t i = 1; i < text.size(); ++i) ansi += static_cast<char>(text[i] & 0x7F);

    const std::size_t memoryBefore = peakMemory();
    std::size_t cases = 0, entries = 0;
    const auto start = std::chrono::steady_clock::now();
    const std::wstring file = scratch + L"\\mutated.ulog", again = scratch + L"\\again.ulog",
                       third = scratch + L"\\third.ulog";
    while (timeLeft(start)) {
        ++cases;
        const std::string& base = random() % 3 == 0 ? ansi : utf16;
        test::writeFileBytes(file, mutate(base, random, base.size()));
        UninstallLog log;
        log.read(file.c_str());
        for (const LogEntry& e : log.previousEntries()) {
            EXPECT_TRUE(e.kind >= 0 && e.kind <= 6) << "case " << cases;
            EXPECT_TRUE(e.payloadKind >= -1 && e.payloadKind <= 0xFE) << "case " << cases;
            EXPECT_LE(e.path.size() * sizeof(wchar_t), 1022u) << "case " << cases;
        }
        entries += log.previousEntries().size();

        // Whatever was read is written back so that its reader takes every
        // line, and a second round changes nothing.
        ASSERT_TRUE(log.commit(again, install, L"")) << "case " << cases;
        UninstallLog second;
        second.read(again.c_str());
        std::vector<std::wstring> paths;
        for (const LogEntry& e : second.previousEntries()) paths.push_back(e.path);
        ASSERT_TRUE(second.commit(third, install, L"")) << "case " << cases;
        UninstallLog thirdRead;
        thirdRead.read(third.c_str());
        std::vector<std::wstring> pathsAgain;
        for (const LogEntry& e : thirdRead.previousEntries()) pathsAgain.push_back(e.path);
        EXPECT_EQ(paths, pathsAgain) << "case " << cases;
        for (const std::wstring& name : {file, again, third}) {
            ::SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(name.c_str());
        }
        if (HasFailure()) break;
    }
    std::cout << "fuzz: seed " << seed + 1 << ", " << cases << " mutated logs read, " << entries
              << " entries taken, each written back and read again\n";
    RecordProperty("logs", static_cast<int>(cases));
    EXPECT_GT(cases, 0u);
    EXPECT_LT(peakMemory() - memoryBefore, std::size_t(64) << 20) << "memory grew by more than 64 MiB";
}

}  // namespace
}  // namespace qv
