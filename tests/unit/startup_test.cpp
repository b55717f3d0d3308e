// Start-up of the installer, end to end: the installer's test build
// (tests/startup/SetupProbe.cpp: the real static initialisation and start-up,
// a stand-in frame that shows the session) is started as a process and its
// windows are read and answered.
#include "support/PeImage.h"
#include "support/WindowDriver.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace qv::test;

constexpr DWORD Timeout = 30000;
constexpr UINT EnglishOffset = 1000;

std::wstring probePath(const wchar_t* name = L"setup_probe.exe")
{
    return L"\"" + executableFolder() + name + L"\"";
}

// The system's own wording, as the installer should show it.
std::wstring systemText(DWORD code)
{
    wchar_t* buffer = nullptr;
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                   FORMAT_MESSAGE_ALLOCATE_BUFFER,
                               nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text(buffer ? buffer : L"", n);
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
    return text;
}

// The installer's string of a base id in English (this test carries the same
// string tables).
std::wstring englishString(UINT baseId)
{
    const wchar_t* text = nullptr;
    int n = ::LoadStringW(::GetModuleHandleW(nullptr), baseId + EnglishOffset,
                          reinterpret_cast<LPWSTR>(&text), 0);
    return n > 0 ? std::wstring(text, n) : std::wstring();
}

std::wstring replaceFirst(std::wstring text, const std::wstring& marker, const std::wstring& by)
{
    auto at = text.find(marker);
    if (at != std::wstring::npos) text.replace(at, marker.size(), by);
    return text;
}

std::wstring specialFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

const std::wstring EnglishTitle = L"Installer \u2013 Trimora 6.04";

HWND waitForDialog(const ChildProcess& process, const std::wstring& caption = {}, HWND exclude = nullptr)
{
    WindowQuery query{process.id(), L"#32770", caption};
    query.exclude = exclude;
    return waitForWindow(query, Timeout);
}

// A process of the product line that stays registered in the running count
// until told to end (tests/helpers/instance_helper.cpp).
struct RunningProduct {
    HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, L"qv_startup_product_ready");
    HANDLE quit = ::CreateEventW(nullptr, TRUE, FALSE, L"qv_startup_product_quit");
    ChildProcess process{L"\"" + executableFolder() +
                         L"instance_helper.exe\" Quorvex6 register signal:qv_startup_product_ready "
                         L"wait:qv_startup_product_quit exit"};
    bool started() { return process.started() && ::WaitForSingleObject(ready, Timeout) == WAIT_OBJECT_0; }
    void end()
    {
        ::SetEvent(quit);
        process.wait(Timeout);
    }
    ~RunningProduct()
    {
        ::SetEvent(quit);
        ::CloseHandle(ready);
        ::CloseHandle(quit);
    }
};

TEST(StartUp, TheFirstInstallerShowsItsWizardAndASecondOneEndsWithTheBusyText)
{
    ChildProcess first(probePath());
    ASSERT_TRUE(first.started());
    HWND frame = waitForDialog(first, EnglishTitle);
    ASSERT_NE(frame, nullptr) << "the first installer opens its wizard";

    ChildProcess second(probePath());
    ASSERT_TRUE(second.started());
    HWND box = waitForDialog(second);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(messageBoxText(box), systemText(ERROR_BUSY));
    // Before start-up has set the title: the executable's name.
    EXPECT_EQ(windowText(box), L"setup_probe");
    EXPECT_TRUE(messageBoxHasIcon(box, MB_ICONEXCLAMATION));
    clickButton(box, IDOK);
    EXPECT_EQ(second.wait(Timeout), 0u);

    clickButton(frame, IDCANCEL);
    EXPECT_EQ(first.wait(Timeout), 0u);

    // With the first installer gone, the mutex is free again.
    ChildProcess third(probePath());
    HWND again = waitForDialog(third, EnglishTitle);
    ASSERT_NE(again, nullptr);
    clickButton(again, IDCANCEL);
    EXPECT_EQ(third.wait(Timeout), 0u);
}

TEST(StartUp, AProcessorWithoutSse2GetsTheThreeLanguageTextAndExitCode1)
{
    // Every processor Wine runs on has SSE2; the test build answers "no"
    // when asked to.
    ChildProcess installer(probePath(), {{L"QV_PROBE_NO_SSE2", L"1"}});
    ASSERT_TRUE(installer.started());
    HWND box = waitForDialog(installer);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(messageBoxText(box),
              L"This Version is not compatible with your Configuration.\n\n"
              L"Cette version n'est pas compatible avec votre configuration.\n\n"
              L"Diese Version ist nicht mit Ihrer Konfiguration kompatibel.");
    EXPECT_TRUE(messageBoxHasIcon(box, MB_ICONERROR));
    EXPECT_EQ(messageBoxButtons(box), std::vector<int>{IDOK});
    EXPECT_EQ(::GetWindow(box, GW_OWNER), nullptr);
    clickButton(box, IDOK);
    EXPECT_EQ(installer.wait(Timeout), 1u);
}

#ifdef QV_INSTALLER_EXE
// The switches of the test builds (QV_PROBE_NO_SSE2, QV_PROBE_NOT_ADMINISTRATOR, QV_PROBE_END_AT)
// are names in its code: the shipped installer does not carry them.
TEST(StartUp, TheShippedInstallerHasNoTestSwitch)
{
    auto carries = [](const std::wstring& path, const std::wstring& text) {
        std::ifstream file(std::filesystem::path(path), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const std::string wide(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
        return !bytes.empty() && bytes.find(wide) != std::string::npos;
    };
    EXPECT_TRUE(carries(executableFolder() + L"setup_probe.exe", L"QV_PROBE_NO_SSE2"));
    EXPECT_TRUE(carries(executableFolder() + L"setup_probe.exe", L"QV_PROBE_NOT_ADMINISTRATOR"));
    // The test build that ends its own process at a point of the installation.
    EXPECT_TRUE(carries(executableFolder() + L"setup_interruptible.exe", L"QV_PROBE_END_AT"));
    EXPECT_FALSE(carries(QV_INSTALLER_EXE, L"QV_PROBE_"));
}
#endif

TEST(StartUp, ANonAdministratorGetsMessage1126AndNoWizard)
{
    // Wine's user is always an administrator; the test build answers "no"
    // when asked to.
    ChildProcess installer(probePath(), {{L"QV_PROBE_NOT_ADMINISTRATOR", L"1"}});
    ASSERT_TRUE(installer.started());
    HWND box = waitForDialog(installer);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(messageBoxText(box), englishString(1126));
    EXPECT_FALSE(englishString(1126).empty());
    EXPECT_EQ(windowText(box), EnglishTitle);
    EXPECT_TRUE(messageBoxHasIcon(box, MB_ICONEXCLAMATION));
    EXPECT_EQ(messageBoxButtons(box), std::vector<int>{IDOK});
    clickButton(box, IDOK);
    EXPECT_EQ(installer.wait(Timeout), 0u);
}

TEST(StartUp, WithTheProductRunningMessage1127AsksUntilItIsClosed)
{
    RunningProduct product;
    ASSERT_TRUE(product.started());

    ChildProcess installer(probePath());
    ASSERT_TRUE(installer.started());
    HWND box = waitForDialog(installer);
    ASSERT_NE(box, nullptr);
    const std::wstring expected = replaceFirst(englishString(1127), L"%1", L"Trimora");
    EXPECT_EQ(messageBoxText(box), expected);
    EXPECT_EQ(windowText(box), EnglishTitle);
    EXPECT_TRUE(messageBoxHasIcon(box, MB_ICONEXCLAMATION));
    EXPECT_EQ(messageBoxButtons(box), (std::vector<int>{IDRETRY, IDCANCEL}));

    // Retry while the product still runs: the question comes again.
    clickButton(box, IDRETRY);
    ASSERT_TRUE(waitForWindowGone(box, Timeout));
    HWND again = waitForDialog(installer);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(messageBoxText(again), expected);

    // Retry after the product ended: the wizard opens. The box carries the
    // wizard's title too, so wait until it is gone before looking for the
    // frame; a click on a box that is closing would be lost.
    product.end();
    clickButton(again, IDRETRY);
    ASSERT_TRUE(waitForWindowGone(again, Timeout));
    HWND frame = waitForDialog(installer, EnglishTitle);
    ASSERT_NE(frame, nullptr);
    clickButton(frame, IDCANCEL);
    EXPECT_EQ(installer.wait(Timeout), 0u);
}

TEST(StartUp, CancelOnMessage1127EndsTheInstaller)
{
    RunningProduct product;
    ASSERT_TRUE(product.started());
    ChildProcess installer(probePath());
    HWND box = waitForDialog(installer);
    ASSERT_NE(box, nullptr);
    clickButton(box, IDCANCEL);
    EXPECT_EQ(installer.wait(Timeout), 0u);
    EXPECT_EQ(findTopLevelWindow({installer.id(), L"#32770", EnglishTitle}), nullptr);
}

TEST(StartUp, CommonControlsBelowVersion6EndTheProcessWithMinus11)
{
    // The same program without the manifest gets comctl32 5.81.
    ChildProcess installer(probePath(L"setup_probe_nomanifest.exe"));
    ASSERT_TRUE(installer.started());
    HWND box = waitForDialog(installer);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(messageBoxText(box), L"Initialization Error");
    EXPECT_TRUE(messageBoxHasIcon(box, MB_ICONERROR));
    clickButton(box, IDOK);
    EXPECT_EQ(installer.wait(Timeout), static_cast<DWORD>(-11));
}

// Runs in English (startup_test) and in French (startup_test_fr).
TEST(StartUpDefaults, FoldersAndOptionsOfAFirstInstallationFollowTheUsersLanguage)
{
    const bool french = PRIMARYLANGID(::GetUserDefaultLangID()) == LANG_FRENCH;
    const std::wstring name = french ? L"Quorvex 6" : L"Trimora 6";
    const std::wstring title = french ? L"Installeur \u2013 Quorvex 6.04" : EnglishTitle;

    ChildProcess installer(probePath());
    HWND frame = waitForDialog(installer, title);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(windowText(::GetDlgItem(frame, 1001)),
              specialFolder(CSIDL_PROGRAM_FILES) + L"\\Orvane Systems\\" + name);
    EXPECT_EQ(windowText(::GetDlgItem(frame, 1002)),
              specialFolder(CSIDL_COMMON_PROGRAMS) + L"\\Orvane Systems\\" + name);
    EXPECT_EQ(windowText(::GetDlgItem(frame, 1003)),
              std::wstring(L"state=0 language=") + (french ? L"0" : L"1") +
                  L" startMenu=1 desktop=1 advanced=0 icon=1");
    clickButton(frame, IDCANCEL);
    EXPECT_EQ(installer.wait(Timeout), 0u);
}

// An earlier installation's log lies in its installation folder, which users
// may be able to write: its header may name any folder. The folders it names
// become the defaults only where an installation of the product puts them.
struct EarlierHeader {
    const char* name;
    std::wstring installPath;  // the log's "Install Path :"
    std::wstring shortcutPath;
    bool installTaken;         // proposed as the installation folder
    bool shortcutTaken;
};

class EarlierLogHeader : public ::testing::TestWithParam<EarlierHeader> {};

const std::wstring earlierFolder = L"C:\\Apps\\Trimora";

TEST_P(EarlierLogHeader, NamesTheDefaultFoldersOnlyWhereTheInstallationLies)
{
    const EarlierHeader& header = GetParam();
    std::filesystem::create_directories(earlierFolder);
    std::filesystem::create_directories(header.shortcutPath);  // the log names only folders that exist
    std::ofstream(std::filesystem::path(earlierFolder + L"\\Trimora.exe")) << "an earlier program";
    std::wstring text = L"\xFEFF// Uninstall Log File v1\r\n// x\r\n// Install Trimora 6.03\r\n// Install Path : " +
                        header.installPath + L"\r\n// Shortcut Path : " + header.shortcutPath + L"\r\n// -\r\n";
    std::ofstream(std::filesystem::path(earlierFolder + L"\\Uninstall.ulog"), std::ios::binary)
        .write(reinterpret_cast<const char*>(text.data()), static_cast<std::streamsize>(text.size() * 2));
    auto setString = [](const wchar_t* key, const wchar_t* name, const std::wstring& value) {
        ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, REG_SZ, value.c_str(),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    };
    setString(L"Software\\Orvane Systems", L"Quorvex 6 Path", earlierFolder + L"\\Trimora.exe");
    setString(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvex 6", L"UninstallString",
              earlierFolder + L"\\Uninstall.exe");

    ChildProcess installer(probePath());
    HWND frame = waitForDialog(installer, EnglishTitle);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(windowText(::GetDlgItem(frame, 1001)),
              header.installTaken ? header.installPath
                                  : specialFolder(CSIDL_PROGRAM_FILES) + L"\\Orvane Systems\\Trimora 6");
    EXPECT_EQ(windowText(::GetDlgItem(frame, 1002)),
              header.shortcutTaken ? header.shortcutPath
                                   : specialFolder(CSIDL_COMMON_PROGRAMS) + L"\\Orvane Systems\\Trimora 6");
    clickButton(frame, IDCANCEL);
    EXPECT_EQ(installer.wait(Timeout), 0u);

    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Orvane Systems");
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvex 6");
    std::filesystem::remove_all(earlierFolder);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, EarlierLogHeader,
    ::testing::Values(
        EarlierHeader{"TheLogsOwnFolders", earlierFolder,
                      specialFolder(CSIDL_COMMON_PROGRAMS) + L"\\Trimora Old Menu", true, true},
        EarlierHeader{"OtherFolders", specialFolder(CSIDL_WINDOWS), specialFolder(CSIDL_SYSTEM), false, false},
        EarlierHeader{"TheStartMenuItself", earlierFolder + L"\\..\\Trimora",
                      specialFolder(CSIDL_COMMON_PROGRAMS), true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StartUp, TheInstallerImportsAtLoadTimeOnlyDllsTheLoaderTakesFromTheSystem)
{
    // A load-time import that is not a KnownDLL would be searched beside the
    // installer (a download folder) before any of its code runs. comctl32
    // comes from the side-by-side assembly the manifest names.
    const std::vector<std::string> known = {"advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll",
                                            "kernel32.dll", "msvcrt.dll",  "ole32.dll",   "oleaut32.dll",
                                            "shell32.dll",  "shlwapi.dll", "user32.dll"};
    const std::vector<PeImport> imports = PeImage(executableFolder() + L"setup_probe.exe").imports();
    ASSERT_FALSE(imports.empty());
    for (const PeImport& import : imports)
        EXPECT_NE(std::find(known.begin(), known.end(), import.dll), known.end()) << import.dll;
}

}  // namespace
