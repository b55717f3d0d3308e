// The run's private folder: created with its security in one call, under a
// fresh name, never through a link, pinned while the run lasts, and placed
// in SYSTEM's own temporary folder for a process running as SYSTEM.
//
// Under Wine a folder's DACL reads back as one made up from the Unix mode
// bits: what the folder is created with is checked here on the bytes handed
// to CreateDirectoryW, and read back only on Windows.

#include "engine/TemporaryFiles.h"
#include "sys/FileSecurity.h"
#include "sys/PathGuard.h"
#include "sys/RunFolder.h"
#include "support/TestFiles.h"
#include "support/UnixSide.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using namespace qv;
using namespace qv::test;

struct Ace {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    WELL_KNOWN_SID_TYPE sid;
    bool operator==(const Ace&) const = default;
};

std::vector<Ace> entriesOf(const ACL* acl)
{
    std::vector<Ace> entries;
    for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
        void* raw = nullptr;
        ::GetAce(const_cast<ACL*>(acl), i, &raw);
        auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
        WELL_KNOWN_SID_TYPE known = WinNullSid;
        for (WELL_KNOWN_SID_TYPE candidate : {WinBuiltinAdministratorsSid, WinLocalSystemSid, WinBuiltinUsersSid})
            if (::IsWellKnownSid(&ace->SidStart, candidate)) known = candidate;
        entries.push_back({ace->Header.AceType, ace->Header.AceFlags, ace->Mask, known});
    }
    return entries;
}

constexpr BYTE inherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
const Ace administrators{ACCESS_ALLOWED_ACE_TYPE, inherited, FILE_ALL_ACCESS, WinBuiltinAdministratorsSid};
const Ace localSystem{ACCESS_ALLOWED_ACE_TYPE, inherited, FILE_ALL_ACCESS, WinLocalSystemSid};
const Ace usersRead{ACCESS_ALLOWED_ACE_TYPE, inherited, 0x1200A9, WinBuiltinUsersSid};

TEST(FolderSecurity, PrivateAndProgramFilesListsAreProtected)
{
    FolderSecurity run = FolderSecurity::administratorsOnly();
    EXPECT_EQ(entriesOf(reinterpret_cast<const ACL*>(run.acl().data())),
              (std::vector<Ace>{administrators, localSystem}));
    EXPECT_TRUE(run.control() & SE_DACL_PROTECTED);
    EXPECT_EQ(run.attributes()->nLength, sizeof(SECURITY_ATTRIBUTES));
    EXPECT_FALSE(run.attributes()->bInheritHandle);

    FolderSecurity installation = FolderSecurity::likeProgramFiles();
    EXPECT_EQ(entriesOf(reinterpret_cast<const ACL*>(installation.acl().data())),
              (std::vector<Ace>{administrators, localSystem, usersRead}));
    EXPECT_TRUE(installation.control() & SE_DACL_PROTECTED);
}

class RunFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        base = temporaryBase(false) + L"qvrun-test";
        makeFolders(base);
    }
    std::wstring base;
};

TEST_F(RunFolderTest, IsCreatedPrivateAndGoesWhenEmpty)
{
    const std::wstring path = base + L"\\orvane_{fresh}";
    {
        std::optional<RunFolder> folder = RunFolder::create(path);
        ASSERT_TRUE(folder) << ::GetLastError();
        EXPECT_TRUE(sameFileName(folder->path(), path));
        // Pinned: nobody renames it away to put a link in its place.
        EXPECT_FALSE(::MoveFileW(path.c_str(), (base + L"\\moved").c_str()));

        const std::wstring name = folder->freshFileName(L"ov");
        EXPECT_TRUE(sameFileName(name.substr(0, path.size() + 3), path + L"\\ov"));
        EXPECT_FALSE(fileExists(name)) << "a name only";
        EXPECT_NE(folder->freshFileName(L"ov"), L"");

        if (!runningUnderWine()) {
            DWORD needed = 0;
            ::GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
            std::vector<BYTE> descriptor(needed);
            ASSERT_TRUE(::GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed));
            BOOL present = FALSE, defaulted = FALSE;
            PACL dacl = nullptr;
            ::GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted);
            EXPECT_EQ(entriesOf(dacl), (std::vector<Ace>{administrators, localSystem}));
        }
    }
    EXPECT_FALSE(fileExists(path)) << "empty at the end: removed";

    {
        std::optional<RunFolder> folder = RunFolder::create(path);
        ASSERT_TRUE(folder);
        writeText(path + L"\\left.tmp", "kept");
    }
    EXPECT_TRUE(fileExists(path + L"\\left.tmp")) << "what is left stays, and its folder";
}

TEST_F(RunFolderTest, NeverTakesANameThatExistsNorGoesThroughALink)
{
    // A folder somebody made first under the name: refused, not reused.
    const std::wstring taken = base + L"\\orvane_{taken}";
    makeFolders(taken);
    EXPECT_FALSE(RunFolder::create(taken));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_ALREADY_EXISTS));

    // A link standing for the temporary folder (made on the Linux side:
    // a junction under Wine): nothing is created in its target.
    const std::wstring victim = L"C:\\qvrun-victim";
    makeFolders(victim);
    ASSERT_TRUE(plantLink(base + L"\\link", victim));
    EXPECT_FALSE(RunFolder::create(base + L"\\link\\orvane_{through}"));
    EXPECT_EQ(::GetLastError(), errorLinkRefused);
    EXPECT_FALSE(fileExists(victim + L"\\orvane_{through}"));
}

TEST(MakeRunFolder, FailsWithTheCodeOfItsCreationAndCreatesNothingElsewhere)
{
    const std::wstring victim = L"C:\\qvrun-victim2";
    makeFolders(victim);
    ASSERT_TRUE(plantLink(L"C:\\qvrun-tmp", victim));
    ::SetEnvironmentVariableW(L"TMP", L"C:\\qvrun-tmp");
    std::wstring error;
    const bool made = static_cast<bool>(makeRunFolder(error));
    ::SetEnvironmentVariableW(L"TMP", nullptr);
    EXPECT_FALSE(made);
    EXPECT_EQ(error, L"0000112b (CreateDirectory)");
    WIN32_FIND_DATAW found;
    UniqueFindFile anything(::FindFirstFileW((victim + L"\\orvane_*").c_str(), &found));
    EXPECT_FALSE(anything);
}

TEST(MakeRunFolder, LeavesRoomForTheNamesOfBackupsInside)
{
    // A temporary path of 204 characters (with its separator) gives a run
    // folder of 249: one more than a backup's name leaves room for.
    std::wstring temp = L"C:\\tmp";
    while (temp.size() < 203) temp += temp.size() % 40 == 0 ? L'\\' : L'x';
    makeFolders(temp);
    ::SetEnvironmentVariableW(L"TMP", temp.c_str());
    std::wstring error;
    const bool made = static_cast<bool>(makeRunFolder(error));
    temp.pop_back();
    ::SetEnvironmentVariableW(L"TMP", temp.c_str());
    makeFolders(temp);
    std::wstring fits;
    std::optional<RunFolder> shorter = makeRunFolder(fits);
    ::SetEnvironmentVariableW(L"TMP", nullptr);
    EXPECT_FALSE(made);
    EXPECT_EQ(error, L"000000ce (PathAppend)");
    ASSERT_TRUE(shorter) << fits;
    EXPECT_EQ(shorter->path().size(), 248u);
    const std::wstring name = shorter->freshFileName(L"ov");
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 259u);
}

TEST(TemporaryBase, SystemUsesItsOwnFolderNeverTemp)
{
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    EXPECT_EQ(temporaryBase(false), temp);

    // Whatever TEMP says: the system's folder for SYSTEM.
    ::SetEnvironmentVariableW(L"TMP", L"C:\\Users\\Public");
    wchar_t windows[MAX_PATH] = {};
    ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring systemTemp = std::wstring(windows) + L"\\SystemTemp";
    ::RemoveDirectoryW(systemTemp.c_str());
    EXPECT_EQ(temporaryBase(true), std::wstring(windows) + L"\\Temp\\");
    // Recent Windows has a folder of its own for SYSTEM's files.
    makeFolders(systemTemp);
    EXPECT_EQ(temporaryBase(true), systemTemp + L"\\");
    ::RemoveDirectoryW(systemTemp.c_str());
    ::SetEnvironmentVariableW(L"TMP", nullptr);
}

}  // namespace
