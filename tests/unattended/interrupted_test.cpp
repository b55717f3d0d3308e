// Installations ended abruptly at named points (the installer's test build
// setup_interruptible terminates its own process there, as a power loss or
// a killed process would: no destructor, no rollback, no flush), then the
// shipped installer started again, as an administrator would. Its start-up
// finds the unfinished run and rolls it back before it looks at the
// machine; the wizard opens and is left. After that:
//   - on a fresh machine, the machine equals its snapshot from before the
//     killed run (every file and folder below the program-files,
//     application-data, Start-menu, desktop and temporary folders, every key
//     and value of HKEY_LOCAL_MACHINE\Software and HKEY_CLASSES_ROOT);
//   - on an update, the earlier installation is back byte for byte (the
//     same snapshot), is detected as the earlier version again, and a
//     silent update then installs as on any machine.
// A killed update followed by an uninstallation: the uninstaller recovers
// the unfinished run before it removes anything, so that the next start has
// nothing left to put back.
// Each scenario is its own CTest test in a fresh prefix, with an X server of
// its own for the wizard (tests/unattended.cmake).
//
// Under Wine: a process ended with TerminateProcess loses exactly what a
// killed process loses on Windows (its handles are closed by the system,
// nothing of the process runs); what a power loss adds (file system caches
// never written) is not reproduced here: the journal and the files are
// flushed before the steps that rely on them, which these runs cannot
// prove. The registration run's program is not killed with the installer,
// as on Windows: the test waits for it to end before the next start, as a
// machine that lost power has no such program left.
#include "ProductTestPaths.h"
#include "support/MachineSnapshot.h"
#include "support/ProductTestSupport.h"
#include "support/RunLogLines.h"
#include "support/TestFiles.h"
#include "support/UnixSide.h"
#include "support/WindowDriver.h"
#include "resources/resource.h"
#include "uninstall/UninstallLog.h"
#include "wizard/WizardDriver.h"

#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv {
namespace {

using test::containsInOrder;
using test::MachineSnapshot;
using test::runLogLines;
using test::runToEnd;
using test::shellFolder;
using ::testing::IsEmpty;

const std::wstring installer = QV_INSTALLER_EXE;
const std::wstring interruptible = QV_INTERRUPTIBLE_EXE;
constexpr DWORD endedAtRunPoint = 7777;  // tests/startup/InterruptibleSettings.cpp
constexpr DWORD Installed = 0, Cancelled = 1602;
constexpr wchar_t ProductKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvex 6";
constexpr wchar_t RecoveryLog[] = L"C:\\recovery.log";

// The registration run's program outlives the installer that was ended
// while it ran; the next start comes once it has ended, as after a power
// loss.
void waitForProgramsNamed(const wchar_t* name)
{
    for (int round = 0; round < 600; ++round) {
        bool running = false;
        UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        if (snapshot && snapshot.get() != INVALID_HANDLE_VALUE && ::Process32FirstW(snapshot.get(), &entry))
            do {
                if (::CompareStringOrdinal(entry.szExeFile, -1, name, -1, TRUE) == CSTR_EQUAL) running = true;
            } while (::Process32NextW(snapshot.get(), &entry));
        if (!running) return;
        ::Sleep(100);
    }
    ADD_FAILURE() << "the registration run did not end";
}

class Interrupted : public ::testing::Test {
protected:
    const std::wstring installFolder = shellFolder(CSIDL_PROGRAM_FILES) + L"\\Orvane Systems\\Trimora 6";
    const std::wstring wordList = shellFolder(CSIDL_COMMON_APPDATA) + L"\\Orvane Systems\\Quorvex\\Words_en.qwl";

    // An earlier installation: this version installed, then made the
    // earlier version 6.03 by its program, with one shared data file gone
    // (so that an update writes one).
    void setUpEarlierInstallation()
    {
        ASSERT_EQ(runToEnd(installer, L"/VERYSILENT"), Installed);
        const std::wstring program = installFolder + L"\\Trimora.exe";
        ::SetFileAttributesW(program.c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(::CopyFileW(QV_OLD_PROGRAM_EXE, program.c_str(), FALSE));
        ::SetFileAttributesW(program.c_str(), FILE_ATTRIBUTE_READONLY);
        ASSERT_TRUE(::DeleteFileW(wordList.c_str()));
    }

    // The installation ended at point; true when it ended there. A
    // temporaryFolder given is the run's (TMP and TEMP).
    void killedAt(const wchar_t* point, const std::wstring& temporaryFolder = {})
    {
        std::vector<std::pair<std::wstring, std::wstring>> environment = {{L"QV_PROBE_END_AT", point}};
        if (!temporaryFolder.empty()) {
            environment.emplace_back(L"TMP", temporaryFolder);
            environment.emplace_back(L"TEMP", temporaryFolder);
        }
        EXPECT_EQ(runToEnd(interruptible, L"/VERYSILENT /LOG=C:\\killed.log", environment), endedAtRunPoint);
        waitForProgramsNamed(L"Trimora.exe");
    }

    // The shipped installer started again, its wizard left on the mode page.
    void startAgainAndLeave()
    {
        test::WizardDriver wizard(installer, {}, std::wstring(L"/LOG=") + RecoveryLog);
        ASSERT_TRUE(wizard.frame()) << "the wizard did not open";
        ASSERT_TRUE(wizard.next(test::WizardPage::Mode));
        wizard.click(IDCANCEL);
        const HWND box = wizard.waitForBox();
        ASSERT_TRUE(box);
        wizard.answer(box, IDYES);
        EXPECT_EQ(wizard.waitExit(), Cancelled);
    }

    void freshMachineComesBack(const wchar_t* point)
    {
        const MachineSnapshot before = MachineSnapshot::take();
        killedAt(point);
        startAgainAndLeave();
        EXPECT_THAT(test::diff(before, MachineSnapshot::take()), IsEmpty());
        EXPECT_TRUE(containsInOrder(runLogLines(RecoveryLog),
                                    {L"Recovery: an earlier installation run did not end; its journal: *",
                                     L"Recovery: rolling the run back", L"Recovery: done",
                                     L"Detected: not installed: first installation"}));
    }

    // The killed run's temporary folder is temporaryFolder when given.
    void earlierInstallationComesBack(const wchar_t* point, const std::wstring& temporaryFolder = {})
    {
        setUpEarlierInstallation();
        const MachineSnapshot before = MachineSnapshot::take();
        killedAt(point, temporaryFolder);
        startAgainAndLeave();
        EXPECT_THAT(test::diff(before, MachineSnapshot::take()), IsEmpty());
        EXPECT_TRUE(containsInOrder(runLogLines(RecoveryLog),
                                    {L"Recovery: an earlier installation run did not end; its journal: *",
                                     L"Recovery: rolling the run back", L"Recovery: done",
                                     L"Detected: an older version is installed: update",
                                     L"Installed version: Trimora 6.03"}));

        // The earlier installation is one an update goes on from.
        ASSERT_EQ(runToEnd(installer, L"/VERYSILENT /LOG=C:\\update.log"), Installed);
        EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\update.log"),
                                    {L"Detected: an older version is installed: update", L"Outcome: installed"}));
        UninstallLog log;
        log.read((installFolder + L"\\Uninstall.ulog").c_str());
        std::size_t files = 0;
        for (const LogEntry& e : log.previousEntries())
            if (e.kind == InstalledFile && e.done && test::fileExists(e.path)) ++files;
        EXPECT_EQ(files, 27u);
        EXPECT_EQ(test::regString(HKEY_LOCAL_MACHINE, ProductKey, L"DisplayVersion"), L"6.4.0.2");
    }
};

TEST_F(Interrupted, FreshMachineDuringTheVerification)
{
    freshMachineComesBack(L"Verification");
}

TEST_F(Interrupted, FreshMachineWhileADataFileIsWritten)
{
    freshMachineComesBack(L"WritingDataFile");
}

TEST_F(Interrupted, FreshMachineAfterTheKeyWasWritten)
{
    freshMachineComesBack(L"KeyWritten");
}

TEST_F(Interrupted, FreshMachineDuringTheRegistrationRun)
{
    // The program's registrations under HKEY_CLASSES_ROOT go with it: the
    // recovery runs it with " /Unregister" before it deletes it.
    freshMachineComesBack(L"RegistrationRun");
}

TEST_F(Interrupted, UpdateDuringTheVerification)
{
    earlierInstallationComesBack(L"Verification");
}

TEST_F(Interrupted, UpdateWhileADataFileIsWritten)
{
    earlierInstallationComesBack(L"WritingDataFile");
}

TEST_F(Interrupted, UpdateAfterTheKeyWasWritten)
{
    // Under Wine RegRestoreKeyW restores nothing: the key comes back from the
    // copy of its values the journal keeps, which is what is checked here.
    earlierInstallationComesBack(L"KeyWritten");
}

TEST_F(Interrupted, UpdateDuringTheRegistrationRun)
{
    // The new program registered the document type for the same path, where
    // the earlier program comes back: the registrations stay. The version it
    // noted that it updated from (the program's own key below the maker's)
    // goes, as it was not there before.
    earlierInstallationComesBack(L"RegistrationRun");
}

TEST_F(Interrupted, UpdateWhileABackupIsCopiedToAnotherVolume)
{
    // The temporary folder on a volume of its own (drive T:, made by
    // tests/reliability/other-volume.sh): every backup is a copy there. The
    // run ends in the middle of one; the partial copy never stood under the
    // backup's name, so the recovery keeps the intact earlier file.
    const std::string volume = test::otherVolumeFolder();
    ASSERT_FALSE(volume.empty()) << "run through tests/reliability/other-volume.sh";
    ASSERT_TRUE(test::mapDriveLetter(L'T', volume));
    ASSERT_TRUE(::CreateDirectoryW(L"T:\\Temp", nullptr));
    earlierInstallationComesBack(L"CopyingBackup", L"T:\\Temp");
}

TEST_F(Interrupted, UpdateKilledThenUninstalledStaysRemoved)
{
    setUpEarlierInstallation();
    killedAt(L"RegistrationRun");
    constexpr DWORD removed = 0;
    ASSERT_EQ(runToEnd(installFolder + L"\\Uninstall.exe", L"/VERYSILENT /LOG=C:\\uninstall.log"), removed);
    // The earlier uninstaller cannot come back over the running one: the
    // recovery leaves it waiting, and once the installation is removed the
    // uninstaller lets that run go, backups, journal and marker.
    EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\uninstall.log"),
                                {L"Recovery: an earlier installation run did not end; its journal: *",
                                 L"Recovery: rolling the run back",
                                 L"Recovery: Rollback: file " + installFolder + L"\\Uninstall.exe: NOT restored*",
                                 L"Recovery: NOT everything could be put back*", L"Uninstall log *",
                                 L"Deleted the uninstall key, all its values with it: *",
                                 L"Deleted the installation record Quorvex 6 Path",
                                 L"Recovery: the installation that run would put back is removed*",
                                 L"Recovery: run folder *", L"Exit code: 0"}))
        << testing::PrintToString(runLogLines(L"C:\\uninstall.log"));
    const std::wstring journalLine = L"Recovery: an earlier installation run did not end; its journal: ";
    for (const std::wstring& line : runLogLines(L"C:\\uninstall.log"))
        if (line.rfind(journalLine, 0) == 0)
            EXPECT_FALSE(test::fileExists(line.substr(journalLine.size(), line.rfind(L'\\') - journalLine.size())))
                << "the run folder with the earlier uninstaller stays";
    test::waitForCleanupCopies();
    const MachineSnapshot uninstalled = MachineSnapshot::take();

    startAgainAndLeave();
    EXPECT_THAT(test::diff(uninstalled, MachineSnapshot::take()), IsEmpty()) << "the start put something back";
    for (const std::wstring& line : runLogLines(RecoveryLog))
        EXPECT_NE(line.rfind(L"Recovery:", 0), 0u) << "nothing left to recover: " << testing::PrintToString(line);
    EXPECT_TRUE(containsInOrder(runLogLines(RecoveryLog), {L"Detected: not installed: first installation"}));
    EXPECT_FALSE(test::keyExists(HKEY_LOCAL_MACHINE, ProductKey));
    EXPECT_EQ(test::regString(HKEY_LOCAL_MACHINE, L"Software\\Orvane Systems", L"Quorvex 6 Path"), std::nullopt);
    EXPECT_FALSE(test::fileExists(installFolder));
}

TEST_F(Interrupted, ReinstallationKilledThenItsFolderDeletedInstallsSilently)
{
    // A reinstallation killed while it extracts (the installation folder's
    // files moved to their backups, new ones written), then the broken
    // installation folder deleted by hand: the next silent start makes the
    // folder again, puts back what the run replaced, says what went with
    // the folder, and installs.
    ASSERT_EQ(runToEnd(installer, L"/VERYSILENT"), Installed);
    ASSERT_TRUE(::DeleteFileW(wordList.c_str()));  // so that the reinstallation writes one
    killedAt(L"WritingDataFile");
    EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\killed.log"),
                                {L"Journal: recorded file " + installFolder +
                                 L"\\Trimora.exe; the earlier one is kept as backup *"}))
        << "the killed run had replaced files of the installation folder";
    EXPECT_THAT(test::deleteTreeByHand(installFolder), IsEmpty()) << "the folder deleted by hand";

    ASSERT_EQ(runToEnd(installer, L"/VERYSILENT /LOG=C:\\again.log"), Installed);
    const std::vector<std::wstring> lines = runLogLines(L"C:\\again.log");
    EXPECT_TRUE(containsInOrder(lines, {L"Recovery: an earlier installation run did not end; its journal: *",
                                        L"Recovery: rolling the run back",
                                        L"Recovery: the folder " + installFolder + L" was gone: made again*",
                                        L"Recovery: Rollback: file " + installFolder +
                                            L"\\Trimora.exe: earlier file restored",
                                        L"Recovery: LOST: what " + installFolder +
                                            L" held besides the files put back above: the folder was deleted*",
                                        L"Recovery: done", L"Outcome: installed", L"Exit code: 0"}))
        << testing::PrintToString(lines);
    for (const std::wstring& line : lines) EXPECT_EQ(line.find(L"Refused:"), std::wstring::npos) << line;

    // Complete: every file the uninstall log names is there, the key is the
    // new version's, and nothing is left to recover.
    UninstallLog log;
    log.read((installFolder + L"\\Uninstall.ulog").c_str());
    std::size_t files = 0;
    for (const LogEntry& e : log.previousEntries())
        if (e.kind == InstalledFile && e.done && test::fileExists(e.path)) ++files;
    EXPECT_EQ(files, 27u);
    EXPECT_EQ(test::regString(HKEY_LOCAL_MACHINE, ProductKey, L"DisplayVersion"), L"6.4.0.2");
    EXPECT_EQ(test::regString(HKEY_LOCAL_MACHINE, L"Software\\Orvane Systems", L"Quorvex 6 Unfinished Run"),
              std::nullopt);
}

TEST_F(Interrupted, AnUnfinishedRunThatMustWaitIsSaidAtStartUp)
{
    // The killed reinstallation's new program held open (without leave to
    // delete) by another process: its earlier version cannot go back yet.
    // A silent start says so at once with its own code; the wizard says so
    // on its first page; once the file is free the next start puts the
    // earlier files back and installs.
    ASSERT_EQ(runToEnd(installer, L"/VERYSILENT"), Installed);
    ASSERT_TRUE(::DeleteFileW(wordList.c_str()));
    killedAt(L"WritingDataFile");
    const std::wstring program = installFolder + L"\\Trimora.exe";
    UniqueFile held(::CreateFileW(program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);

    constexpr DWORD unfinishedRun = 1604;
    EXPECT_EQ(runToEnd(installer, L"/VERYSILENT /LOG=C:\\held.log"), unfinishedRun);
    const std::vector<std::wstring> silent = runLogLines(L"C:\\held.log");
    EXPECT_TRUE(containsInOrder(silent, {L"Recovery: NOT everything could be put back: *",
                                         L"Refused: the recovery of an earlier run that did not end is not finished*",
                                         L"Exit code: 1604"}))
        << testing::PrintToString(silent);
    for (const std::wstring& line : silent) EXPECT_NE(line.rfind(L"Detected:", 0), 0u) << "said before detection";

    {
        test::WizardDriver wizard(installer, {}, L"/LOG=C:\\wizard.log");
        ASSERT_TRUE(wizard.frame()) << "the wizard did not open";
        ASSERT_TRUE(wizard.waitForPage(test::WizardPage::Start));
        EXPECT_EQ(wizard.text(IDC_INFO).rfind(L"An earlier Installation of '", 0), 0u) << wizard.text(IDC_INFO);
        ASSERT_TRUE(wizard.next(test::WizardPage::Mode));
        wizard.click(IDCANCEL);
        const HWND box = wizard.waitForBox();
        ASSERT_TRUE(box);
        wizard.answer(box, IDYES);
        EXPECT_EQ(wizard.waitExit(), Cancelled);
    }

    held.reset();
    ASSERT_EQ(runToEnd(installer, L"/VERYSILENT /LOG=C:\\freed.log"), Installed);
    EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\freed.log"),
                                {L"Recovery: Rollback: file " + program + L": earlier file restored",
                                 L"Recovery: done", L"Outcome: installed"}));
}

}  // namespace
}  // namespace qv
