#pragma once
// Classes in this file:
//   JournalRecordType  what one record of the recovery journal announces
//   JournalRecord      one record
//   RecoveryJournal    the journal of one run on the disk: every change is
//                      announced there, and on the disk, before it is made
//   parseJournalRecords the records of a journal's bytes, read back up to
//                      the first damaged one
//   earlierFileText, parseEarlierFileText  the identity of a moved earlier
//                      file, as a FileRecorded record's third string
//
// The uninstall log's journal lives in memory, which a killed process or a
// power loss takes with it. While a run lasts, this file in the run's private
// folder says what the run is about to change, record by record, each
// written through to the disk before the change: the next start of the
// installer rolls the run back from it (uninstall/RunRecovery.h). It is a format
// of its own, internal and versioned, and never the uninstall log.
//
// Layout (little-endian): "QVRJ", a 32-bit version (1), then records, each a
// 32-bit payload length, a 32-bit FNV-1a checksum of the payload and the
// payload: type (8 bits), flags (8 bits), number (32 bits), three strings
// (32-bit count of UTF-16 code units, then the units) and a byte block
// (32-bit count, then the bytes). A record the process could not finish
// writing fails its length or checksum and ends the journal there.

#include "sys/Handles.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qv {

class RunFolder;

enum class JournalRecordType : std::uint8_t {
    // path: installation folder, other: Start-menu folder, third: run folder
    RunStarted = 1,
    // path: a folder about to be created
    FolderCreating = 2,
    // path: a file about to be written; number: its archive kind; other: the
    // backup its earlier version is about to go to (empty: none); flags:
    // FileExisted, KeptInPlace; data: the earlier file's DACL; third: the
    // identity of the earlier file when it is moved (earlierFileText; empty
    // when not known, and in journals of earlier versions, whose readers
    // never look at it)
    FileRecorded = 3,
    // the backup announced by the last FileRecorded or ShortcutRecorded
    // could not be made: the earlier file stayed where it was
    BackupFailed = 4,
    // number: the entry kind (2 to 4); other: the backup an earlier shortcut
    // is about to go to; third: that shortcut's path; data: its DACL
    ShortcutRecorded = 5,
    // path: the shortcut file about to be written for the last shortcut
    ShortcutWriting = 6,
    // flags: KeyExisted; other: the key saved by RegSaveKeyW; data: its
    // content as sys/KeyContent.h saves it (empty: too large to keep)
    UninstallKeyRecorded = 7,
    // path: the installed program about to be run with " /Register";
    // number: the CRC-32 its bytes must have
    RegistrationRun = 8,
    // the last entry settled: flags: Done; path: the path it received
    Settled = 9,
    // path: a file's target; other: the temporary name it is about to be
    // written under
    Staging = 10,
    // path: a file of the run's own (archive kind 5), deleted at its end
    TemporaryFile = 11,
    // a value under HKEY_LOCAL_MACHINE about to be written (path: its key,
    // other: its name; both empty: the installation record, "<product> Path"
    // under the maker's key): flags: RecordExisted; number: its earlier
    // type; data: its earlier data
    InstallationRecord = 12,
    // every change is made: from here the run goes forward. path: the
    // uninstall log, in place already (other empty); journals of earlier
    // versions wrote this before the log was in place, other naming its new
    // content under a temporary name beside it
    Committed = 13,
};

namespace journal_flags {
inline constexpr std::uint8_t FileExisted = 1;
inline constexpr std::uint8_t KeptInPlace = 2;
inline constexpr std::uint8_t KeyExisted = 1;
inline constexpr std::uint8_t Done = 1;
inline constexpr std::uint8_t RecordExisted = 1;
}  // namespace journal_flags

struct JournalRecord {
    JournalRecord() = default;
    explicit JournalRecord(JournalRecordType recordType, std::wstring recordPath = {}, std::uint8_t recordFlags = 0,
                           std::uint32_t recordNumber = 0)
        : type(recordType), flags(recordFlags), number(recordNumber), path(std::move(recordPath))
    {
    }

    JournalRecordType type = JournalRecordType::RunStarted;
    std::uint8_t flags = 0;
    std::uint32_t number = 0;
    std::wstring path;
    std::wstring other;
    std::wstring third;
    std::vector<BYTE> data;
    bool operator==(const JournalRecord&) const = default;
};

// The journal's file name in the run folder.
inline constexpr wchar_t kRecoveryJournalName[] = L"run.qvj";
// What a reader takes from a journal file at most.
inline constexpr std::size_t kMaxJournalBytes = 1024 * 1024;

class RecoveryJournal {
public:
    // Creates the journal in the run folder (a new file; the folder must
    // outlive the journal) and writes its header through. Null, with the
    // thread's last error, when it cannot.
    static std::unique_ptr<RecoveryJournal> create(const RunFolder& folder);
    ~RecoveryJournal();
    RecoveryJournal(const RecoveryJournal&) = delete;
    RecoveryJournal& operator=(const RecoveryJournal&) = delete;

    // Appends the record and flushes it to the disk. Throws std::system_error
    // when it cannot: a change that the journal does not hold must not be
    // made.
    void append(const JournalRecord& record);

    const std::wstring& path() const noexcept { return path_; }
    // The identity of the journal file: volume serial number and file index.
    const BY_HANDLE_FILE_INFORMATION& identity() const noexcept { return identity_; }

    // The run ended as it should: the file goes (its folder stays for the
    // run to remove).
    void discard() noexcept;
    // The run ended with something the next start must still do: the file
    // is closed and stays for the recovery.
    void keep() noexcept;
    // An announcement could not be written: the journal holds less than the
    // run may have done next, and takes nothing more.
    bool broken() const noexcept { return broken_; }

private:
    RecoveryJournal(UniqueFile file, std::wstring path, const BY_HANDLE_FILE_INFORMATION& identity);

    UniqueFile file_;
    std::wstring path_;
    BY_HANDLE_FILE_INFORMATION identity_{};
    std::size_t written_ = 0;
    bool broken_ = false;  // an append failed: nothing may follow it
};

// The records of journal bytes, in order, up to the first record that is
// incomplete, damaged or unknown; nothing when the header is not version 1.
// Bounded by the bytes given: the caller reads at most kMaxJournalBytes.
std::vector<JournalRecord> parseJournalRecords(const std::vector<char>& bytes);
// The bytes of one record as the journal holds it (length, checksum,
// payload), for writing and for tests.
std::string serializeJournalRecord(const JournalRecord& record);
// The journal file's header.
std::string journalHeader();

// "<volume serial, 8 hex>|<file index, 16 hex>", and back; false for any
// other text.
std::wstring earlierFileText(DWORD volume, std::uint64_t index);
bool parseEarlierFileText(const std::wstring& text, DWORD& volume, std::uint64_t& index);

}  // namespace qv
