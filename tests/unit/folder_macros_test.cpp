#include "engine/FolderMacros.h"

#include "engine/CompressError.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <boost/algorithm/string/replace.hpp>
#include <boost/filesystem.hpp>

#include <fstream>
#include <vector>

namespace fs = boost::filesystem;

namespace {

using qv::test::shellFolder;

// Names in percent signs stand for the shell's folders on this machine.
std::wstring expand(std::wstring text)
{
    const struct {
        const wchar_t* token;
        int csidl;
    } folders[] = {
        {L"%ProgramFiles%", CSIDL_PROGRAM_FILES},
        {L"%ProgramCommon%", CSIDL_PROGRAM_FILES_COMMON},
        {L"%CommonData%", CSIDL_COMMON_APPDATA},
        {L"%AppData%", CSIDL_APPDATA},
        {L"%CommonDocuments%", CSIDL_COMMON_DOCUMENTS},
        {L"%Documents%", CSIDL_PERSONAL},
        {L"%CommonDesktop%", CSIDL_COMMON_DESKTOPDIRECTORY},
        {L"%Desktop%", CSIDL_DESKTOPDIRECTORY},
        {L"%WinDir%", CSIDL_WINDOWS},
        {L"%System%", CSIDL_SYSTEM},
    };
    for (const auto& folder : folders) boost::replace_all(text, folder.token, shellFolder(folder.csidl));
    return text;
}

std::vector<std::wstring> sharedPaths(const qv::FolderMacros& macros)
{
    std::vector<std::wstring> paths;
    for (const qv::SharedFolder& folder : macros.sharedFolders()) paths.push_back(folder.path);
    return paths;
}

struct MacroCase {
    const wchar_t* destination;
    const wchar_t* samplePath;
    const wchar_t* tempPath;
    const wchar_t* expected;
    std::vector<const wchar_t*> shared;
};

std::ostream& operator<<(std::ostream& out, const MacroCase& c)
{
    return out << fs::path(c.destination).string() << " (sample "
               << fs::path(c.samplePath).string() << ")";
}

class Resolve : public testing::TestWithParam<MacroCase> {};

TEST_P(Resolve, GivesTheFolderAndRegistersSharedOnes)
{
    const MacroCase& c = GetParam();
    qv::FolderMacros macros(L"C:\\Inst", c.samplePath, c.tempPath);
    EXPECT_EQ(macros.resolve(c.destination), expand(c.expected));
    std::vector<std::wstring> expectedShared;
    for (const wchar_t* path : c.shared) expectedShared.push_back(expand(path));
    EXPECT_EQ(sharedPaths(macros), expectedShared);
    for (const qv::SharedFolder& folder : macros.sharedFolders()) EXPECT_FALSE(folder.granted);
}

INSTANTIATE_TEST_SUITE_P(
    Given, Resolve,
    testing::Values(
        MacroCase{L"<InstallPath>", L"", L"", L"C:\\Inst", {}},
        MacroCase{L"<InstallPath>\\Lang", L"", L"", L"C:\\Inst\\Lang", {}},
        MacroCase{L"<InstallPath>/Lang/Sub/", L"", L"", L"C:\\Inst\\Lang\\Sub", {}},
        // Only an exact, whole first element is a macro; the rest stays relative.
        MacroCase{L"<installpath>\\Lang", L"", L"", L"Lang", {}},
        MacroCase{L"<InstallPath>x\\Lang", L"", L"", L"<InstallPath>x\\Lang", {}},
        MacroCase{L"<Nowhere>\\A\\B", L"", L"", L"A\\B", {}},
        MacroCase{L"<CommonData>", L"", L"", L"%CommonData%", {}},
        MacroCase{L"C:\\Data", L"", L"", L"C:\\Data", {}},
        MacroCase{L"Data\\Sub", L"", L"", L"Data\\Sub", {}},
        MacroCase{L"", L"", L"", L"", {}},
        MacroCase{L"<Temporary>\\x.tmp", L"", L"C:\\Tmp", L"C:\\Tmp\\x.tmp", {}},
        MacroCase{L"<Temporary>\\x.tmp", L"", L"", L"C:\\Inst\\x.tmp", {}}));

INSTANTIATE_TEST_SUITE_P(
    SamplePath, Resolve,
    testing::Values(
        MacroCase{L"<SamplePath>", L"", L"", L"%CommonDesktop%", {}},
        MacroCase{L"<SamplePath>", L"D:\\Samples", L"", L"D:\\Samples", {}},
        MacroCase{L"<SamplePath>\\Sub", L"D:\\Samples", L"", L"D:\\Samples\\Sub", {}},
        MacroCase{L"<SamplePath>",
                  L"Quorvex Examples",
                  L"",
                  L"%CommonDesktop%\\Quorvex Examples",
                  {L"%CommonDesktop%\\Quorvex Examples"}},
        // Only the sample folder is shared, not what lies below it.
        MacroCase{L"<SamplePath>\\Sub\\Deeper",
                  L"Quorvex Examples",
                  L"",
                  L"%CommonDesktop%\\Quorvex Examples\\Sub\\Deeper",
                  {L"%CommonDesktop%\\Quorvex Examples"}}));

INSTANTIATE_TEST_SUITE_P(
    ShellFolders, Resolve,
    testing::Values(
        MacroCase{L"<ProgramFiles>\\A", L"", L"", L"%ProgramFiles%\\A", {}},
        MacroCase{L"<ProgramCommon>\\A", L"", L"", L"%ProgramCommon%\\A", {}},
        MacroCase{L"<CommonData>\\Orvane Systems\\Quorvex",
                  L"",
                  L"",
                  L"%CommonData%\\Orvane Systems\\Quorvex",
                  {L"%CommonData%\\Orvane Systems", L"%CommonData%\\Orvane Systems\\Quorvex"}},
        MacroCase{L"<UserData>\\Orvane Systems\\Quorvex", L"", L"",
                  L"%AppData%\\Orvane Systems\\Quorvex", {}},
        MacroCase{L"<CommonDocuments>\\A", L"", L"", L"%CommonDocuments%\\A",
                  {L"%CommonDocuments%\\A"}},
        MacroCase{L"<Documents>\\A", L"", L"", L"%Documents%\\A", {}},
        MacroCase{L"<CommonDesktop>\\A", L"", L"", L"%CommonDesktop%\\A", {L"%CommonDesktop%\\A"}},
        MacroCase{L"<Desktop>\\A", L"", L"", L"%Desktop%\\A", {}},
        MacroCase{L"<WinDir>\\A", L"", L"", L"%WinDir%\\A", {}},
        MacroCase{L"<System>\\A", L"", L"", L"%System%\\A", {}}));

TEST(SharedFolders, ListedOnceEach)
{
    qv::FolderMacros macros(L"C:\\Inst", L"", L"");
    macros.resolve(L"<CommonData>\\Orvane Systems\\Quorvex");
    macros.resolve(L"<CommonData>\\orvane systems\\Quorvex\\Sub");
    macros.registerSharedFolder(expand(L"%CommonData%\\Orvane Systems\\.\\Quorvex\\"));
    const std::vector<std::wstring> expected{expand(L"%CommonData%\\Orvane Systems"),
                                             expand(L"%CommonData%\\Orvane Systems\\Quorvex"),
                                             expand(L"%CommonData%\\orvane systems\\Quorvex\\Sub")};
    EXPECT_EQ(sharedPaths(macros), expected);
}

class Grant : public testing::Test {
protected:
    void SetUp() override { fs::remove_all(expand(L"%CommonData%\\Orvane Systems")); }
    void TearDown() override { fs::remove_all(expand(L"%CommonData%\\Orvane Systems")); }

    static bool granted(const qv::FolderMacros& macros, std::size_t index)
    {
        return macros.sharedFolders().at(index).granted;
    }
};

TEST_F(Grant, FirstFileBelowSharedFoldersGrantsThemAll)
{
    qv::FolderMacros macros(L"C:\\Inst", L"", L"");
    const std::wstring folder = macros.resolve(L"<CommonData>\\Orvane Systems\\Quorvex");
    ASSERT_EQ(macros.sharedFolders().size(), 2u);

    // Folders not created yet: the walk up finds nothing to grant.
    macros.grantPendingFolders(folder + L"\\Data.bin");
    EXPECT_FALSE(granted(macros, 0));
    EXPECT_FALSE(granted(macros, 1));

    fs::create_directories(fs::path(folder) / L"Sub");
    // A file elsewhere grants nothing.
    macros.grantPendingFolders(expand(L"%AppData%\\Data.bin"));
    EXPECT_FALSE(granted(macros, 0));
    EXPECT_FALSE(granted(macros, 1));

    macros.grantPendingFolders(folder + L"\\Sub\\Data.bin");
    EXPECT_TRUE(granted(macros, 0));
    EXPECT_TRUE(granted(macros, 1));
}

TEST_F(Grant, OnlyTheFoldersAboveTheFile)
{
    qv::FolderMacros macros(L"C:\\Inst", L"", L"");
    const std::wstring folder = macros.resolve(L"<CommonData>\\Orvane Systems\\Quorvex");
    fs::create_directories(folder);

    macros.grantPendingFolders(expand(L"%CommonData%\\Orvane Systems\\Readme.txt"));
    EXPECT_TRUE(granted(macros, 0));
    EXPECT_FALSE(granted(macros, 1));

    macros.grantPendingFolders(folder + L"\\Data.bin");
    EXPECT_TRUE(granted(macros, 1));
}

TEST_F(Grant, UserDataGrantsNothing)
{
    qv::FolderMacros macros(L"C:\\Inst", L"", L"");
    const std::wstring folder = macros.resolve(L"<UserData>\\Orvane Systems\\Quorvex");
    fs::create_directories(folder);
    macros.grantPendingFolders(folder + L"\\Data.bin");
    EXPECT_TRUE(macros.sharedFolders().empty());
    fs::remove_all(expand(L"%AppData%\\Orvane Systems"));
}

void expectUnexpected(const std::function<void()>& call)
{
    try {
        call();
        ADD_FAILURE() << "no exception";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::error_code(qv::CompressError::Unexpected));
        EXPECT_EQ(e.code().value(), 7);
    }
}

// CSIDL_INTERNET is a virtual folder: the shell has no path for it.
TEST(LookupFolder, NothingFoundIsCode7)
{
    expectUnexpected([] { qv::lookupFolder(CSIDL_INTERNET); });
    expectUnexpected([] { qv::lookupFolder(CSIDL_INTERNET, CSIDL_APPDATA, false); });
    EXPECT_EQ(qv::lookupFolder(CSIDL_INTERNET, CSIDL_APPDATA, true), shellFolder(CSIDL_APPDATA));
    EXPECT_EQ(qv::lookupFolder(CSIDL_WINDOWS), shellFolder(CSIDL_WINDOWS));
}

// Empties a registry value for the test and puts the old one back.
class EmptiedValue {
public:
    EmptiedValue(const wchar_t* subKey, const wchar_t* name) : name_(name)
    {
        EXPECT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                  &key_),
                  ERROR_SUCCESS);
        DWORD size = sizeof old_;
        had_ = ::RegQueryValueExW(key_, name, nullptr, &type_, reinterpret_cast<BYTE*>(old_),
                                  &size) == ERROR_SUCCESS;
        oldSize_ = size;
        ::RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
    }
    ~EmptiedValue()
    {
        if (had_)
            ::RegSetValueExW(key_, name_, 0, type_, reinterpret_cast<const BYTE*>(old_), oldSize_);
        else
            ::RegDeleteValueW(key_, name_);
        ::RegCloseKey(key_);
    }

private:
    HKEY key_ = nullptr;
    const wchar_t* name_;
    bool had_ = false;
    DWORD type_ = REG_SZ;
    wchar_t old_[MAX_PATH] = {};
    DWORD oldSize_ = 0;
};

// Wine's shell takes these folders from the registry; Windows may not, and
// then there is nothing to show.
TEST(ResolveWithoutFolder, ProgramCommonFailsWithCode7AndCommonDataFallsBack)
{
    const std::wstring appData = shellFolder(CSIDL_APPDATA);
    {
        EmptiedValue common(L"Software\\Microsoft\\Windows\\CurrentVersion", L"CommonFilesDir");
        EmptiedValue data1(L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                           L"Common AppData");
        EmptiedValue data2(L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                           L"Common AppData");
        if (!shellFolder(CSIDL_PROGRAM_FILES_COMMON).empty() || !shellFolder(CSIDL_COMMON_APPDATA).empty())
            GTEST_SKIP() << "this system's shell does not take the folders from the registry";

        qv::FolderMacros macros(L"C:\\Inst", L"", L"");
        expectUnexpected([&] { macros.resolve(L"<ProgramCommon>\\A"); });
        EXPECT_EQ(macros.resolve(L"<CommonData>\\Orvane Systems"), appData + L"\\Orvane Systems");
        EXPECT_EQ(sharedPaths(macros), std::vector<std::wstring>{appData + L"\\Orvane Systems"});
    }
    EXPECT_FALSE(shellFolder(CSIDL_PROGRAM_FILES_COMMON).empty());
}

}  // namespace
