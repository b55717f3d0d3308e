#pragma once
// The installer's exit codes for runs started with a switch. A run without
// any argument ends with the framework's own code (0), as it always did;
// only the two load-time failures have their own codes in every run.
//
// Where Windows Installer gives a number a meaning that deployment systems
// already read (1602 cancelled, 1603 failed, 1618 another installation in
// progress ...), the same number says the same here, so that their default
// rules for success, failure and retry read it right. The README and the
// help window list this table; keep the three in step.

namespace qv {

enum ExitCode : int {
    ExitInstalled = 0,                 // ERROR_SUCCESS; also after /? and /HELP
    ExitProcessorRefused = 1,          // no SSE2 (load time)
    ExitInitializationFailed = -11,    // module or application initialisation (load time)
    ExitProductRunning = 170,          // ERROR_BUSY: the product is running
    ExitNotAdministrator = 740,        // ERROR_ELEVATION_REQUIRED
    ExitCancelled = 1602,              // ERROR_INSTALL_USEREXIT: the user left the wizard
    ExitFailedRolledBack = 1603,       // ERROR_INSTALL_FAILURE: nothing of the run remains
    ExitAnotherInstaller = 1618,       // ERROR_INSTALL_ALREADY_RUNNING
    ExitLogFileFailed = 1622,          // ERROR_INSTALL_LOG_FAILURE: nothing was changed
    ExitStepFailed = 1627,             // ERROR_FUNCTION_FAILED: installed, a later step failed
    ExitNewerVersionInstalled = 1638,  // ERROR_PRODUCT_VERSION
    ExitBadCommandLine = 1639,         // ERROR_INVALID_COMMAND_LINE
};

}  // namespace qv
