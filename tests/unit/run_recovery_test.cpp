// The recovery of an unfinished run against Wine's real file system and
// registry: journals written as a run writes them (RecoveryJournal, its
// marker), then RunRecovery as the next start runs it. What it rolls back,
// what it completes, and what it refuses to act on when the marker or the
// journal is not what the run left.

#include "uninstall/RunRecovery.h"

#include "lang/Languages.h"
#include "sys/Crc32.h"
#include "identity/Product.h"
#include "engine/TemporaryFiles.h"
#include "support/ArchiveTestSupport.h"
#include "support/ProductTestSupport.h"
#include "support/RunLogLines.h"
#include "support/TestFiles.h"
#include "support/WindowDriver.h"
#include "sys/Handles.h"
#include "sys/RunFolder.h"
#include "uninstall/RecoveryJournal.h"
#include "uninstall/RecoveryMarker.h"
#include "uninstall/RunFolderName.h"
#include "uninstall/UninstallLog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <optional>

namespace qv {
namespace {

using test::containsInOrder;
using test::readFileBytes;
using test::writeFileBytes;

const std::wstring install = L"C:\\QvRecovery\\Trimora 6";
const std::wstring menu = L"C:\\QvRecovery\\Menu";
const std::wstring victim = L"C:\\Victim\\precious.dll";
constexpr wchar_t RecordName[] = L"Quorvex 6 Path";

bool exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

JournalRecord record(JournalRecordType type, const std::wstring& path = {}, const std::wstring& other = {},
                     std::uint8_t flags = 0, std::uint32_t number = 0)
{
    JournalRecord r(type, path, flags, number);
    r.other = other;
    return r;
}

// A run folder with a journal and its marker, as a run leaves them when its
// process ends.
class Unfinished {
public:
    Unfinished()
    {
        std::wstring error;
        std::optional<RunFolder> made = makeRunFolder(error);
        EXPECT_TRUE(made) << error;
        folder.emplace(std::move(*made));
        journal = RecoveryJournal::create(*folder);
        EXPECT_TRUE(journal);
        JournalRecord started(JournalRecordType::RunStarted, install);
        started.other = menu;
        started.third = folder->path();
        journal->append(started);
        marker.folder = identityOf(folder->identity());
        marker.journal = identityOf(journal->identity());
        marker.journalPath = journal->path();
    }

    std::wstring backupName() const { return folder->freshFileName(L"ov"); }

    // The marker set, and the process gone: nothing of it pins the folder
    // any more, which stays with the journal in it.
    void end()
    {
        EXPECT_TRUE(RecoveryMarker::set(marker));
        journal.reset();
        folderPath = folder->path();
        folder.reset();
    }

    std::optional<RunFolder> folder;
    std::unique_ptr<RecoveryJournal> journal;
    MarkerContent marker;
    std::wstring folderPath;
};

class RunRecoveryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setLanguage(EnglishLanguage);
        test::makeFolders(install + L"\\Lang");
        test::makeFolders(L"C:\\Victim");
        writeFileBytes(victim, "not the installation's");
    }

    bool recover()
    {
        RunRecovery recovery([this](const std::wstring& line) { lines.push_back(line); }, nullptr);
        return recovery.recover();
    }

    bool markerLeft() const
    {
        MarkerContent content;
        std::wstring raw;
        return RecoveryMarker::read(content, raw) != RecoveryMarker::State::None;
    }

    std::vector<std::wstring> lines;
};

TEST_F(RunRecoveryTest, NoMarkerNoRecoveryAndNothingLogged)
{
    EXPECT_FALSE(recover());
    EXPECT_TRUE(lines.empty());
}

TEST_F(RunRecoveryTest, RollBackPutsBackWhatWasMovedAndLeavesWhatNeverWas)
{
    Unfinished run;
    const std::wstring replaced = install + L"\\Trimora.exe";      // moved to its backup, new file written
    const std::wstring neverMoved = install + L"\\Uninstall.exe";  // ended before its backup was taken
    const std::wstring unsaved = install + L"\\Lang\\Trimora_de.dll";  // could not be saved, not written
    const std::wstring created = install + L"\\Lang\\Trimora_en.dll";   // new, in a new folder
    const std::wstring halfWritten = install + L"\\Lang\\Trimora_it.dll";
    const std::wstring staging = install + L"\\Lang\\~qv0123456789abcdef";

    const std::wstring backup = run.backupName();
    writeFileBytes(backup, "earlier program");
    ::SetFileAttributesW(backup.c_str(), FILE_ATTRIBUTE_READONLY);
    writeFileBytes(replaced, "new program");
    writeFileBytes(neverMoved, "earlier uninstaller");
    writeFileBytes(unsaved, "earlier german");
    ::SetFileAttributesW(unsaved.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    const DWORD unsavedAttributes = ::GetFileAttributesW(unsaved.c_str());
    test::makeFolders(install + L"\\Lang\\New");
    writeFileBytes(install + L"\\Lang\\New\\Trimora_en.dll", "new english");
    writeFileBytes(staging, "half of it");
    test::setRegString(HKEY_LOCAL_MACHINE, MakerKeyPath, RecordName, install + L"\\Trimora.exe");

    using T = JournalRecordType;
    namespace f = journal_flags;
    run.journal->append(record(T::FileRecorded, replaced, backup, f::FileExisted, 1));
    run.journal->append(record(T::Settled, {}, {}, f::Done));
    run.journal->append(record(T::FileRecorded, neverMoved, run.backupName(), f::FileExisted, 2));
    run.journal->append(record(T::FileRecorded, unsaved, run.backupName(), f::FileExisted, 0));
    run.journal->append(record(T::BackupFailed));
    run.journal->append(record(T::Settled));
    run.journal->append(record(T::FolderCreating, install + L"\\Lang\\New"));
    run.journal->append(record(T::FileRecorded, install + L"\\Lang\\New\\Trimora_en.dll", {}, 0, 0));
    run.journal->append(record(T::Settled, {}, {}, f::Done));
    run.journal->append(record(T::FileRecorded, halfWritten, {}, 0, 0));
    run.journal->append(record(T::Staging, halfWritten, staging));
    JournalRecord earlierRecord(T::InstallationRecord, {}, f::RecordExisted, REG_SZ);
    const std::wstring earlierProgram = L"C:\\Old\\Trimora.exe";
    earlierRecord.data.assign(reinterpret_cast<const BYTE*>(earlierProgram.c_str()),
                              reinterpret_cast<const BYTE*>(earlierProgram.c_str() + earlierProgram.size() + 1));
    run.journal->append(earlierRecord);
    (void)created;
    run.end();

    ASSERT_TRUE(recover());
    EXPECT_EQ(readFileBytes(replaced), "earlier program");
    EXPECT_TRUE(::GetFileAttributesW(replaced.c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(readFileBytes(neverMoved), "earlier uninstaller");
    EXPECT_EQ(readFileBytes(unsaved), "earlier german");
    EXPECT_EQ(::GetFileAttributesW(unsaved.c_str()), unsavedAttributes);
    EXPECT_FALSE(exists(install + L"\\Lang\\New"));
    EXPECT_FALSE(exists(staging));
    EXPECT_FALSE(exists(halfWritten));
    EXPECT_EQ(test::regString(HKEY_LOCAL_MACHINE, MakerKeyPath, RecordName), earlierProgram);
    EXPECT_FALSE(markerLeft());
    EXPECT_FALSE(exists(run.folderPath));
    EXPECT_TRUE(containsInOrder(lines, {L"Recovery: an earlier installation run did not end; its journal: " +
                                            run.marker.journalPath,
                                        L"Recovery: deleted " + staging + L", the part written of " + halfWritten,
                                        L"Recovery: rolling the run back",
                                        L"Recovery: Rollback: file " + unsaved + L": left as it was*",
                                        L"Recovery: Rollback: file " + replaced + L": earlier file restored",
                                        L"Recovery: installation record put back as it was",
                                        L"Recovery: run folder " + run.folderPath + L" removed",
                                        L"Recovery: done"}));
}

TEST_F(RunRecoveryTest, RunPastItsCommitIsCompletedNotUndone)
{
    // Every change made, the new log written whole under its temporary
    // name: the process ended before it took the log's name.
    Unfinished run;
    const std::wstring program = install + L"\\Trimora.exe";
    const std::wstring log = install + L"\\Uninstall.ulog";
    const std::wstring staged = install + L"\\~qv00112233aabbccdd";
    const std::wstring backup = run.backupName();
    writeFileBytes(backup, "earlier program");
    writeFileBytes(program, "new program");
    writeFileBytes(log, "earlier log");
    ::SetFileAttributesW(log.c_str(), FILE_ATTRIBUTE_READONLY);
    writeFileBytes(staged, "new log");

    using T = JournalRecordType;
    run.journal->append(record(T::FileRecorded, program, backup, journal_flags::FileExisted, 1));
    run.journal->append(record(T::Settled, {}, {}, journal_flags::Done));
    run.journal->append(record(T::Staging, log, staged));
    run.journal->append(record(T::Committed, log, staged));
    run.end();

    ASSERT_TRUE(recover());
    EXPECT_EQ(readFileBytes(program), "new program");
    EXPECT_EQ(readFileBytes(log), "new log");
    // Wine keeps read-only and archive but drops not-content-indexed.
    EXPECT_EQ(::GetFileAttributesW(log.c_str()),
              kUninstallLogAttributes & ~(test::runningUnderWine() ? FILE_ATTRIBUTE_NOT_CONTENT_INDEXED : 0));
    EXPECT_FALSE(exists(staged));
    EXPECT_FALSE(exists(backup));
    EXPECT_FALSE(markerLeft());
    EXPECT_FALSE(exists(run.folderPath));
    EXPECT_TRUE(containsInOrder(lines, {L"Recovery: the run had made every change: it is completed",
                                        L"Recovery: uninstall log " + log + L" put in place",
                                        L"Recovery: backup " + backup + L" deleted", L"Recovery: done"}))
        << testing::PrintToString(lines);
}

// A marker or journal that is not what the run left (a temporary folder
// users can write, a folder swapped since, a damaged value) is never acted
// on: the victim a record names stays, and the marker goes so that later
// starts are not stopped by it.
TEST_F(RunRecoveryTest, MarkersAndJournalsThatAreNotTheRunsAreNeverActedOn)
{
    struct Case {
        const char* name;
        std::function<void(Unfinished&)> tamper;
        std::wstring says;
    };
    using T = JournalRecordType;
    const std::vector<Case> cases = {
        {"another folder under the run folder's name",
         [](Unfinished& run) { run.marker.folder.index ^= 1; },
         L"Recovery: refused: the folder is not the one the run made*"},
        {"another journal file",
         [](Unfinished& run) { run.marker.journal.index ^= 1; },
         L"Recovery: refused: the journal is not the one the run wrote*"},
        {"a journal outside any run folder",
         [](Unfinished& run) { run.marker.journalPath = L"C:\\Victim\\run.qvj"; },
         L"Recovery: the marker names no journal of a run folder: nothing rolled back, the marker is removed"},
        {"records naming what is not the installation's",
         [](Unfinished& run) {
             run.journal->append(record(T::FileRecorded, victim, {}, 0, 0));
             run.journal->append(record(T::FolderCreating, L"C:\\Victim"));
             run.journal->append(record(T::FileRecorded, install + L"\\Trimora.exe", L"C:\\Victim\\precious.dll",
                                        journal_flags::FileExisted, 1));
             run.journal->append(record(T::Staging, install + L"\\Trimora.exe", victim));
         },
         L"Recovery: left alone: " + victim + L" is nothing this installation writes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        lines.clear();
        {
            Unfinished run;
            c.tamper(run);
            run.end();
            ASSERT_TRUE(recover());
        }
        EXPECT_EQ(readFileBytes(victim), "not the installation's");
        EXPECT_FALSE(markerLeft());
        EXPECT_TRUE(containsInOrder(lines, {c.says})) << testing::PrintToString(lines);
    }

    // A value that is no marker of ours is removed, nothing else done.
    test::setRegDword(HKEY_LOCAL_MACHINE, MakerKeyPath, RecoveryMarker::valueName().c_str(), 1);
    lines.clear();
    EXPECT_TRUE(recover());
    EXPECT_FALSE(markerLeft());
    EXPECT_TRUE(containsInOrder(lines, {L"Recovery: the marker of an unfinished run is no marker of this installer*"}));
    EXPECT_EQ(readFileBytes(victim), "not the installation's");
}

// A file that cannot be put back (the new one held open without delete
// sharing) is never forgotten: its backup, the journal and the marker stay,
// and the next start puts it back.
TEST_F(RunRecoveryTest, AHeldFileWaitsAndTheNextStartPutsItBack)
{
    Unfinished run;
    const std::wstring replaced = install + L"\\Trimora.exe";
    const std::wstring backup = run.backupName();
    writeFileBytes(backup, "earlier program");
    writeFileBytes(replaced, "new program");
    run.journal->append(record(JournalRecordType::FileRecorded, replaced, backup, journal_flags::FileExisted, 1));
    run.journal->append(record(JournalRecordType::Settled, {}, {}, journal_flags::Done));
    run.end();

    {
        UniqueFile held(::CreateFileW(replaced.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
        ASSERT_TRUE(held);
        ASSERT_TRUE(recover());
        EXPECT_EQ(readFileBytes(backup), "earlier program");
        EXPECT_TRUE(markerLeft());
        EXPECT_TRUE(exists(run.marker.journalPath));
        EXPECT_TRUE(containsInOrder(
            lines, {L"Recovery: Rollback: file " + replaced + L": NOT restored, the earlier file is still in " + backup,
                    L"Recovery: NOT everything could be put back*"}))
            << testing::PrintToString(lines);
    }
    lines.clear();
    ASSERT_TRUE(recover());
    EXPECT_EQ(readFileBytes(replaced), "earlier program");
    EXPECT_FALSE(markerLeft());
    EXPECT_FALSE(exists(run.folderPath));
    EXPECT_TRUE(containsInOrder(lines, {L"Recovery: Rollback: file " + replaced + L": earlier file restored",
                                        L"Recovery: done"}));
}

// What the journal cannot tell (its run folder cleaned away), or what a
// newer installer wrote, is not dropped: the marker stays, and the start
// says why.
TEST_F(RunRecoveryTest, AVanishedRunFolderOrANewerFormatKeepsTheMarker)
{
    {
        Unfinished run;
        run.end();
        ASSERT_TRUE(::DeleteFileW(run.marker.journalPath.c_str()));
        ASSERT_TRUE(::RemoveDirectoryW(run.folderPath.c_str()));
        ASSERT_TRUE(recover());
        EXPECT_TRUE(markerLeft());
        EXPECT_TRUE(containsInOrder(lines, {L"Recovery: the run folder " + run.folderPath +
                                            L" is gone (a cleaned temporary folder?): the run can NOT be rolled "
                                            L"back; the marker stays*"}))
            << testing::PrintToString(lines);
        RecoveryMarker::clear(false);
    }
    {
        Unfinished run;
        run.end();
        // The journal's version, after its four-byte magic: a later one.
        UniqueFile journal(::CreateFileW(run.marker.journalPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                         nullptr));
        ASSERT_TRUE(journal);
        ::SetFilePointer(journal.get(), 4, nullptr, FILE_BEGIN);
        const std::uint32_t version = 2;
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(journal.get(), &version, sizeof version, &written, nullptr));
        journal.reset();
        lines.clear();
        ASSERT_TRUE(recover());
        EXPECT_TRUE(markerLeft());
        EXPECT_TRUE(exists(run.marker.journalPath));
        EXPECT_TRUE(containsInOrder(lines, {L"Recovery: the journal is of a newer installer (version 2)*"}));
        RecoveryMarker::clear(false);
    }
    const std::wstring newer = L"2|c|whatever a newer installer writes";
    test::setRegString(HKEY_LOCAL_MACHINE, MakerKeyPath, RecoveryMarker::valueName().c_str(), newer);
    lines.clear();
    ASSERT_TRUE(recover());
    EXPECT_EQ(test::regString(HKEY_LOCAL_MACHINE, MakerKeyPath, RecoveryMarker::valueName().c_str()), newer);
    EXPECT_TRUE(containsInOrder(lines, {L"Recovery: the marker of an unfinished run was written by a newer installer*"}));
}

// A registration run that outlived its installer still holds the program
// and may still write its registrations: the recovery waits for it to end
// before it undoes anything.
TEST_F(RunRecoveryTest, ARegistrationRunStillRunningEndsBeforeTheRollback)
{
    Unfinished run;
    const std::wstring program = install + L"\\Trimora.exe";
    ASSERT_TRUE(::CopyFileW((test::executableFolder() + L"instance_helper.exe").c_str(), program.c_str(), FALSE));
    run.journal->append(record(JournalRecordType::FileRecorded, program, {}, 0, 1));
    run.journal->append(record(JournalRecordType::Settled, {}, {}, journal_flags::Done));
    run.journal->append(record(JournalRecordType::RegistrationRun, program, {}, 0, fileCrc(program)));
    run.end();
    test::ChildProcess registration(L"\"" + program + L"\" Quorvex6RecoveryTest sleep:3000");
    ASSERT_TRUE(registration.started());

    ASSERT_TRUE(recover());
    EXPECT_EQ(::WaitForSingleObject(registration.handle(), 0), WAIT_OBJECT_0) << "the run still runs";
    EXPECT_FALSE(exists(program));
    EXPECT_FALSE(markerLeft());
    EXPECT_TRUE(containsInOrder(lines, {L"Recovery: waited for 1 run(s) of " + program + L"*"}))
        << testing::PrintToString(lines);
}

// The identity a run journals of the earlier file it moves away.
std::wstring identityText(const std::wstring& path)
{
    UniqueFile file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    EXPECT_TRUE(file && ::GetFileInformationByHandle(file.get(), &info));
    return earlierFileText(info.dwVolumeSerialNumber,
                           static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow);
}

// A backup that is no longer in the run folder is put back only when the
// file at its place is the one it held (an earlier start put it back);
// otherwise the earlier version is lost, said so, and nothing waits for it.
TEST_F(RunRecoveryTest, ABackupGoneFromTheRunFolderIsNeverCountedPutBack)
{
    Unfinished run;
    const std::wstring lost = install + L"\\Trimora.exe";         // backup deleted, the new file there
    const std::wstring putBack = install + L"\\Uninstall.exe";    // put back by an earlier start
    writeFileBytes(lost, "new program");
    writeFileBytes(putBack, "earlier uninstaller");
    using T = JournalRecordType;
    JournalRecord lostRecord = record(T::FileRecorded, lost, run.backupName(), journal_flags::FileExisted, 1);
    run.journal->append(lostRecord);
    run.journal->append(record(T::Settled, {}, {}, journal_flags::Done));
    JournalRecord putBackRecord = record(T::FileRecorded, putBack, run.backupName(), journal_flags::FileExisted, 2);
    putBackRecord.third = identityText(putBack);
    run.journal->append(putBackRecord);
    run.journal->append(record(T::Settled, {}, {}, journal_flags::Done));
    run.end();

    ASSERT_TRUE(recover());
    EXPECT_EQ(readFileBytes(putBack), "earlier uninstaller");
    EXPECT_FALSE(markerLeft()) << "nothing brings a lost backup back: the run is let go";
    EXPECT_FALSE(exists(run.folderPath));
    EXPECT_TRUE(containsInOrder(
        lines, {L"Recovery: Rollback: file " + putBack + L": earlier file restored",
                L"Recovery: Rollback: file " + lost + L": NOT restored: its backup " + lostRecord.other +
                    L" is no longer in the run folder*",
                L"Recovery: NOT everything could be put back, and waiting would not change that: the run is let go*",
                L"Recovery: LOST: " + lost + L": its earlier version is gone*", L"Recovery: done"}))
        << testing::PrintToString(lines);
    for (const std::wstring& line : lines) EXPECT_EQ(line.find(L"LOST: " + putBack), std::wstring::npos) << line;
}

// The installation folder deleted by hand after the run ended is made
// again for the earlier files the run replaced; an earlier data file whose
// place a user filled with a folder is kept in a folder of its own, and the
// run is let go at once.
TEST_F(RunRecoveryTest, AFolderDeletedAfterTheRunIsMadeAgainAndWhatCannotGoBackIsKept)
{
    Unfinished run;
    const std::wstring replaced = install + L"\\Lang\\Trimora_de.dll";
    const std::wstring dataFolder = test::shellFolder(CSIDL_COMMON_APPDATA) + L"\\Orvane Systems\\Quorvex";
    const std::wstring wordList = dataFolder + L"\\Words_de.qwl";
    const std::wstring programBackup = run.backupName();
    writeFileBytes(programBackup, "earlier german");
    const std::wstring wordsBackup = run.backupName();
    writeFileBytes(wordsBackup, "earlier words");
    using T = JournalRecordType;
    run.journal->append(record(T::FileRecorded, replaced, programBackup, journal_flags::FileExisted, 1));
    run.journal->append(record(T::Settled, {}, {}, journal_flags::Done));
    run.journal->append(record(T::FileRecorded, wordList, wordsBackup, journal_flags::FileExisted, 3));
    run.journal->append(record(T::Settled, {}, {}, journal_flags::Done));
    run.end();
    test::deleteTreeByHand(install);
    ASSERT_FALSE(exists(install));
    test::makeFolders(wordList);  // a folder where the earlier data file goes back

    ASSERT_TRUE(recover());
    EXPECT_EQ(readFileBytes(replaced), "earlier german");
    EXPECT_FALSE(markerLeft());
    EXPECT_FALSE(exists(run.marker.journalPath));
    std::wstring keptAs;
    const std::wstring keptLine = L"Recovery: LOST: " + wordList + L": its earlier version could not be put back; it is kept as ";
    for (const std::wstring& line : lines)
        if (line.rfind(keptLine, 0) == 0) keptAs = line.substr(keptLine.size());
    ASSERT_FALSE(keptAs.empty()) << testing::PrintToString(lines);
    EXPECT_EQ(readFileBytes(keptAs), "earlier words");
    EXPECT_EQ(keptAs.substr(keptAs.rfind(L'\\') + 1), L"Words_de.qwl");
    EXPECT_TRUE(containsInOrder(
        lines, {L"Recovery: the folder " + install + L" was gone: made again*",
                L"Recovery: the folder " + install + L"\\Lang was gone: made again*",
                L"Recovery: Rollback: file " + replaced + L": earlier file restored",
                L"Recovery: NOT everything could be put back, and waiting would not change that*", keptLine + L"*",
                L"Recovery: the earlier files above are kept in *",
                L"Recovery: LOST: what " + install + L" held besides the files put back above*",
                L"Recovery: done"}))
        << testing::PrintToString(lines);
    ::RemoveDirectoryW(wordList.c_str());
}

// A new file held open may be free after a restart: the run waits for the
// next starts, and the third lets it go, the earlier file kept.
TEST_F(RunRecoveryTest, AFileHeldAtEveryStartIsLetGoAtTheThird)
{
    Unfinished run;
    const std::wstring replaced = install + L"\\Trimora.exe";
    const std::wstring backup = run.backupName();
    writeFileBytes(backup, "earlier program");
    writeFileBytes(replaced, "new program");
    run.journal->append(record(JournalRecordType::FileRecorded, replaced, backup, journal_flags::FileExisted, 1));
    run.journal->append(record(JournalRecordType::Settled, {}, {}, journal_flags::Done));
    run.end();
    UniqueFile held(::CreateFileW(replaced.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);

    for (unsigned start = 1; start < kStartsBeforeLettingGo; ++start) {
        lines.clear();
        ASSERT_TRUE(recover());
        EXPECT_TRUE(markerLeft());
        const std::wstring waits = L"(start " + std::to_wstring(start) + L" of 3;";
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::wstring& line) {
            return line.rfind(L"Recovery: NOT everything could be put back: ", 0) == 0 &&
                   line.find(waits) != std::wstring::npos;
        })) << testing::PrintToString(lines);
    }
    lines.clear();
    ASSERT_TRUE(recover());
    EXPECT_FALSE(markerLeft());
    EXPECT_EQ(readFileBytes(replaced), "new program");
    const std::wstring keptLine = L"Recovery: LOST: " + replaced + L": its earlier version could not be put back; it is kept as ";
    EXPECT_TRUE(containsInOrder(lines, {keptLine + L"*", L"Recovery: done"})) << testing::PrintToString(lines);
    for (const std::wstring& line : lines)
        if (line.rfind(keptLine, 0) == 0) EXPECT_EQ(readFileBytes(line.substr(keptLine.size())), "earlier program");
}

// A run killed at its first flushes, before its marker existed, changed
// nothing and leaves its run folder, empty or with a journal that announces
// nothing: the next start removes it, and nothing else of the temporary
// folder.
TEST_F(RunRecoveryTest, RunFoldersOfRunsThatChangedNothingGoAndEverythingElseStays)
{
    const std::wstring base = temporaryBase(false);
    const std::wstring empty = base + newRunFolderName();
    const std::wstring holding = base + newRunFolderName();
    const std::wstring otherName = base + L"orvane_kept";
    for (const std::wstring& folder : {empty, holding, otherName}) ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    writeFileBytes(holding + L"\\Uninstall.exe", "a clean-up copy");
    std::wstring started, announced;
    for (std::wstring* path : {&started, &announced}) {
        std::wstring error;
        std::optional<RunFolder> folder = makeRunFolder(error);
        ASSERT_TRUE(folder) << error;
        std::unique_ptr<RecoveryJournal> journal = RecoveryJournal::create(*folder);
        ASSERT_TRUE(journal);
        JournalRecord runStarted(JournalRecordType::RunStarted, install);
        runStarted.third = folder->path();
        journal->append(runStarted);
        if (path == &announced) journal->append(record(JournalRecordType::FolderCreating, install + L"\\New"));
        journal->keep();
        *path = folder->path();
    }

    RunRecovery recovery([this](const std::wstring& line) { lines.push_back(line); }, nullptr);
    recovery.removeRunFoldersWithoutChanges(base);
    EXPECT_FALSE(exists(empty));
    EXPECT_FALSE(exists(started));
    EXPECT_TRUE(exists(announced + L"\\run.qvj")) << "a journal that announced a change stays";
    EXPECT_TRUE(exists(holding + L"\\Uninstall.exe"));
    EXPECT_TRUE(exists(otherName));
    EXPECT_TRUE(containsInOrder(lines, {L"Recovery: run folder " + empty + L" removed*"})) << testing::PrintToString(lines);
    EXPECT_TRUE(containsInOrder(lines, {L"Recovery: run folder " + started + L" removed*"}))
        << testing::PrintToString(lines);
}

TEST(RecoveryJournalFormat, ARecordCutOffOrDamagedEndsTheJournalThere)
{
    std::vector<JournalRecord> written = {record(JournalRecordType::RunStarted, L"C:\\A", L"C:\\M"),
                                          record(JournalRecordType::FolderCreating, L"C:\\A\\B"),
                                          record(JournalRecordType::FileRecorded, L"C:\\A\\B\\c.dll", L"C:\\T\\ov1.tmp",
                                                 journal_flags::FileExisted, 1)};
    written.back().data = {1, 2, 3};
    std::string bytes = journalHeader();
    std::vector<std::size_t> ends;
    for (const JournalRecord& r : written) {
        bytes += serializeJournalRecord(r);
        ends.push_back(bytes.size());
    }
    auto parse = [](const std::string& b) { return parseJournalRecords(std::vector<char>(b.begin(), b.end())); };
    EXPECT_EQ(parse(bytes), written);
    // Cut anywhere inside the last record: the two before it.
    for (std::size_t cut = ends[1]; cut < ends[2]; cut += 7)
        EXPECT_EQ(parse(bytes.substr(0, cut)), std::vector<JournalRecord>(written.begin(), written.begin() + 2));
    // A byte changed in the second record: the first alone.
    std::string damaged = bytes;
    damaged[ends[0] + 12] ^= 0x20;
    EXPECT_EQ(parse(damaged), std::vector<JournalRecord>(written.begin(), written.begin() + 1));
    EXPECT_TRUE(parse("QVRJ\x02\x00\x00\x00" + bytes.substr(8)).empty()) << "another version";
}

}  // namespace
}  // namespace qv
