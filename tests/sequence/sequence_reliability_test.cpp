// The install sequence when the machine does not let it do what it must:
// a file it is to replace held open by another process, a new file held
// during the rollback, a backup volume that is full, a journal that cannot
// be written, an uninstall log that cannot be put in place. What the run
// could not change is left exactly as it was, attributes included; an
// earlier file that could not be put back is never forgotten; a run never
// ends as installed without its uninstall log.

#include "SequenceFixture.h"
#include "engine/InstallRun.h"
#include "sys/LogFile.h"
#include "uninstall/RunRecovery.h"
#include "support/MachineSnapshot.h"
#include "support/RunLogLines.h"
#include "support/TestFiles.h"
#include "support/UnixSide.h"
#include "uninstall/RecoveryMarker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

namespace qv {
namespace {

using test::containsInOrder;
using test::MachineSnapshot;
using ::testing::Contains;
using ::testing::IsEmpty;
using ::testing::SizeIs;

bool markerLeft()
{
    MarkerContent content;
    std::wstring raw;
    return RecoveryMarker::read(content, raw) == RecoveryMarker::State::Found;
}

class Reliability : public Sequence {
protected:
    // The temporary folder, and so the run folder with its backups and
    // journal, on a volume of its own (tests/reliability/other-volume.sh)
    // mapped as drive T:.
    void temporaryFolderOnTheOtherVolume()
    {
        const std::string volume = test::otherVolumeFolder();
        ASSERT_FALSE(volume.empty()) << "run through tests/reliability/other-volume.sh";
        ASSERT_TRUE(test::mapDriveLetter(L'T', volume));
        ASSERT_TRUE(::CreateDirectoryW(L"T:\\Temp", nullptr));
        ::SetEnvironmentVariableW(L"TMP", L"T:\\Temp");
        ::SetEnvironmentVariableW(L"TEMP", L"T:\\Temp");
    }
};

TEST_F(Reliability, ProgramHeldOpenOnAnUpdateStaysAsItWasReadOnlyIncluded)
{
    // Another process reads the earlier program and lets nobody move or
    // write it: it can be neither backed up nor replaced.
    setUpEarlierInstallation("the earlier program", L"Trimora 6.03");
    const std::wstring program = installPath + L"\\Trimora.exe";
    auto app = startApp();
    const MachineSnapshot before = MachineSnapshot::take();
    UniqueFile held(::CreateFileW(program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_FALSE(install(*app, payload));
    held.reset();

    ASSERT_FALSE(display.lines().empty());
    EXPECT_EQ(display.lines().back(), copyingFileText(program) + L"Failed");
    EXPECT_EQ(test::readFileBytes(program), "the earlier program");
    EXPECT_TRUE(attributesOf(program) & FILE_ATTRIBUTE_READONLY);
    EXPECT_THAT(test::diff(before, MachineSnapshot::take()), IsEmpty());
    EXPECT_THAT(backupsLeft(), IsEmpty());
}

// The new file held open (no delete sharing) while a failed run is rolled
// back: the earlier file cannot go back yet. It waits in the run folder with
// the journal and its marker, the run fails, and the next start puts it back.
TEST_F(Reliability, EarlierFileThatCannotGoBackWaitsForTheNextStart)
{
    setUpEarlierInstallation("the earlier program", L"Trimora 6.03");
    const std::wstring german = installPath + L"\\Lang\\Trimora_de.dll";
    auto app = startApp();
    const MachineSnapshot before = MachineSnapshot::take();
    // The French library fails its checksum, after the German one is in.
    std::vector<TestEntry> entries = payload;
    entries[4].crc = 0x12345678;
    UniqueFile held;
    display.onStatus = [&](const std::wstring& status) {
        if (!held && status.find(L"Trimora_fr.dll") != std::wstring::npos)
            held.reset(::CreateFileW(german.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    };
    const std::wstring logPath = L"C:\\held run.log";
    DWORD error = 0;
    app->runLog = LogFile::openNamed(logPath, error);
    ASSERT_TRUE(app->runLog) << error;
    const std::string packed = test::bzip2(test::rawArchive(entries));
    const ArchiveSource source = [packed] { return std::make_unique<std::istringstream>(packed); };
    EXPECT_FALSE(runInstallation(*app, display, target, source));
    ASSERT_TRUE(held) << "the German library was not written";
    EXPECT_EQ(app->lastOutcome, InstallOutcome::FailedPartlyRolledBack);
    // A run started before that start: refused, and said so.
    EXPECT_FALSE(runInstallation(*app, display, target, source));
    EXPECT_EQ(app->lastOutcome, InstallOutcome::RefusedUnfinishedRun);
    app->runLog.reset();
    const std::vector<std::wstring> logged = test::runLogLines(logPath);
    EXPECT_TRUE(containsInOrder(logged, {L"Outcome: failed; NOT everything this run changed could be rolled back*",
                                         L"Outcome: not started: an earlier installation run that did not end must "
                                         L"be finished first; nothing was changed"}))
        << testing::PrintToString(logged);
    for (const std::wstring& line : logged)
        EXPECT_EQ(line.find(L"everything this run changed was rolled back"), std::wstring::npos) << line;

    EXPECT_EQ(test::readFileBytes(german), "german 6.4");
    const std::vector<std::wstring> backups = backupsLeft();
    ASSERT_THAT(backups, SizeIs(1));
    EXPECT_EQ(test::readFileBytes(backups[0]), "german old");
    EXPECT_TRUE(markerLeft());
    EXPECT_TRUE(containsInOrder(logged, {L"Rollback: file " + german + L": NOT restored, the earlier file is "
                                                                      L"still in " + backups[0],
                                         L"Rollback: INCOMPLETE*"}))
        << testing::PrintToString(logged);

    // The next start, once nothing holds the file any more.
    held.reset();
    std::vector<std::wstring> recovered;
    EXPECT_TRUE(RunRecovery([&](const std::wstring& line) { recovered.push_back(line); }, nullptr).recover());
    EXPECT_EQ(test::readFileBytes(german), "german old");
    EXPECT_FALSE(markerLeft());
    EXPECT_THAT(backupsLeft(), IsEmpty());
    EXPECT_THAT(test::diff(before, MachineSnapshot::take()), IsEmpty()) << testing::PrintToString(recovered);
}

// A run whose uninstall log cannot be put in place (a folder of that name)
// would leave an installation nothing can remove: it is rolled back as a
// whole, the program's registrations included, and fails.
TEST_F(Reliability, UninstallLogThatCannotBeWrittenRollsTheRunBack)
{
    const std::wstring log = installPath + L"\\Uninstall.ulog";
    std::filesystem::create_directories(log);
    auto app = startApp();
    const MachineSnapshot before = MachineSnapshot::take();
    EXPECT_FALSE(install(*app, payload));

    EXPECT_THAT(display.lines(), Contains(L"Installation Data Writing...Failed"));
    EXPECT_THAT(display.notes, Contains(L"The run stops and is rolled back: the uninstall log could not be put in "
                                        L"place"));
    EXPECT_EQ(recorded(L"Unregistered"), installPath + L"\\Trimora.exe");
    EXPECT_FALSE(markerLeft());
    EXPECT_THAT(test::diff(before, MachineSnapshot::take()), IsEmpty());
}

// The earlier file cannot be saved (its backup's volume is full): it is not
// overwritten; the run fails there and is rolled back.
TEST_F(Reliability, BackupVolumeFullLeavesTheEarlierFileAndFails)
{
    temporaryFolderOnTheOtherVolume();
    setUpEarlierInstallation("the earlier program", L"Trimora 6.03");
    const std::wstring uninstaller = installPath + L"\\Uninstall.exe";
    const std::string earlier(3 * 1024 * 1024, 'u');  // more than the volume holds
    ::SetFileAttributesW(uninstaller.c_str(), FILE_ATTRIBUTE_NORMAL);
    test::writeFileBytes(uninstaller, earlier);
    ::SetFileAttributesW(uninstaller.c_str(), FILE_ATTRIBUTE_READONLY);
    auto app = startApp();
    const MachineSnapshot before = MachineSnapshot::take();
    EXPECT_FALSE(install(*app, payload));

    EXPECT_EQ(display.lines().back(), copyingFileText(uninstaller) + L"Failed");
    EXPECT_TRUE(test::readFileBytes(uninstaller) == earlier);
    EXPECT_FALSE(markerLeft());
    EXPECT_THAT(backupsLeft(), IsEmpty());
    EXPECT_THAT(test::diff(before, MachineSnapshot::take()), IsEmpty());
}

// Without its journal on disk a run would have nothing to undo it after a
// crash: it does not start changing the machine.
TEST_F(Reliability, JournalThatCannotBeWrittenStartsNothing)
{
    temporaryFolderOnTheOtherVolume();
    // The volume full to its last byte: folders and empty files can still
    // be made there, no byte written.
    UniqueFile filler(::CreateFileW(L"T:\\filler", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(filler);
    const std::string block(64 * 1024, 'f');
    for (DWORD written = 1; written > 0;)
        if (!::WriteFile(filler.get(), block.data(), DWORD(block.size()), &written, nullptr)) break;
    for (DWORD written = 1; written > 0;)
        if (!::WriteFile(filler.get(), block.data(), 1, &written, nullptr)) break;
    filler.reset();

    auto app = startApp();
    const MachineSnapshot before = MachineSnapshot::take();
    EXPECT_FALSE(install(*app, payload));
    ASSERT_THAT(display.notes, SizeIs(1));
    EXPECT_TRUE(display.notes[0].starts_with(L"Nothing was changed: the journal T:\\Temp\\orvane_{") &&
                display.notes[0].ends_with(L"\\run.qvj could not be created"))
        << testing::PrintToString(display.notes);
    EXPECT_FALSE(markerLeft());
    EXPECT_FALSE(exists(installPath));
    EXPECT_THAT(test::diff(before, MachineSnapshot::take()), IsEmpty());
}

}  // namespace
}  // namespace qv
