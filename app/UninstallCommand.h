#pragma once
// Functions in this file:
//   registeredUninstaller     the installed product's uninstaller, as its
//                             uninstall key names it, checked
//   runRegisteredUninstaller  /UNINSTALL: its quiet uninstallation, its exit
//                             code passed through
//
// A deployment tool cannot know the folder chosen at installation; the
// installer finds it in the uninstall key (either edition's view). The key
// lies below HKEY_LOCAL_MACHINE, which only administrators write, yet only
// the command this installer writes there is run: the uninstaller named by
// its full path, never through a shell.

#include "app/CommandLine.h"

#include <functional>
#include <string>

namespace qv {

struct RegisteredUninstaller {
    std::wstring path;       // Uninstall.exe of the installation; empty when refused
    std::wstring key;        // the key it was found under, for the log
    int refusal = 0;         // the exit code when refused (app/ExitCodes.h)
    std::wstring why;        // why refused
};

// The uninstall key of the product in this edition's view, else in the
// other's: QuietUninstallString must be exactly "<UninstallString>"
// /VERYSILENT, UninstallString a full path to a file named Uninstall.exe
// that exists (no link on the way), in the folder InstallLocation names when
// given. ExitNotInstalled without a key, ExitUninstallerNotTrusted for any
// other command. Never throws.
RegisteredUninstaller registeredUninstaller() noexcept;

// Runs the registered uninstaller with /VERYSILENT (and /LOG or /LOG=file
// when the options hold one), from the system folder, and waits for its
// end: its exit code, or the refusal's code. log receives the run's lines.
int runRegisteredUninstaller(const CommandLineOptions& options,
                             const std::function<void(const std::wstring&)>& log);

}  // namespace qv
