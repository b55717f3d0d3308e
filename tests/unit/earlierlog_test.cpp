#include "identity/Product.h"
#include "sys/ModulePath.h"
#include "identity/Probes.h"
#include "sys/Handles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <boost/filesystem.hpp>
#include <boost/filesystem/fstream.hpp>

using namespace qv;
namespace fs = boost::filesystem;

namespace {

constexpr wchar_t UninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvex 6";
const fs::path ProgramFolder = L"C:\\Apps\\Quorvex";
const fs::path UninstallerFolder = L"C:\\Program Files\\Orvane Systems\\Uninstall Data";

void setString(HKEY root, const wchar_t* path, const wchar_t* name, const std::wstring& text)
{
    UniqueKey key;
    ASSERT_EQ(::RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>((text.size() + 1) * 2)),
              ERROR_SUCCESS);
}

void writeLog(const fs::path& folder)
{
    fs::create_directories(folder);
    fs::ofstream(folder / L"Uninstall.ulog") << "log";
}

fs::path installerFolder()
{
    return fs::path(modulePath()).parent_path();
}

// The installed program is looked up once per process, so the whole machine
// is laid out before the first test: a program with its log, an uninstaller
// in another folder (with blanks, unquoted, as the uninstall key stores it).
class Machine : public ::testing::Environment {
public:
    void SetUp() override
    {
        fs::create_directories(ProgramFolder);
        ASSERT_TRUE(::CopyFileW(qv::test::probePath(L"6.3.0.0").c_str(),
                                (ProgramFolder / L"Quorvex6.exe").wstring().c_str(), FALSE));
        setString(HKEY_LOCAL_MACHINE, MakerKeyPath, L"Quorvex 6 Path", (ProgramFolder / L"Quorvex6.exe").wstring());
        ASSERT_EQ(installedProgramPath(), (ProgramFolder / L"Quorvex6.exe").wstring());
    }
    void TearDown() override
    {
        // The installer's folder is the build tree's: leave nothing there.
        boost::system::error_code ignored;
        fs::remove(installerFolder() / L"Uninstall.ulog", ignored);
    }
};

const auto* machine = ::testing::AddGlobalTestEnvironment(new Machine);

TEST(EarlierLog, CandidatesInOrder)
{
    setString(HKEY_LOCAL_MACHINE, UninstallKey, L"UninstallString", (UninstallerFolder / L"Uninstall.exe").wstring());
    writeLog(UninstallerFolder);
    writeLog(installerFolder());
    writeLog(ProgramFolder);
    auto cleanup = scopeExit([] {
        boost::system::error_code ignored;
        fs::remove(installerFolder() / L"Uninstall.ulog", ignored);
    });

    // Beside the uninstaller, although the program lies elsewhere.
    EXPECT_EQ(earlierLogPath(), (UninstallerFolder / L"Uninstall.ulog").wstring());
    fs::remove(UninstallerFolder / L"Uninstall.ulog");
    // Then beside the running installer...
    EXPECT_EQ(earlierLogPath(), (installerFolder() / L"Uninstall.ulog").wstring());
    fs::remove(installerFolder() / L"Uninstall.ulog");
    // ...then beside the installed program...
    EXPECT_EQ(earlierLogPath(), (ProgramFolder / L"Uninstall.ulog").wstring());
    fs::remove(ProgramFolder / L"Uninstall.ulog");
    // ...and nothing else.
    EXPECT_EQ(earlierLogPath(), L"");
}

TEST(EarlierLog, WithoutAUsableUninstallStringTheInstallerFolderComesFirst)
{
    writeLog(installerFolder());
    writeLog(ProgramFolder);
    writeLog(UninstallerFolder);
    auto cleanup = scopeExit([] {
        boost::system::error_code ignored;
        fs::remove(installerFolder() / L"Uninstall.ulog", ignored);
        fs::remove(ProgramFolder / L"Uninstall.ulog", ignored);
        fs::remove(UninstallerFolder / L"Uninstall.ulog", ignored);
    });

    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, UninstallKey);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, UninstallKey);
    EXPECT_EQ(earlierLogPath(), (installerFolder() / L"Uninstall.ulog").wstring()) << "no uninstall key";

    // A value without folder must not find a log in the current folder.
    setString(HKEY_LOCAL_MACHINE, UninstallKey, L"UninstallString", L"Uninstall.exe");
    ASSERT_TRUE(::SetCurrentDirectoryW(UninstallerFolder.wstring().c_str()));
    EXPECT_EQ(earlierLogPath(), (installerFolder() / L"Uninstall.ulog").wstring()) << "bare file name";

    // Not a string: ignored as well.
    UniqueKey key;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, UninstallKey, 0, KEY_ALL_ACCESS, key.put()), ERROR_SUCCESS);
    DWORD number = 1;
    ASSERT_EQ(::RegSetValueExW(key.get(), L"UninstallString", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4),
              ERROR_SUCCESS);
    EXPECT_EQ(earlierLogPath(), (installerFolder() / L"Uninstall.ulog").wstring()) << "number";
}

}  // namespace
