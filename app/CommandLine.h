#pragma once
// Classes in this file:
//   RunMode              how much of a window a run shows
//   CommandLineOptions   the installer's switches, read into a plain record
// Functions:
//   commandLineArguments   the arguments after the program's name
//   parseCommandLine       the record for a list of arguments
//   readCommandLine        the record for a whole command line, silent
//                          whenever a silent switch stands anywhere in it
//   silentSwitchInRawText  /S, /SILENT, /VERYSILENT, /QUIET or /QN anywhere in a command
//                          line, however its quotes split it
//   askedForNoWindow       a silent switch (as above) anywhere in this
//                          process's command line, for the checks made
//                          before start-up
//   installerHelpText      what the help window lists
//
// Switches are case-insensitive and may come in any order; a value follows
// "=" in the same argument (/DIR="C:\Program Files\X" reaches the program as
// /DIR=C:\Program Files\X). Nothing here shows a window or changes the
// machine: start-up acts on the record.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qv {

enum class RunMode {
    Interactive,  // the wizard
    Silent,       // /S, /SILENT: the install page's log and progress only, no question
    VerySilent,   // /VERYSILENT (or /QUIET, /QN): no window at all
};

struct CommandLineOptions {
    // At least one argument was given: the run ends with its own exit code
    // (app/ExitCodes.h). A run without arguments ends as it always did.
    bool anyArgument = false;
    RunMode mode = RunMode::Interactive;
    bool help = false;                         // /? or /HELP
    std::optional<std::wstring> installFolder; // /DIR, qualified to a full path
    std::optional<std::uint32_t> language;     // /LANG, an offered language index
    std::optional<std::wstring> startMenuGroup;// /GROUP, relative to the Start menu's Programs folder
    bool noStartMenu = false;                  // /NOSTARTMENU
    bool noDesktop = false;                    // /NODESKTOP (or /NOICONS)
    bool noIcons = false;                      // /NOICONS: /NOSTARTMENU and /NODESKTOP
    bool noSamples = false;                    // /NOSAMPLES: the sample documents stay out
    // /UNINSTALL: the installed product's own quiet uninstallation, found in
    // the registry; always without a window (mode VerySilent).
    bool uninstall = false;
    // Switches accepted as deployment tools send them, which change nothing
    // here (/ALLUSERS, /SP-, /SUPPRESSMSGBOXES, /NORESTART, /NOCANCEL), as given.
    std::vector<std::wstring> withoutEffect;
    bool log = false;                          // /LOG or /LOG=file
    std::wstring logFile;                      // /LOG=file, qualified; empty: a new file in %TEMP%
    // One sentence per unknown, repeated, conflicting or malformed switch.
    // When there is any, the run goes no further than telling so.
    std::vector<std::wstring> errors;

    bool silent() const noexcept { return mode != RunMode::Interactive; }
};

// The arguments after the program's name, split as the C runtime splits
// them (CommandLineToArgvW), but for one case: inside quotes, backslashes
// before a quote that a blank or the line's end follows stay backslashes and
// the quote closes ("/DIR=C:\Tools\" /S gives /DIR=C:\Tools\ and /S, where
// the runtime would give one argument ending in a quote and " /S").
std::vector<std::wstring> commandLineArguments(const wchar_t* commandLine);

CommandLineOptions parseCommandLine(const std::vector<std::wstring>& arguments);

// parseCommandLine of the command line's arguments; a run that they leave
// interactive while a silent switch stands somewhere in the raw text (a
// quote left open swallowed it) becomes silent and refused, so that it ends
// with its exit code instead of a window nobody sees.
CommandLineOptions readCommandLine(const wchar_t* commandLine);

// The mode that /S, /SILENT, /VERYSILENT, /QUIET or /QN asks for when one
// stands in the command line after the program's name as a word of its own
// between blanks and quotes (no window first); nothing otherwise.
std::optional<RunMode> silentSwitchInRawText(const wchar_t* commandLine);

// True when this process's command line holds a silent switch
// (silentSwitchInRawText). For the load-time checks, which run before
// anything else exists, and for the last-resort handlers: they then end the
// process with their exit code instead of a message box.
bool askedForNoWindow() noexcept;

// The language index that a /LANG value names: a Windows language
// identifier in decimal (1031) or hexadecimal (0x0407), or an ISO 639-1 code
// (de). Only the offered languages; nothing for any other text.
std::optional<std::uint32_t> languageFromText(const std::wstring& text);

// The installation folder that a /DIR value names, as the folder page's
// browser takes a typed folder: blanks and a trailing "\" removed, a bare
// drive made its root, qualified to a full path of at most 259 characters
// holding no invalid character nor wildcard. Unlike the browser it wants a
// drive or network path (with its share: \\server\share): a relative one
// would depend on whatever folder the deployment tool starts the installer
// in. Nothing for a refused text.
std::optional<std::wstring> installFolderFromText(const std::wstring& text);

// The switches and the exit codes, in English, for the help window.
std::wstring installerHelpText();

}  // namespace qv
