// Uninstall.ulog: the exact bytes the writer produces, the merge with an
// earlier log, and what the reader keeps from damaged files.

#include "uninstall/UninstallLog.h"

#include "lang/Languages.h"
#include "support/TestFiles.h"
#include "support/UnixSide.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>

#include <string>
#include <vector>

using namespace qv;
using namespace qv::test;

namespace {

const std::wstring kRoot = L"C:\\qvtest";
const std::wstring kInstall = kRoot + L"\\Orvane Systems\\Trimora 6";
const std::wstring kStartMenu = kRoot + L"\\Start Menu\\Trimora 6";
const std::wstring kDesktop = kRoot + L"\\Desktop";

std::wstring logFile(const std::wstring& name) { return kRoot + L"\\" + name; }

// The log's text without the byte-order mark, split at CR LF.
std::vector<std::wstring> logLines(const std::wstring& path)
{
    const auto bytes = readBytes(path);
    EXPECT_GE(bytes.size(), 2u);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
    std::vector<std::wstring> lines;
    std::size_t start = 0, end;
    while ((end = text.find(L"\r\n", start)) != std::wstring::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_EQ(start, text.size()) << "text after the last CR LF";
    return lines;
}

void installFile(UninstallLog& log, const std::wstring& path, int kind)
{
    log.recordFile(path, kind, false);
    writeText(path, "content of " + std::to_string(kind));
    log.confirm(true);
}

class UninstallLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setLanguage(1);  // English: the product is called Trimora
        makeFolders(kRoot + L"\\Start Menu\\Trimora 6");
        makeFolders(kDesktop);
        makeFolders(kRoot + L"\\Data");
    }
};

TEST_F(UninstallLogTest, FirstInstallationMatchesTheHandWrittenFile)
{
    UninstallLog log;
    log.read(nullptr);
    installFile(log, kInstall + L"\\Lang\\Trimora_en.dll", 0);  // creates three folders
    installFile(log, kInstall + L"\\Lang\\Trimora_de.dll", 0);
    installFile(log, kInstall + L"\\Trimora.exe", 1);
    installFile(log, kInstall + L"\\Uninstall.exe", 2);
    installFile(log, kRoot + L"\\Data\\Lexicon.dat", 3);
    log.recordShortcut(0, kStartMenu);
    log.confirm(true, (kStartMenu + L"\\Trimora 6.lnk").c_str());
    log.recordShortcut(1, kStartMenu);
    log.confirm(true, (kStartMenu + L"\\Uninstall Trimora 6.lnk").c_str());
    log.recordShortcut(2, kDesktop);
    log.confirm(true, (kDesktop + L"\\Trimora 6.lnk").c_str());
    log.recordUninstallKey(nullptr);
    log.confirm(true);
    log.recordClassesRoot();
    log.confirm(true);

    const std::wstring path = kInstall + L"\\Uninstall.ulog";
    ASSERT_TRUE(log.commit(path, kInstall, kStartMenu));
    EXPECT_EQ(readBytes(path), readBytes(testDataPath(L"first_install.ulog")));
    // Wine keeps read-only and archive but drops not-content-indexed.
    const DWORD expected = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE |
                           (runningUnderWine() ? 0 : FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    EXPECT_EQ(::GetFileAttributesW(path.c_str()), expected);

    // A second commit replaces the read-only file.
    UninstallLog again;
    EXPECT_TRUE(again.commit(path, kInstall, kStartMenu));
    EXPECT_EQ(logLines(path).size(), 6u);
}

TEST_F(UninstallLogTest, UpdateNoteAndEmptyStartMenuFolder)
{
    const std::wstring earlier = logFile(L"earlier.ulog");
    writeUtf16Lines(earlier, {
        L"// Uninstall Log File v1",
        L"// ############ WARNING: Do not delete or modify this file. ############",
        L"// Install Trimora 6.03 -- Update (Trimora 6.02)",
        L"// Install Path : " + kRoot,
        L"// Shortcut Path : ",
        L"// ----------------",
        L"0000:0101:1 -- " + kRoot + L"\\Old.exe",
    });
    UninstallLog log;
    log.read(earlier.c_str());
    EXPECT_EQ(log.previousLabel(), L"Trimora 6.03");
    EXPECT_EQ(log.installFolder(), kRoot);
    EXPECT_EQ(log.shortcutFolder(), L"");
    ASSERT_EQ(log.previousEntries().size(), 1u);

    const std::wstring path = logFile(L"update.ulog");
    ASSERT_TRUE(log.commit(path, kRoot, L""));
    const auto lines = logLines(path);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[2], L"// Install Trimora 6.04 -- Update (Trimora 6.03)");
    EXPECT_EQ(lines[4], L"// Shortcut Path : ");
    EXPECT_EQ(lines[5], L"// ----------------");
    EXPECT_EQ(lines[6], L"0000:0101:1 -- " + kRoot + L"\\Old.exe");
}

TEST_F(UninstallLogTest, MergeKeepsUntouchedEarlierEntriesAheadAndDropsReplacedOnes)
{
    makeFolders(kRoot + L"\\App");
    const std::wstring earlier = logFile(L"earlier.ulog");
    writeUtf16Lines(earlier, {
        L"// Uninstall Log File v1",
        L"// ############ WARNING: Do not delete or modify this file. ############",
        L"// Install Trimora 6.03",
        L"// Install Path : " + kRoot + L"\\App",
        L"// Shortcut Path : " + kRoot,
        L"// --------------------------",
        L"0000:00ff:1 -- " + kRoot + L"\\App",
        L"0001:0101:1 -- C:\\QVTEST\\app\\.\\sub\\..\\Prog.exe",
        L"0002:0103:0 -- " + kRoot + L"\\App\\Untouched.dat",
        L"0003:02ff:1 -- " + kRoot + L"\\Old Start\\Prog.lnk",
        L"0004:0100:1 -- " + kRoot + L"\\App\\Old.dll",
        L"0005:0100:1 -- " + kRoot + L"\\App\\OLD.DLL",
    });
    UninstallLog log;
    log.read(earlier.c_str());
    ASSERT_EQ(log.previousEntries().size(), 6u);

    installFile(log, kRoot + L"\\App\\Prog.exe", 1);
    log.recordShortcut(0, kRoot);  // this run's shortcut could not be made
    log.confirm(false);

    const std::wstring path = logFile(L"merged.ulog");
    ASSERT_TRUE(log.commit(path, kRoot + L"\\App", kRoot));
    const auto lines = logLines(path);
    const std::vector<std::wstring> entries(lines.begin() + 6, lines.end());
    const std::vector<std::wstring> expected = {
        L"0000:00ff:1 -- " + kRoot + L"\\App",
        L"0001:0103:0 -- " + kRoot + L"\\App\\Untouched.dat",
        L"0002:0100:1 -- " + kRoot + L"\\App\\OLD.DLL",  // of two spellings only the last survives
        L"0003:0101:1 -- " + kRoot + L"\\App\\Prog.exe",
        L"0004:02ff:0 -- ",
    };
    EXPECT_EQ(entries, expected);
}

TEST_F(UninstallLogTest, RoundTripIsStable)
{
    UninstallLog first;
    installFile(first, kInstall + L"\\Lang\\Trimora_en.dll", 0);
    installFile(first, kInstall + L"\\Trimora.exe", 1);
    first.recordShortcut(2, kDesktop);
    first.confirm(false);
    first.recordUninstallKey(nullptr);
    first.confirm(true);
    const std::wstring a = logFile(L"a.ulog"), b = logFile(L"b.ulog"), c = logFile(L"c.ulog");
    ASSERT_TRUE(first.commit(a, kInstall, kStartMenu));

    UninstallLog second;
    second.read(a.c_str());
    EXPECT_EQ(second.installFolder(), kInstall);
    EXPECT_EQ(second.shortcutFolder(), kStartMenu);
    ASSERT_TRUE(second.commit(b, kInstall, kStartMenu));
    UninstallLog third;
    third.read(b.c_str());
    ASSERT_TRUE(third.commit(c, kInstall, kStartMenu));

    const auto linesA = logLines(a), linesB = logLines(b);
    EXPECT_EQ(linesB[2], L"// Install Trimora 6.04 -- Update (Trimora 6.04)");
    EXPECT_EQ(std::vector<std::wstring>(linesA.begin() + 3, linesA.end()),
              std::vector<std::wstring>(linesB.begin() + 3, linesB.end()));
    EXPECT_EQ(readBytes(b), readBytes(c));
}

// An earlier ANSI log may hold a line of up to 1,022 bytes, one byte a
// character: a path of 600 characters is read. Written in UTF-16 its line
// would take twice as many bytes, more than the reader takes: the merge does
// not carry it over, and every entry after it survives the next reading.
TEST_F(UninstallLogTest, MergedEntryTooLongForTheReaderIsNotCarriedOverAndNothingAfterItIsLost)
{
    const std::wstring longPath = kRoot + L"\\" + std::wstring(600 - kRoot.size() - 1, L'x') + L".dat";
    const std::wstring after = kInstall + L"\\Lang\\Trimora_it.dll";
    std::string ansi = "// Uninstall Log File v1\r\n// x\r\n// Install Trimora 6.03 " + std::string(900, 'L') +
                       "\r\n// Install Path : \r\n// Shortcut Path : \r\n// -\r\n";
    ansi += "0000:0100:1 -- " + std::string(kInstall.begin(), kInstall.end()) + "\\Lang\\Trimora_de.dll\r\n";
    ansi += "0001:0103:1 -- " + std::string(longPath.begin(), longPath.end()) + "\r\n";
    ansi += "0002:0100:1 -- " + std::string(after.begin(), after.end()) + "\r\n";
    ansi += "0003:05ff:1 -- HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvex 6\r\n";
    ASSERT_LE(ansi.find('\n', ansi.find("0001:")) - ansi.find("0001:") + 1, 1022u);
    writeText(logFile(L"ansi.ulog"), ansi);

    UninstallLog earlier;
    earlier.read(logFile(L"ansi.ulog").c_str());
    ASSERT_EQ(earlier.previousEntries().size(), 4u) << "the ANSI log is read whole";
    installFile(earlier, kInstall + L"\\Trimora.exe", 1);
    ASSERT_TRUE(earlier.commit(logFile(L"merged.ulog"), kInstall, kStartMenu));

    // Every line fits the reader, the earlier label in the update note cut
    // to what fits.
    const std::vector<std::wstring> lines = logLines(logFile(L"merged.ulog"));
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_LE((lines[i].size() + 2 + (i == 0 ? 1 : 0)) * sizeof(wchar_t), 1022u) << lines[i].substr(0, 40);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[2].substr(0, 52), L"// Install Trimora 6.04 -- Update (Trimora 6.03 LLLL");
    UninstallLog again;
    again.read(logFile(L"merged.ulog").c_str());
    std::vector<std::wstring> paths;
    for (const LogEntry& e : again.previousEntries()) paths.push_back(e.path);
    EXPECT_EQ(paths, (std::vector<std::wstring>{kInstall + L"\\Lang\\Trimora_de.dll", after, L"",
                                                kInstall + L"\\Trimora.exe"}));
    EXPECT_EQ(again.previousLabel(), L"Trimora 6.04");
}

// Paths of the longest length a path may have (259 characters) in every
// entry and both header folders: commit, read, commit keeps every entry.
TEST_F(UninstallLogTest, CommitReadCommitKeepsEveryEntryWithTheLongestPaths)
{
    // Names of at most 100 characters: the Linux side under Wine takes no
    // longer one.
    const auto longest = [](std::wstring path, const std::wstring& tail) {
        while (path.size() + 1 + tail.size() < 259) {
            const std::size_t room = 259 - path.size() - 1 - tail.size();
            path += L"\\" + std::wstring(std::min<std::size_t>(room, 100), L'n');
            if (room > 100 && room - 100 < 2) path.pop_back();
        }
        return path + tail;
    };
    const std::wstring install = longest(kRoot, L"");
    const std::wstring menu = longest(kRoot + L"\\Start Menu", L"");
    UninstallLog first;
    std::vector<std::wstring> expected;
    for (int i = 0; i < 12; ++i) {
        const std::wstring path = longest(kRoot + L"\\Data", L"-" + std::to_wstring(i) + L".dat");
        ASSERT_EQ(path.size(), 259u);
        installFile(first, path, 0);
        expected.push_back(path);
    }
    first.recordShortcut(2, kDesktop);
    const std::wstring link = longest(kDesktop, L".lnk");
    first.confirm(true, link.c_str());
    expected.clear();  // every entry, the folders made for the files included
    for (const LogEntry& e : first.newEntries()) expected.push_back(e.path);
    ASSERT_EQ(expected.back(), link);
    ASSERT_TRUE(first.commit(logFile(L"one.ulog"), install, menu));

    UninstallLog second;
    second.read(logFile(L"one.ulog").c_str());
    ASSERT_TRUE(second.commit(logFile(L"two.ulog"), install, menu));
    UninstallLog third;
    third.read(logFile(L"two.ulog").c_str());
    std::vector<std::wstring> paths;
    for (const LogEntry& e : third.previousEntries()) paths.push_back(e.path);
    EXPECT_EQ(paths, expected);
    // Only the update note differs: the folders and every entry line are
    // written again as they were.
    const auto one = logLines(logFile(L"one.ulog")), two = logLines(logFile(L"two.ulog"));
    EXPECT_EQ(std::vector<std::wstring>(one.begin() + 3, one.end()), std::vector<std::wstring>(two.begin() + 3, two.end()));
}

// --- reading damaged files --------------------------------------------------

struct ReadCase {
    const char* name;
    std::vector<std::wstring> lines;
    bool ansi = false;
    const char* cutTail = nullptr;  // appended without a line end
    std::size_t entries;
    bool installFolderKept;
};

std::vector<std::wstring> header(const std::wstring& version = L"1",
                                 const std::wstring& installLabel = L"Install Path : ",
                                 const std::wstring& folder = L"C:\\qvtest")
{
    return {
        L"// Uninstall Log File v" + version,
        L"// ############ WARNING: Do not delete or modify this file. ############",
        L"// Install Trimora 6.04",
        L"// " + installLabel + folder,
        L"// Shortcut Path : C:\\qvtest",
        L"// --------------------------",
    };
}

std::vector<std::wstring> withEntries(std::vector<std::wstring> lines, std::vector<std::wstring> entries)
{
    lines.insert(lines.end(), entries.begin(), entries.end());
    return lines;
}

const std::wstring kGood1 = L"0000:0101:1 -- C:\\qvtest\\One.exe";
const std::wstring kGood2 = L"0001:0100:0 -- C:\\qvtest\\Two.dll";
const std::wstring kGood3 = L"0002:05ff:1 -- HKEY_LOCAL_MACHINE\\Software\\whatever";

class ReadDamagedLog : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadDamagedLog, KeepsExactlyTheEntriesBeforeTheDamage)
{
    const ReadCase& c = GetParam();
    makeFolders(kRoot);
    const std::wstring path = logFile(L"damaged.ulog");
    if (c.ansi) {
        std::string text;
        for (const auto& line : c.lines) text += std::string(line.begin(), line.end()) + "\r\n";
        writeText(path, text);
    } else {
        writeUtf16Lines(path, c.lines);
    }
    if (c.cutTail) {
        auto bytes = readBytes(path);
        const std::string tail = c.cutTail;
        for (char ch : tail) {
            bytes.push_back(ch);
            if (!c.ansi) bytes.push_back(0);
        }
        writeBytes(path, bytes);
    }

    UninstallLog log;
    log.read(path.c_str());
    EXPECT_EQ(log.previousEntries().size(), c.entries);
    EXPECT_EQ(log.installFolder(), c.installFolderKept ? kRoot : L"");
    if (!log.previousEntries().empty()) {
        const LogEntry& first = log.previousEntries().front();
        EXPECT_EQ(first.kind, InstalledFile);
        EXPECT_EQ(first.payloadKind, 1);
        EXPECT_TRUE(first.done);
        EXPECT_EQ(first.path, L"C:\\qvtest\\One.exe");
    }
}

std::vector<ReadCase> readCases()
{
    const std::wstring longPath(520, L'x');  // 1,040 bytes in UTF-16
    return {
        {"Intact", withEntries(header(), {kGood1, kGood2, kGood3}), false, nullptr, 3, true},
        {"AnsiWithoutByteOrderMark", withEntries(header(), {kGood1, kGood2, kGood3}), true, nullptr, 3, true},
        {"EmptyPathIsAnEntry", withEntries(header(), {kGood1, L"0001:0100:1 -- "}), false, nullptr, 2, true},
        {"MissingColon", withEntries(header(), {kGood1, L"0001 0100:1 -- C:\\x", kGood3}), false, nullptr, 1, true},
        {"KindSeven", withEntries(header(), {kGood1, L"0001:0700:1 -- C:\\x", kGood3}), false, nullptr, 1, true},
        {"FlagTwo", withEntries(header(), {kGood1, L"0001:0100:2 -- C:\\x", kGood3}), false, nullptr, 1, true},
        {"NoDoubleHyphen", withEntries(header(), {kGood1, L"0001:0100:1 - C:\\x", kGood3}), false, nullptr, 1, true},
        {"VersionTwo", withEntries(header(L"2"), {kGood1}), false, nullptr, 0, false},
        {"MissingInstallPathLabel", withEntries(header(L"1", L"Folder : "), {kGood1}), false, nullptr, 0, false},
        {"DeletedInstallFolder", withEntries(header(L"1", L"Install Path : ", L"C:\\qvtest\\gone"), {kGood1, kGood2}),
         false, nullptr, 2, false},
        {"LineOverTheLimit", withEntries(header(), {kGood1, L"0001:0100:1 -- C:\\" + longPath, kGood3}), false,
         nullptr, 1, true},
        {"CutInTheMiddleOfALine", withEntries(header(), {kGood1, kGood2}), false, "0002:0100:1 -- C:\\qv", 2, true},
        {"AnsiCutInTheMiddleOfALine", withEntries(header(), {kGood1}), true, "0001:01", 1, true},
        {"EntryBeforeHeader", {kGood1, kGood2}, false, nullptr, 0, false},
    };
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadDamagedLog, ::testing::ValuesIn(readCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UninstallLogRead, MissingFileAndNullPathYieldNothing)
{
    UninstallLog log;
    log.read(L"C:\\no such folder\\Uninstall.ulog");
    log.read(nullptr);
    EXPECT_TRUE(log.previousEntries().empty());
    EXPECT_TRUE(log.installFolder().empty());
}

std::uint64_t fileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// A log anybody could write may be made huge or endless: it is read within a
// fixed bound of memory, as far as the bound reaches, like a damaged log.
TEST(UninstallLogRead, AHugeLogYieldsWhatTheBoundHoldsInBoundedMemory)
{
    // 200 MB of valid lines, written from the Linux side so that this
    // process holds none of it.
    makeFolders(kRoot);
    const std::wstring huge = logFile(L"huge.ulog");
    const std::string header = "// Uninstall Log File v1\n// x\n// Install Trimora 6.04\n// Install Path : " +
                               std::string("C:\\qvtest") + "\n// Shortcut Path : \n// -\n";
    const std::string line = "0001:0100:1 -- C:\\qvtest\\Lang\\Trimora_de.dll";
    ASSERT_TRUE(runUnixCommandAndWait("{ printf '%s' '" + header + "'; yes '" + line + "'; } | head -c 200000000 > '" +
                                      unixPathOf(huge) + "'"));
    ASSERT_EQ(fileSize(huge), 200000000u);

    PROCESS_MEMORY_COUNTERS before{};
    ASSERT_TRUE(::GetProcessMemoryInfo(::GetCurrentProcess(), &before, sizeof before));
    UninstallLog log;
    log.read(huge.c_str());
    PROCESS_MEMORY_COUNTERS after{};
    ASSERT_TRUE(::GetProcessMemoryInfo(::GetCurrentProcess(), &after, sizeof after));

    // Every whole line within the first MiB, and nothing beyond it.
    const std::size_t expected = (1024 * 1024 - header.size()) / (line.size() + 1);
    EXPECT_EQ(log.previousEntries().size(), expected);
    EXPECT_EQ(log.installFolder(), L"C:\\qvtest");
    EXPECT_LT(after.PeakWorkingSetSize - before.PeakWorkingSetSize, 32u * 1024 * 1024);
}

TEST(UninstallLogRead, ALogThatIsALinkToAnEndlessDeviceYieldsNothing)
{
    // Made on the Linux side; Wine follows it on every open.
    makeFolders(kRoot);
    const std::wstring endless = logFile(L"endless.ulog");
    ASSERT_TRUE(runUnixCommandAndWait("ln -sf /dev/zero '" + unixPathOf(endless) + "'"));
    UninstallLog log;
    log.read(endless.c_str());
    EXPECT_TRUE(log.previousEntries().empty());
    EXPECT_TRUE(log.installFolder().empty());
}

}  // namespace
