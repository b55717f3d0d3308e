// The installer and the uninstaller run as administrators and deployment
// tools run them: with switches, each scenario as its own CTest test in a
// fresh prefix (tests/unattended.cmake). The scenarios of the first group
// run with no X server at all (DISPLAY unset): a window there would end the
// process or hang it, so they prove that those runs create none. The others
// have a display of their own, for the windows they drive.
//
// Under Wine a process's exit code as the Linux shell sees it is cut to its
// low 8 bits (1639 reads 103): the codes are read here with
// GetExitCodeProcess, whole, as a deployment tool on Windows reads them.
#include "ProductTestPaths.h"
#include "identity/Product.h"
#include "sys/TextFormat.h"
#include "support/MachineSnapshot.h"
#include "support/ProductTestSupport.h"
#include "support/RunLogLines.h"
#include "support/TestFiles.h"
#include "support/UnixSide.h"
#include "support/WindowDriver.h"
#include "sys/Dpi.h"
#include "uninstall/UninstallLog.h"
#include "wizard/WizardDriver.h"

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qv {
namespace {

using test::containsInOrder;
using test::regDword;
using test::regString;
using test::runLogLines;
using test::runToEnd;
using test::shellFolder;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr DWORD Installed = 0, ProcessorRefused = 1, NotEnoughSpace = 112, ProductRunning = 170,
                InstalledElsewhere = 183, PathTooLong = 206, FolderIsAFile = 267, NotAdministrator = 740,
                HelpShown = 1223, Cancelled = 1602, FailedRolledBack = 1603, AnotherInstaller = 1618,
                LogFileFailed = 1622, StepFailed = 1627, NewerVersion = 1638, BadCommandLine = 1639;
constexpr DWORD NoUninstallLog = 2;
constexpr DWORD NotInstalled = 1605, UninstallerNotTrusted = 1610, OtherEditionInstalled = 1633;

const std::wstring installer = QV_INSTALLER_EXE;
const std::wstring stagedUninstaller = std::wstring(QV_PRODUCT_STAGE) + L"\\Uninstall.exe";
constexpr wchar_t ProductKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvex 6";
constexpr wchar_t MakerKey[] = L"Software\\Orvane Systems";
constexpr wchar_t RecordName[] = L"Quorvex 6 Path";
constexpr wchar_t Caption[] = L"Installer \u2013 Trimora 6.04";

bool exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD install(const std::wstring& arguments)
{
    return runToEnd(installer, arguments);
}

std::size_t countStartingWith(const std::vector<std::wstring>& lines, const std::wstring& prefix)
{
    return static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::wstring& l) { return l.rfind(prefix, 0) == 0; }));
}

// A string of the installer's own string tables, as the installed texts use it.
std::wstring installerString(UINT id)
{
    HMODULE module = ::LoadLibraryExW(installer.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return {};
    wchar_t text[512]{};
    const int length = ::LoadStringW(module, id, text, 512);
    ::FreeLibrary(module);
    return std::wstring(text, static_cast<std::size_t>(length > 0 ? length : 0));
}

// The folder of the logs of runs without /LOG, as docs/deployment.md names it.
std::wstring defaultLogFolder()
{
    wchar_t windows[MAX_PATH]{};
    ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + L"\\Logs\\Orvane Systems";
}

// The log files there whose names begin with prefix, oldest first.
std::vector<std::wstring> defaultLogs(const std::wstring& prefix)
{
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW found{};
    const HANDLE find = ::FindFirstFileW((defaultLogFolder() + L"\\" + prefix + L"*.log").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return files;
    do files.push_back(defaultLogFolder() + L"\\" + found.cFileName);
    while (::FindNextFileW(find, &found));
    ::FindClose(find);
    std::sort(files.begin(), files.end());
    return files;
}

// The DACL of a folder from its text form.
bool setDacl(const std::wstring& folder, const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    const BOOL set = ::SetFileSecurityW(folder.c_str(), DACL_SECURITY_INFORMATION, descriptor);
    ::LocalFree(descriptor);
    return set != FALSE;
}

class Unattended : public ::testing::Test {
protected:
    const std::wstring installFolder = shellFolder(CSIDL_PROGRAM_FILES) + L"\\Orvane Systems\\Trimora 6";
    const std::wstring menuFolder = shellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Orvane Systems\\Trimora 6";
    const std::wstring desktop = shellFolder(CSIDL_COMMON_DESKTOPDIRECTORY);

    // What the interactive installation leaves, for a product installed in
    // folder: the 27 files its Uninstall.ulog lists, each in place; the
    // installation record; the uninstall key with the values the list of
    // installed programs and deployment tools read.
    void expectInstalled(const std::wstring& folder, std::size_t expectedFiles = 27)
    {
        const std::wstring program = folder + L"\\Trimora.exe";
        const std::wstring uninstaller = folder + L"\\Uninstall.exe";
        UninstallLog log;
        log.read((folder + L"\\Uninstall.ulog").c_str());
        EXPECT_EQ(log.installFolder(), folder);
        std::size_t files = 0;
        unsigned long long bytes = 0;
        for (const LogEntry& e : log.previousEntries()) {
            EXPECT_TRUE(e.done) << testing::PrintToString(e.path);
            if (e.kind != InstalledFile) continue;
            ++files;
            WIN32_FILE_ATTRIBUTE_DATA data{};
            EXPECT_TRUE(::GetFileAttributesExW(e.path.c_str(), GetFileExInfoStandard, &data))
                << testing::PrintToString(e.path);
            bytes += (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        }
        EXPECT_EQ(files, expectedFiles);

        EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, MakerKey, RecordName), program);
        EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, ProductKey, L"DisplayName"), L"Trimora 6.04");
        EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, ProductKey, L"UninstallString"), uninstaller);
        EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, ProductKey, L"DisplayIcon"), program + L",0");
        EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, ProductKey, L"DisplayVersion"), L"6.4.0.2");
        EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, ProductKey, L"Publisher"), L"Orvane Systems");
        EXPECT_EQ(regDword(HKEY_LOCAL_MACHINE, ProductKey, L"NoModify"), 1u);
        EXPECT_EQ(regDword(HKEY_LOCAL_MACHINE, ProductKey, L"NoRepair"), 1u);
        EXPECT_FALSE(regString(HKEY_LOCAL_MACHINE, ProductKey, L"URLInfoAbout").value_or(L"").empty());
        EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, ProductKey, L"HelpLink"),
                  regString(HKEY_LOCAL_MACHINE, ProductKey, L"URLInfoAbout"));
        // The values added for administrators.
        EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, ProductKey, L"QuietUninstallString"),
                  L"\"" + uninstaller + L"\" /VERYSILENT");
        EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, ProductKey, L"InstallLocation"), folder);
        SYSTEMTIME today{};
        ::GetLocalTime(&today);
        wchar_t date[16]{};
        std::swprintf(date, 16, L"%04u%02u%02u", unsigned(today.wYear), unsigned(today.wMonth),
                      unsigned(today.wDay));
        EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, ProductKey, L"InstallDate"), std::wstring(date));
        // The installed files' sizes together, rounded up to KiB.
        EXPECT_EQ(regDword(HKEY_LOCAL_MACHINE, ProductKey, L"EstimatedSize"), DWORD((bytes + 1023) / 1024));
    }
};

// --- without any display ------------------------------------------------

TEST_F(Unattended, VerySilentWithoutDisplayInstallsAndQuietUninstallStringRemoves)
{
    wchar_t display[64]{};
    ASSERT_EQ(::GetEnvironmentVariableW(L"DISPLAY", display, 64), 0u) << "this scenario must run without DISPLAY";
    const std::wstring logPath = L"C:\\install log.txt";
    ASSERT_EQ(install(L"/VERYSILENT \"/LOG=" + logPath + L"\""), Installed);

    expectInstalled(installFolder);
    EXPECT_TRUE(exists(menuFolder + L"\\Trimora 6.04.lnk"));
    EXPECT_TRUE(exists(menuFolder + L"\\Uninstall Trimora.lnk"));
    EXPECT_TRUE(exists(desktop + L"\\Trimora 6.04.lnk"));
    EXPECT_EQ(regDword(HKEY_LOCAL_MACHINE, ProductKey, L"OvLanguage"), 1u);
    // The program registered itself in its registration run.
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, L".qvn", L""), L"Orvane.QuorvexNotebook.6");

    const std::vector<std::wstring> lines = runLogLines(logPath);
    EXPECT_TRUE(containsInOrder(
        lines, {L"Installer of Quorvex 6 (6.4.0.2), *",
                L"Command line: \"" + installer + L"\" /VERYSILENT \"/LOG=C:\\install log.txt\"",
                L"Mode: very silent: no window",
                L"Log file: " + logPath,
                L"Language: English (index 1)",
                L"Detected: not installed: first installation",
                L"This version: Trimora 6.04 (6.4.0.2)",
                L"Installation folder: " + installFolder,
                L"Start-menu shortcuts: yes, in " + menuFolder,
                L"Desktop shortcut: yes",
                L"Installation into " + installFolder + L" begins",
                L"Preparing Installation...OK",
                L"Journal: created folder " + installFolder,
                L"Journal: recorded file " + installFolder + L"\\Trimora.exe",
                L"Copying File  \"" + installFolder + L"\\Trimora.exe\"...OK",
                L"Journal: program shortcut " + menuFolder + L"\\Trimora 6.04.lnk done",
                L"Shortcuts Creation...OK",
                L"Journal: uninstall key HKEY_LOCAL_MACHINE\\" + std::wstring(ProductKey) + L" done",
                L"Journal: program's registrations under HKEY_CLASSES_ROOT done",
                L"Registry Data Writing...OK",
                L"Installation Data Writing...OK",
                L"Outcome: installed",
                L"Silent installation ended: installed",
                L"Exit code: 0"}));
    EXPECT_EQ(countStartingWith(lines, L"Copying File  "), 27u);
    EXPECT_EQ(countStartingWith(lines, L"Status: "), 0u) << "no Next to click without a window";
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), L"Exit code: 0");

    // A deployment tool runs the quiet uninstall command as it stands.
    const std::optional<std::wstring> quiet = regString(HKEY_LOCAL_MACHINE, ProductKey, L"QuietUninstallString");
    ASSERT_TRUE(quiet);
    const std::vector<std::wstring> runFolders = test::runFoldersInTemp();
    EXPECT_EQ(test::runProcess(*quiet), std::optional<DWORD>(0u));
    // Nothing waits for the next start of Windows: the uninstaller's
    // temporary copy and its private folder are gone too.
    EXPECT_EQ(test::runFoldersAfterCleanup(runFolders), runFolders);
    EXPECT_EQ(test::pendingFileRenames(), L"");
    EXPECT_FALSE(test::keyExists(HKEY_LOCAL_MACHINE, ProductKey)) << "the key goes with all its values";
    EXPECT_FALSE(regString(HKEY_LOCAL_MACHINE, MakerKey, RecordName));
    EXPECT_FALSE(exists(installFolder));
    EXPECT_FALSE(exists(menuFolder));
    EXPECT_FALSE(exists(desktop + L"\\Trimora 6.04.lnk"));
    // Shared data stays for other users and installations.
    EXPECT_TRUE(exists(shellFolder(CSIDL_COMMON_APPDATA) + L"\\Orvane Systems\\Quorvex\\Words_en.qwl"));
}

TEST_F(Unattended, GermanIntoAFolderWithBlanksAndAccentsWithoutDesktopShortcut)
{
    const std::wstring folder = L"C:\\Outils \u00dcberall\\Trimora \u00f1";
    ASSERT_EQ(install(L"/VERYSILENT \"/DIR=" + folder + L"\" /LANG=de /NODESKTOP"), Installed);

    expectInstalled(folder);
    EXPECT_FALSE(exists(installFolder));
    // German is recorded as a language picked in the wizard is.
    EXPECT_EQ(regDword(HKEY_LOCAL_MACHINE, ProductKey, L"OvLanguage"), 2u);
    // The German block of the installer's strings (base + 2000) names the
    // samples folder and the uninstaller's shortcut.
    const std::wstring examples = formatText(installerString(1018 + 2000), {L"Trimora"});
    const std::wstring uninstallName = formatText(installerString(1013 + 2000), {L"Trimora"});
    ASSERT_FALSE(examples.empty());
    ASSERT_NE(examples, L"Trimora Examples");
    EXPECT_TRUE(exists(desktop + L"\\" + examples + L"\\Welcome.qvn")) << testing::PrintToString(examples);
    EXPECT_TRUE(exists(menuFolder + L"\\" + uninstallName + L".lnk")) << testing::PrintToString(uninstallName);
    EXPECT_TRUE(exists(menuFolder + L"\\Trimora 6.04.lnk"));
    // No desktop shortcut, and none in the uninstall log either.
    EXPECT_FALSE(exists(desktop + L"\\Trimora 6.04.lnk"));
    UninstallLog log;
    log.read((folder + L"\\Uninstall.ulog").c_str());
    for (const LogEntry& e : log.previousEntries()) EXPECT_NE(e.kind, DesktopShortcut) << e.path;

    // The installed product keeps its folder, as on the folder page: another
    // one is refused, the same one (in another spelling) reinstalls.
    // That depends on the machine, not on the command line: its own code.
    EXPECT_EQ(install(L"/VERYSILENT /DIR=C:\\Elsewhere /LOG=C:\\elsewhere.log"), InstalledElsewhere);
    EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\elsewhere.log"),
                                {L"Detected: the same version is installed: reinstallation",
                                 L"Refused: /DIR: the installed product keeps its folder " + folder,
                                 L"Exit code: 183"}));
    EXPECT_FALSE(exists(L"C:\\Elsewhere"));
    // Dutch is offered but the installer has no texts in it: as when it is
    // picked in the wizard, the installation goes on, and is recorded, in
    // English.
    EXPECT_EQ(install(L"/VERYSILENT \"/DIR=c:\\outils \u00fcberall\\.\\Trimora \u00d1\" /LANG=nl /LOG=C:\\dutch.log"),
              Installed);
    EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\dutch.log"),
                                {L"The installer has no texts in Nederlands*", L"Language: English (index 1)",
                                 L"Installation folder: " + folder, L"Exit code: 0"}));
    EXPECT_EQ(regDword(HKEY_LOCAL_MACHINE, ProductKey, L"OvLanguage"), 1u);
}

// Every refusal before anything changes: a bad command line, a log that
// cannot be had, help, and the uninstaller's own. The machine is as it was.
TEST_F(Unattended, RefusalsChangeNothing)
{
    const std::wstring victim = L"C:\\victim.ini";
    test::writeText(victim, "keep me");
    const std::wstring planted = L"C:\\planted.log";
    ASSERT_TRUE(::CreateHardLinkW(planted.c_str(), victim.c_str(), nullptr));
    const test::MachineSnapshot before = test::MachineSnapshot::take();

    struct Case {
        std::wstring program, arguments;
        DWORD code;
        std::vector<std::pair<std::wstring, std::wstring>> environment;
    };
    const std::vector<Case> cases = {
        {installer, L"/VERYSILENT /FOO", BadCommandLine, {}},
        {installer, L"/VERYSILENT /DIR=Trimora", BadCommandLine, {}},
        {installer, L"/VERYSILENT /LANG=da", BadCommandLine, {}},
        {installer, L"/S /VERYSILENT", BadCommandLine, {}},
        {installer, L"/VERYSILENT /NODESKTOP /NODESKTOP", BadCommandLine, {}},
        // A log file's name ending in a backslash before its closing quote,
        // the silent switch after it: no window, the code.
        {installer, L"/LOG=\"C:\\logs\\\" /VERYSILENT", BadCommandLine, {}},
        // A quote left open swallows the silent switch: silent all the same.
        {installer, L"\"/DIR=C:\\open quote /VERYSILENT", BadCommandLine, {}},
        {installer, L"/VERYSILENT /CURRENTUSER", BadCommandLine, {}},
        {installer, L"/VERYSILENT /LOG=relative.log", BadCommandLine, {}},
        {installer, L"/VERYSILENT /DIR=\\\\server", BadCommandLine, {}},
        // Refusals that depend on the machine, each with its own code.
        {installer, L"/VERYSILENT /DIR=C:\\victim.ini\\Trimora", FolderIsAFile, {}},
        {installer, L"/VERYSILENT /GROUP=" + std::wstring(200, L'G'), PathTooLong, {}},
        {installer, L"/VERYSILENT \"/LOG=C:\\no such folder\\install.log\"", LogFileFailed, {}},
        {installer, L"/VERYSILENT /LOG=" + planted, LogFileFailed, {}},
        {installer, L"/VERYSILENT /?", HelpShown, {}},
        // The installer's test build answers "not an administrator" here
        // (under Wine the user always is one).
        {QV_SETUP_PROBE_EXE, L"/VERYSILENT", NotAdministrator, {{L"QV_PROBE_NOT_ADMINISTRATOR", L"1"}}},
        // The load-time refusals end a silent run with their codes and no
        // box: the test build's processor without SSE2.
        {QV_SETUP_PROBE_EXE, L"/VERYSILENT", ProcessorRefused, {{L"QV_PROBE_NO_SSE2", L"1"}}},
        // Without the manifest the common controls are older than 6: the
        // load-time initialisation refuses.
        {QV_SETUP_PROBE_NOMANIFEST_EXE, L"/VERYSILENT", DWORD(-11), {}},
        {stagedUninstaller, L"/VERYSILENT /FOO", BadCommandLine, {}},
        {stagedUninstaller, L"/S /DIR=C:\\Trimora", BadCommandLine, {}},
        {stagedUninstaller, L"/VERYSILENT \"/LOG=C:\\no such folder\\uninstall.log\"", LogFileFailed, {}},
        {stagedUninstaller, L"/VERYSILENT /?", HelpShown, {}},
        {stagedUninstaller, L"/VERYSILENT /NOSAMPLES", BadCommandLine, {}},
        {stagedUninstaller, L"/VERYSILENT /CURRENTUSER", BadCommandLine, {}},
        // The staged uninstaller has no Uninstall.ulog beside it.
        {stagedUninstaller, L"/VERYSILENT", NoUninstallLog, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(runToEnd(c.program, c.arguments, c.environment), c.code)
            << testing::PrintToString(c.program) << " " << testing::PrintToString(c.arguments);

    EXPECT_THAT(test::diff(before, test::MachineSnapshot::take()), IsEmpty());
    EXPECT_EQ(test::readBytes(victim), std::vector<char>({'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
}

// The line package managers send, with a folder that ends in a backslash
// before its closing quote and the silent switch after it: installed, no
// window (there is no display), the accepted switches in the log.
TEST_F(Unattended, PackageManagerLineWithTrailingBackslashInstalls)
{
    const std::wstring folder = L"C:\\Deployed Tools\\Trimora";
    ASSERT_EQ(install(L"/DIR=\"" + folder + L"\\\" /SP- /VERYSILENT /SUPPRESSMSGBOXES /NORESTART "
                      L"/LOG=\"C:\\pm.log\""),
              Installed);
    expectInstalled(folder);
    EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\pm.log"),
                                {L"Mode: very silent: no window",
                                 L"Accepted, without effect here: /SP- /SUPPRESSMSGBOXES /NORESTART",
                                 L"Installation folder: " + folder, L"Free space on C:\\: *", L"Exit code: 0"}));
}

// /NOICONS, /NOSAMPLES and the other accepted switches: no shortcut, no
// sample on the public desktop, neither in the uninstall log nor in the
// run's log; the uninstaller takes the same no-op switches.
TEST_F(Unattended, NoIconsNoSamplesAndTheOtherAcceptedSwitches)
{
    ASSERT_EQ(install(L"/VERYSILENT /NOCANCEL /ALLUSERS /NOICONS /NOSAMPLES /LOG=C:\\bare.log"), Installed);
    expectInstalled(installFolder, 21);
    EXPECT_FALSE(exists(menuFolder));
    EXPECT_FALSE(exists(desktop + L"\\Trimora 6.04.lnk"));
    EXPECT_FALSE(exists(desktop + L"\\Trimora Examples"));
    UninstallLog log;
    log.read((installFolder + L"\\Uninstall.ulog").c_str());
    for (const LogEntry& e : log.previousEntries()) {
        EXPECT_THAT(e.path, ::testing::Not(HasSubstr(L".qvn"))) << "no sample in the uninstall log";
        EXPECT_NE(e.kind, DesktopShortcut);
        EXPECT_NE(e.kind, ProgramShortcut);
    }
    const std::vector<std::wstring> lines = runLogLines(L"C:\\bare.log");
    EXPECT_TRUE(containsInOrder(lines, {L"Accepted, without effect here: /NOCANCEL /ALLUSERS",
                                        L"Start-menu shortcuts: no", L"Desktop shortcut: no",
                                        L"Sample documents: left out (/NOSAMPLES)", L"Exit code: 0"}));
    for (const std::wstring& line : lines) EXPECT_THAT(line, ::testing::Not(HasSubstr(L".qvn")));

    const std::wstring uninstall = L"\"" + installFolder + L"\\Uninstall.exe\" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART";
    EXPECT_EQ(test::runProcess(uninstall), std::optional<DWORD>(0u));
    test::waitForCleanupCopies();
    EXPECT_FALSE(exists(installFolder));
}

// A volume too small for the payload (a drive letter standing for a small
// tmpfs, tests/reliability/other-volume.sh): refused before anything is
// written on it, with the disk-full code and a log line.
TEST_F(Unattended, VolumeTooSmallIsRefusedBeforeAnythingIsWritten)
{
    const std::string volume = test::otherVolumeFolder();
    ASSERT_FALSE(volume.empty()) << "run through tests/reliability/other-volume.sh --small";
    ASSERT_TRUE(test::mapDriveLetter(L'S', volume));
    const test::MachineSnapshot before = test::MachineSnapshot::take();
    ASSERT_EQ(install(L"/VERYSILENT /DIR=S:\\Trimora /LOG=C:\\space.log"), NotEnoughSpace);
    EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\space.log"),
                                {L"Installation folder: S:\\Trimora", L"Free space on S:\\: *",
                                 L"Refused: not enough free space on S:\\: *", L"Exit code: 112"}));
    EXPECT_FALSE(exists(L"S:\\Trimora"));
    WIN32_FIND_DATAW found{};
    const HANDLE find = ::FindFirstFileW(L"S:\\*", &found);
    if (find != INVALID_HANDLE_VALUE) {
        do EXPECT_TRUE(found.cFileName[0] == L'.') << testing::PrintToString(std::wstring(found.cFileName));
        while (::FindNextFileW(find, &found));
        ::FindClose(find);
    }
    // Only the log was written on the machine.
    for (const std::wstring& change : test::diff(before, test::MachineSnapshot::take()))
        EXPECT_THAT(change, HasSubstr(L"space.log"));
}

TEST_F(Unattended, RefusalsAreLoggedWithTheirCode)
{
    ASSERT_EQ(install(L"/VERYSILENT /LOG=C:\\bad.log /LANG=xx /FOO"), BadCommandLine);
    EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\bad.log"),
                                {L"Mode: very silent: no window", L"Command line: Not an offered installation language: xx",
                                 L"Command line: Unknown switch: /FOO",
                                 L"The command line is not valid: nothing installed", L"Exit code: 1639"}));

    ASSERT_EQ(runToEnd(QV_SETUP_PROBE_EXE, L"/VERYSILENT /LOG=C:\\probe.log", {{L"QV_PROBE_NOT_ADMINISTRATOR", L"1"}}),
              NotAdministrator);
    EXPECT_TRUE(containsInOrder(
        runLogLines(L"C:\\probe.log"),
        {L"Refused: You should have Administrator Rights in order to proceed to Installation.", L"Exit code: 740"}));
}

TEST_F(Unattended, NewerVersionInstalledIsLeftAlone)
{
    test::setRegString(HKEY_LOCAL_MACHINE, MakerKey, RecordName, QV_NEW_PROGRAM_EXE);
    ASSERT_EQ(install(L"/VERYSILENT /LOG=C:\\newer.log"), NewerVersion);
    EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\newer.log"),
                                {L"Detected: a newer version is installed", L"Installed version: Trimora 6.05",
                                 L"Nothing installed: Trimora 6.05 is newer than Trimora 6.04", L"Exit code: 1638"}));
    EXPECT_FALSE(test::keyExists(HKEY_LOCAL_MACHINE, ProductKey));
    EXPECT_FALSE(exists(installFolder));
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, MakerKey, RecordName), std::wstring(QV_NEW_PROGRAM_EXE));
}

// The installer with a byte of its payload changed: the verification pass
// fails before anything is written.
TEST_F(Unattended, CorruptPayloadFailsAndChangesNothing)
{
    std::ifstream in(installer.c_str(), std::ios::binary);
    ASSERT_TRUE(in);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto at = bytes.find("BZh91AY&SY");
    ASSERT_NE(at, std::string::npos);
    bytes[at + 200] ^= 0x5A;
    const std::wstring damaged = L"C:\\InstallDamaged.exe";
    {
        std::ofstream out(damaged.c_str(), std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    ASSERT_EQ(runToEnd(damaged, L"/VERYSILENT /LOG=C:\\damaged.log"), FailedRolledBack);
    EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\damaged.log"),
                                {L"Preparing Installation...Failed", L"Status: Installation failed (Error Code 4).",
                                 L"Outcome: failed; everything this run changed was rolled back",
                                 L"Silent installation ended: not installed", L"Exit code: 1603"}));
    EXPECT_FALSE(exists(installFolder));
    EXPECT_FALSE(test::keyExists(HKEY_LOCAL_MACHINE, ProductKey));
}

// A file where the Start-menu folder should be: the files are installed, the
// Start-menu shortcuts cannot be: installed, but not as asked.
TEST_F(Unattended, FailedStepAfterTheFilesIsNotReportedAsSuccess)
{
    test::makeFolders(shellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Orvane Systems");
    test::writeText(menuFolder, "in the way");
    ASSERT_EQ(install(L"/VERYSILENT /LOG=C:\\step.log"), StepFailed);
    EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\step.log"),
                                {L"Shortcuts Creation...Failed", L"Registry Data Writing...OK",
                                 L"Installation Data Writing...OK",
                                 L"Outcome: installed, but a step after the file copying failed",
                                 L"Silent installation ended: installed", L"Exit code: 1627"}));
    EXPECT_TRUE(exists(installFolder + L"\\Trimora.exe"));
    EXPECT_TRUE(test::keyExists(HKEY_LOCAL_MACHINE, ProductKey));
}

// A run where nobody could see a window (SYSTEM, session 0: the test
// build's desktop test answers so) shows none, whatever its switches, and
// ends at once with the bad-command-line code and its reason in the default
// log. Without a display a window would keep the process waiting.
TEST_F(Unattended, NoInteractiveDesktopShowsNoWindowAndEndsWithItsCode)
{
    const std::vector<std::pair<std::wstring, std::wstring>> noDesktop = {{L"QV_PROBE_NO_DESKTOP", L"1"}};
    for (const std::wstring arguments : {L"", L"/?", L"/DIR=C:\\Trimora", L"/FOO"})
        EXPECT_EQ(runToEnd(QV_SETUP_PROBE_EXE, arguments, noDesktop), BadCommandLine)
            << testing::PrintToString(arguments);
    const std::vector<std::wstring> logs = defaultLogs(L"Quorvex 6 Installation ");
    ASSERT_EQ(logs.size(), 4u);
    for (const std::wstring& log : logs)
        EXPECT_TRUE(containsInOrder(runLogLines(log),
                                    {L"Mode: interactive wizard", L"Log file: " + log,
                                     L"Refused: no interactive desktop (SYSTEM, session 0 or an invisible window "
                                     L"station): no window is shown here; an unattended installation needs /VERYSILENT",
                                     L"Exit code: 1639"}))
            << testing::PrintToString(log);
    // A silent switch there runs as anywhere else.
    EXPECT_EQ(runToEnd(QV_SETUP_PROBE_EXE, L"/VERYSILENT /?", noDesktop), HelpShown);
}

// Without /LOG a silent run logs into the documented folder, one file per
// run, the newest ten kept; a folder others than the administrators (and
// the account running) may write is not used. /UNINSTALL finds the
// installation, runs its quiet uninstallation with the given /LOG and
// passes its code through. Under Wine every file belongs to the account
// that runs the programs, the installer's own: the folders pass as those of
// the administrators do on Windows.
TEST_F(Unattended, DefaultLogOfSilentRunsAndUninstallThroughTheInstaller)
{
    EXPECT_EQ(install(L"/QUIET /FOO"), BadCommandLine);
    std::vector<std::wstring> logs = defaultLogs(L"Quorvex 6 Installation ");
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_TRUE(containsInOrder(runLogLines(logs[0]), {L"Command line: \"" + installer + L"\" /QUIET /FOO",
                                                       L"Mode: very silent: no window", L"Log file: " + logs[0],
                                                       L"Command line: Unknown switch: /FOO", L"Exit code: 1639"}));
    // Ten older runs' logs: with the first run's and the new one, twelve;
    // the oldest two go.
    for (int i = 0; i < 10; ++i)
        test::writeText(defaultLogFolder() + L"\\Quorvex 6 Installation 2020-01-01 00.00." +
                            (i < 10 ? L"0" : L"") + std::to_wstring(i) + L" 00000000.log",
                        "old");
    test::writeText(defaultLogFolder() + L"\\another program.log", "not ours");
    ASSERT_EQ(install(L"/qn /NOSAMPLES /NODESKTOP /LANG=en"), Installed);
    expectInstalled(installFolder, 21);
    logs = defaultLogs(L"Quorvex 6 Installation ");
    ASSERT_EQ(logs.size(), 10u);
    EXPECT_THAT(logs.front(), HasSubstr(L"2020-01-01 00.00.02 "));
    EXPECT_TRUE(exists(defaultLogFolder() + L"\\another program.log"));
    // Two runs within a second are told apart by their random part only.
    EXPECT_TRUE(std::any_of(logs.end() - 2, logs.end(), [&](const std::wstring& log) {
        return containsInOrder(runLogLines(log), {L"Command line: \"" + installer + L"\" /qn /NOSAMPLES /NODESKTOP /LANG=en",
                                                  L"Mode: very silent: no window", L"Exit code: 0"});
    }));

    // Everyone may add files to the folder: it is not used.
    ASSERT_TRUE(setDacl(defaultLogFolder(), L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;WD)"));
    EXPECT_EQ(install(L"/VERYSILENT /FOO"), BadCommandLine);
    EXPECT_EQ(defaultLogs(L"Quorvex 6 Installation ").size(), 10u);
    ASSERT_TRUE(setDacl(defaultLogFolder(), L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"));

    // /UNINSTALL: the installation's own uninstaller with the /LOG given,
    // its exit code passed through: without its Uninstall.ulog it removes
    // nothing and ends with 2.
    const std::wstring ulog = installFolder + L"\\Uninstall.ulog";
    ASSERT_TRUE(::MoveFileW(ulog.c_str(), L"C:\\Uninstall.ulog"));
    EXPECT_EQ(install(L"/UNINSTALL"), NoUninstallLog);
    EXPECT_TRUE(exists(installFolder + L"\\Trimora.exe"));
    ASSERT_TRUE(::MoveFileW(L"C:\\Uninstall.ulog", ulog.c_str()));
    ASSERT_EQ(install(L"/UNINSTALL /LOG=C:\\removed.log"), Installed);
    test::waitForCleanupCopies();
    EXPECT_FALSE(exists(installFolder));
    EXPECT_FALSE(test::keyExists(HKEY_LOCAL_MACHINE, ProductKey));
    EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\removed.log"),
                                {L"Uninstaller " + installFolder + L"\\Uninstall.exe", L"Exit code: 0"}));
    const std::vector<std::wstring> uninstallLogs = defaultLogs(L"Quorvex 6 Uninstallation ");
    ASSERT_EQ(uninstallLogs.size(), 2u);
    EXPECT_TRUE(std::any_of(uninstallLogs.begin(), uninstallLogs.end(), [](const std::wstring& log) {
        return containsInOrder(runLogLines(log), {L"The uninstaller ended with 2", L"Exit code: 2"});
    }));
    const std::wstring& removal =
        containsInOrder(runLogLines(uninstallLogs[0]), {L"Command line: \"" + installer + L"\" /UNINSTALL /LOG=*"})
            ? uninstallLogs[0]
            : uninstallLogs[1];
    EXPECT_TRUE(containsInOrder(runLogLines(removal),
                                {L"Uninstall key: HKEY_LOCAL_MACHINE\\" + std::wstring(ProductKey),
                                 L"Uninstallation: \"" + installFolder + L"\\Uninstall.exe\" /VERYSILENT "
                                 L"\"/LOG=C:\\removed.log\"",
                                 L"The uninstaller ended with 0", L"Exit code: 0"}));
    // Nothing left to remove.
    EXPECT_EQ(install(L"/UNINSTALL"), NotInstalled);
}

// The uninstall key the other edition writes (the other registry view):
// the installer refuses with its own code, changes nothing, and /UNINSTALL
// runs only the command the installer itself writes there. Each edition's
// suite plays it from its own side.
TEST_F(Unattended, OtherEditionsInstallationIsFoundAndNeverDoubled)
{
#ifdef _WIN64
    constexpr REGSAM otherView = KEY_WOW64_32KEY;
    const std::wstring otherEdition = L"32-bit", thisEdition = L"64-bit";
    const std::wstring otherProgramFiles = shellFolder(CSIDL_PROGRAM_FILESX86);
#else
    BOOL wow64 = FALSE;
    if (!::IsWow64Process(::GetCurrentProcess(), &wow64) || !wow64)
        GTEST_SKIP() << "a 32-bit system has one registry view: there is no other edition to find";
    constexpr REGSAM otherView = KEY_WOW64_64KEY;
    const std::wstring otherEdition = L"64-bit", thisEdition = L"32-bit";
    wchar_t native[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"ProgramW6432", native, MAX_PATH);
    const std::wstring otherProgramFiles = native;
#endif
    const std::wstring otherFolder = otherProgramFiles + L"\\Orvane Systems\\Trimora 6";
    const auto writeOtherView = [&](const wchar_t* name, const std::wstring& value) {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, ProductKey, 0, nullptr, 0, KEY_SET_VALUE | otherView,
                                    nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(key);
    };
    writeOtherView(L"DisplayName", L"Trimora 6.04");
    writeOtherView(L"DisplayVersion", L"6.4.0.2");
    writeOtherView(L"InstallLocation", otherFolder);
    writeOtherView(L"UninstallString", otherFolder + L"\\Uninstall.exe");
    writeOtherView(L"QuietUninstallString", L"\"" + otherFolder + L"\\Uninstall.exe\" /VERYSILENT");
    ASSERT_FALSE(test::keyExists(HKEY_LOCAL_MACHINE, ProductKey)) << "this edition's view has no key";

    ASSERT_EQ(install(L"/VERYSILENT /LOG=C:\\other.log"), OtherEditionInstalled);
    EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\other.log"),
                                {L"Refused: Trimora 6.4.0.2 is installed on this computer by its " + otherEdition +
                                     L" edition, in " + otherFolder + L".",
                                 L"This installer is the " + thisEdition + L" edition of the same product: *",
                                 L"Exit code: 1633"}));
    EXPECT_FALSE(test::keyExists(HKEY_LOCAL_MACHINE, ProductKey));
    EXPECT_FALSE(exists(installFolder));

    // /UNINSTALL finds that key; its uninstaller is not there: refused.
    const std::wstring planted = L"C:\\planted.txt";
    struct Case {
        std::wstring uninstallString, quiet;
    };
    const std::vector<Case> cases = {
        {otherFolder + L"\\Uninstall.exe", L"\"" + otherFolder + L"\\Uninstall.exe\" /VERYSILENT"},
        {otherFolder + L"\\Uninstall.exe", L"cmd.exe /c echo x > " + planted},
        {L"C:\\Windows\\System32\\cmd.exe", L"\"C:\\Windows\\System32\\cmd.exe\" /VERYSILENT"},
        {L"Uninstall.exe", L"\"Uninstall.exe\" /VERYSILENT"},
    };
    for (const Case& c : cases) {
        writeOtherView(L"UninstallString", c.uninstallString);
        writeOtherView(L"QuietUninstallString", c.quiet);
        EXPECT_EQ(install(L"/UNINSTALL /LOG=C:\\u.log"), UninstallerNotTrusted) << testing::PrintToString(c.quiet);
    }
    EXPECT_FALSE(exists(planted));
    EXPECT_FALSE(exists(L"C:\\u.log")) << "the uninstaller's log: it never ran";
}

// --- with a display -----------------------------------------------------

TEST_F(Unattended, SilentShowsTheProgressWindowOnlyAndClosesItself)
{
    test::ChildProcess process(L"\"" + installer + L"\" /S /LOG=C:\\progress.log");
    ASSERT_TRUE(process.started());
    test::WindowQuery query;
    query.processId = process.id();
    query.className = L"#32770";
    query.caption = Caption;
    const HWND window = test::waitForWindow(query);
    ASSERT_TRUE(window) << "no progress window";
    // No navigation buttons; the install page with its log and progress bar.
    for (int button : {IDOK, IDCANCEL, 3}) EXPECT_EQ(::GetDlgItem(window, button), nullptr) << button;
    const HWND page = ::FindWindowExW(window, nullptr, L"#32770", nullptr);
    ASSERT_TRUE(page);
    EXPECT_TRUE(::GetDlgItem(page, 1015));
    EXPECT_TRUE(::GetDlgItem(page, 1014));
    // Its side picture is the one of the screen's DPI (CTest runs this test
    // at 150 % too), as the wizard's is.
    HWND picture = nullptr;
    for (HWND child = ::GetWindow(window, GW_CHILD); child && !picture; child = ::GetWindow(child, GW_HWNDNEXT))
        if ((::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) picture = child;
    RECT shown{};
    ::GetWindowRect(picture, &shown);
    const UINT dpi = windowDpi(window);
    if (const char* prefixDpi = std::getenv("QV_WINE_DPI")) EXPECT_EQ(dpi, std::stoul(prefixDpi));
    EXPECT_EQ(shown.right - shown.left, scaledForDpi(87, dpi)) << dpi << " DPI";
    EXPECT_EQ(shown.bottom - shown.top, scaledForDpi(171, dpi)) << dpi << " DPI";

    EXPECT_EQ(process.wait(180000), Installed);
    EXPECT_FALSE(::IsWindow(window));
    expectInstalled(installFolder);
    EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\progress.log"),
                                {L"Mode: silent (/S): progress window only", L"Installation Data Writing...OK",
                                 L"Outcome: installed", L"Progress window closed: installed", L"Exit code: 0"}));
}

TEST_F(Unattended, RunningProductStopsASilentRunUntilItEnds)
{
    ASSERT_EQ(install(L"/VERYSILENT"), Installed);
    {
        test::StartedProcess product(L"\"" + installFolder + L"\\Trimora.exe\"", installFolder);
        ASSERT_TRUE(product.started());
        const HWND window = test::findProcessWindow(product.id(), L"OrvaneTrimoraMainWindow", 20000);
        ASSERT_TRUE(window);
        EXPECT_EQ(install(L"/VERYSILENT /LOG=C:\\running.log"), ProductRunning);
        EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\running.log"),
                                    {L"Refused: You should close 'Trimora' before continuing Installation.",
                                     L"Exit code: 170"}));
        ::PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_TRUE(product.waitForExit(20000)) << "the product did not end";
    }
    // The same version again, now that nothing runs: a reinstallation.
    ASSERT_EQ(install(L"/VERYSILENT /LOG=C:\\again.log"), Installed);
    EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\again.log"),
                                {L"Detected: the same version is installed: reinstallation", L"Exit code: 0"}));
}

TEST_F(Unattended, SecondInstallerRefusesWhileTheWizardRuns)
{
    test::WizardDriver wizard(installer);
    ASSERT_TRUE(wizard.frame());
    EXPECT_EQ(install(L"/VERYSILENT /LOG=C:\\second.log"), AnotherInstaller);
    EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\second.log"),
                                {L"Refused: another installer is running", L"Exit code: 1618"}));
    EXPECT_FALSE(exists(installFolder));
}

TEST_F(Unattended, ExitOnAWizardPageOfARunWithLogIsCancelled)
{
    test::WizardDriver w(installer, {}, L"/LOG=C:\\wizard.log");
    ASSERT_TRUE(w.frame());
    // The wizard itself as without a switch.
    EXPECT_EQ(w.caption(), Caption);
    ASSERT_TRUE(w.next(test::WizardPage::Mode));
    w.click(IDCANCEL);
    const HWND box = w.waitForBox();
    ASSERT_TRUE(box);
    w.answer(box, IDYES);
    EXPECT_EQ(w.waitExit(), Cancelled);
    const std::vector<std::wstring> lines = runLogLines(L"C:\\wizard.log");
    EXPECT_TRUE(containsInOrder(lines, {L"Mode: interactive wizard", L"Detected: not installed: first installation",
                                        L"Wizard closed: cancelled by the user, nothing installed",
                                        L"Exit code: 1602"}));
    EXPECT_EQ(countStartingWith(lines, L"Installation into "), 0u);
}

TEST_F(Unattended, HelpWindowsListSwitchesAndExitCodes)
{
    struct Case {
        std::wstring program, arguments;
        std::vector<std::wstring> says;
        DWORD code;
    };
    const std::vector<Case> cases = {
        {installer, L"/?",
         {L"/VERYSILENT", L"/DIR=\"folder\"", L"/LANG=language", L"/NOSAMPLES", L"/SUPPRESSMSGBOXES", L"/CURRENTUSER",
          L"112\t", L"1223\t", L"1603\t", L"1639\t"},
         HelpShown},
        {installer, L"/HELP /FOO", {L"The command line is not valid:\nUnknown switch: /FOO\n", L"/NODESKTOP"},
         BadCommandLine},
        {stagedUninstaller, L"/?",
         {L"/VERYSILENT", L"4\tremoved, but something could not be deleted", L"170\t", L"1618\t", L"1622\t"},
         HelpShown},
    };
    for (const Case& c : cases) {
        test::ChildProcess process(L"\"" + c.program + L"\" " + c.arguments);
        ASSERT_TRUE(process.started());
        test::WindowQuery query;
        query.processId = process.id();
        query.className = L"#32770";
        const HWND box = test::waitForWindow(query);
        ASSERT_TRUE(box) << testing::PrintToString(c.arguments);
        const std::wstring text = test::messageBoxText(box);
        for (const std::wstring& part : c.says) EXPECT_THAT(text, HasSubstr(part)) << testing::PrintToString(c.arguments);
        test::clickButton(box, IDOK);
        EXPECT_EQ(process.wait(30000), c.code) << testing::PrintToString(c.arguments);
    }
    EXPECT_FALSE(exists(installFolder));
}

}  // namespace
}  // namespace qv
