// The streaming extractor against Wine's real file system: archives built in
// memory with the packing tool's serializer, compressed with bzip2, written
// into a throwaway folder (and the shared data folder of the test prefix).

#include "engine/Archive.h"
#include "engine/CompressError.h"
#include "support/ArchiveTestSupport.h"
#include "sys/Handles.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <boost/filesystem/operations.hpp>

#include <sstream>

namespace qv {
namespace {

using test::NotificationLog;
using test::Recorded;
using test::TempFolder;
using test::TestEntry;

constexpr std::size_t StartedIndex = 0, FinishedIndex = 1, FileBeginIndex = 2, FileEndIndex = 3,
                      ProgressIndex = 4, FailedIndex = 5;

std::string pseudoRandom(std::size_t size, unsigned seed)
{
    std::string s(size, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

std::wstring commonAppData()
{
    wchar_t path[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path);
    return path;
}

std::error_code compressCode(int value) { return {value, compress_category()}; }

class ArchiveExtract : public testing::Test {
public:
    TempFolder root;
    std::wstring install = root / L"Install";  // created by the extraction
    std::wstring samples = root / L"Samples";  // absolute: used as it stands
    NotificationLog log;

    bool run(const std::string& packed)
    {
        std::istringstream in(packed);
        return extractArchive(in, install, samples, L"", log.callback());
    }

    // Two files into the installation folder: A then B.
    std::vector<TestEntry> twoFiles() const
    {
        return {{L"C:\\build\\A.dll", L"<InstallPath>", pseudoRandom(5000, 1), 0},
                {L"C:\\build\\B.exe", L"<InstallPath>\\Lang", pseudoRandom(8000, 2), 1}};
    }
    std::wstring targetA() const { return install + L"\\A.dll"; }
    std::wstring targetB() const { return install + L"\\Lang\\B.exe"; }

    void expectOneFailureLast(std::error_code code)
    {
        ASSERT_FALSE(log.all.empty());
        EXPECT_EQ(log.all.front().index, StartedIndex);
        EXPECT_EQ(log.all.back().index, FailedIndex);
        EXPECT_EQ(log.count(FailedIndex), 1u);
        EXPECT_EQ(log.count(FinishedIndex), 0u);
        EXPECT_EQ(log.all.back().code, code) << log.all.back().code.message();
    }
};

TEST_F(ArchiveExtract, RoundTripWritesEveryFileIntoItsMacroFolder)
{
    std::vector<TestEntry> entries = {
        {L"C:\\build\\Lang\\QvLang_en.dll", L"<InstallPath>\\Lang", pseudoRandom(5000, 1), 0},
        {L"C:\\build\\Lang\\QvLang_fr.dll", L"<InstallPath>\\Lang", "", 0},
        {L"C:\\build\\Quorvex.exe", L"<InstallPath>", pseudoRandom(10000, 2), 1},
        {L"Uninstall.exe", L"<InstallPath>", pseudoRandom(4096, 3), 2},
        {L"D:/data/Settings.qvd", L"<CommonData>\\Orvane Systems\\Quorvex", pseudoRandom(100, 4), 3},
        {L"Example \u00e9t\u00e9.qvs", L"<SamplePath>", pseudoRandom(9000, 5), 4},
    };
    const std::wstring shared = commonAppData() + L"\\Orvane Systems\\Quorvex";
    const std::vector<std::wstring> targets = {
        install + L"\\Lang\\QvLang_en.dll", install + L"\\Lang\\QvLang_fr.dll", install + L"\\Quorvex.exe",
        install + L"\\Uninstall.exe",       shared + L"\\Settings.qvd",          samples + L"\\Example \u00e9t\u00e9.qvs"};
    const std::string raw = test::rawArchive(entries);
    const std::string packed = test::bzip2(raw);
    ASSERT_EQ(packed.substr(0, 4), "BZh9");
    const std::uint64_t headerSize = serializeHeader(test::tableOf(entries)).size();

    ASSERT_TRUE(run(packed));

    for (std::size_t i = 0; i < entries.size(); ++i)
        EXPECT_EQ(test::readFileBytes(targets[i]), entries[i].data) << i;

    // Started ... Finished, every entry begun and ended once, in table order.
    ASSERT_GE(log.all.size(), 2u);
    EXPECT_EQ(log.all.front().index, StartedIndex);
    EXPECT_EQ(log.count(StartedIndex), 1u);
    EXPECT_EQ(log.all.back().index, FinishedIndex);
    EXPECT_EQ(log.all.back().a, packed.size());
    EXPECT_EQ(log.all.back().b, raw.size());
    std::vector<std::wstring> sequence;
    for (const Recorded& r : log.all)
        if (r.index == FileBeginIndex || r.index == FileEndIndex)
            sequence.push_back((r.index == FileBeginIndex ? L"begin " : L"end ") + r.path);
    std::vector<std::wstring> expected;
    for (const std::wstring& t : targets) {
        expected.push_back(L"begin " + t);
        expected.push_back(L"end " + t);
    }
    EXPECT_EQ(sequence, expected);

    // Progress starts at the header, never goes back, ends at the total.
    std::vector<Recorded> progress = log.of(ProgressIndex);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front().a, headerSize);
    std::uint64_t last = 0;
    for (const Recorded& p : progress) {
        EXPECT_GE(p.a, last);
        EXPECT_EQ(p.b, raw.size());
        last = p.a;
    }
    EXPECT_EQ(progress.back().a, raw.size());

    boost::system::error_code ignored;
    boost::filesystem::remove_all(commonAppData() + L"\\Orvane Systems", ignored);
}

TEST_F(ArchiveExtract, ZeroEntriesSucceedWithNothingWritten)
{
    ASSERT_TRUE(run(test::bzip2(test::rawArchive({}))));
    std::vector<Recorded> progress = log.of(ProgressIndex);
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0].a, 12u);
    EXPECT_EQ(progress[0].b, 12u);
    ASSERT_EQ(log.all.size(), 3u);  // Started, Progress, Finished
    EXPECT_EQ(log.all.back().index, FinishedIndex);
    EXPECT_EQ(log.all.back().b, 12u);
    EXPECT_FALSE(test::fileExists(install));
}

TEST_F(ArchiveExtract, EmptyEntriesAtTheEndOfTheTableAreCreatedToo)
{
    std::vector<TestEntry> entries = {{L"A.dll", L"<InstallPath>", "abc", 0},
                                      {L"Empty1.txt", L"<InstallPath>", "", 3},
                                      {L"Empty2.txt", L"<InstallPath>\\Sub", "", 4}};
    ASSERT_TRUE(run(test::bzip2(test::rawArchive(entries))));
    EXPECT_EQ(test::readFileBytes(install + L"\\A.dll"), "abc");
    EXPECT_EQ(test::readFileBytes(install + L"\\Empty1.txt"), "");
    EXPECT_EQ(test::readFileBytes(install + L"\\Sub\\Empty2.txt"), "");
    EXPECT_EQ(log.count(FileBeginIndex), 3u);
    EXPECT_EQ(log.count(FileEndIndex), 3u);
    EXPECT_EQ(log.all.back().index, FinishedIndex);
}

TEST_F(ArchiveExtract, SkipCreatesNoFileButCountsItsBytes)
{
    log.script = [&](const notification& n) {
        auto* begin = std::get_if<FileBegin>(&n);
        return begin && begin->entry.destination == targetA() ? result::Skip : result::Continue;
    };
    const std::string raw = test::rawArchive(twoFiles());
    ASSERT_TRUE(run(test::bzip2(raw)));
    EXPECT_FALSE(test::fileExists(targetA()));
    EXPECT_EQ(test::readFileBytes(targetB()), twoFiles()[1].data);
    std::vector<Recorded> ends = log.of(FileEndIndex);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].path, targetB());
    EXPECT_EQ(log.of(ProgressIndex).back().a, raw.size());
}

TEST_F(ArchiveExtract, ReadOnlyTargetIsMadeWritableAndOverwritten)
{
    boost::filesystem::create_directories(install);
    test::writeFileBytes(targetA(), "old content that is longer than nothing");
    ASSERT_TRUE(::SetFileAttributesW(targetA().c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(run(test::bzip2(test::rawArchive(twoFiles()))));
    EXPECT_EQ(test::readFileBytes(targetA()), twoFiles()[0].data);
    EXPECT_FALSE(::GetFileAttributesW(targetA().c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(ArchiveExtract, StartedHandlerVerifiesAndRewindsAsTheInstallPageDoes)
{
    std::istringstream in(test::bzip2(test::rawArchive(twoFiles())));
    auto handler = log.callback();
    bool ok = extractArchive(in, install, samples, L"", [&](notification n) {
        if (std::holds_alternative<Started>(n)) {
            if (!verifyArchive(in)) throw std::system_error(make_error_code(CompressError::Unknown));
            in.clear();
            in.seekg(0);
        }
        return handler(std::move(n));
    });
    EXPECT_TRUE(ok);
    EXPECT_EQ(test::readFileBytes(targetB()), twoFiles()[1].data);
}

TEST_F(ArchiveExtract, RejectedVerificationFailsWithCode4BeforeAnyFile)
{
    std::string packed = test::bzip2(test::rawArchive(twoFiles()));
    packed[packed.size() / 2] ^= 0x55;
    std::istringstream in(packed);
    auto handler = log.callback();
    bool ok = extractArchive(in, install, samples, L"", [&](notification n) {
        if (std::holds_alternative<Started>(n) && !verifyArchive(in))
            throw std::system_error(make_error_code(CompressError::Unknown));
        return handler(std::move(n));
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(log.all.back().code, compressCode(4));
    EXPECT_FALSE(test::fileExists(install));
}

TEST(VerifyArchive, AcceptsOnlySoundCompleteData)
{
    const std::string packed = test::bzip2(test::rawArchive({{L"A", L"<InstallPath>", pseudoRandom(20000, 9), 0}}));
    auto verify = [](const std::string& bytes) {
        std::istringstream in(bytes);
        return verifyArchive(in);
    };
    EXPECT_TRUE(verify(packed));
    std::string flipped = packed;
    flipped[packed.size() / 2] ^= 0x01;
    EXPECT_FALSE(verify(flipped));
    EXPECT_FALSE(verify(packed.substr(0, packed.size() - 10)));
    EXPECT_FALSE(verify(packed + "garbage"));
    EXPECT_FALSE(verify("not bzip2 at all"));
    EXPECT_FALSE(verify(""));
}

// Under Wine an empty "AppData" user shell folder makes the lookup of
// CSIDL_APPDATA come back empty; "<UserData>" has no fallback.
TEST_F(ArchiveExtract, FolderLookupWithoutResultFailsWithCode7BeforeAnyFile)
{
    const wchar_t* keys[] = {L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                             L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"};
    std::vector<std::pair<DWORD, std::wstring>> saved;
    for (const wchar_t* key : keys) {
        wchar_t value[MAX_PATH] = {};
        DWORD type = REG_SZ, size = sizeof value;
        ::RegGetValueW(HKEY_CURRENT_USER, key, L"AppData", RRF_RT_ANY | RRF_NOEXPAND, &type, value, &size);
        saved.emplace_back(type, value);
    }
    auto restore = scopeExit([&] {
        for (std::size_t i = 0; i < saved.size(); ++i)
            ::RegSetKeyValueW(HKEY_CURRENT_USER, keys[i], L"AppData", saved[i].first, saved[i].second.c_str(),
                              static_cast<DWORD>((saved[i].second.size() + 1) * sizeof(wchar_t)));
    });
    for (const wchar_t* key : keys)
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, key, L"AppData", REG_SZ, L"", sizeof(wchar_t)), ERROR_SUCCESS);
    wchar_t probe[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, probe);
    if (probe[0] != L'\0') GTEST_SKIP() << "this system still finds the AppData folder";

    std::vector<TestEntry> entries = twoFiles();
    entries.push_back({L"User.qvd", L"<UserData>\\Orvane Systems\\Quorvex", "data", 3});
    EXPECT_FALSE(run(test::bzip2(test::rawArchive(entries))));
    expectOneFailureLast(compressCode(7));
    EXPECT_EQ(log.count(FileBeginIndex), 0u);
    EXPECT_FALSE(test::fileExists(install));
}

// --- Failures -----------------------------------------------------------------

struct FailureCase {
    const char* name;
    // The compressed archive, given the fixture's two files A and B.
    std::function<std::string(const std::vector<TestEntry>&)> packed;
    std::error_code code;
    // The callback's answers (Continue when empty).
    std::function<result(const notification&, const std::wstring& targetA)> script;
    // What must be on disk afterwards and which path Failed carries.
    std::function<void(const ArchiveExtract&, const NotificationLog&)> check;
    void (*prepare)(const std::wstring& targetA) = nullptr;
};

std::string le(std::uint64_t v, int bytes)
{
    std::string s;
    for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return s;
}

std::size_t headerSizeOf(const std::vector<TestEntry>& e) { return serializeHeader(test::tableOf(e)).size(); }

class ArchiveExtractFailure : public ArchiveExtract, public testing::WithParamInterface<FailureCase> {
public:
    const std::wstring& failedPath() const { return log.all.back().path; }
};

TEST_P(ArchiveExtractFailure, ReportsOneFailedAndReturnsFalse)
{
    const FailureCase& c = GetParam();
    if (c.prepare) c.prepare(targetA());
    if (c.script) {
        std::wstring a = targetA();
        log.script = [&c, a](const notification& n) { return c.script(n, a); };
    }
    EXPECT_FALSE(run(c.packed(twoFiles())));
    expectOneFailureLast(c.code);
    if (c.check) c.check(*this, log);
}

std::error_code code7 = {7, compress_category()};

bool hasFile(const std::wstring& path, const std::string& bytes)
{
    return test::fileExists(path) && test::readFileBytes(path) == bytes;
}

// What a folder holds, by name: a file written in part must leave nothing
// behind, not even under the temporary name it was written under.
std::vector<std::wstring> namesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    UniqueFindFile find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (find)
        do
            if (std::wstring(found.cFileName) != L"." && std::wstring(found.cFileName) != L"..")
                names.push_back(found.cFileName);
        while (::FindNextFileW(find.get(), &found));
    return names;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArchiveExtractFailure,
    testing::Values(
        FailureCase{"EmptyStream", [](auto&) { return std::string(); }, code7, nullptr,
                    [](const ArchiveExtract& f, const NotificationLog& log) {
                        EXPECT_EQ(log.count(ProgressIndex), 0u);
                        EXPECT_EQ(log.all.back().path, L"");
                        EXPECT_FALSE(test::fileExists(f.install));
                    }},
        FailureCase{"EndsInsideHeader", [](auto& e) { return test::bzip2(test::rawArchive(e).substr(0, 30)); },
                    code7, nullptr,
                    [](const ArchiveExtract& f, const NotificationLog&) { EXPECT_FALSE(test::fileExists(f.install)); }},
        FailureCase{"EndsInsideFileData",
                    [](auto& e) {
                        return test::bzip2(test::rawArchive(e).substr(0, headerSizeOf(e) + 5000 + 3000));
                    },
                    code7, nullptr,
                    [](const ArchiveExtract& f, const NotificationLog& log) {
                        // The file before it stays for the caller's rollback;
                        // the part of B never stands under any name.
                        EXPECT_TRUE(hasFile(f.targetA(), f.twoFiles()[0].data));
                        EXPECT_FALSE(test::fileExists(f.targetB()));
                        EXPECT_EQ(namesIn(f.install + L"\\Lang"), std::vector<std::wstring>());
                        EXPECT_EQ(log.all.back().path, f.targetB());
                    }},
        FailureCase{"OneExtraByte", [](auto& e) { return test::bzip2(test::rawArchive(e) + "x"); }, code7, nullptr,
                    [](const ArchiveExtract& f, const NotificationLog& log) {
                        EXPECT_TRUE(hasFile(f.targetB(), f.twoFiles()[1].data));
                        EXPECT_EQ(log.all.back().path, L"");
                    }},
        FailureCase{"ExtraByteAfterZeroEntries", [](auto&) { return test::bzip2(test::rawArchive({}) + "x"); },
                    code7},
        FailureCase{"WrongCrc",
                    [](auto e) {
                        e[0].crc = 0x12345678u;
                        return test::bzip2(test::rawArchive(e));
                    },
                    {3, compress_category()}, nullptr,
                    [](const ArchiveExtract& f, const NotificationLog& log) {
                        // Written completely and read back, it never takes its
                        // name; the next entry is never begun.
                        EXPECT_FALSE(test::fileExists(f.targetA()));
                        EXPECT_EQ(namesIn(f.install), std::vector<std::wstring>());
                        EXPECT_EQ(log.count(FileBeginIndex), 1u);
                        EXPECT_EQ(log.count(FileEndIndex), 0u);
                        EXPECT_FALSE(test::fileExists(f.targetB()));
                        EXPECT_EQ(log.all.back().path, f.targetA());
                    }},
        FailureCase{"CancelAtHeaderProgress", [](auto& e) { return test::bzip2(test::rawArchive(e)); },
                    {5, compress_category()},
                    [](const notification& n, auto&) {
                        return std::holds_alternative<Progress>(n) ? result::Cancel : result::Continue;
                    },
                    [](const ArchiveExtract& f, const NotificationLog& log) {
                        EXPECT_EQ(log.count(FileBeginIndex), 0u);
                        EXPECT_FALSE(test::fileExists(f.install));
                    }},
        FailureCase{"CancelAtFileBegin", [](auto& e) { return test::bzip2(test::rawArchive(e)); },
                    {5, compress_category()},
                    [](const notification& n, auto&) {
                        return std::holds_alternative<FileBegin>(n) ? result::Cancel : result::Continue;
                    },
                    [](const ArchiveExtract& f, const NotificationLog& log) {
                        EXPECT_FALSE(test::fileExists(f.targetA()));
                        EXPECT_EQ(log.all.back().path, L"");
                    }},
        FailureCase{"CancelInsideFile", [](auto& e) { return test::bzip2(test::rawArchive(e)); },
                    {5, compress_category()},
                    [](const notification& n, auto&) {
                        auto* p = std::get_if<Progress>(&n);
                        return p && p->done > 3000 + p->total - 13000 ? result::Cancel : result::Continue;
                    },
                    [](const ArchiveExtract& f, const NotificationLog& log) {
                        EXPECT_EQ(log.count(FileEndIndex), 0u);
                        EXPECT_EQ(log.all.back().path, f.targetA());
                        EXPECT_EQ(namesIn(f.install), std::vector<std::wstring>());
                    }},
        // The same over a file that was there: it keeps its bytes until a
        // whole, verified file takes its place.
        FailureCase{"CancelInsideAFileThatExisted", [](auto& e) { return test::bzip2(test::rawArchive(e)); },
                    {5, compress_category()},
                    [](const notification& n, auto&) {
                        auto* p = std::get_if<Progress>(&n);
                        return p && p->done > 3000 + p->total - 13000 ? result::Cancel : result::Continue;
                    },
                    [](const ArchiveExtract& f, const NotificationLog&) {
                        EXPECT_TRUE(hasFile(f.targetA(), "the earlier A"));
                        EXPECT_EQ(namesIn(f.install), std::vector<std::wstring>{L"A.dll"});
                    },
                    [](const std::wstring& a) {
                        boost::filesystem::create_directories(boost::filesystem::path(a).parent_path());
                        test::writeFileBytes(a, "the earlier A");
                    }},
        FailureCase{"CancelAtFileEnd", [](auto& e) { return test::bzip2(test::rawArchive(e)); },
                    {5, compress_category()},
                    [](const notification& n, auto&) {
                        return std::holds_alternative<FileEnd>(n) ? result::Cancel : result::Continue;
                    },
                    [](const ArchiveExtract& f, const NotificationLog& log) {
                        EXPECT_TRUE(hasFile(f.targetA(), f.twoFiles()[0].data));
                        EXPECT_FALSE(test::fileExists(f.targetB()));
                        EXPECT_EQ(log.all.back().path, L"");
                    }},
        // Damage inside a block may first show as wrong data (code 7 or 3)
        // and only at the block's end as a bzip2 error; the verification
        // pass is what catches it before anything is written. A damaged
        // stream header is a bzip2 error at once.
        FailureCase{"CorruptBzip2Data",
                    [](auto& e) {
                        std::string p = test::bzip2(test::rawArchive(e));
                        p[2] = 'x';
                        return p;
                    },
                    {6, compress_category()}},
        FailureCase{"TruncatedBzip2Data",
                    [](auto& e) {
                        std::string p = test::bzip2(test::rawArchive(e));
                        return p.substr(0, p.size() - 20);
                    },
                    {6, compress_category()}},
        FailureCase{"HeaderSizeBelow12", [](auto&) { return test::bzip2(le(11, 8) + le(0, 4)); }, code7},
        FailureCase{"HeaderSizeOf2To32",
                    [](auto&) { return test::bzip2(le(std::uint64_t{1} << 32, 8) + std::string(100, 'x')); },
                    code7},
        FailureCase{"CountOfFourBillion", [](auto&) { return test::bzip2(le(12, 8) + le(4000000000u, 4)); }, code7},
        FailureCase{"StringLengthPastHeader",
                    [](auto&) {
                        return test::bzip2(le(12 + 24, 8) + le(1, 4) + le(0x40000000, 4) + std::string(20, '\0'));
                    },
                    code7},
        FailureCase{"TargetIsAFolder", [](auto& e) { return test::bzip2(test::rawArchive(e)); },
                    {ERROR_ACCESS_DENIED, std::system_category()}, nullptr,
                    [](const ArchiveExtract& f, const NotificationLog& log) {
                        EXPECT_EQ(log.all.back().path, f.targetA());
                    },
                    [](const std::wstring& targetA) { boost::filesystem::create_directories(targetA); }}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qv
