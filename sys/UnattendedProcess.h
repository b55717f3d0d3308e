#pragma once
// Functions in this file: a process that nobody watches.
//   enterUnattendedProcess  no message box, no crash dialog, and an exception
//                           that nothing caught ends the process with its
//                           failure code and a line of its log
//   currentExceptionText    the text of the exception being handled
//
// The installer's and the uninstaller's silent runs both enter it, each
// with its own log and failure code.

#include "sys/LogFile.h"

#include <windows.h>

#include <string>

namespace qv {

// Where the process's log is at the moment of need; null: none.
using CurrentLog = LogFile* (*)() noexcept;

// From now on every box of the message-box gate (sys/MessageBoxGate.h) is a
// line "Not shown (silent run): <text>" of the log and answers no further
// (declinedAnswer); the system shows neither its critical-error and
// open-file boxes nor the fault dialog; an exception that nothing caught (or
// a noexcept function that threw) writes "Unexpected error: the run ends"
// and "Exit code: <failureCode>" and ends the process with that code,
// never with the C runtime's abort box.
void enterUnattendedProcess(CurrentLog log, UINT failureCode) noexcept;

// Must be called inside a catch block: what() of a std::exception in the
// ANSI code page made UTF-16, else "an exception without a text".
std::wstring currentExceptionText();

}  // namespace qv
