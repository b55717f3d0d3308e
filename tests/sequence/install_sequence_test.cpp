// The install sequence end to end against Wine's real file system, registry,
// shell links and processes. Every scenario runs in a fresh prefix of its
// own (tests/sequence.cmake runs one filter per CTest test).
//
// The payload is built here: the registrar (a stand-in for the program that
// registers a document type and exits with -10), an uninstaller, three
// language libraries, two shared data files, two samples and a temporary
// file, packed in the archive layout and handed to the sequence as its
// archive stream. The ProductSequence scenarios install the product's real
// payload instead, embedded in this executable as in the installer.

#include "engine/InstallRun.h"
#include "ProductTestPaths.h"
#include "SequenceFixture.h"
#include "engine/ArchiveFormat.h"
#include "support/MachineSnapshot.h"
#include "support/ProductTestSupport.h"
#include "support/RunLogLines.h"
#include "sys/LogFile.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <tuple>

namespace qv {
namespace {

using test::MachineSnapshot;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

TEST_F(Sequence, FirstInstallation)
{
    auto app = startApp();
    ASSERT_EQ(app->installState, InstallState::NotInstalled);
    ASSERT_TRUE(install(*app, payload));

    // The log, line by line.
    std::vector<std::wstring> expected = {std::wstring(RecordingDisplay::logWidth, L'-'),
                                          L"Preparing Installation...OK"};
    for (const TestEntry& e : payload) expected.push_back(copyingLine(targetOf(e, *app)));
    expected.push_back(L"Shortcuts Creation...OK");
    expected.push_back(L"Registry Data Writing...OK");
    expected.push_back(L"Installation Data Writing...OK");
    EXPECT_THAT(display.lines(), ElementsAreArray(expected));
    EXPECT_EQ(display.status, L"Click on 'Next' to continue.");
    EXPECT_EQ(display.waitCursor, (std::vector<bool>{true, false}));
    ASSERT_FALSE(display.progress.empty());
    EXPECT_EQ(display.progress.front(), -1);
    EXPECT_EQ(display.progress.back(), 100);
    EXPECT_TRUE(std::is_sorted(display.progress.begin(), display.progress.end()));

    // Every file as packed.
    const std::wstring program = installPath + L"\\Trimora.exe";
    const std::wstring uninstaller = installPath + L"\\Uninstall.exe";
    EXPECT_EQ(target.programPath, program);
    EXPECT_EQ(target.uninstallerPath, uninstaller);
    for (const TestEntry& e : payload) {
        if (e.kind == 5) continue;
        EXPECT_EQ(test::readFileBytes(targetOf(e, *app)), e.data) << targetOf(e, *app);
    }
    EXPECT_TRUE(attributesOf(program) & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(attributesOf(uninstaller) & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(attributesOf(installPath + L"\\Lang\\Trimora_en.dll") & FILE_ATTRIBUTE_READONLY);
    // The temporary file and the run's folder are gone.
    EXPECT_FALSE(app->tempFolder.empty());
    EXPECT_FALSE(exists(app->tempFolder));

    // The uninstall key, value by value, with its types.
    const std::wstring key = std::wstring(UninstallKeyPath) + L"Quorvex 6";
    auto sz = [&](const wchar_t* name, const std::wstring& text) {
        RegValue v = readValue(HKEY_LOCAL_MACHINE, key, name);
        EXPECT_EQ(v.type, DWORD(REG_SZ)) << name;
        EXPECT_EQ(v.data.size(), (text.size() + 1) * 2) << name;
        EXPECT_EQ(v.text(), text) << name;
    };
    auto dword = [&](const wchar_t* name, DWORD number) {
        RegValue v = readValue(HKEY_LOCAL_MACHINE, key, name);
        EXPECT_EQ(v.type, DWORD(REG_DWORD)) << name;
        EXPECT_EQ(v.number(), number) << name;
    };
    sz(L"DisplayName", L"Trimora 6.04");
    sz(L"UninstallString", uninstaller);
    sz(L"DisplayIcon", program + L",0");
    sz(L"DisplayVersion", L"6.4.0.2");
    sz(L"Publisher", L"Orvane Systems");
    for (const wchar_t* name : {L"URLInfoAbout", L"HelpLink", L"URLUpdateInfo", L"HelpTelephone"}) {
        RegValue v = readValue(HKEY_LOCAL_MACHINE, key, name);
        EXPECT_EQ(v.type, DWORD(REG_SZ)) << name;
        EXPECT_FALSE(v.text().empty()) << name;
    }
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, key, L"URLInfoAbout").text(),
              readValue(HKEY_LOCAL_MACHINE, key, L"HelpLink").text());
    dword(L"NoModify", 1);
    dword(L"NoRepair", 1);
    dword(L"OvLanguage", EnglishLanguage);

    // The installation record that the next run's detection reads.
    RegValue record = readValue(HKEY_LOCAL_MACHINE, MakerKeyPath, L"Quorvex 6 Path");
    EXPECT_EQ(record.type, DWORD(REG_SZ));
    EXPECT_EQ(record.data.size(), (program.size() + 1) * 2);
    EXPECT_EQ(record.text(), program);
    EXPECT_EQ(findInstalledProgram(), program);

    // The shortcuts.
    const std::wstring menuProgram = startMenuFolder + L"\\Trimora 6.04.lnk";
    const std::wstring menuUninstall = startMenuFolder + L"\\Uninstall Trimora.lnk";
    const std::wstring desktopProgram = desktop + L"\\Trimora 6.04.lnk";
    EXPECT_EQ(linkTarget(menuProgram), std::make_pair(program, installPath));
    EXPECT_EQ(linkTarget(menuUninstall), std::make_pair(uninstaller, installPath));
    EXPECT_EQ(linkTarget(desktopProgram), std::make_pair(program, installPath));

    // The registration run: how it was started, and what it registered.
    EXPECT_EQ(recorded(L"CommandLine"), L"\"" + program + L"\" /Register /Background");
    EXPECT_EQ(recorded(L"WorkingFolder"), installPath);
    EXPECT_EQ(recordedNumber(L"ShowCommand"), DWORD(SW_SHOWNOACTIVATE));
    EXPECT_EQ(recordedNumber(L"MutexFree"), 1u) << "the installer lends its mutex to the run";
    EXPECT_TRUE(app->instanceMutex.owned()) << "and takes it back afterwards";
    EXPECT_EQ(readValue(HKEY_CLASSES_ROOT, L".qvseq", L"").text(), L"QvSequence.Document");

    // Uninstall.ulog read back: every change in the order it was made.
    std::wstring label;
    const std::vector<Logged> logged = readLog(installPath + L"\\Uninstall.ulog", &label);
    EXPECT_EQ(label, L"Trimora 6.04");
    const std::wstring programFiles = shellFolder(CSIDL_PROGRAM_FILES);
    auto folder = [](const std::wstring& p) { return Logged{CreatedFolder, -1, true, p}; };
    auto file = [](int kind, const std::wstring& p) { return Logged{InstalledFile, kind, true, p}; };
    const std::vector<Logged> expectedLog = {
        folder(programFiles + L"\\Orvane Systems"),
        folder(installPath),
        file(1, program),
        file(2, uninstaller),
        folder(installPath + L"\\Lang"),
        file(0, installPath + L"\\Lang\\Trimora_en.dll"),
        file(0, installPath + L"\\Lang\\Trimora_de.dll"),
        file(0, installPath + L"\\Lang\\Trimora_fr.dll"),
        folder(shellFolder(CSIDL_COMMON_APPDATA) + L"\\Orvane Systems"),
        folder(commonData),
        file(3, commonData + L"\\Words_en.qwl"),
        folder(shellFolder(CSIDL_APPDATA) + L"\\Orvane Systems"),
        folder(userData),
        file(3, userData + L"\\Personal.qwl"),
        folder(samples),
        file(4, samples + L"\\Welcome.qvn"),
        file(4, samples + L"\\Meeting Notes.qvn"),
        folder(startMenuFolder),
        Logged{ProgramShortcut, -1, true, menuProgram},
        Logged{UninstallShortcut, -1, true, menuUninstall},
        Logged{DesktopShortcut, -1, true, desktopProgram},
        Logged{UninstallKey, -1, true, L""},
        Logged{ClassesRootKeys, -1, true, L""},
    };
    EXPECT_THAT(logged, ElementsAreArray(expectedLog));
    EXPECT_TRUE(attributesOf(installPath + L"\\Uninstall.ulog") & FILE_ATTRIBUTE_READONLY);
    EXPECT_THAT(backupsLeft(), IsEmpty());
}

std::wstring readUtf16(const std::wstring& path)
{
    const std::string bytes = test::readFileBytes(path);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

TEST_F(Sequence, Update)
{
    setUpEarlierInstallation(test::readFileBytes(windowsPath(QV_OLD_PROGRAM_EXE)), L"Trimora 6.03");
    auto app = startApp();
    ASSERT_EQ(app->installState, InstallState::OlderVersion);
    ASSERT_EQ(app->previousVersion, 0x0006000300000000ull);
    ASSERT_TRUE(install(*app, payload));

    // Samples and the data files the earlier log names get no line.
    std::vector<std::wstring> expected = {std::wstring(RecordingDisplay::logWidth, L'-'),
                                          L"Preparing Installation...OK"};
    for (const TestEntry& e : payload)
        if (e.kind != 3 && e.kind != 4) expected.push_back(copyingLine(targetOf(e, *app)));
    expected.push_back(L"Shortcuts Creation...OK");
    expected.push_back(L"Registry Data Writing...OK");
    expected.push_back(L"Installation Data Writing...OK");
    EXPECT_THAT(display.lines(), ElementsAreArray(expected));

    // ...and are not rewritten: the user's data and the old sample stay,
    // the new sample is not added.
    EXPECT_EQ(test::readFileBytes(commonData + L"\\Words_en.qwl"), "words the user added to");
    EXPECT_EQ(test::readFileBytes(userData + L"\\Personal.qwl"), "the user's own words");
    EXPECT_EQ(test::readFileBytes(samples + L"\\Welcome.qvn"), "welcome old");
    EXPECT_FALSE(exists(samples + L"\\Meeting Notes.qvn"));
    EXPECT_EQ(test::readFileBytes(installPath + L"\\Trimora.exe"), programBytes);
    EXPECT_EQ(test::readFileBytes(installPath + L"\\Lang\\Trimora_de.dll"), "german 6.4");
    EXPECT_EQ(test::readFileBytes(installPath + L"\\Lang\\Trimora_it.dll"), "italian old");

    // The program learns which version it replaces.
    const std::wstring program = installPath + L"\\Trimora.exe";
    EXPECT_EQ(recorded(L"CommandLine"), L"\"" + program + L"\" /Register /Background /update=0006000300000000");

    // The uninstall key is rewritten in place; what only the earlier
    // version wrote stays.
    const std::wstring key = std::wstring(UninstallKeyPath) + L"Quorvex 6";
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, key, L"DisplayName").text(), L"Trimora 6.04");
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, key, L"EarlierOnly").text(), L"kept by the earlier version");

    // The new log: the update note, the earlier entries this run did not
    // touch (in their order), then this run's.
    const std::wstring logPath = installPath + L"\\Uninstall.ulog";
    EXPECT_NE(readUtf16(logPath).find(L"\r\n// Install Trimora 6.04 -- Update (Trimora 6.03)\r\n"), std::wstring::npos);
    auto file = [](int kind, const std::wstring& p) { return Logged{InstalledFile, kind, true, p}; };
    const std::vector<Logged> expectedLog = {
        Logged{CreatedFolder, -1, true, installPath},
        file(0, installPath + L"\\Lang\\Trimora_it.dll"),
        file(3, commonData + L"\\Words_en.qwl"),
        file(3, userData + L"\\Personal.qwl"),
        file(4, samples + L"\\Welcome.qvn"),
        file(1, program),
        file(2, installPath + L"\\Uninstall.exe"),
        file(0, installPath + L"\\Lang\\Trimora_en.dll"),
        file(0, installPath + L"\\Lang\\Trimora_de.dll"),
        file(0, installPath + L"\\Lang\\Trimora_fr.dll"),
        Logged{ProgramShortcut, -1, true, startMenuFolder + L"\\Trimora 6.04.lnk"},
        Logged{UninstallShortcut, -1, true, startMenuFolder + L"\\Uninstall Trimora.lnk"},
        Logged{DesktopShortcut, -1, true, desktop + L"\\Trimora 6.04.lnk"},
        Logged{UninstallKey, -1, true, L""},
        Logged{ClassesRootKeys, -1, true, L""},
    };
    EXPECT_THAT(readLog(logPath), ElementsAreArray(expectedLog));
    // The replaced program, uninstaller and libraries were backed up; the
    // successful run deleted the backups.
    EXPECT_THAT(backupsLeft(), IsEmpty());
    EXPECT_TRUE(attributesOf(program) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(Sequence, UpdateWritesLoggedDataFileThatIsGone)
{
    // The earlier log names the per-user word list, but the user deleted
    // it: the update writes it again instead of failing on its access grant.
    setUpEarlierInstallation(test::readFileBytes(windowsPath(QV_OLD_PROGRAM_EXE)), L"Trimora 6.03");
    ASSERT_TRUE(::DeleteFileW((userData + L"\\Personal.qwl").c_str()));
    auto app = startApp();
    ASSERT_EQ(app->installState, InstallState::OlderVersion);
    ASSERT_TRUE(install(*app, payload));

    const std::vector<std::wstring> lines = display.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), copyingLine(userData + L"\\Personal.qwl")), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), copyingLine(commonData + L"\\Words_en.qwl")), 0);
    EXPECT_TRUE(exists(userData + L"\\Personal.qwl"));
    EXPECT_EQ(test::readFileBytes(commonData + L"\\Words_en.qwl"), "words the user added to");
    EXPECT_EQ(display.status, L"Click on 'Next' to continue.");
}

TEST_F(Sequence, Reinstallation)
{
    setUpEarlierInstallation(programBytes, L"Trimora 6.04");
    auto app = startApp();
    ASSERT_EQ(app->installState, InstallState::SameVersion);
    ASSERT_EQ(app->previousVersion, 0u);
    ASSERT_TRUE(install(*app, payload));

    // Samples are written again; the logged data files are left alone.
    std::vector<std::wstring> expected = {std::wstring(RecordingDisplay::logWidth, L'-'),
                                          L"Preparing Installation...OK"};
    for (const TestEntry& e : payload)
        if (e.kind != 3) expected.push_back(copyingLine(targetOf(e, *app)));
    expected.push_back(L"Shortcuts Creation...OK");
    expected.push_back(L"Registry Data Writing...OK");
    expected.push_back(L"Installation Data Writing...OK");
    EXPECT_THAT(display.lines(), ElementsAreArray(expected));
    EXPECT_EQ(test::readFileBytes(samples + L"\\Welcome.qvn"), "welcome 6.4");
    EXPECT_EQ(test::readFileBytes(samples + L"\\Meeting Notes.qvn"), "meeting notes 6.4");
    EXPECT_EQ(test::readFileBytes(commonData + L"\\Words_en.qwl"), "words the user added to");
    EXPECT_EQ(test::readFileBytes(userData + L"\\Personal.qwl"), "the user's own words");

    const std::wstring program = installPath + L"\\Trimora.exe";
    EXPECT_EQ(recorded(L"CommandLine"), L"\"" + program + L"\" /Register /Background");

    auto file = [](int kind, const std::wstring& p) { return Logged{InstalledFile, kind, true, p}; };
    const std::vector<Logged> expectedLog = {
        Logged{CreatedFolder, -1, true, installPath},
        file(0, installPath + L"\\Lang\\Trimora_it.dll"),
        file(3, commonData + L"\\Words_en.qwl"),
        file(3, userData + L"\\Personal.qwl"),
        file(1, program),
        file(2, installPath + L"\\Uninstall.exe"),
        file(0, installPath + L"\\Lang\\Trimora_en.dll"),
        file(0, installPath + L"\\Lang\\Trimora_de.dll"),
        file(0, installPath + L"\\Lang\\Trimora_fr.dll"),
        file(4, samples + L"\\Welcome.qvn"),
        file(4, samples + L"\\Meeting Notes.qvn"),
        Logged{ProgramShortcut, -1, true, startMenuFolder + L"\\Trimora 6.04.lnk"},
        Logged{UninstallShortcut, -1, true, startMenuFolder + L"\\Uninstall Trimora.lnk"},
        Logged{DesktopShortcut, -1, true, desktop + L"\\Trimora 6.04.lnk"},
        Logged{UninstallKey, -1, true, L""},
        Logged{ClassesRootKeys, -1, true, L""},
    };
    std::wstring label;
    EXPECT_THAT(readLog(installPath + L"\\Uninstall.ulog", &label), ElementsAreArray(expectedLog));
    EXPECT_EQ(label, L"Trimora 6.04");
    EXPECT_THAT(backupsLeft(), IsEmpty());
}

// What Wine itself may change while a scenario runs, outside what the
// installation touches.
bool systemNoise(const std::wstring& line)
{
    (void)line;
    return false;
}

TEST_F(Sequence, CorruptArchive)
{
    auto app = startApp();
    std::string packed = test::bzip2(test::rawArchive(payload));
    packed[packed.size() / 2] ^= 0x5A;
    const MachineSnapshot before = MachineSnapshot::take();
    EXPECT_FALSE(install(*app, packed));

    EXPECT_THAT(display.lines(), ElementsAreArray({std::wstring(RecordingDisplay::logWidth, L'-'),
                                                   std::wstring(L"Preparing Installation...Failed")}));
    EXPECT_EQ(display.status, L"Installation failed (Error Code 4).");
    EXPECT_TRUE(target.programPath.empty());
    EXPECT_THAT(diff(before, MachineSnapshot::take(), systemNoise), IsEmpty());
    EXPECT_TRUE(app->uninstallLog.newEntries().empty());
    EXPECT_TRUE(app->instanceMutex.owned());
}

TEST_F(Sequence, ChecksumMismatchFirstInstallation)
{
    auto app = startApp();
    payload[4].crc = 0x12345678;
    const MachineSnapshot before = MachineSnapshot::take();
    EXPECT_FALSE(install(*app, payload));

    std::vector<std::wstring> expected = {std::wstring(RecordingDisplay::logWidth, L'-'),
                                          L"Preparing Installation...OK"};
    for (std::size_t i = 0; i < 4; ++i) expected.push_back(copyingLine(targetOf(payload[i], *app)));
    expected.push_back(copyingFileText(targetOf(payload[4], *app)) + L"Failed");
    EXPECT_THAT(display.lines(), ElementsAreArray(expected));
    EXPECT_EQ(display.status, L"Installation failed (Error Code 3).");
    // Every file and folder of the run is gone again.
    EXPECT_THAT(diff(before, MachineSnapshot::take(), systemNoise), IsEmpty());
    EXPECT_TRUE(app->uninstallLog.newEntries().empty());
}

TEST_F(Sequence, ChecksumMismatchReinstallation)
{
    setUpEarlierInstallation(programBytes, L"Trimora 6.04");
    auto app = startApp();
    ASSERT_EQ(app->installState, InstallState::SameVersion);
    payload[4].crc = 0x12345678;
    const MachineSnapshot before = MachineSnapshot::take();
    EXPECT_FALSE(install(*app, payload));

    EXPECT_EQ(display.status, L"Installation failed (Error Code 3).");
    // The replaced files are back from their backups, read-only program and
    // uninstaller included, and no backup is left in the temporary folder.
    EXPECT_THAT(diff(before, MachineSnapshot::take(), systemNoise), IsEmpty());
    EXPECT_EQ(test::readFileBytes(installPath + L"\\Lang\\Trimora_en.dll"), "english old");
    EXPECT_TRUE(attributesOf(installPath + L"\\Uninstall.exe") & FILE_ATTRIBUTE_READONLY);
    EXPECT_THAT(backupsLeft(), IsEmpty());
}

// The same failure in a run with a log file (/LOG): the screen shows what it
// shows without one, and the file adds every journal action, every step of
// the rollback with what it left behind, and the outcome.
TEST_F(Sequence, RunLogFollowsJournalAndRollback)
{
    setUpEarlierInstallation(programBytes, L"Trimora 6.04");
    auto app = startApp();
    payload[4].crc = 0x12345678;
    const std::wstring logPath = L"C:\\sequence run.log";
    DWORD error = 0;
    app->runLog = LogFile::openNamed(logPath, error);
    ASSERT_TRUE(app->runLog) << error;
    const std::string packed = test::bzip2(test::rawArchive(payload));
    EXPECT_FALSE(runInstallation(*app, display, target, [packed] { return std::make_unique<std::istringstream>(packed); }));
    EXPECT_EQ(app->lastOutcome, InstallOutcome::FailedRolledBack);
    app->runLog.reset();

    std::vector<std::wstring> screen = {std::wstring(RecordingDisplay::logWidth, L'-'), L"Preparing Installation...OK"};
    for (std::size_t i = 0; i < 4; ++i) screen.push_back(copyingLine(targetOf(payload[i], *app)));
    screen.push_back(copyingFileText(targetOf(payload[4], *app)) + L"Failed");
    EXPECT_THAT(display.lines(), ElementsAreArray(screen));
    EXPECT_EQ(display.status, L"Installation failed (Error Code 3).");

    const std::wstring program = installPath + L"\\Trimora.exe";
    const std::wstring uninstaller = installPath + L"\\Uninstall.exe";
    const std::wstring english = installPath + L"\\Lang\\Trimora_en.dll";
    const std::wstring german = installPath + L"\\Lang\\Trimora_de.dll";
    const std::wstring french = installPath + L"\\Lang\\Trimora_fr.dll";
    EXPECT_TRUE(test::containsInOrder(
        test::runLogLines(logPath),
        {L"Installation into " + installPath + L" begins",
         std::wstring(60, L'-'),
         L"Preparing Installation...OK",
         L"Journal: recorded file " + program + L"; the earlier one is kept as backup *",
         copyingLine(program),
         L"Journal: recorded file " + uninstaller + L"; the earlier one is kept as backup *",
         copyingLine(uninstaller),
         L"Journal: recorded file " + english + L"; the earlier one is kept as backup *",
         copyingLine(english),
         L"Journal: recorded file " + german + L"; the earlier one is kept as backup *",
         copyingLine(german),
         L"Journal: recorded file " + french,
         L"Journal: file " + french + L" NOT done",
         copyingFileText(french) + L"Failed",
         L"Status: Installation failed (Error Code 3).",
         L"Rollback: undoing 5 journal entries, the last first",
         L"Rollback: file " + french + L": deleted",
         L"Rollback: file " + german + L": earlier file restored",
         L"Rollback: file " + english + L": earlier file restored",
         L"Rollback: file " + uninstaller + L": earlier file restored",
         L"Rollback: file " + program + L": earlier file restored",
         L"Outcome: failed; everything this run changed was rolled back"}));
    EXPECT_EQ(test::readFileBytes(german), "german old");
}

TEST_F(Sequence, RegistrationRunFails)
{
    ::SetEnvironmentVariableW(L"QV_REGISTRAR_EXIT", L"0");
    auto app = startApp();
    EXPECT_TRUE(install(*app, payload));

    const std::vector<std::wstring> lines = display.lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], L"Shortcuts Creation...OK");
    EXPECT_EQ(lines[lines.size() - 2], L"Registry Data Writing...Failed");
    EXPECT_EQ(lines[lines.size() - 1], L"Installation Data Writing...OK");
    EXPECT_EQ(display.status, L"Click on 'Next' to continue.");
    EXPECT_EQ(recordedNumber(L"Runs"), 1u);
    EXPECT_TRUE(app->instanceMutex.owned());
    // Nothing is undone after the extraction: the files and the key stay.
    EXPECT_TRUE(exists(installPath + L"\\Trimora.exe"));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, std::wstring(UninstallKeyPath) + L"Quorvex 6", L"DisplayName").text(),
              L"Trimora 6.04");
    const std::vector<Logged> logged = readLog(installPath + L"\\Uninstall.ulog");
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.back(), (Logged{ClassesRootKeys, -1, false, L""}));
}

TEST_F(Sequence, ShortcutFolderFails)
{
    // A file where the Start-menu folder should be: the folder cannot be
    // made and neither can the two shortcuts in it.
    test::writeFileBytes(startMenuFolder, "in the way");
    auto app = startApp();
    EXPECT_TRUE(install(*app, payload));

    const std::vector<std::wstring> lines = display.lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], L"Shortcuts Creation...Failed");
    EXPECT_EQ(lines[lines.size() - 2], L"Registry Data Writing...OK");
    EXPECT_EQ(lines[lines.size() - 1], L"Installation Data Writing...OK");
    EXPECT_EQ(display.status, L"Click on 'Next' to continue.");
    // The desktop shortcut is made all the same.
    const std::wstring program = installPath + L"\\Trimora.exe";
    EXPECT_EQ(linkTarget(desktop + L"\\Trimora 6.04.lnk").first, program);

    std::vector<Logged> shortcuts;
    for (const Logged& e : readLog(installPath + L"\\Uninstall.ulog"))
        if (std::get<0>(e) >= ProgramShortcut && std::get<0>(e) <= DesktopShortcut) shortcuts.push_back(e);
    EXPECT_THAT(shortcuts, ElementsAreArray({Logged{ProgramShortcut, -1, false, L""},
                                             Logged{UninstallShortcut, -1, false, L""},
                                             Logged{DesktopShortcut, -1, true, desktop + L"\\Trimora 6.04.lnk"}}));
}

TEST_F(Sequence, TemporaryFolderUnavailable)
{
    auto app = startApp();
    // GetTempPathW takes TMP first: a path of 250 characters is too long
    // for the run's folder below it.
    const std::wstring longTemp = L"C:\\" + std::wstring(246, L't');
    ::SetEnvironmentVariableW(L"TMP", longTemp.c_str());
    const MachineSnapshot before = MachineSnapshot::take();
    const bool installed = install(*app, payload);
    ::SetEnvironmentVariableW(L"TMP", nullptr);
    EXPECT_FALSE(installed);

    const std::vector<std::wstring> lines = display.lines();
    ASSERT_EQ(lines.size(), 2u);
    // The system's error code as 8 hexadecimal digits, then the call.
    const std::wstring prefix = L"Installation failed (Error Code ";
    const std::wstring suffix = L" (GetTempPath)).";
    ASSERT_EQ(lines[1].size(), prefix.size() + 8 + suffix.size()) << lines[1];
    EXPECT_EQ(lines[1].substr(0, prefix.size()), prefix);
    EXPECT_EQ(lines[1].substr(prefix.size() + 8), suffix);
    EXPECT_EQ(lines[1].substr(prefix.size(), 8).find_first_not_of(L"0123456789abcdef"), std::wstring::npos);
    EXPECT_EQ(display.status, lines[1]);
    EXPECT_EQ(display.waitCursor, (std::vector<bool>{true, false}));
    EXPECT_THAT(diff(before, MachineSnapshot::take(), systemNoise), IsEmpty());
}

TEST(Snapshot, SeesFilesFoldersKeysAndValues)
{
    const std::wstring folder = shellFolder(CSIDL_COMMON_APPDATA) + L"\\QvSnapshot";
    const std::wstring file = folder + L"\\probe.txt";
    const MachineSnapshot before = MachineSnapshot::take();
    std::filesystem::create_directories(folder);
    test::writeFileBytes(file, "one");
    UniqueKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\QvSnapshot", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                key.put(), nullptr),
              ERROR_SUCCESS);
    const DWORD one = 1;
    ::RegSetValueExW(key.get(), L"Value", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    const MachineSnapshot changed = MachineSnapshot::take();
    EXPECT_THAT(diff(before, changed),
                ElementsAreArray({L"+file " + file, L"+folder " + folder, std::wstring(L"+key HKLM\\Software\\QvSnapshot"),
                                  std::wstring(L"+value HKLM\\Software\\QvSnapshot\\Value")}));

    // Same size, other content; an attribute; another value.
    test::writeFileBytes(file, "two");
    ::SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
    const DWORD two = 2;
    ::RegSetValueExW(key.get(), L"Value", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), sizeof two);
    EXPECT_THAT(diff(changed, MachineSnapshot::take()),
                ElementsAreArray({L"~file " + file, L"~folder " + folder,
                                  std::wstring(L"~value HKLM\\Software\\QvSnapshot\\Value")}));

    key.reset();
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\QvSnapshot");
    ::DeleteFileW(file.c_str());
    ::RemoveDirectoryW(folder.c_str());
    EXPECT_THAT(diff(before, MachineSnapshot::take()), IsEmpty());
}


// --- The product's own payload ------------------------------------------------
// The installer's real archive (qv_payload, linked into this test as into the
// installer) with the real program, whose registration run exits with -10
// and registers the .qvn type, and the real uninstaller.

// The embedded archive's entries with their data, in archive order.
std::vector<TestEntry> embeddedPayload()
{
    std::string raw;
    auto stream = loadResourceStream();
    decompressChunks(*stream, [&](const char* p, std::streamsize n) { raw.append(p, static_cast<std::size_t>(n)); });
    if (raw.size() < archivePrefixSize) return {};
    const std::uint64_t headerSize = readHeaderSize(raw.data());
    std::vector<TestEntry> entries;
    std::uint64_t offset = headerSize;
    for (const ArchiveEntry& e : parseHeader(std::string_view(raw).substr(0, static_cast<std::size_t>(headerSize)))) {
        entries.push_back({e.source, e.destination,
                           raw.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(e.size)), e.kind,
                           e.crc});
        offset += e.size;
    }
    return entries;
}

// The step line of a copied file, written out here rather than through
// copyingFileText: a path with a blank is quoted.
std::wstring copiedLine(const std::wstring& path)
{
    const std::wstring shown = path.find(L' ') == std::wstring::npos ? path : L"\"" + path + L"\"";
    return L"Copying File  " + shown + L"...OK";
}

const std::wstring productKey = std::wstring(MakerKeyPath) + L"\\Quorvex 6";
constexpr wchar_t progId[] = L"Orvane.QuorvexNotebook.6";

class ProductSequence : public Sequence {
protected:
    void SetUp() override
    {
        Sequence::SetUp();
        product = embeddedPayload();
        ASSERT_EQ(product.size(), 27u);
    }

    // The run the install page makes: the payload resource of this
    // executable, through the default archive source.
    bool installProduct(InstallSession& app) { return InstallSequence(app, display, target).run(); }

    // The file the packing step took an entry from: its source names the
    // build tree's stage folder, which Wine shows on drive Z:.
    std::wstring stagedFile(const TestEntry& entry) const
    {
        std::wstring stage = QV_PRODUCT_STAGE, source = entry.source;
        std::replace(source.begin(), source.end(), L'/', L'\\');
        const std::wstring unixStage = stage.substr(2);  // without "Z:"
        EXPECT_EQ(source.rfind(unixStage + L"\\", 0), 0u) << source;
        return stage + source.substr(unixStage.size());
    }

    void expectProgramRegistered(const std::wstring& program)
    {
        EXPECT_EQ(readValue(HKEY_CLASSES_ROOT, L".qvn", L"").text(), progId);
        EXPECT_EQ(readValue(HKEY_CLASSES_ROOT, progId, L"").text(), L"Trimora Notebook");
        EXPECT_EQ(readValue(HKEY_CLASSES_ROOT, std::wstring(progId) + L"\\DefaultIcon", L"").text(), program + L",0");
        RegValue command = readValue(HKEY_CLASSES_ROOT, std::wstring(progId) + L"\\shell\\open\\command", L"");
        EXPECT_EQ(command.type, DWORD(REG_SZ));
        EXPECT_EQ(command.text(), L"\"" + program + L"\" \"%1\"");
    }

    std::vector<TestEntry> product;
};

TEST_F(ProductSequence, FirstInstallation)
{
    auto app = startApp();
    ASSERT_EQ(app->installState, InstallState::NotInstalled);
    const std::wstring temporaryRoot = [] {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        return std::wstring(temp);
    }();
    ASSERT_TRUE(installProduct(*app));

    // The log: one copying line per file, every path here holding a blank.
    std::vector<std::wstring> expected = {std::wstring(RecordingDisplay::logWidth, L'-'),
                                          L"Preparing Installation...OK"};
    for (const TestEntry& e : product) expected.push_back(copiedLine(targetOf(e, *app)));
    expected.push_back(L"Shortcuts Creation...OK");
    expected.push_back(L"Registry Data Writing...OK");
    expected.push_back(L"Installation Data Writing...OK");
    EXPECT_THAT(display.lines(), ElementsAreArray(expected));
    const std::vector<std::wstring> lines = display.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         L"Copying File  \"" + samples + L"\\Meeting Notes.qvn\"...OK"),
              1);
    EXPECT_EQ(display.status, L"Click on 'Next' to continue.");
    ASSERT_FALSE(display.progress.empty());
    EXPECT_EQ(display.progress.back(), 100);

    // Every file as the build staged it, the empty word list included.
    const std::wstring program = installPath + L"\\Trimora.exe";
    const std::wstring uninstaller = installPath + L"\\Uninstall.exe";
    EXPECT_EQ(target.programPath, program);
    EXPECT_EQ(target.uninstallerPath, uninstaller);
    for (const TestEntry& e : product) {
        const std::wstring installed = targetOf(e, *app);
        const std::string bytes = test::readFileBytes(installed);
        EXPECT_EQ(bytes, test::readFileBytes(stagedFile(e))) << installed;
        EXPECT_EQ(bytes, e.data) << installed;
    }
    EXPECT_EQ(std::filesystem::file_size(userData + L"\\Personal.qwl"), 0u);
    EXPECT_TRUE(attributesOf(program) & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(attributesOf(uninstaller) & FILE_ATTRIBUTE_READONLY);
    for (const TestEntry& e : product)
        if (e.kind != 1 && e.kind != 2) {
            EXPECT_FALSE(attributesOf(targetOf(e, *app)) & FILE_ATTRIBUTE_READONLY);
        }
    // The run's temporary folder is gone, and it was below %TEMP%.
    EXPECT_EQ(app->tempFolder.rfind(temporaryRoot, 0), 0u) << app->tempFolder;
    EXPECT_FALSE(exists(app->tempFolder));

    // The uninstall key with its types.
    const std::wstring key = std::wstring(UninstallKeyPath) + L"Quorvex 6";
    const std::pair<const wchar_t*, std::wstring> strings[] = {
        {L"DisplayName", L"Trimora 6.04"},       {L"UninstallString", uninstaller},
        {L"DisplayIcon", program + L",0"},       {L"DisplayVersion", L"6.4.0.2"},
        {L"Publisher", L"Orvane Systems"},
    };
    for (const auto& [name, text] : strings) {
        RegValue v = readValue(HKEY_LOCAL_MACHINE, key, name);
        EXPECT_EQ(v.type, DWORD(REG_SZ)) << name;
        EXPECT_EQ(v.data.size(), (text.size() + 1) * 2) << name;
        EXPECT_EQ(v.text(), text) << name;
    }
    for (const wchar_t* name : {L"URLInfoAbout", L"HelpLink", L"URLUpdateInfo", L"HelpTelephone"}) {
        RegValue v = readValue(HKEY_LOCAL_MACHINE, key, name);
        EXPECT_EQ(v.type, DWORD(REG_SZ)) << name;
        EXPECT_FALSE(v.text().empty()) << name;
    }
    for (const auto& [name, number] : {std::pair<const wchar_t*, DWORD>{L"NoModify", 1}, {L"NoRepair", 1},
                                       {L"OvLanguage", DWORD(EnglishLanguage)}}) {
        RegValue v = readValue(HKEY_LOCAL_MACHINE, key, name);
        EXPECT_EQ(v.type, DWORD(REG_DWORD)) << name;
        EXPECT_EQ(v.number(), number) << name;
    }

    // The installation record.
    RegValue record = readValue(HKEY_LOCAL_MACHINE, MakerKeyPath, L"Quorvex 6 Path");
    EXPECT_EQ(record.type, DWORD(REG_SZ));
    EXPECT_EQ(record.text(), program);
    EXPECT_EQ(findInstalledProgram(), program);

    // The shortcuts.
    const std::wstring menuProgram = startMenuFolder + L"\\Trimora 6.04.lnk";
    const std::wstring menuUninstall = startMenuFolder + L"\\Uninstall Trimora.lnk";
    const std::wstring desktopProgram = desktop + L"\\Trimora 6.04.lnk";
    EXPECT_EQ(linkTarget(menuProgram), std::make_pair(program, installPath));
    EXPECT_EQ(linkTarget(menuUninstall), std::make_pair(uninstaller, installPath));
    EXPECT_EQ(linkTarget(desktopProgram), std::make_pair(program, installPath));

    // What the real program registered in English (the language the key
    // names), and no update note on a first installation.
    expectProgramRegistered(program);
    EXPECT_FALSE(readValue(HKEY_LOCAL_MACHINE, productKey, L"UpdatedFrom").found);
    EXPECT_TRUE(app->instanceMutex.owned());

    // Uninstall.ulog: folders as they were created, the 27 files in archive
    // order, the shortcuts, the key and the program's registration.
    std::wstring label;
    const std::vector<Logged> logged = readLog(installPath + L"\\Uninstall.ulog", &label);
    EXPECT_EQ(label, L"Trimora 6.04");
    auto folder = [](const std::wstring& p) { return Logged{CreatedFolder, -1, true, p}; };
    auto file = [&](const TestEntry& e) { return Logged{InstalledFile, int(e.kind), true, targetOf(e, *app)}; };
    std::vector<Logged> expectedLog = {
        folder(shellFolder(CSIDL_PROGRAM_FILES) + L"\\Orvane Systems"),
        folder(installPath),
        file(product[0]),
        folder(shellFolder(CSIDL_APPDATA) + L"\\Orvane Systems"),
        folder(userData),
        file(product[1]),
        file(product[2]),
        folder(installPath + L"\\Lang"),
    };
    for (std::size_t i = 3; i < 16; ++i) expectedLog.push_back(file(product[i]));
    expectedLog.push_back(folder(shellFolder(CSIDL_COMMON_APPDATA) + L"\\Orvane Systems"));
    expectedLog.push_back(folder(commonData));
    for (std::size_t i = 16; i < 21; ++i) expectedLog.push_back(file(product[i]));
    expectedLog.push_back(folder(samples));
    for (std::size_t i = 21; i < 27; ++i) expectedLog.push_back(file(product[i]));
    expectedLog.push_back(folder(startMenuFolder));
    expectedLog.push_back(Logged{ProgramShortcut, -1, true, menuProgram});
    expectedLog.push_back(Logged{UninstallShortcut, -1, true, menuUninstall});
    expectedLog.push_back(Logged{DesktopShortcut, -1, true, desktopProgram});
    expectedLog.push_back(Logged{UninstallKey, -1, true, L""});
    expectedLog.push_back(Logged{ClassesRootKeys, -1, true, L""});
    EXPECT_THAT(logged, ElementsAreArray(expectedLog));
    EXPECT_EQ(std::count_if(logged.begin(), logged.end(),
                            [](const Logged& e) { return std::get<0>(e) == InstalledFile; }),
              27);
}

TEST_F(ProductSequence, Update)
{
    setUpEarlierInstallation(test::readFileBytes(windowsPath(QV_OLD_PROGRAM_EXE)), L"Trimora 6.03");
    auto app = startApp();
    ASSERT_EQ(app->installState, InstallState::OlderVersion);
    ASSERT_EQ(app->previousVersion, 0x0006000300000000ull);
    ASSERT_TRUE(installProduct(*app));

    // No line for the samples nor for the two data files the earlier log
    // names; the shared files it did not have are new and are written.
    std::vector<std::wstring> expected = {std::wstring(RecordingDisplay::logWidth, L'-'),
                                          L"Preparing Installation...OK"};
    for (const TestEntry& e : product) {
        const std::wstring path = targetOf(e, *app);
        if (e.kind == 4 || path == commonData + L"\\Words_en.qwl" || path == userData + L"\\Personal.qwl") continue;
        expected.push_back(copiedLine(path));
    }
    expected.push_back(L"Shortcuts Creation...OK");
    expected.push_back(L"Registry Data Writing...OK");
    expected.push_back(L"Installation Data Writing...OK");
    EXPECT_THAT(display.lines(), ElementsAreArray(expected));
    EXPECT_EQ(display.status, L"Click on 'Next' to continue.");
    EXPECT_EQ(test::readFileBytes(commonData + L"\\Words_en.qwl"), "words the user added to");
    EXPECT_EQ(test::readFileBytes(userData + L"\\Personal.qwl"), "the user's own words");
    EXPECT_EQ(test::readFileBytes(samples + L"\\Welcome.qvn"), "welcome old");

    // The real program was told the version it replaces: it keeps it as
    // UpdatedFrom, and registered itself as on a first installation.
    const std::wstring program = installPath + L"\\Trimora.exe";
    EXPECT_EQ(test::readFileBytes(program), product[0].data);
    RegValue updatedFrom = readValue(HKEY_LOCAL_MACHINE, productKey, L"UpdatedFrom");
    EXPECT_EQ(updatedFrom.type, DWORD(REG_SZ));
    EXPECT_EQ(updatedFrom.text(), L"6.3.0.0");
    expectProgramRegistered(program);
    const std::vector<Logged> logged = readLog(installPath + L"\\Uninstall.ulog");
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.back(), (Logged{ClassesRootKeys, -1, true, L""}));
}

TEST_F(ProductSequence, SilentUninstallLeavesOnlySharedData)
{
    const MachineSnapshot before = MachineSnapshot::take();
    auto app = startApp();
    ASSERT_TRUE(installProduct(*app));
    const std::wstring uninstaller = installPath + L"\\Uninstall.exe";
    ASSERT_EQ(readValue(HKEY_CLASSES_ROOT, L".qvn", L"").text(), progId);

    // The installer has ended by the time anyone uninstalls: its mutex is free.
    app->instanceMutex.release();
    const std::vector<std::wstring> runFolders = test::runFoldersInTemp();
    EXPECT_EQ(test::runProcess(L"\"" + uninstaller + L"\" /S", installPath), 0u);
    // The uninstaller's temporary copy removes it and its folders once it
    // has ended; the copy and its private folder go after it. Nothing is
    // left for the next start of Windows (PendingFileRenameOperations lies
    // below HKLM\System, outside the snapshot).
    EXPECT_EQ(test::runFoldersAfterCleanup(runFolders), runFolders);
    EXPECT_FALSE(exists(uninstaller));
    const std::wstring pending = test::pendingFileRenames();
    EXPECT_EQ(pending.find(L"orvane_"), std::wstring::npos) << testing::PrintToString(pending);
    EXPECT_EQ(pending.find(installPath), std::wstring::npos) << testing::PrintToString(pending);
    const std::vector<std::wstring> changes = diff(before, MachineSnapshot::take(), systemNoise);

    // Everything else is as before, but the shared data files: the shared
    // dictionaries and templates, the per-user word list, and their folders.
    std::vector<std::wstring> kept = {
        L"+folder " + shellFolder(CSIDL_COMMON_APPDATA) + L"\\Orvane Systems",
        L"+folder " + commonData,
        L"+folder " + shellFolder(CSIDL_APPDATA) + L"\\Orvane Systems",
        L"+folder " + userData,
    };
    for (const TestEntry& e : product)
        if (e.kind == 3) kept.push_back(L"+file " + targetOf(e, *app));
    std::sort(kept.begin(), kept.end());
    EXPECT_THAT(changes, ElementsAreArray(kept));
    for (const TestEntry& e : product)
        if (e.kind == 3) {
            EXPECT_EQ(test::readFileBytes(targetOf(e, *app)), e.data);
        }
}

}  // namespace
}  // namespace qv
