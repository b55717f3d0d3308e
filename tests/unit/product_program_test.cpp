// The installed program Trimora.exe, run as the installer and the
// uninstaller run it: its registration of the .qvn document type, the
// version an update came from, its removal, its window and its unit in the
// product line's running count.

#include "ProductTestPaths.h"
#include "identity/InstanceObjects.h"
#include "product/common/ProductNames.h"
#include "product/program/MainWindow.h"
#include "support/ProductTestSupport.h"
#include "sys/Dpi.h"
#include "sys/VersionInfo.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <thread>

namespace {

using namespace qv::product;
using namespace qv::test;
using qv::UniqueKey;

const std::wstring program = std::wstring(QV_PRODUCT_STAGE) + L"\\Trimora.exe";
const std::wstring progId = kDocumentProgId;
const std::wstring productKey = std::wstring(kMakerKey) + L"\\" + kProductKeyName;
const std::wstring uninstallKey = std::wstring(kUninstallParentKey) + L"\\" + kUninstallKeyName;
constexpr DWORD registered = 0xFFFFFFF6;  // -10

std::optional<DWORD> runProgram(const std::wstring& arguments)
{
    return runProcess(L"\"" + program + L"\" " + arguments);
}

class ProgramRegistration : public ::testing::Test {
protected:
    void TearDown() override
    {
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, progId.c_str());
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kDocumentExtension);
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kMakerKey);
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, uninstallKey.c_str());
    }
};

TEST_F(ProgramRegistration, RegisterBackgroundExitsWithMinusTenAndWritesTheDocumentType)
{
    EXPECT_EQ(runProgram(L"/Register /Background"), registered);

    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, kDocumentExtension, nullptr), progId);
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, progId, nullptr), L"Trimora Notebook");
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, progId + L"\\DefaultIcon", nullptr), program + L",0");
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, progId + L"\\shell\\open\\command", nullptr),
              L"\"" + program + L"\" \"%1\"");
    // Nothing to remember without /update=.
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, productKey));
}

TEST_F(ProgramRegistration, TypeNameFollowsTheLanguageTheInstallerRecorded)
{
    setRegDword(HKEY_LOCAL_MACHINE, uninstallKey, L"OvLanguage", 0);  // French: built in
    EXPECT_EQ(runProgram(L"/Register /Background"), registered);
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, progId, nullptr), L"Carnet Quorvex");

    setRegDword(HKEY_LOCAL_MACHINE, uninstallKey, L"OvLanguage", 2);  // German library
    EXPECT_EQ(runProgram(L"/Register /Background"), registered);
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, progId, nullptr), L"Trimora-Notizbuch");
}

TEST_F(ProgramRegistration, UpdateArgumentIsKeptAsTheVersionUpdatedFrom)
{
    EXPECT_EQ(runProgram(L"/Register /Background /update=0006000300000000"), registered);
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, productKey, kUpdatedFromValue), L"6.3.0.0");

    EXPECT_EQ(runProgram(L"/Register /Background /update=00060003000A0001"), registered);
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, productKey, kUpdatedFromValue), L"6.3.10.1");
}

TEST_F(ProgramRegistration, MalformedUpdateArgumentFailsWithoutRegistering)
{
    for (const wchar_t* arguments : {L"/Register /Background /update=6030000", L"/Register /Background /update=",
                                     L"/Register /Background /update=000600030000000g",
                                     L"/Register /Background /Bogus"}) {
        SCOPED_TRACE(arguments);
        auto code = runProgram(arguments);
        ASSERT_TRUE(code);
        EXPECT_NE(*code, registered);
        EXPECT_NE(*code, 0u);
        EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kDocumentExtension));
    }
}

TEST_F(ProgramRegistration, UnregisterRemovesExactlyWhatRegisterWrote)
{
    ASSERT_EQ(runProgram(L"/Register /Background /update=0006000300000000"), registered);
    EXPECT_EQ(runProgram(L"/Unregister"), 0u);

    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kDocumentExtension));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, progId));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, productKey));
    // The maker's key holds the installation record too; it is not the
    // program's to remove.
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, kMakerKey));

    // Nothing left to remove is no failure.
    EXPECT_EQ(runProgram(L"/Unregister"), 0u);
}

TEST_F(ProgramRegistration, UnregisterLeavesWhatOthersPutThere)
{
    ASSERT_EQ(runProgram(L"/Register /Background /update=0006000300000000"), registered);
    setRegString(HKEY_CLASSES_ROOT, std::wstring(kDocumentExtension) + L"\\OpenWithProgids", progId.c_str(), L"");
    setRegString(HKEY_LOCAL_MACHINE, productKey, L"Other", L"kept");
    EXPECT_EQ(runProgram(L"/Unregister"), 0u);
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, progId));
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, kDocumentExtension, nullptr), std::nullopt);
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, std::wstring(kDocumentExtension) + L"\\OpenWithProgids"));
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, productKey, L"Other"), L"kept");
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, productKey, kUpdatedFromValue), std::nullopt);

    // An extension another program took over keeps its association.
    ASSERT_EQ(runProgram(L"/Register /Background"), registered);
    setRegString(HKEY_CLASSES_ROOT, kDocumentExtension, nullptr, L"Other.Notes.1");
    EXPECT_EQ(runProgram(L"/Unregister"), 0u);
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, kDocumentExtension, nullptr), L"Other.Notes.1");
}

TEST_F(ProgramRegistration, RegistrationThatCannotWriteFailsWithItsErrorCode)
{
    // A ProgID key nobody may add subkeys to: DefaultIcon cannot be created.
    UniqueKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, progId.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                key.put(), nullptr),
              ERROR_SUCCESS);
    SECURITY_DESCRIPTOR sd;
    ::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    BYTE aclBuffer[64];
    auto acl = reinterpret_cast<PACL>(aclBuffer);
    ::InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION);  // empty DACL: no access for anyone
    ::SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
    ASSERT_EQ(::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &sd), ERROR_SUCCESS);
    key.reset();
    auto unlock = qv::scopeExit([] {
        // The owner may always change the DACL: a null DACL lets TearDown delete the key.
        SECURITY_DESCRIPTOR open;
        ::InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
        ::SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
        UniqueKey owned;
        if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, progId.c_str(), 0, WRITE_DAC, owned.put()) == ERROR_SUCCESS)
            ::RegSetKeySecurity(owned.get(), DACL_SECURITY_INFORMATION, &open);
    });
    UniqueKey probe;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, progId.c_str(), 0, KEY_CREATE_SUB_KEY, probe.put()) == ERROR_SUCCESS)
        GTEST_SKIP() << "this registry does not enforce key ACLs (Wine): the failure path cannot be reached";

    auto code = runProgram(L"/Register /Background");
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // A key that cannot be removed is a failed removal too.
    code = runProgram(L"/Unregister /Background");
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(ProgramFile, CarriesTheVersionOfQuorvex604)
{
    qv::VersionInfo info = qv::VersionInfo::ofFile(program);
    EXPECT_EQ(info.fileVersion(), 0x0006000400000002ull);
    EXPECT_EQ(info.productName(), L"Quorvex");
    EXPECT_EQ(info.productVersion(), L"6.04");
    EXPECT_EQ(info.stringValue(L"CompanyName"), L"Orvane Systems");
}

// --- the running program ------------------------------------------------------

struct TitleCase {
    int ovLanguage;  // -1: none recorded
    const wchar_t* title;
};

class ProgramWindow : public ::testing::TestWithParam<TitleCase> {
protected:
    void TearDown() override { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, uninstallKey.c_str()); }
};

TEST_P(ProgramWindow, OpensAWindowTitledInTheInstalledLanguage)
{
    if (GetParam().ovLanguage >= 0)
        setRegDword(HKEY_LOCAL_MACHINE, uninstallKey, L"OvLanguage", static_cast<DWORD>(GetParam().ovLanguage));
    StartedProcess running(L"\"" + program + L"\"");
    ASSERT_TRUE(running.started());
    HWND window = findProcessWindow(running.id(), kMainWindowClass, 20000);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(windowText(window), GetParam().title);
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(running.waitForExit(20000), 0u);
}

INSTANTIATE_TEST_SUITE_P(Languages, ProgramWindow,
                         ::testing::Values(TitleCase{-1, L"Trimora 6.04 - Untitled"},
                                           TitleCase{0, L"Quorvex 6.04 - Sans titre"},
                                           TitleCase{2, L"Trimora 6.04 - Unbenannt"},
                                           TitleCase{19, L"Trimora 6.04 - Névtelen"},
                                           TitleCase{10, L"Trimora 6.04 - 无标题"},
                                           // Danish has no library: English.
                                           TitleCase{6, L"Trimora 6.04 - Untitled"}));

TEST(RunningProgram, OpensTheNotebookNamedOnItsCommandLine)
{
    std::wstring sample = std::wstring(QV_PRODUCT_STAGE) + L"\\Samples\\Meeting Notes.qvn";
    StartedProcess running(L"\"" + program + L"\" \"" + sample + L"\"");
    HWND window = findProcessWindow(running.id(), kMainWindowClass, 20000);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(windowText(window), L"Trimora 6.04 - Meeting Notes.qvn");
    HWND view = ::FindWindowExW(window, nullptr, L"EDIT", nullptr);
    ASSERT_NE(view, nullptr);
    std::wstring text = windowText(view);
    EXPECT_EQ(text.rfind(L"Trimora Notebook 1\r\nTitle: Meeting notes", 0), 0u) << text.substr(0, 60);
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(running.waitForExit(20000), 0u);
}

// The window is per-monitor aware by the program's manifest and opens at
// its size at 96 DPI, 720 x 520, scaled for the DPI of its screen; CTest
// runs this test at 150 % too (QV_WINE_DPI).
TEST(RunningProgram, OpensAtItsSizeForTheScreensDpi)
{
    StartedProcess running(L"\"" + program + L"\"");
    HWND window = findProcessWindow(running.id(), kMainWindowClass, 20000);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(dpiAwareness(window), perMonitorAwareByManifest());
    const UINT dpi = qv::windowDpi(window);
    if (const char* prefixDpi = std::getenv("QV_WINE_DPI")) EXPECT_EQ(dpi, std::stoul(prefixDpi));
    RECT r{};
    ::GetWindowRect(window, &r);
    EXPECT_EQ(r.right - r.left, qv::scaledForDpi(720, dpi));
    EXPECT_EQ(r.bottom - r.top, qv::scaledForDpi(520, dpi));
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(running.waitForExit(20000), 0u);
}

TEST(RunningProgram, HoldsOneUnitOfTheRunningCountWhileItRuns)
{
    // This test registers itself as the installer does, so the count it
    // reads includes its own unit.
    qv::InstanceCounter self(kApplicationId);
    ASSERT_EQ(self.runningCount(), 1u);
    {
        StartedProcess running(L"\"" + program + L"\"");
        HWND window = findProcessWindow(running.id(), kMainWindowClass, 20000);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(self.runningCount(), 2u);

        StartedProcess second(L"\"" + program + L"\"");
        ASSERT_NE(findProcessWindow(second.id(), kMainWindowClass, 20000), nullptr);
        EXPECT_EQ(self.runningCount(), 3u);
        ::PostMessageW(findProcessWindow(second.id(), kMainWindowClass, 0), WM_CLOSE, 0, 0);
        EXPECT_EQ(second.waitForExit(20000), 0u);
        EXPECT_EQ(self.runningCount(), 2u);

        ::PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(running.waitForExit(20000), 0u);
    }
    EXPECT_EQ(self.runningCount(), 1u);
    // A registration run opens no window and keeps no unit.
    EXPECT_EQ(runProgram(L"/Unregister /Background"), 0u);
    EXPECT_EQ(self.runningCount(), 1u);
}

// --- while an installer runs -----------------------------------------------------
// An installer and the uninstaller hold the installers' mutex for their whole
// run; here this test holds it as they do.

std::wstring systemText(DWORD error)
{
    wchar_t* text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    qv::UniqueLocal owner(text);
    return text ? text : L"";
}

class ProgramBesideAnInstaller : public ProgramRegistration {
protected:
    qv::NamedMutex installer{qv::instanceMutexName(kApplicationId), false, true};
};

TEST_F(ProgramBesideAnInstaller, DoesNotStartButItsRegistrationRunsDo)
{
    ASSERT_TRUE(installer.tryAcquire());
    qv::InstanceCounter self(kApplicationId);

    // The system's words for a running installation, under the program's
    // name; no window, no unit left in the count.
    StartedProcess refused(L"\"" + program + L"\"");
    HWND box = findProcessWindow(refused.id(), L"#32770", 20000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(dialogText(box), systemText(ERROR_INSTALL_ALREADY_RUNNING));
    EXPECT_EQ(windowText(box), L"Trimora");
    EXPECT_EQ(findProcessWindow(refused.id(), kMainWindowClass, 0), nullptr);
    ::SendMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    EXPECT_EQ(refused.waitForExit(20000), DWORD(ERROR_INSTALL_ALREADY_RUNNING));
    EXPECT_EQ(self.runningCount(), 1u);
    // /Background says nothing.
    EXPECT_EQ(runProgram(L"/Background"), DWORD(ERROR_INSTALL_ALREADY_RUNNING));

    // The registration runs are made by the mutex's holder.
    EXPECT_EQ(runProgram(L"/Register /Background"), registered);
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, kDocumentExtension, nullptr), progId);
    EXPECT_EQ(runProgram(L"/Unregister /Background"), 0u);
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kDocumentExtension));
}

TEST_F(ProgramBesideAnInstaller, StartsOnceTheInstallerHasEndedOrDied)
{
    // An installer that ended its run, and one whose thread ended holding
    // the mutex (abandoned), stand in the program's way no longer.
    ASSERT_TRUE(installer.tryAcquire());
    installer.release();
    std::thread([] {
        qv::UniqueHandle mutex = qv::createGlobalMutex(false, qv::instanceMutexName(kApplicationId));
        ASSERT_EQ(::WaitForSingleObject(mutex.get(), 0), WAIT_OBJECT_0);
    }).join();

    StartedProcess running(L"\"" + program + L"\"");
    HWND window = findProcessWindow(running.id(), kMainWindowClass, 20000);
    ASSERT_NE(window, nullptr);
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(running.waitForExit(20000), 0u);
}

}  // namespace
