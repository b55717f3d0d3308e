// Opening, granting and deleting through handles checked for links
// (sys/PathGuard.h), against links planted the way an attacker would.
//
// Under Wine the links are made with ln -s on the Linux side
// (support/UnixSide.h): Wine reports a link to a folder with
// FILE_ATTRIBUTE_REPARSE_POINT and shows a link to a file as a plain file,
// and follows both on every open, FILE_FLAG_OPEN_REPARSE_POINT or not. Here
// that proves the checks by path attributes and by the handle's final path;
// the check of the handle's own attributes, and deleting a link itself
// instead of refusing it, only Windows can show.

#include "sys/HResultError.h"
#include "sys/PathGuard.h"
#include "sys/UsersAccess.h"
#include "support/TestFiles.h"
#include "support/UnixSide.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using namespace qv;
using namespace qv::test;

const std::wstring root = L"C:\\qvguard";
const std::wstring victim = root + L"\\victim";
const std::wstring precious = victim + L"\\file.txt";

std::string text(const std::vector<char>& bytes) { return std::string(bytes.begin(), bytes.end()); }

bool refusedAsLink(const std::function<void()>& action)
{
    try {
        action();
    } catch (const HResultError& e) {
        return e.code() == HRESULT_FROM_WIN32(errorLinkRefused);
    }
    return false;
}

class PathGuard : public ::testing::Test {
protected:
    // Planted afresh for every case: on Windows a case may delete a link.
    void SetUp() override
    {
        makeFolders(root + L"\\real\\sub");
        makeFolders(victim);
        writeText(root + L"\\real\\sub\\file.txt", "ours");
        writeText(precious, "precious");
        const char* names[] = {"dirlink", "real/sublink", "filelink", "dangling"};
        std::string remove = "rm -f";
        for (const char* name : names) remove += " '" + unixPathOf(root) + "/" + name + "'";
        ASSERT_TRUE(runUnixCommandAndWait(remove));
        ASSERT_TRUE(plantLink(root + L"\\dirlink", victim));
        ASSERT_TRUE(plantLink(root + L"\\real\\sublink", victim));
        ASSERT_TRUE(plantLink(root + L"\\filelink", precious));
        ASSERT_TRUE(plantLink(root + L"\\dangling", victim + L"\\planted.txt"));
    }

    void TearDown() override
    {
        // Whatever a case did, the attacker's target is as it was.
        EXPECT_EQ(text(readBytes(precious)), "precious");
        EXPECT_FALSE(fileExists(victim + L"\\planted.txt"));
    }
};

struct LinkCase {
    const wchar_t* path;  // below root
    bool linkAtTheEnd;    // the path itself is the link (else one is on its way)
    bool dangling;        // its target does not exist
    DWORD creation;
};

class PlantedLink : public PathGuard, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(PlantedLink, IsNeverOpenedWrittenGrantedOrDeletedThrough)
{
    const std::wstring path = root + GetParam().path;

    EXPECT_TRUE(refusedAsLink([&] { openChecked(path, GENERIC_WRITE, 0, GetParam().creation); }));
    if (GetParam().dangling && runningUnderWine()) {
        // Wine finds nothing at a link that leads nowhere: no grant either.
        EXPECT_THROW(grantUsersAccess(path, FILE_ALL_ACCESS, 3, GrantOn::Folder), HResultError);
        EXPECT_EQ(removeChecked(path, Removable::File), RemoveOutcome::Missing);
        return;
    }
    EXPECT_TRUE(refusedAsLink([&] { grantUsersAccess(path, FILE_ALL_ACCESS, 3, GrantOn::Folder); }));

    const RemoveOutcome removed = removeChecked(path, Removable::File);
    if (GetParam().linkAtTheEnd && !runningUnderWine()) {
        // Windows opens the link itself and deletes it, not its target.
        EXPECT_EQ(removed, RemoveOutcome::Removed);
    } else {
        // A link on the way, or under Wine any link (Wine cannot open one
        // as itself: its DeleteFileW and RemoveDirectoryW on a link delete
        // the target).
        EXPECT_EQ(removed, RemoveOutcome::Refused);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Links, PlantedLink,
    ::testing::Values(LinkCase{L"\\dirlink\\file.txt", false, false, OPEN_EXISTING},
                      LinkCase{L"\\real\\sublink\\file.txt", false, false, OPEN_ALWAYS},
                      LinkCase{L"\\dirlink\\new.txt", false, false, CREATE_NEW},
                      LinkCase{L"\\filelink", true, false, OPEN_EXISTING},
                      LinkCase{L"\\filelink", true, false, OPEN_ALWAYS},
                      LinkCase{L"\\dangling", true, true, OPEN_ALWAYS}));

TEST_F(PathGuard, FoldersOnTheWayAreCheckedFromTheDriveDown)
{
    EXPECT_TRUE(refusedAsLink([&] { checkFoldersOnPath(root + L"\\dirlink\\file.txt"); }));
    EXPECT_TRUE(refusedAsLink([&] { checkFoldersOnPath(root + L"\\dirlink\\missing\\deeper\\file.txt"); }));
    // A link at the end is not a folder on the way.
    EXPECT_FALSE(checkFoldersOnPath(root + L"\\dirlink").empty());
    // The folder that holds the path, as the system names it.
    EXPECT_TRUE(sameFileName(checkFoldersOnPath(root + L"\\real\\sub\\file.txt"), root + L"\\real\\sub"));
    // Nothing below a folder that does not exist can be a link.
    EXPECT_EQ(checkFoldersOnPath(root + L"\\absent\\deeper\\file.txt"), L"");
}

TEST_F(PathGuard, PlainFilesOpenAndGoAsAsked)
{
    const std::wstring file = root + L"\\real\\sub\\plain.txt";
    {
        CheckedHandle created = openChecked(file, GENERIC_WRITE, 0, CREATE_NEW);
        ASSERT_TRUE(created);
        EXPECT_TRUE(created.created);
        EXPECT_FALSE(created.isLink);
    }
    CheckedHandle missing = openChecked(root + L"\\real\\sub\\absent.txt", GENERIC_READ, 0, OPEN_EXISTING);
    EXPECT_FALSE(missing);
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    // A folder where a file is asked for stays, and the reverse.
    EXPECT_EQ(removeChecked(root + L"\\real\\sub", Removable::File), RemoveOutcome::Failed);
    EXPECT_EQ(removeChecked(file, Removable::EmptyFolder), RemoveOutcome::Failed);
    ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(removeChecked(file, Removable::File), RemoveOutcome::Removed);
    EXPECT_EQ(removeChecked(file, Removable::File), RemoveOutcome::Missing);
    // A folder goes only when empty.
    makeFolders(root + L"\\real\\empty");
    EXPECT_EQ(removeChecked(root + L"\\real\\sub", Removable::EmptyFolder), RemoveOutcome::Failed);
    EXPECT_EQ(removeChecked(root + L"\\real\\empty", Removable::EmptyFolder), RemoveOutcome::Removed);
    EXPECT_FALSE(fileExists(root + L"\\real\\empty"));
}

TEST_F(PathGuard, AFileWithAnotherNameIsNeverWrittenNorGranted)
{
    // A hard link is no reparse point, but writing, an attribute or a DACL
    // through it reaches the file behind every name.
    const std::wstring twin = root + L"\\real\\twin.txt";
    ASSERT_TRUE(::CreateHardLinkW(twin.c_str(), precious.c_str(), nullptr));
    EXPECT_TRUE(refusedAsLink([&] { openChecked(twin, GENERIC_WRITE, 0, OPEN_EXISTING); }));
    EXPECT_TRUE(refusedAsLink([&] { grantUsersAccess(twin, 0x13019F, 0, GrantOn::File); }));
    EXPECT_TRUE(openChecked(twin, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, SeveralNames));
    // Deleting one name leaves the other.
    EXPECT_EQ(removeChecked(twin, Removable::File), RemoveOutcome::Removed);
    EXPECT_FALSE(fileExists(twin));
}

}  // namespace
