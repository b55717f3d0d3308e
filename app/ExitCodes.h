#pragma once
// The installer's exit codes for runs started with a switch. A run without
// any argument ends with the framework's own code (0), as it always did;
// only the two load-time failures have their own codes in every run.
//
// Every number has one meaning, for the installer and the uninstaller alike
// (product/uninstaller/Uninstaller.h uses the same numbers for the same
// cases). Where Windows Installer or the system gives a number a meaning
// that deployment systems already read (1602 cancelled, 1603 failed, 1618
// another installation in progress, 112 disk full ...), the same number says
// the same here, so that their default rules for success, failure and retry
// read it right. The README, the help window and the winget manifest
// (installer/Winget.cmake) list this table; keep them in step.

namespace qv {

enum ExitCode : int {
    ExitInstalled = 0,                 // ERROR_SUCCESS
    ExitProcessorRefused = 1,          // no SSE2 (load time)
    ExitInitializationFailed = -11,    // module or application initialisation (load time)
    ExitNotEnoughSpace = 112,          // ERROR_DISK_FULL: found before anything was written
    ExitProductRunning = 170,          // ERROR_BUSY: the product is running
    ExitInstalledElsewhere = 183,      // ERROR_ALREADY_EXISTS: the installed product keeps its folder
    ExitPathTooLong = 206,             // ERROR_FILENAME_EXCED_RANGE: /GROUP's shortcut paths would not fit
    ExitFolderIsAFile = 267,           // ERROR_DIRECTORY: /DIR names an existing file
    ExitNotAdministrator = 740,        // ERROR_ELEVATION_REQUIRED
    ExitHelpShown = 1223,              // ERROR_CANCELLED: /? or /HELP, nothing installed
    ExitCancelled = 1602,              // ERROR_INSTALL_USEREXIT: the user left the wizard
    ExitFailedRolledBack = 1603,       // ERROR_INSTALL_FAILURE: nothing of the run remains; also an
                                       // unexpected error, logged
    ExitUnfinishedRun = 1604,          // ERROR_INSTALL_SUSPEND: an earlier run that did not end cannot be
                                       // finished yet (its recovery waits for a file in use, or it is a
                                       // newer installer's); nothing was changed, logged
    ExitNotInstalled = 1605,           // ERROR_UNKNOWN_PRODUCT: /UNINSTALL finds no installation
    ExitUninstallerNotTrusted = 1610,  // ERROR_INSTALL_BAD_CONFIGURATION: /UNINSTALL finds an uninstall
                                       // command that is not the installation's uninstaller
    ExitAnotherInstaller = 1618,       // ERROR_INSTALL_ALREADY_RUNNING
    ExitLogFileFailed = 1622,          // ERROR_INSTALL_LOG_FAILURE: nothing was changed
    ExitStepFailed = 1627,             // ERROR_FUNCTION_FAILED: installed, a later step failed
    ExitOtherEditionInstalled = 1633,  // ERROR_INSTALL_PLATFORM_UNSUPPORTED: the other edition (32-bit or
                                       // 64-bit) of the product is installed: nothing changed
    ExitNewerVersionInstalled = 1638,  // ERROR_PRODUCT_VERSION
    ExitBadCommandLine = 1639,         // ERROR_INVALID_COMMAND_LINE
    ExitRestartRequired = 3010,        // ERROR_SUCCESS_REBOOT_REQUIRED (the uninstaller only)
};

}  // namespace qv
