#pragma once
// Classes/Functions in this file:
//   RecoveryPlan      what the journal of an unfinished run says, checked
//                     record by record
//   planFrom          the plan of a journal's records
//   isPlainDrivePath  a full path on a drive in the form the system gives it
//
// Nothing of a journal is trusted blindly (uninstall/RunRecovery.h): every
// path a record names must be one this installation writes
// (uninstall/InstallationArea.h), every backup a name in the run folder,
// every temporary name one beside its target; what is not goes to refused.

#include "uninstall/LogEntry.h"
#include "uninstall/RecoveryJournal.h"

#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qv {

// What the journal of the unfinished run says, checked record by record.
struct RecoveryPlan {
    std::wstring installFolder;
    std::wstring startMenuFolder;
    std::list<LogEntry> entries;
    std::vector<std::pair<std::wstring, std::wstring>> stagings;  // target, temporary name
    std::vector<std::wstring> temporaries;
    std::vector<JournalRecord> values;  // values under the maker's key as they were, first of each
    std::optional<std::pair<std::wstring, std::uint32_t>> registration;  // program, its CRC-32
    std::optional<JournalRecord> committed;
    std::vector<std::wstring> refused;  // what a record named that is none of this installation's
};

// The plan of the records (the first is the run's RunStarted) of the run
// whose folder is runFolder. A backup announced that nothing came after and
// that is not in the run folder counts as never made.
RecoveryPlan planFrom(const std::vector<JournalRecord>& records, const std::wstring& runFolder);

// A full path on a drive, in the form the system itself would give it: no
// relative part, no "..", no device or "\\?\" form, no stream.
bool isPlainDrivePath(const std::wstring& path);

}  // namespace qv
