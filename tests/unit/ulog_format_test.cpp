// The text of Uninstall.ulog without a file: a real log read into records and
// written back to the same bytes, each entry line taken or refused as the
// reader does, where reading a damaged text ends, and the line limit the
// writer and the reader share.

#include "uninstall/UlogFormat.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace qv;

namespace {

// UTF-16LE with the byte-order mark, each line ended by CR LF, then tail
// without a line end: built by hand, not by the writer under test.
std::vector<char> utf16(const std::vector<std::wstring>& lines, const std::wstring& tail = L"")
{
    std::wstring text;
    for (const std::wstring& line : lines) text += line + L"\r\n";
    text += tail;
    std::vector<char> bytes{'\xFF', '\xFE'};
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::vector<char> ansi(const std::vector<std::wstring>& lines)
{
    std::vector<char> bytes;
    for (const std::wstring& line : lines) {
        for (wchar_t c : line) bytes.push_back(static_cast<char>(c));
        bytes.push_back('\r');
        bytes.push_back('\n');
    }
    return bytes;
}

std::vector<std::wstring> with(std::vector<std::wstring> lines, const std::vector<std::wstring>& more)
{
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

std::vector<std::wstring> paths(const std::list<LogEntry>& entries)
{
    std::vector<std::wstring> result;
    for (const LogEntry& entry : entries) result.push_back(entry.path);
    return result;
}

const std::wstring kKeyLine =
    L"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvex 6";

TEST(UlogFormat, ARealLogReadsIntoRecordsAndIsWrittenBackToTheSameBytes)
{
    const std::vector<char> bytes = test::readBytes(test::testDataPath(L"first_install.ulog"));
    ASSERT_FALSE(bytes.empty());

    const UlogContents read = parseUlog(bytes);
    EXPECT_EQ(read.label, L"Trimora 6.04");
    EXPECT_EQ(read.installFolder, L"C:\\qvtest\\Orvane Systems\\Trimora 6");
    EXPECT_EQ(read.shortcutFolder, L"C:\\qvtest\\Start Menu\\Trimora 6");
    ASSERT_EQ(read.entries.size(), 13u);
    const std::vector<LogEntry> entries(read.entries.begin(), read.entries.end());
    EXPECT_EQ(entries[0].kind, CreatedFolder);
    EXPECT_EQ(entries[0].payloadKind, -1);
    EXPECT_EQ(entries[3].kind, InstalledFile);
    EXPECT_EQ(entries[3].payloadKind, 0);
    EXPECT_TRUE(entries[3].done);
    EXPECT_EQ(entries[3].path, L"C:\\qvtest\\Orvane Systems\\Trimora 6\\Lang\\Trimora_en.dll");
    EXPECT_EQ(entries[9].kind, UninstallShortcut);
    EXPECT_EQ(entries[11].kind, UninstallKey);
    EXPECT_EQ(entries[11].path, L"");  // its text is the writer's own
    EXPECT_EQ(entries[12].kind, ClassesRootKeys);

    const std::vector<std::wstring> lines =
        formatUlog({*read.label, L"", *read.installFolder, *read.shortcutFolder}, read.entries);
    EXPECT_EQ(ulogFileBytes(lines), bytes);
}

// --- one entry line ------------------------------------------------------------

struct EntryCase {
    const char* name;
    std::wstring line;
    bool taken = false;
    std::int32_t kind = 0;
    std::int32_t payloadKind = 0;
    bool done = false;
    std::wstring path{};
    std::wstring written{};  // the line written back under index 3
};

class UlogEntryLine : public ::testing::TestWithParam<EntryCase> {};

TEST_P(UlogEntryLine, IsTakenAsTheReaderTakesItAndWrittenBack)
{
    const EntryCase& c = GetParam();
    const std::optional<LogEntry> entry = parseUlogEntry(c.line);
    ASSERT_EQ(entry.has_value(), c.taken);
    if (!entry) return;
    EXPECT_EQ(entry->kind, c.kind);
    EXPECT_EQ(entry->payloadKind, c.payloadKind);
    EXPECT_EQ(entry->done, c.done);
    EXPECT_EQ(entry->path, c.path);
    EXPECT_EQ(formatUlogEntry(3, *entry), c.written);
}

std::vector<EntryCase> entryCases()
{
    return {
        {"Folder", L"0003:00ff:1 -- C:\\Orvane Systems", true, CreatedFolder, -1, true, L"C:\\Orvane Systems",
         L"0003:00ff:1 -- C:\\Orvane Systems\r\n"},
        {"FileNotDone", L"0003:0103:0 -- C:\\Data\\Word List.qwl", true, InstalledFile, 3, false,
         L"C:\\Data\\Word List.qwl", L"0003:0103:0 -- C:\\Data\\Word List.qwl\r\n"},
        {"HighestPayloadKind", L"0003:01fe:1 -- C:\\x", true, InstalledFile, 0xFE, true, L"C:\\x",
         L"0003:01fe:1 -- C:\\x\r\n"},
        {"EmptyPath", L"0003:02ff:0 -- ", true, ProgramShortcut, -1, false, L"", L"0003:02ff:0 -- \r\n"},
        {"UninstallKey", L"0003:05ff:1 -- " + kKeyLine, true, UninstallKey, -1, true, L"",
         L"0003:05ff:1 -- " + kKeyLine + L"\r\n"},
        {"ClassesRoot", L"0003:06ff:1 -- HKEY_CLASSES_ROOT\\...", true, ClassesRootKeys, -1, true, L"",
         L"0003:06ff:1 -- HKEY_CLASSES_ROOT\\...\r\n"},
        // A registry line always gets the writer's own text back.
        {"RegistryLineOfAnotherText", L"0003:05ff:0 -- HKEY_LOCAL_MACHINE\\Elsewhere", true, UninstallKey, -1,
         false, L"", L"0003:05ff:0 -- " + kKeyLine + L"\r\n"},
        // Spacing, capitals and a short index are read; the writer's spelling
        // comes back.
        {"LooseSpellingIsWrittenCanonically", L"  +3 :1FF:  1   --   C:\\a b.exe", true, InstalledFile, -1, true,
         L"C:\\a b.exe", L"0003:01ff:1 -- C:\\a b.exe\r\n"},

        {"RefusedEmpty", L""},
        {"RefusedMissingColon", L"0003 0100:1 -- C:\\x"},
        {"RefusedKindSeven", L"0003:0700:1 -- C:\\x"},
        {"RefusedNegativeCode", L"0003:-100:1 -- C:\\x"},
        {"RefusedFlagTwo", L"0003:0100:2 -- C:\\x"},
        {"RefusedNoFlag", L"0003:0100: -- C:\\x"},
        {"RefusedSingleHyphen", L"0003:0100:1 - C:\\x"},
        {"RefusedHyphensJoinedToThePath", L"0003:0100:1 --C:\\x"},
        {"RefusedNegativeIndex", L"-003:0100:1 -- C:\\x"},
        {"RefusedIndexBeyond2To31", L"2147483648:0100:1 -- C:\\x"},
    };
}

INSTANTIATE_TEST_SUITE_P(Cases, UlogEntryLine, ::testing::ValuesIn(entryCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// --- a whole text ----------------------------------------------------------------

struct TextCase {
    const char* name;
    std::vector<char> bytes;
    std::optional<std::wstring> label;
    std::optional<std::wstring> installFolder;
    std::vector<std::wstring> paths;  // of the entries taken
};

class UlogText : public ::testing::TestWithParam<TextCase> {};

TEST_P(UlogText, YieldsWhatComesBeforeTheFirstDamage)
{
    const TextCase& c = GetParam();
    const UlogContents read = parseUlog(c.bytes);
    EXPECT_EQ(read.label, c.label);
    EXPECT_EQ(read.installFolder, c.installFolder);
    EXPECT_EQ(paths(read.entries), c.paths);
}

std::vector<std::wstring> header(const std::wstring& version = L"v1",
                                 const std::wstring& installLine = L"// Install Path : C:\\gone")
{
    return {L"// Uninstall Log File " + version,
            L"// ############ WARNING: Do not delete or modify this file. ############",
            L"// Install Trimora 6.04 -- Update (Trimora 6.03)",
            installLine,
            L"// Shortcut Path : ",
            L"// ----------------"};
}

std::vector<TextCase> textCases()
{
    const std::wstring one = L"0000:0101:1 -- C:\\One.exe", two = L"0001:0100:0 -- C:\\Two.dll";
    const std::wstring tooLong = L"0001:0100:1 -- C:\\" + std::wstring(492, L'x');  // 1,024 bytes with CR LF
    const std::vector<std::wstring> taken{L"C:\\One.exe", L"C:\\Two.dll"};
    return {
        // The update note is not part of the label; a folder is the file's
        // text whether or not it still exists.
        {"Intact", utf16(with(header(), {one, two})), L"Trimora 6.04", L"C:\\gone", taken},
        {"AnsiWithoutByteOrderMark", ansi(with(header(), {one, two})), L"Trimora 6.04", L"C:\\gone", taken},
        {"CommentAmongTheEntriesIsPassedOver", utf16(with(header(), {one, L"// note", two})), L"Trimora 6.04",
         L"C:\\gone", taken},
        {"VersionTwo", utf16(with(header(L"v2"), {one})), std::nullopt, std::nullopt, {}},
        {"EntryBeforeTheHeader", utf16({one, two}), std::nullopt, std::nullopt, {}},
        {"InstallPathWithoutItsLabel", utf16(with(header(L"v1", L"// Folder : C:\\x"), {one})), L"Trimora 6.04",
         std::nullopt, {}},
        {"DamagedEntry", utf16(with(header(), {one, L"0001:0100:2 -- C:\\Two.dll", two})), L"Trimora 6.04",
         L"C:\\gone", {L"C:\\One.exe"}},
        {"LineLongerThanTheReaderTakes", utf16(with(header(), {one, tooLong, two})), L"Trimora 6.04", L"C:\\gone",
         {L"C:\\One.exe"}},
        {"LineCutOffBeforeItsEnd", utf16(with(header(), {one}), two), L"Trimora 6.04", L"C:\\gone",
         {L"C:\\One.exe"}},
        {"CutInsideACharacter", [&] {
             auto bytes = utf16(with(header(), {one}));
             bytes.push_back('0');
             return bytes;
         }(),
         L"Trimora 6.04", L"C:\\gone", {L"C:\\One.exe"}},
    };
}

INSTANTIATE_TEST_SUITE_P(Cases, UlogText, ::testing::ValuesIn(textCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The writer leaves out what its reader would stop at, so that nothing after
// it is lost: an entry line over 1,022 bytes (the next one takes its index),
// a folder too long for its header line, and as much of an earlier label as
// fits. Every line it writes is read back.
TEST(UlogFormat, WriterKeepsToTheLineLimitOfItsReader)
{
    const auto file = [](std::wstring path) {
        LogEntry entry;
        entry.kind = InstalledFile;
        entry.payloadKind = 0;
        entry.done = true;
        entry.path = std::move(path);
        return entry;
    };
    const std::wstring longest = L"C:\\" + std::wstring(491, L'a');  // 511 characters with its prefix and CR LF
    const std::wstring tooLong = L"C:\\" + std::wstring(492, L'b');
    const std::vector<std::wstring> lines =
        formatUlog({L"Trimora 6.04", std::wstring(600, L'L'), std::wstring(600, L'f'), L"C:\\Menu"},
                   {file(longest), file(tooLong), file(L"C:\\after.dll")});

    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[2].size(), 511u) << "the earlier label cut to what fits";
    EXPECT_EQ(lines[2].substr(0, 40), L"// Install Trimora 6.04 -- Update (LLLLL");
    EXPECT_EQ(lines[3], L"// Install Path : \r\n");
    EXPECT_EQ(lines[6], L"0000:0100:1 -- " + longest + L"\r\n");
    EXPECT_EQ(lines[7], L"0001:0100:1 -- C:\\after.dll\r\n");

    const UlogContents read = parseUlog(ulogFileBytes(lines));
    EXPECT_EQ(read.label, L"Trimora 6.04");
    EXPECT_EQ(read.installFolder, L"");
    EXPECT_EQ(read.shortcutFolder, L"C:\\Menu");
    EXPECT_EQ(paths(read.entries), (std::vector<std::wstring>{longest, L"C:\\after.dll"}));
}

}  // namespace
