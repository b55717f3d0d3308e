// Names a standard user planted where the installation writes a shared data
// file or a sample document: every user may write those folders, so a link
// there must neither block every installation nor let the installation reach
// the file behind it. Each scenario runs the real installer silently in a
// fresh prefix, without any display (tests/unattended.cmake).
//
// A hard link (one more name of a file elsewhere) is made here from the
// Windows side, as a user would, and Wine keeps it as a hard link on the
// Linux side: these scenarios prove under Wine what they prove on Windows.
// A symbolic link can only be planted on the Linux side (see
// support/UnixSide.h), and Wine then follows it on every open and acts on
// its target through every handle and path (a rename or delete of the link
// moves or deletes the target), so a program under Wine can never take such
// a link away as itself. The symbolic-link scenario therefore checks the
// refusal under Wine and the link's removal on Windows.
#include "ProductTestPaths.h"
#include "support/MachineSnapshot.h"
#include "support/ProductTestSupport.h"
#include "support/RunLogLines.h"
#include "support/TestFiles.h"
#include "support/UnixSide.h"
#include "support/WindowDriver.h"
#include "sys/Handles.h"

#include <windows.h>
#include <shlobj.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qv {
namespace {

using test::runLogLines;
using test::runToEnd;
using test::shellFolder;
using ::testing::Contains;
using ::testing::HasSubstr;

constexpr DWORD Installed = 0, FailedRolledBack = 1603;

const std::wstring installer = QV_INSTALLER_EXE;
const std::wstring stage = QV_PRODUCT_STAGE;
constexpr wchar_t Log[] = L"C:\\planted.log";

struct Identity {
    std::uint64_t index = 0;
    DWORD names = 0;
};

Identity identityOf(const std::wstring& path)
{
    UniqueFile file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !::GetFileInformationByHandle(file.get(), &info)) return {};
    return {(std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow, info.nNumberOfLinks};
}

class PlantedNames : public ::testing::Test {
protected:
    const std::wstring dataFolder = shellFolder(CSIDL_COMMON_APPDATA) + L"\\Orvane Systems\\Quorvex";
    const std::wstring sampleFolder = shellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Trimora Examples";
    const std::wstring wordList = dataFolder + L"\\Words_en.qwl";
    const std::wstring welcome = sampleFolder + L"\\Welcome.qvn";
    // Files of somebody else's that the planted names stand for, hidden
    // (and the letter read-only), so that a change of their attributes
    // shows too.
    const std::wstring victims = L"C:\\Victims";
    const std::wstring words = victims + L"\\words.txt";
    const std::wstring letter = victims + L"\\letter.txt";

    void SetUp() override
    {
        test::makeFolders(victims);
        for (const std::wstring& victim : {words, letter})
            test::writeText(victim, "not the installation's: " + std::string(victim.begin(), victim.end()));
        ::SetFileAttributesW(words.c_str(), FILE_ATTRIBUTE_HIDDEN);
        ::SetFileAttributesW(letter.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    }

    // Once the run is complete the planted name it moved away is deleted.
    // A read-only file's name goes only where the system deletes it without
    // the attribute being cleared (Windows 10 1809 on); Wine cannot, and
    // there it stays in the run's private folder.
    static DWORD namesLeftOfReadOnlyVictim() { return test::runningUnderWine() ? 2u : 1u; }

    void plantHardLinks()
    {
        test::makeFolders(dataFolder);
        test::makeFolders(sampleFolder);
        ASSERT_TRUE(::CreateHardLinkW(wordList.c_str(), words.c_str(), nullptr));
        ASSERT_TRUE(::CreateHardLinkW(welcome.c_str(), letter.c_str(), nullptr));
    }

    // The installed file is the one the archive carries, under one name.
    static void expectInstalledFromTheArchive(const std::wstring& installed, const std::wstring& staged)
    {
        EXPECT_EQ(test::readBytes(installed), test::readBytes(stage + staged)) << testing::PrintToString(installed);
        EXPECT_EQ(identityOf(installed).names, 1u) << testing::PrintToString(installed);
    }

    // The /LOG file names each name the run took away.
    static void expectRemovalLogged(const std::wstring& path)
    {
        EXPECT_THAT(runLogLines(Log), Contains(HasSubstr(L"\"" + path + L"\" in a folder every user may write")))
            << testing::PrintToString(path);
    }
};

TEST_F(PlantedNames, HardLinksOnAFreshMachineAreTakenAwayAndTheirFilesLeftAlone)
{
    plantHardLinks();
    const test::FileState wordsBefore = test::stateOf(words), letterBefore = test::stateOf(letter);

    ASSERT_EQ(runToEnd(installer, std::wstring(L"/VERYSILENT /LOG=") + Log), Installed);

    // The victims: the same bytes, attributes and security, and their one
    // name again (the planted one is gone with the run's backups).
    EXPECT_EQ(test::stateOf(words), wordsBefore);
    EXPECT_EQ(test::stateOf(letter), letterBefore);
    EXPECT_EQ(identityOf(words).names, 1u);
    EXPECT_EQ(identityOf(letter).names, namesLeftOfReadOnlyVictim());
    expectInstalledFromTheArchive(wordList, L"\\Data\\Words_en.qwl");
    expectInstalledFromTheArchive(welcome, L"\\Samples\\Welcome.qvn");
    expectRemovalLogged(wordList);
    expectRemovalLogged(welcome);
}

TEST_F(PlantedNames, HardLinkAtAnEarlierInstallationsDataFileOnAnUpdate)
{
    // An earlier installation (made 6.03 by its program), whose word list a
    // user then replaced by another name of somebody else's file.
    const std::wstring installFolder = shellFolder(CSIDL_PROGRAM_FILES) + L"\\Orvane Systems\\Trimora 6";
    ASSERT_EQ(runToEnd(installer, L"/VERYSILENT"), Installed);
    const std::wstring program = installFolder + L"\\Trimora.exe";
    ::SetFileAttributesW(program.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(::CopyFileW(QV_OLD_PROGRAM_EXE, program.c_str(), FALSE));
    ::SetFileAttributesW(program.c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(::DeleteFileW(wordList.c_str()));
    ASSERT_TRUE(::CreateHardLinkW(wordList.c_str(), words.c_str(), nullptr));
    const test::FileState wordsBefore = test::stateOf(words);

    ASSERT_EQ(runToEnd(installer, std::wstring(L"/VERYSILENT /LOG=") + Log), Installed);

    EXPECT_EQ(test::stateOf(words), wordsBefore);
    EXPECT_EQ(identityOf(words).names, 1u);
    expectInstalledFromTheArchive(wordList, L"\\Data\\Words_en.qwl");
    expectRemovalLogged(wordList);
    EXPECT_THAT(runLogLines(Log), Contains(L"Installed version: Trimora 6.03"));
}

TEST_F(PlantedNames, RollbackPutsThePlantedNamesBack)
{
    plantHardLinks();
    // A folder where the last sample document belongs fails the run after
    // the planted names were taken away; its content may be somebody's.
    const std::wstring inTheWay = sampleFolder + L"\\Reading List.qvn";
    test::makeFolders(inTheWay);
    test::writeText(inTheWay + L"\\kept.txt", "somebody's");
    const test::FileState wordsBefore = test::stateOf(words), letterBefore = test::stateOf(letter);
    const std::uint64_t wordsIndex = identityOf(words).index, letterIndex = identityOf(letter).index;

    ASSERT_EQ(runToEnd(installer, std::wstring(L"/VERYSILENT /LOG=") + Log), FailedRolledBack);

    // Each planted name is back, a name of the same file as before.
    EXPECT_EQ(identityOf(wordList).index, wordsIndex);
    EXPECT_EQ(identityOf(welcome).index, letterIndex);
    EXPECT_EQ(identityOf(words).names, 2u);
    EXPECT_EQ(identityOf(letter).names, 2u);
    EXPECT_EQ(test::stateOf(words), wordsBefore);
    EXPECT_EQ(test::stateOf(letter), letterBefore);
    const std::string kept = "somebody's";
    EXPECT_EQ(test::readBytes(inTheWay + L"\\kept.txt"), std::vector<char>(kept.begin(), kept.end()));
    expectRemovalLogged(wordList);
}

TEST_F(PlantedNames, SymbolicLinksPlantedOnTheLinuxSide)
{
    test::makeFolders(dataFolder);
    test::makeFolders(sampleFolder);
    ASSERT_TRUE(test::plantLink(wordList, words));
    ASSERT_TRUE(test::plantLink(welcome, letter));
    const test::FileState wordsBefore = test::stateOf(words), letterBefore = test::stateOf(letter);

    const DWORD exitCode = runToEnd(installer, std::wstring(L"/VERYSILENT /LOG=") + Log);

    // Either way the files behind the links are untouched.
    EXPECT_EQ(test::stateOf(words), wordsBefore);
    EXPECT_EQ(test::stateOf(letter), letterBefore);
    if (test::runningUnderWine()) {
        // Wine follows the link on every open: the installation cannot take
        // it away without reaching its target, and refuses it as a link,
        // changing nothing. The link is still there, still pointing at the
        // victim.
        EXPECT_EQ(exitCode, FailedRolledBack);
        EXPECT_THAT(runLogLines(Log), Contains(L"Status: Installation failed (Error Code 7)."));
        const std::wstring stillALink = L"C:\\still-a-link";
        ASSERT_TRUE(test::runUnixCommandAndWait("test -L '" + test::unixPathOf(wordList) + "' && touch '" +
                                                test::unixPathOf(stillALink) + "'"));
        EXPECT_TRUE(test::fileExists(stillALink));
        EXPECT_EQ(test::readBytes(wordList), test::readBytes(words));
    } else {
        // Windows opens the link as itself: it is moved away as itself and
        // the files are installed.
        EXPECT_EQ(exitCode, Installed);
        expectInstalledFromTheArchive(wordList, L"\\Data\\Words_en.qwl");
        expectInstalledFromTheArchive(welcome, L"\\Samples\\Welcome.qvn");
        expectRemovalLogged(wordList);
        expectRemovalLogged(welcome);
    }
}

}  // namespace
}  // namespace qv
