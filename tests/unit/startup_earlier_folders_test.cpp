// The folders start-up carries over from an earlier installation, through the
// installer's test build (tests/startup/SetupProbe.cpp: the real static
// initialisation and start-up, a stand-in frame that shows the session): an
// earlier installation of this or an older version gives its log's folders,
// a folder the log leaves empty gets the default, and a newer version gives
// the defaults.
#include "identity/Probes.h"
#include "support/TestFiles.h"
#include "support/WindowDriver.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <string>

namespace {

using namespace qv::test;

constexpr DWORD Timeout = 30000;

std::wstring specialFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

struct EarlierCase {
    const char* name;
    const wchar_t* program;         // the probe that stands for the installed program
    const wchar_t* installFolder;   // where it is, as its log records it
    bool logsShortcutFolder;        // else the log's shortcut folder is empty
    int state;                      // the install state start-up finds
    bool takesTheLogsFolders;
};

std::ostream& operator<<(std::ostream& out, const EarlierCase& c)
{
    return out << c.name;
}

class EarlierFolders : public ::testing::TestWithParam<EarlierCase> {};

TEST_P(EarlierFolders, StartUpFillsTheSession)
{
    const EarlierCase& c = GetParam();
    const std::wstring folder = c.installFolder;
    const std::wstring shortcuts = specialFolder(CSIDL_COMMON_PROGRAMS) + L"\\Office Tools";
    makeFolders(folder);
    makeFolders(shortcuts);
    const std::wstring program = folder + L"\\Trimora.exe";
    ASSERT_TRUE(::CopyFileW(probePath(c.program).c_str(), program.c_str(), FALSE)) << ::GetLastError();
    writeUtf16Lines(folder + L"\\Uninstall.ulog",
                    {L"// Uninstall Log File v1",
                     L"// ############ WARNING: Do not delete or modify this file. ############",
                     L"// Install Trimora",
                     L"// Install Path : " + folder,
                     L"// Shortcut Path : " + (c.logsShortcutFolder ? shortcuts : std::wstring()),
                     L"// -----------------------------",
                     L"0000:0101:1 -- " + program});
    // The installation record start-up looks for.
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Orvane Systems", L"Quorvex 6 Path", REG_SZ,
                                program.c_str(), static_cast<DWORD>((program.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);

    ChildProcess installer(L"\"" + executableFolder() + L"setup_probe.exe\"");
    ASSERT_TRUE(installer.started());
    HWND frame = waitForWindow({installer.id(), L"#32770", L"Installer \u2013 Trimora 6.04"}, Timeout);
    ASSERT_NE(frame, nullptr);
    const std::wstring defaultFolder = specialFolder(CSIDL_PROGRAM_FILES) + L"\\Orvane Systems\\Trimora 6";
    const std::wstring defaultShortcuts = specialFolder(CSIDL_COMMON_PROGRAMS) + L"\\Orvane Systems\\Trimora 6";
    EXPECT_EQ(windowText(::GetDlgItem(frame, 1001)), c.takesTheLogsFolders ? folder : defaultFolder);
    EXPECT_EQ(windowText(::GetDlgItem(frame, 1002)),
              c.takesTheLogsFolders && c.logsShortcutFolder ? shortcuts : defaultShortcuts);
    EXPECT_EQ(windowText(::GetDlgItem(frame, 1003)).rfind(L"state=" + std::to_wstring(c.state) + L" ", 0), 0u)
        << windowText(::GetDlgItem(frame, 1003));
    clickButton(frame, IDCANCEL);
    EXPECT_EQ(installer.wait(Timeout), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Installations, EarlierFolders,
    ::testing::Values(EarlierCase{"OlderVersionInItsOwnFolder", L"6.3.0.0", L"C:\\Apps\\Q6", true, 2, true},
                      EarlierCase{"SameVersionWithoutShortcutFolder", L"6.4.0.2", L"C:\\Apps\\Same Q6", false, 1, true},
                      EarlierCase{"OlderVersionWithoutShortcutFolder", L"6.3.0.0", L"C:\\Apps\\Q6 Old", false, 2, true},
                      EarlierCase{"NewerVersion", L"6.5.0.0", L"C:\\Apps\\Q7", true, -1, false}),
    [](const ::testing::TestParamInfo<EarlierCase>& info) { return std::string(info.param.name); });

}  // namespace
