#pragma once
// Functions in this file:
//   earlierValue      a registry value as it is before a run changes it, as
//                     the journal on disk keeps it
//   putBackValue      that value put back (or deleted, when there was none)
//   isValueOfTheRun   whether a kept value is one a run may change
//   endProgramRuns    waits for the processes of a program to end, and ends
//                     them past a time limit
//   unregisterProgram the program's own registrations undone by its
//                     " /Unregister"
//
// What undoing a run needs beside the journal's entries, shared by the
// sequence's own rollback and the recovery of a run that did not end: the
// values it wrote under the maker's key (the installation record, and the
// version an update came from, which the program's registration run writes)
// and the registrations the installed program made of itself.

#include "uninstall/RecoveryJournal.h"

#include <cstdint>
#include <functional>
#include <string>

namespace qv {

// The value the program's registration run writes into the product's key
// below the maker's key after an update (the version it updated from).
inline constexpr wchar_t kUpdatedFromValueName[] = L"UpdatedFrom";

// The product's key below the maker's key ("Software\Orvane Systems\Quorvex 6").
std::wstring productKeyPath();

// An InstallationRecord record of the value's state now: path the key below
// HKEY_LOCAL_MACHINE and other the value's name, both empty for the
// installation record ("Quorvex 6 Path" under the maker's key); flags
// RecordExisted, number its type and data its bytes when it exists. Throws
// std::system_error when it exists and cannot be read.
JournalRecord earlierValue(const std::wstring& keyPath = {}, const std::wstring& valueName = {});

// Whether the record names the installation record or UpdatedFrom: the
// only values a run writes (a journal naming another is not acted on).
bool isValueOfTheRun(const JournalRecord& record);

// Writes the value back as the record keeps it, or deletes it (and the
// product's key, when that leaves it empty) when it did not exist. True when
// the value is as it was. Never throws.
bool putBackValue(const JournalRecord& earlier) noexcept;

// Waits up to timeoutMs for every running process whose image is program
// to end, then ends those still running. Returns how many there were.
unsigned endProgramRuns(const std::wstring& program, DWORD timeoutMs) noexcept;

}  // namespace qv
