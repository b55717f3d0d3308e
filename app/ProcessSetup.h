#pragma once
// The installer process's set-up, made by the program's static
// initialisation before the application object exists, in this order
// (installer/InstallerMain.cpp):
//   restrictDllSearch, keepBoxesOutOfSilentRun, checkProcessor,
//   initializeModule, initializeApplication, installDefaultUiHooks
//   (UiHooks.h), the construction of the application object. initializeModule
//   and initializeApplication run once per process even if called again.

#include <string>

namespace qv {

// Limits the search for DLLs that are loaded by name to the system folder:
// an installer is started from download folders, where a planted DLL could
// wait beside it.
void restrictDllSearch() noexcept;

// A process whose command line asks for no window (askedForNoWindow), or
// that has no interactive desktop (hasInteractiveDesktop: null for the
// system's answer, sys/InteractiveDesktop.h), shows no box from here on:
// every box answers no further until start-up hands the run to its log
// (sys/UnattendedProcess.h).
void keepBoxesOutOfSilentRun(bool (*hasInteractiveDesktop)() = nullptr) noexcept;

// Set by the load-time processor check; start-up refuses to run without it.
extern bool processorChecked;

// Without SSE2: a message box without owner, with the system's default
// caption and the error icon, showing incompatibleProcessorText, then the
// process ends at once with exit code 1. Otherwise sets processorChecked.
// The system answers whether the processor has SSE2 unless hasSse2 is given
// (StartUpSettings).
void checkProcessor(bool (*hasSse2)() = nullptr);
// The message in English, French and German.
std::wstring incompatibleProcessorText();

// Error mode without the critical-error and open-file boxes; the C++
// runtime's global locale from the user's default locale when the runtime
// knows its name (the classic locale otherwise). A failure shows
// "Initialization Error" and ends the process with exit code -11.
void initializeModule();

// The maker's folders and Documents, the common-controls check (version 6 or
// later), the common-control classes, applicationId, this process's unit in
// the running-instance count and the COM error handler. A failure shows
// "Initialization Error" and ends the process with exit code -11.
void initializeApplication();

}  // namespace qv
