// The rules an archive's entries obey, checked in the verification pass
// before anything is written: no two entries reach one file (compared as the
// file system compares, once the folder macros are resolved), no device
// names, no way up out of a folder. Each broken archive fails the
// verification with the code of a malformed archive (7), and fails the
// extraction with it too, before a file exists.

#include "engine/Archive.h"
#include "engine/ArchiveFormat.h"
#include "engine/CompressError.h"
#include "support/ArchiveTestSupport.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <sstream>

namespace qv {
namespace {

using test::NotificationLog;
using test::TempFolder;
using test::TestEntry;

TEST(DeviceNames, AreTheNamesWindowsOpensAsDevicesInEveryFolder)
{
    for (const wchar_t* device : {L"NUL", L"nul", L"CON", L"Con.txt", L"PRN", L"AUX", L"aux.", L"NUL.",
                                  L"NUL ", L"CON .log", L"com1", L"COM9.dat", L"LPT1", L"lpt9.x.y", L"COM\u00B9",
                                  L"LPT\u00B3.txt", L"CONIN$", L"conout$", L"NUL. .", L"PRN.tar.gz"})
        EXPECT_TRUE(isDeviceName(device)) << testing::PrintToString(std::wstring(device));
    for (const wchar_t* name : {L"NULL", L"CONSOLE.txt", L"COM10", L"LPT", L"COM", L"AUXILIARY", L"xNUL",
                                L"Trimora.exe", L"CON_", L"nul_.txt", L""})
        EXPECT_FALSE(isDeviceName(name)) << testing::PrintToString(std::wstring(name));
}

class ArchiveEntries : public testing::Test {
public:
    TempFolder root;
    std::wstring install = root / L"Install";
    std::wstring samples = root / L"Samples";

    static std::string packed(const std::vector<TestEntry>& entries)
    {
        return test::bzip2(test::rawArchive(entries));
    }

    std::error_code verify(const std::string& archive) const
    {
        std::istringstream in(archive);
        return verifyArchiveContents(in, install, samples, root / L"Temp");
    }

    // The extraction alone, without a verification pass first.
    std::error_code extract(const std::string& archive)
    {
        std::istringstream in(archive);
        NotificationLog log;
        if (extractArchive(in, install, samples, root / L"Temp", log.callback())) return {};
        return log.all.back().code;
    }
};

struct BrokenArchive {
    const char* name;
    std::vector<TestEntry> entries;
};

std::vector<BrokenArchive> brokenArchives()
{
    const std::string bytes = "content";
    return {
        {"SameTargetTwice", {{L"A.dll", L"<InstallPath>\\Lang", bytes}, {L"A.dll", L"<InstallPath>\\Lang", "other"}}},
        {"SameTargetInOtherLetters",
         {{L"C:\\b\\Trimora_en.dll", L"<InstallPath>\\Lang", bytes},
          {L"C:\\b\\TRIMORA_EN.DLL", L"<InstallPath>\\LANG", "second"}}},
        {"SameTargetThroughADotElement",
         {{L"A.dll", L"<InstallPath>\\Lang", bytes}, {L"A.dll", L"<InstallPath>\\.\\Lang\\", "second"}}},
        {"SameTargetThroughAnotherMacro",
         {{L"A.dll", L"<InstallPath>", bytes}, {L"a.DLL", L"<Temporary>\\..\\Install", "second"}}},
        {"AFileWhereAnotherEntryNeedsAFolder",
         {{L"Lang", L"<InstallPath>", bytes}, {L"A.dll", L"<InstallPath>\\Lang", "second"}}},
        {"DeviceAsFileName", {{L"C:\\b\\NUL", L"<InstallPath>", bytes}}},
        {"DeviceWithExtension", {{L"C:\\b\\com1.dll", L"<InstallPath>", bytes}}},
        {"DeviceWithTrailingDot", {{L"C:\\b\\CON.", L"<InstallPath>", bytes}}},
        {"DeviceWithTrailingBlank", {{L"aux ", L"<InstallPath>", bytes}}},
        {"DeviceAsFolder", {{L"A.dll", L"<InstallPath>\\LPT1\\Lang", bytes}}},
        {"DeviceAsFolderWithExtension", {{L"A.dll", L"<InstallPath>\\prn.txt", bytes}}},
        {"UpOutOfTheInstallationFolder", {{L"A.dll", L"<InstallPath>\\..\\Elsewhere", bytes}}},
        {"UpToTheDriveThroughASharedMacro", {{L"A.dll", L"<CommonData>\\..\\..", bytes}}},
        {"UpInAPathWithoutMacro", {{L"A.dll", L"C:\\Windows\\..\\Temp", bytes}}},
        {"DotDotAsFileName", {{L"C:\\b\\..", L"<InstallPath>", bytes}}},
        {"StreamInTheFileName", {{L"Trimora.exe:hidden", L"<InstallPath>", bytes}}},
        {"TrailingDotThatWindowsStrips", {{L"A.dll.", L"<InstallPath>", bytes}}},
        {"WildcardInAFolder", {{L"A.dll", L"<InstallPath>\\La*g", bytes}}},
    };
}

TEST_F(ArchiveEntries, EveryBrokenRuleMakesTheArchiveMalformedBeforeAnyFileIsWritten)
{
    const std::error_code malformed = make_error_code(CompressError::Unexpected);
    for (const BrokenArchive& broken : brokenArchives()) {
        SCOPED_TRACE(broken.name);
        const std::string archive = packed(broken.entries);
        EXPECT_EQ(verify(archive), malformed) << verify(archive).message();
        EXPECT_EQ(extract(archive), malformed);
        EXPECT_FALSE(test::fileExists(install));
        EXPECT_FALSE(test::fileExists(root / L"Elsewhere"));
    }
}

TEST_F(ArchiveEntries, SoundArchivesPassAndStructureFaultsAreCaughtBeforeWriting)
{
    const std::vector<TestEntry> sound = {
        {L"C:\\build\\Trimora.exe", L"<InstallPath>", "program", 1},
        {L"C:\\build\\Trimora_en.dll", L"<InstallPath>\\Lang\\", "library", 0},
        {L"C:\\build\\Meeting Notes.qvn", L"<SamplePath>", "notes", 4},
        {L"C:\\build\\Console.txt", L"<InstallPath>\\.\\Nullable", "not a device", 0},
        {L"C:\\build\\empty", L"<InstallPath>", "", 0},
    };
    EXPECT_EQ(verify(packed(sound)), std::error_code());
    EXPECT_FALSE(test::fileExists(install)) << "the verification writes nothing";

    const std::string raw = test::rawArchive(sound);
    const std::error_code malformed = make_error_code(CompressError::Unexpected);
    EXPECT_EQ(verify(test::bzip2(raw.substr(0, raw.size() - 3))), malformed) << "fewer bytes than announced";
    EXPECT_EQ(verify(test::bzip2(raw + "x")), malformed) << "a byte beyond the last entry";
    EXPECT_EQ(verify(test::bzip2(raw.substr(0, 20))), malformed) << "ends inside the header";
    // Damaged compressed data stays what the verification always called it.
    std::string damaged = packed(sound);
    damaged[damaged.size() / 2] ^= 0x5A;
    EXPECT_EQ(verify(damaged), make_error_code(CompressError::Unknown));
    EXPECT_EQ(verify(std::string()), make_error_code(CompressError::Unknown));
    EXPECT_FALSE(test::fileExists(install));
}

}  // namespace
}  // namespace qv
