#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "engine/Shortcut.h"
#include "sys/Handles.h"

#include <string>

namespace {

bool exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// What a shell link file holds, read back through the shell's own object.
struct LinkContents {
    std::wstring target, arguments, workingFolder, description, iconPath;
    WORD hotKey = 0xFFFF;
};

LinkContents readLink(const std::wstring& path)
{
    LinkContents contents;
    const HRESULT init = ::CoInitialize(nullptr);
    EXPECT_TRUE(SUCCEEDED(init));
    {
        qv::ComPtr<IShellLinkW> link;
        EXPECT_EQ(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                     link.putVoid()),
                  S_OK);
        qv::ComPtr<IPersistFile> file;
        EXPECT_EQ(link.queryInterface(file), S_OK);
        EXPECT_EQ(file->Load(path.c_str(), STGM_READ), S_OK) << "cannot load " << ::testing::PrintToString(path);
        wchar_t text[MAX_PATH * 2] = {};
        int icon = 0;
        if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) contents.target = text;
        text[0] = 0;
        if (SUCCEEDED(link->GetArguments(text, MAX_PATH))) contents.arguments = text;
        text[0] = 0;
        if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) contents.workingFolder = text;
        text[0] = 0;
        if (SUCCEEDED(link->GetDescription(text, MAX_PATH))) contents.description = text;
        text[0] = 0;
        if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH, &icon))) contents.iconPath = text;
        link->GetHotkey(&contents.hotKey);
    }
    if (SUCCEEDED(init)) ::CoUninitialize();
    return contents;
}

std::wstring testRoot()
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"shortcut_test";
}

// C:\…\Apps\Tool\Tool.exe and the uninstaller beside it; an empty menu folder.
class ShortcutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = testRoot();
        menu = root + L"\\Menu";
        toolFolder = root + L"\\Apps\\Tool";
        tool = toolFolder + L"\\Tool.exe";
        for (const std::wstring& folder : {root, root + L"\\Apps", toolFolder, menu})
            ::CreateDirectoryW(folder.c_str(), nullptr);
        for (const std::wstring& file : {tool, toolFolder + L"\\Uninstall Tool.exe"})
            qv::UniqueFile(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(exists(tool));
    }
    void TearDown() override
    {
        WIN32_FIND_DATAW found;
        qv::UniqueFindFile find(::FindFirstFileW((menu + L"\\*.lnk").c_str(), &found));
        if (find)
            do ::DeleteFileW((menu + L"\\" + found.cFileName).c_str());
            while (::FindNextFileW(find.get(), &found));
    }
    std::wstring root, menu, toolFolder, tool;
};

struct NamedCase {
    const wchar_t* name;      // null: taken from the target
    const wchar_t* fileName;  // expected link file in the menu folder
};

void PrintTo(const NamedCase& c, std::ostream* os)
{
    *os << ::testing::PrintToString(c.fileName);
}

class ShortcutNames : public ShortcutTest, public ::testing::WithParamInterface<NamedCase> {};

TEST_P(ShortcutNames, LinkHoldsTargetAndWorkingFolderOnly)
{
    const NamedCase c = GetParam();
    std::wstring created;
    ASSERT_TRUE(qv::createShortcut(tool, menu, c.name, &created));
    EXPECT_EQ(created, menu + L"\\" + c.fileName);
    ASSERT_TRUE(exists(created));

    const LinkContents link = readLink(created);
    EXPECT_EQ(link.target, tool);
    EXPECT_EQ(link.workingFolder, toolFolder);
    EXPECT_EQ(link.arguments, L"");
    EXPECT_EQ(link.description, L"");
    EXPECT_EQ(link.iconPath, L"");
    EXPECT_EQ(link.hotKey, 0);
}

INSTANTIATE_TEST_SUITE_P(Names, ShortcutNames,
                         ::testing::Values(NamedCase{L"Tool 1.0", L"Tool 1.0.lnk"},
                                           NamedCase{nullptr, L"Tool.lnk"},
                                           NamedCase{L"D\u00e9sinstaller Quorvex", L"D\u00e9sinstaller Quorvex.lnk"}));

TEST_F(ShortcutTest, ReplacesAnExistingLinkOfTheSameName)
{
    const std::wstring uninstaller = toolFolder + L"\\Uninstall Tool.exe";
    ASSERT_TRUE(qv::createShortcut(tool, menu, L"Tool"));
    std::wstring created;
    ASSERT_TRUE(qv::createShortcut(uninstaller, menu, L"Tool", &created));
    EXPECT_EQ(readLink(created).target, uninstaller);
}

struct FailureCase {
    const char* what;
    std::wstring target;  // relative to the test root unless absolute
    std::wstring folder;
    const wchar_t* name;
};

void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.what;
}

class ShortcutFailures : public ShortcutTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ShortcutFailures, ReturnFalseWriteNothingAndLeaveTheOutPathAlone)
{
    const FailureCase c = GetParam();
    const std::wstring target = c.target.find(L':') == std::wstring::npos && c.target.find(L'\\') != std::wstring::npos
                                    ? root + c.target
                                    : c.target;
    const std::wstring folder = c.folder.empty() || c.folder[0] != L'\\' ? c.folder : root + c.folder;
    std::wstring created = L"untouched";
    EXPECT_FALSE(qv::createShortcut(target, folder, c.name, &created));
    EXPECT_EQ(created, L"untouched");

    EXPECT_TRUE(::PathIsDirectoryEmptyW(menu.c_str()));
    EXPECT_FALSE(exists(root + L"\\Missing"));
    EXPECT_FALSE(exists(menu + L".lnk"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShortcutFailures,
    ::testing::Values(
        FailureCase{"target without a folder part", L"Tool.exe", L"\\Menu", L"Tool"},
        FailureCase{"target without a folder part, no name", L"Tool.exe", L"\\Menu", nullptr},
        FailureCase{"folder that does not exist", L"\\Apps\\Tool\\Tool.exe", L"\\Missing", L"Tool"},
        FailureCase{"empty name", L"\\Apps\\Tool\\Tool.exe", L"\\Menu", L""},
        FailureCase{"target beyond 259 characters", L"C:\\" + std::wstring(252, L'x') + L"\\a.exe", L"\\Menu", L"Tool"},
        FailureCase{"link path beyond 259 characters", L"\\Apps\\Tool\\Tool.exe", L"\\Menu",
                    L"Tool with a very long name that does not fit into the 260 characters of the link "
                    L"path once the folder is in front of it, which is reached sooner than one would "
                    L"think with deep menu folders, long product names and the .lnk extension"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) {
        std::string name;
        for (const char* p = info.param.what; *p; ++p)
            if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
        return name;
    });

// Runs `work` on a fresh thread, so that its COM state starts empty.
template <class F>
void onNewThread(F work)
{
    struct Call {
        static DWORD WINAPI run(void* p)
        {
            (*static_cast<F*>(p))();
            return 0;
        }
    };
    qv::UniqueHandle thread(::CreateThread(nullptr, 0, &Call::run, &work, 0, nullptr));
    ASSERT_TRUE(thread);
    ::WaitForSingleObject(thread.get(), INFINITE);
}

TEST_F(ShortcutTest, ThreadInMultithreadedApartmentGetsFalseAndNoFile)
{
    bool made = true;
    HRESULT stillMultithreaded = E_FAIL;
    onNewThread([&] {
        ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        made = qv::createShortcut(tool, menu, L"Tool");
        stillMultithreaded = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ::CoUninitialize();
        ::CoUninitialize();
    });
    EXPECT_FALSE(made);
    EXPECT_FALSE(exists(menu + L"\\Tool.lnk"));
    EXPECT_EQ(stillMultithreaded, S_FALSE);
}

TEST_F(ShortcutTest, LeavesTheThreadsApartmentAsItWas)
{
    bool made = false;
    HRESULT afterUninitialised = E_FAIL;
    onNewThread([&] {
        made = qv::createShortcut(tool, menu, L"Tool");
        // COM was undone: the thread may now choose any apartment.
        afterUninitialised = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(afterUninitialised)) ::CoUninitialize();
    });
    EXPECT_TRUE(made);
    EXPECT_EQ(afterUninitialised, S_OK);

    bool madeInApartment = false;
    HRESULT afterInApartment = E_FAIL;
    onNewThread([&] {
        ASSERT_EQ(::CoInitialize(nullptr), S_OK);
        madeInApartment = qv::createShortcut(tool, menu, L"Tool 2");
        afterInApartment = ::CoInitialize(nullptr);  // S_FALSE: still initialised
        ::CoUninitialize();
        ::CoUninitialize();
    });
    EXPECT_TRUE(madeInApartment);
    EXPECT_EQ(afterInApartment, S_FALSE);
}

}  // namespace
