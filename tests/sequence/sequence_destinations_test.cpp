// What stands at a file's destination before the install sequence runs: a
// folder of the same name, which the installation must neither take away nor
// install over, and a data file of the user's, which a first installation
// keeps.

#include "SequenceScenario.h"

#include "engine/InstallTexts.h"
#include "support/MachineSnapshot.h"
#include "uninstall/UninstallLog.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>

namespace qv::test {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

class Destinations : public SequenceScenario {
protected:
    // A folder with a file inside where payload entry i is to be installed:
    // the run fails on it with the file system's error, after the entries
    // before it were copied, and leaves the machine as it was, the folder
    // and its file included.
    void expectFolderInTheWayStays(std::size_t i)
    {
        const std::wstring folder = targetOf(i);
        std::filesystem::create_directories(folder);
        writeFileBytes(folder + L"\\notes.txt", "the owner's notes");
        auto app = startApp();
        ASSERT_EQ(app->installState, InstallState::NotInstalled);
        const MachineSnapshot before = MachineSnapshot::take();

        EXPECT_FALSE(install(*app, payload));

        std::vector<std::wstring> expected = {std::wstring(RecordingDisplay::logWidth, L'-'),
                                              L"Preparing Installation...OK"};
        for (std::size_t j = 0; j < i; ++j) expected.push_back(copiedLine(targetOf(j)));
        expected.push_back(copyingFileText(folder) + L"Failed");
        EXPECT_THAT(display.lines(), ElementsAreArray(expected));
        // Creating a file where a folder stands is refused (ERROR_ACCESS_DENIED).
        EXPECT_EQ(display.status, L"Installation failed (Error Code 1:00000005).");
        EXPECT_EQ(readFileBytes(folder + L"\\notes.txt"), "the owner's notes");
        EXPECT_THAT(diff(before, MachineSnapshot::take()), IsEmpty());
        EXPECT_TRUE(app->uninstallLog.newEntries().empty());
    }
};

TEST_F(Destinations, FolderWhereALanguageLibraryGoes)
{
    expectFolderInTheWayStays(3);
}

// A data file that exists is kept; a folder of its name is no data file.
TEST_F(Destinations, FolderWhereADataFileGoes)
{
    expectFolderInTheWayStays(4);
}

// A data file that is there before a first installation (another product
// of the maker's, or the user) is kept as it is, without a line, and is
// journalled as installed.
TEST_F(Destinations, ExistingDataFileOnAFirstInstallationIsKeptAndJournalled)
{
    const std::wstring words = targetOf(4);
    std::filesystem::create_directories(commonData);
    writeFileBytes(words, "the user's own words");
    auto app = startApp();
    ASSERT_EQ(app->installState, InstallState::NotInstalled);

    ASSERT_TRUE(install(*app, payload));

    std::vector<std::wstring> expected = {std::wstring(RecordingDisplay::logWidth, L'-'),
                                          L"Preparing Installation...OK"};
    for (std::size_t j = 0; j < payload.size(); ++j)
        if (j != 4) expected.push_back(copiedLine(targetOf(j)));
    expected.push_back(L"Shortcuts Creation...OK");
    expected.push_back(L"Registry Data Writing...OK");
    expected.push_back(L"Installation Data Writing...OK");
    EXPECT_THAT(display.lines(), ElementsAreArray(expected));
    EXPECT_EQ(readFileBytes(words), "the user's own words");

    // Journalled as a done data file, before the per-user word list.
    UninstallLog log;
    log.read((installPath + L"\\Uninstall.ulog").c_str());
    std::vector<std::pair<std::int32_t, std::wstring>> files;
    for (const LogEntry& entry : log.previousEntries())
        if (entry.kind == InstalledFile && entry.payloadKind == 3) files.emplace_back(entry.done, entry.path);
    EXPECT_THAT(files, ElementsAreArray({std::pair<std::int32_t, std::wstring>{1, words},
                                         std::pair<std::int32_t, std::wstring>{1, targetOf(5)}}));
    EXPECT_TRUE(log.wasInstalled(words));
}

// The same kept data file when a later file fails: the rollback leaves it
// exactly as it was, and nothing else of the run remains.
TEST_F(Destinations, ExistingDataFileSurvivesTheRollback)
{
    const std::wstring words = targetOf(4);
    std::filesystem::create_directories(commonData);
    writeFileBytes(words, "the user's own words");
    ::SetFileAttributesW(words.c_str(), FILE_ATTRIBUTE_READONLY);
    auto app = startApp();
    payload[6].crc = 0x12345678;  // the sample, after both data files
    const MachineSnapshot before = MachineSnapshot::take();

    EXPECT_FALSE(install(*app, payload));

    const std::vector<std::wstring> lines = display.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), copiedLine(words)), 0);
    EXPECT_EQ(lines.back(), copyingFileText(targetOf(6)) + L"Failed");
    EXPECT_EQ(display.status, L"Installation failed (Error Code 3).");
    EXPECT_EQ(readFileBytes(words), "the user's own words");
    EXPECT_TRUE(::GetFileAttributesW(words.c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_THAT(diff(before, MachineSnapshot::take()), IsEmpty());
}

}  // namespace
}  // namespace qv::test
