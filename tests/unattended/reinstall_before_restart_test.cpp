// An uninstallation whose clean-up copy could not remove the uninstaller
// leaves it, and the folders that held it, to Windows to delete at its next
// start (MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT). A new installation
// into that folder before the restart takes those deletions back once it
// has every file in place, and no others: a run that fails and is rolled
// back leaves them as they were. Runs without any display
// (tests/unattended.cmake).
#include "ProductTestPaths.h"
#include "support/ProductTestSupport.h"
#include "support/RunLogLines.h"
#include "support/TestFiles.h"
#include "support/WindowDriver.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

namespace qv {
namespace {

using test::containsInOrder;
using test::runLogLines;
using test::runToEnd;
using test::shellFolder;

const std::wstring installer = QV_INSTALLER_EXE;
constexpr DWORD Installed = 0, FailedRolledBack = 1603;
constexpr DWORD Removed = 0;  // the uninstaller's

// Schedules what MoveFileExW schedules for the uninstaller: a deletion
// (to empty) or a replacing rename.
void scheduleAtRestart(const std::wstring& path, const wchar_t* to = nullptr)
{
    ASSERT_TRUE(::MoveFileExW(path.c_str(), to,
                              MOVEFILE_DELAY_UNTIL_REBOOT | (to ? MOVEFILE_REPLACE_EXISTING : 0)))
        << ::GetLastError();
}

// pendingFileRenames (NULs shown as '|') without the deletion of path, a
// whole pair at a string's start.
std::wstring withoutDeletion(std::wstring pending, const std::wstring& path)
{
    const std::wstring pair = L"\\??\\" + path + L"||";
    for (std::size_t at = pending.find(pair); at != std::wstring::npos; at = pending.find(pair, at + 1))
        if (at == 0 || pending[at - 1] == L'|') return pending.erase(at, pair.size());
    ADD_FAILURE() << "no deletion of " << testing::PrintToString(path);
    return pending;
}

TEST(ReinstallationBeforeTheRestart, TakesBackTheUninstallersDeletionsAndNoOthers)
{
    const std::wstring maker = shellFolder(CSIDL_PROGRAM_FILES) + L"\\Orvane Systems";
    const std::wstring folder = maker + L"\\Trimora 6";
    const std::wstring uninstaller = folder + L"\\Uninstall.exe";
    ASSERT_EQ(runToEnd(installer, L"/VERYSILENT"), Installed);
    // A real uninstallation first.
    ASSERT_EQ(runToEnd(uninstaller, L"/VERYSILENT"), Removed);
    test::waitForCleanupCopies();
    ASSERT_FALSE(test::fileExists(folder));

    // What the uninstaller's fallback leaves instead: itself in place,
    // scheduled with its folders, deepest first; among other programs'
    // deletions and renames, one of them out of that folder.
    test::makeFolders(folder);
    ASSERT_TRUE(::CopyFileW((std::wstring(QV_PRODUCT_STAGE) + L"\\Uninstall.exe").c_str(), uninstaller.c_str(), FALSE));
    test::makeFolders(L"C:\\Elsewhere");
    test::writeText(folder + L"\\notes.qvn", "a user's notebook, moved away at the restart");
    scheduleAtRestart(L"C:\\Elsewhere\\old.tmp");
    scheduleAtRestart(uninstaller);
    scheduleAtRestart(folder + L"\\notes.qvn", L"C:\\Elsewhere\\notes.qvn");
    scheduleAtRestart(folder);
    scheduleAtRestart(maker);
    scheduleAtRestart(maker + L"\\Trimora 6 Old");
    const std::wstring planted = test::pendingFileRenames();

    // A run that fails half-way (a folder where a language library goes)
    // and is rolled back changes nothing of them.
    const std::wstring blocker = folder + L"\\Lang\\Trimora_en.dll";
    test::makeFolders(blocker);
    EXPECT_EQ(runToEnd(installer, L"/VERYSILENT /LOG=C:\\failed.log"), FailedRolledBack);
    EXPECT_EQ(test::pendingFileRenames(), planted);
    ASSERT_TRUE(::RemoveDirectoryW(blocker.c_str()));

    // The installation that gets there takes back exactly the deletions of
    // its folder and what lies below it.
    ASSERT_EQ(runToEnd(installer, L"/VERYSILENT /LOG=C:\\install.log"), Installed);
    EXPECT_EQ(test::pendingFileRenames(), withoutDeletion(withoutDeletion(planted, uninstaller), folder));
    EXPECT_TRUE(containsInOrder(
        runLogLines(L"C:\\install.log"),
        {L"Cancelled the deletion Windows had scheduled for its next start: " + uninstaller,
         L"Cancelled the deletion Windows had scheduled for its next start: " + folder, L"Exit code: 0"}));
    EXPECT_TRUE(test::fileExists(uninstaller));
}

}  // namespace
}  // namespace qv
