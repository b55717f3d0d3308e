// Which lines of an Uninstall.ulog an installation may act on: the entries
// an installation of this product can own, against the real shell folders of
// the prefix and real shell links.

#include "uninstall/InstallationArea.h"

#include "engine/Shortcut.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <string>

namespace {

using namespace qv;
using namespace qv::test;

const std::wstring programFiles = shellFolder(CSIDL_PROGRAM_FILES);
const std::wstring install = programFiles + L"\\Orvane Systems\\Trimora 6";
const std::wstring commonData = shellFolder(CSIDL_COMMON_APPDATA);
const std::wstring userData = shellFolder(CSIDL_APPDATA);
const std::wstring desktop = shellFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
const std::wstring documents = shellFolder(CSIDL_PERSONAL);
const std::wstring windows = shellFolder(CSIDL_WINDOWS);

LogEntry entry(std::int32_t kind, const std::wstring& path, std::int32_t payloadKind = -1)
{
    LogEntry e;
    e.kind = kind;
    e.path = path;
    e.payloadKind = payloadKind;
    e.done = true;
    return e;
}

struct Claim {
    const char* what;
    LogEntry entry;
    bool owned;
};

class LogLine : public ::testing::TestWithParam<Claim> {};

TEST_P(LogLine, IsOwnedOnlyWhereAnInstallationPutsThings)
{
    const InstallationArea area({install});
    EXPECT_EQ(area.owns(GetParam().entry), GetParam().owned) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Claims, LogLine,
    ::testing::Values(
        // Below the installation folder, and the folders above it up to the
        // program-files folder.
        Claim{"program", entry(InstalledFile, install + L"\\Trimora.exe", 1), true},
        Claim{"library", entry(InstalledFile, install + L"\\Lang\\Trimora_de.dll", 0), true},
        Claim{"installation folder", entry(CreatedFolder, install), true},
        Claim{"maker's folder", entry(CreatedFolder, programFiles + L"\\Orvane Systems"), true},
        Claim{"program files", entry(CreatedFolder, programFiles), false},
        Claim{"the drive", entry(CreatedFolder, L"C:\\"), false},
        Claim{"spelt differently", entry(InstalledFile, install + L"\\LANG\\.\\x\\..\\Trimora_de.dll", 0), true},
        Claim{"out through ..", entry(InstalledFile, install + L"\\..\\..\\..\\windows\\win.ini", 0), false},
        Claim{"a neighbour", entry(InstalledFile, install + L" Old\\Trimora.exe", 1), false},
        // Shared data: below the data folders, and the maker's folder above.
        Claim{"shared words", entry(InstalledFile, commonData + L"\\Orvane Systems\\Quorvex\\Words_en.qwl", 3), true},
        Claim{"user's words", entry(InstalledFile, userData + L"\\Orvane Systems\\Quorvex\\Personal.qwl", 3), true},
        Claim{"shared maker", entry(CreatedFolder, commonData + L"\\Orvane Systems"), true},
        Claim{"all users' data", entry(CreatedFolder, commonData), false},
        Claim{"another maker's data", entry(InstalledFile, commonData + L"\\Other\\data.bin", 3), false},
        // Samples: a folder on the all-users desktop named after the product,
        // in any language.
        Claim{"sample", entry(InstalledFile, desktop + L"\\Trimora Examples\\Welcome.qvn", 4), true},
        Claim{"German samples", entry(CreatedFolder, desktop + L"\\Trimora-Beispiele"), true},
        Claim{"French samples", entry(InstalledFile, desktop + L"\\Exemples Quorvex\\Recipes.qvn", 4), true},
        Claim{"the desktop", entry(CreatedFolder, desktop), false},
        Claim{"another desktop folder", entry(InstalledFile, desktop + L"\\Accounts\\2024.xls", 4), false},
        // What the installation never puts anywhere.
        Claim{"system file", entry(InstalledFile, windows + L"\\system32\\kernel32.dll", 0), false},
        Claim{"user's document", entry(InstalledFile, documents + L"\\letter.txt", 4), false},
        Claim{"Windows folder", entry(CreatedFolder, windows), false},
        Claim{"network path", entry(InstalledFile, L"\\\\server\\share\\Trimora.exe", 1), false},
        Claim{"device path", entry(InstalledFile, L"\\\\.\\PhysicalDrive0", 1), false},
        Claim{"long-path form", entry(InstalledFile, L"\\\\?\\" + install + L"\\Trimora.exe", 1), false},
        Claim{"relative path", entry(InstalledFile, L"Lang\\Trimora_de.dll", 0), false},
        Claim{"stream", entry(InstalledFile, install + L"\\Trimora.exe:hidden", 1), false},
        // Lines that name no path.
        Claim{"uninstall key", entry(UninstallKey, L""), true},
        Claim{"classes root", entry(ClassesRootKeys, L""), true},
        Claim{"shortcut never made", entry(ProgramShortcut, L""), true}));

class Shortcuts : public ::testing::Test {
protected:
    void SetUp() override
    {
        menu = shellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Trimora 6";
        makeFolders(menu);
        makeFolders(install);
        writeText(install + L"\\Trimora.exe", "program");
        writeText(documents + L"\\letter.txt", "the user's");
    }
    std::wstring menu;
};

TEST_F(Shortcuts, OnlyLinksIntoTheInstallationFolderAreOwned)
{
    std::wstring ours, foreign;
    ASSERT_TRUE(createShortcut(install + L"\\Trimora.exe", menu, L"Trimora 6.04", &ours));
    ASSERT_TRUE(createShortcut(documents + L"\\letter.txt", menu, L"Letter", &foreign));
    const std::wstring notALink = menu + L"\\Notes.lnk";
    writeText(notALink, "not a shell link");

    InstallationArea area({install});
    EXPECT_TRUE(area.owns(entry(ProgramShortcut, ours)));
    EXPECT_FALSE(area.owns(entry(ProgramShortcut, foreign)));
    EXPECT_FALSE(area.owns(entry(DesktopShortcut, notALink)));
    // The file the shortcut line names must be a shortcut.
    EXPECT_FALSE(area.owns(entry(UninstallShortcut, documents + L"\\letter.txt")));
    EXPECT_FALSE(area.owns(entry(ProgramShortcut, menu + L"\\Missing.lnk")));
    EXPECT_EQ(shortcutTarget(ours), install + L"\\Trimora.exe");

    // The Start-menu folder is the installation's once it holds its
    // shortcuts: then it and the folders above it, up to the programs folder.
    EXPECT_FALSE(area.owns(entry(CreatedFolder, menu)));
    area.addShortcutFolder(menu);
    EXPECT_TRUE(area.owns(entry(CreatedFolder, menu)));
    EXPECT_FALSE(area.owns(entry(CreatedFolder, shellFolder(CSIDL_COMMON_PROGRAMS))));
}

}  // namespace
