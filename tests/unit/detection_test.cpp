#include "engine/Detection.h"
#include "engine/InstallSession.h"
#include "lang/Languages.h"
#include "identity/Product.h"
#include "identity/Probes.h"
#include "sys/Handles.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <boost/filesystem.hpp>

using namespace qv;
using qv::test::probePath;
namespace fs = boost::filesystem;

namespace {

constexpr wchar_t RecordName[] = L"Quorvex 6 Path";
constexpr wchar_t UninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvex 6";

fs::path programFolder()
{
    wchar_t folder[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, folder);
    return fs::path(folder) / L"Orvane Systems" / L"Trimora 6";
}

// The machine as an installation leaves it: the program in its folder, the
// installation record naming it, the uninstall key. Each test starts from a
// machine without any of it.
class Detection : public ::testing::Test {
protected:
    void SetUp() override
    {
        clearMachine();
        fs::create_directories(programFolder());
        program_ = (programFolder() / L"Quorvex6.exe").wstring();
        setLanguage(1);
    }
    void TearDown() override { clearMachine(); }

    void clearMachine()
    {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, MakerKeyPath);
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, MakerKeyPath);
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, UninstallKey);
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, UninstallKey);
        boost::system::error_code ignored;
        fs::remove_all(programFolder(), ignored);
    }

    void installProbe(const std::wstring& probe)
    {
        ASSERT_TRUE(::CopyFileW(probePath(probe).c_str(), program_.c_str(), FALSE)) << ::GetLastError();
    }

    void writeRecord(const std::wstring& path)
    {
        UniqueKey maker;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, MakerKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    maker.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(maker.get(), RecordName, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                                   static_cast<DWORD>((path.size() + 1) * 2)),
                  ERROR_SUCCESS);
    }

    void writeUninstallKey()
    {
        UniqueKey key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, UninstallKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    key.put(), nullptr),
                  ERROR_SUCCESS);
        std::wstring uninstaller = (programFolder() / L"Uninstall.exe").wstring();
        ::RegSetValueExW(key.get(), L"UninstallString", 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(uninstaller.c_str()),
                         static_cast<DWORD>((uninstaller.size() + 1) * 2));
    }

    std::wstring program_;
};

struct VersionCase {
    const wchar_t* probe;
    InstallState state;
    const wchar_t* label;
    std::uint64_t previousVersion;
};

class InstalledVersions : public Detection, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(InstalledVersions, DecideTheInstallState)
{
    const VersionCase& c = GetParam();
    installProbe(c.probe);
    writeRecord(program_);
    writeUninstallKey();

    std::wstring found = findInstalledProgram();
    EXPECT_EQ(found, program_);
    InstallSession app;
    app.previousVersionText = L"stale";
    app.previousVersion = 42;
    detectInstallation(app, found);

    EXPECT_EQ(app.installState, c.state);
    EXPECT_EQ(app.previousVersionText, c.label);
    EXPECT_EQ(app.previousVersion, c.previousVersion);
}

INSTANTIATE_TEST_SUITE_P(
    Detection, InstalledVersions,
    ::testing::Values(
        VersionCase{L"6.4.0.3", InstallState::NewerVersion, L"Trimora 6.04 SP1", 0},
        VersionCase{L"6.5.0.0", InstallState::NewerVersion, L"Trimora 6.05", 0},
        // Least significant word 0x00010000: newer than 6.4.0.2.
        VersionCase{L"6.4.1.0", InstallState::NewerVersion, L"Trimora 6.04 R2", 0},
        VersionCase{L"6.4.0.2", InstallState::SameVersion, L"", 0},
        // Without version resource the run is a reinstallation.
        VersionCase{L"plain", InstallState::SameVersion, L"", 0},
        VersionCase{L"6.4.0.1", InstallState::OlderVersion, L"Trimora 6.04 RC", 0x0006000400000001ull},
        VersionCase{L"6.3.9.9", InstallState::OlderVersion, L"Trimora 6.03 SP9", 0x0006000300090009ull},
        VersionCase{L"6.3.0.0", InstallState::OlderVersion, L"Trimora 6.03", 0x0006000300000000ull},
        VersionCase{L"5.0.0.0", InstallState::OlderVersion, L"Trimora 5.0", 0x0005000000000000ull}));

TEST_F(Detection, TheLabelOfAnOlderVersionIsInTheCurrentLanguage)
{
    installProbe(L"6.3.0.0");
    writeRecord(program_);
    setLanguage(0);
    InstallSession app;
    detectInstallation(app, findInstalledProgram());
    EXPECT_EQ(app.installState, InstallState::OlderVersion);
    EXPECT_EQ(app.previousVersionText, L"Quorvex 6.03");
}

enum class Machine { NoMakerKey, NoRecordValue, ProgramDeleted, RecordNotAString, RecordEmpty };

class NothingInstalled : public Detection, public ::testing::WithParamInterface<Machine> {};

// An uninstall key alone never makes the product count as installed.
TEST_P(NothingInstalled, EvenWithAnUninstallKey)
{
    installProbe(L"6.3.0.0");
    writeUninstallKey();
    switch (GetParam()) {
    case Machine::NoMakerKey:
        break;
    case Machine::NoRecordValue: {
        writeRecord(program_);
        UniqueKey maker;
        ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, MakerKeyPath, 0, KEY_ALL_ACCESS, maker.put()), ERROR_SUCCESS);
        ASSERT_EQ(::RegDeleteValueW(maker.get(), RecordName), ERROR_SUCCESS);
        break;
    }
    case Machine::ProgramDeleted:
        writeRecord(program_);
        ASSERT_TRUE(::DeleteFileW(program_.c_str()));
        break;
    case Machine::RecordNotAString: {
        writeRecord(program_);
        UniqueKey maker;
        ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, MakerKeyPath, 0, KEY_ALL_ACCESS, maker.put()), ERROR_SUCCESS);
        DWORD number = 1;
        ASSERT_EQ(::RegSetValueExW(maker.get(), RecordName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4),
                  ERROR_SUCCESS);
        break;
    }
    case Machine::RecordEmpty:
        writeRecord(L"");
        break;
    }

    EXPECT_EQ(findInstalledProgram(), L"");
    InstallSession app;
    app.previousVersionText = L"stale";
    app.previousVersion = 42;
    detectInstallation(app, findInstalledProgram());
    EXPECT_EQ(app.installState, InstallState::NotInstalled);
    EXPECT_EQ(app.previousVersionText, L"");
    EXPECT_EQ(app.previousVersion, 0u);
}

INSTANTIATE_TEST_SUITE_P(Detection, NothingInstalled,
                         ::testing::Values(Machine::NoMakerKey, Machine::NoRecordValue, Machine::ProgramDeleted,
                                           Machine::RecordNotAString, Machine::RecordEmpty));

// The maker's key refuses its values (empty DACL): detection says nothing and
// finds nothing.
TEST_F(Detection, AnUnreadableRecordCountsAsNotInstalled)
{
    installProbe(L"6.3.0.0");
    writeRecord(program_);
    {
        UniqueKey maker;
        ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, MakerKeyPath, 0, KEY_ALL_ACCESS, maker.put()), ERROR_SUCCESS);
        ACL emptyDacl;
        ASSERT_TRUE(::InitializeAcl(&emptyDacl, sizeof(emptyDacl), ACL_REVISION));
        SECURITY_DESCRIPTOR sd;
        ::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
        ::SetSecurityDescriptorDacl(&sd, TRUE, &emptyDacl, FALSE);
        ASSERT_EQ(::RegSetKeySecurity(maker.get(), DACL_SECURITY_INFORMATION, &sd), ERROR_SUCCESS);
    }
    auto restore = scopeExit([] {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, MakerKeyPath, 0, WRITE_DAC, &key) == ERROR_SUCCESS) {
            SECURITY_DESCRIPTOR open;
            ::InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
            ::SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
            ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &open);
            ::RegCloseKey(key);
        }
    });
    EXPECT_EQ(findInstalledProgram(), L"");
}

// installedProgramPath is asked once per process: start-up and the earlier
// log search see the same program even if the record changes meanwhile.
TEST_F(Detection, TheInstalledProgramIsLookedUpOnce)
{
    installProbe(L"6.3.0.0");
    writeRecord(program_);
    InstallSession app;
    detectInstallation(app);
    EXPECT_EQ(app.installState, InstallState::OlderVersion);
    EXPECT_EQ(app.previousVersion, 0x0006000300000000ull);
    EXPECT_EQ(app.previousVersionText, L"Trimora 6.03");

    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, MakerKeyPath);
    EXPECT_EQ(installedProgramPath(), program_);
    detectInstallation(app);
    EXPECT_EQ(app.installState, InstallState::OlderVersion);
}

}  // namespace
