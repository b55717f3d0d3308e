#include "app/CommandLine.h"

#include "lang/Languages.h"

#include <windows.h>
#include <shlwapi.h>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/trim.hpp>

#include <cwctype>

namespace qv {
namespace {

constexpr std::size_t MaxPathLength = MAX_PATH - 1;  // 259 characters

bool sameText(const std::wstring& a, const wchar_t* b) noexcept
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b, -1, TRUE) == CSTR_EQUAL;
}

void trimBlanks(std::wstring& text)
{
    boost::algorithm::trim_if(text, boost::algorithm::is_any_of(L" \t"));
}

bool isBlank(wchar_t c) noexcept
{
    return c == L' ' || c == L'\t';
}

// The command line after the program's name, which the runtime reads by its
// own rule: up to the next quote when it begins with one, else up to a blank.
const wchar_t* afterProgramName(const wchar_t* commandLine) noexcept
{
    const wchar_t* c = commandLine ? commandLine : L"";
    if (*c == L'"') {
        ++c;
        while (*c && *c != L'"') ++c;
        if (*c) ++c;
    } else {
        while (*c && !isBlank(*c)) ++c;
    }
    return c;
}

// Every character may stand in a path; wildcards may not.
bool validPathCharacters(const std::wstring& text)
{
    for (wchar_t c : text) {
        const UINT type = ::PathGetCharTypeW(c);
        if (type == GCT_INVALID || (type & GCT_WILD)) return false;
    }
    return true;
}

// "C:\..." or "\\server\share...", and neither "\\?\" nor "\\.\": those
// name devices and raw paths, never an installation folder. A network path
// needs its share: "\\server" alone names no folder.
bool hasDriveOrShare(const std::wstring& path)
{
    if (path.size() >= 3 && std::iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\') return true;
    if (path.size() <= 2 || path[0] != L'\\' || path[1] != L'\\' || path[2] == L'?' || path[2] == L'.') return false;
    const std::size_t shareBegin = path.find(L'\\', 2);
    if (shareBegin == std::wstring::npos || shareBegin == 2) return false;
    return shareBegin + 1 < path.size() && path[shareBegin + 1] != L'\\';
}

std::optional<std::wstring> fullPath(const std::wstring& text)
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetFullPathNameW(text.c_str(), MAX_PATH, buffer, nullptr);
    if (length == 0 || length >= MAX_PATH) return std::nullopt;
    return std::wstring(buffer, length);
}

// A /LOG file: a full path as for /DIR (a relative one would land in
// whatever folder the deployment tool starts the installer in), qualified.
std::optional<std::wstring> logFileFromText(std::wstring text)
{
    trimBlanks(text);
    for (wchar_t& c : text)
        if (c == L'/') c = L'\\';
    // A name ending in a backslash is a folder's.
    if (text.empty() || text.back() == L'\\') return std::nullopt;
    if (!hasDriveOrShare(text) || !validPathCharacters(text)) return std::nullopt;
    return fullPath(text);
}

// The Start-menu folder below Programs: relative, one or more names, no
// "." or "..", nothing a folder name may not hold.
std::optional<std::wstring> startMenuGroupFromText(std::wstring text)
{
    trimBlanks(text);
    for (wchar_t& c : text)
        if (c == L'/') c = L'\\';
    while (!text.empty() && text.back() == L'\\') text.pop_back();
    if (text.empty() || text.size() > MaxPathLength || text.front() == L'\\') return std::nullopt;
    if (text.find(L':') != std::wstring::npos || !validPathCharacters(text)) return std::nullopt;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t end = text.find(L'\\', begin);
        if (end == std::wstring::npos) end = text.size();
        std::wstring name = text.substr(begin, end - begin);
        trimBlanks(name);
        if (name.empty() || name == L"." || name == L"..") return std::nullopt;
        begin = end + 1;
    }
    return text;
}

enum class Switch {
    Silent, VerySilent, Quiet, Dir, Lang, NoStartMenu, NoDesktop, Group, Log, Help,
    NoIcons, NoSamples, AllUsers, CurrentUser, Uninstall,
    // Switches deployment tools send to installers of this style, which
    // mean nothing here: there is no setup loader, no message box in a
    // silent run, no restart and no Cancel button to take away.
    NoSetupLoader, SuppressMessageBoxes, NoRestart, NoCancel,
    Count
};

struct SwitchName {
    const wchar_t* name;
    Switch which;
    bool value;  // takes "=value" (optional only for /LOG)
};

constexpr SwitchName switchNames[] = {
    {L"/S", Switch::Silent, false},          {L"/SILENT", Switch::Silent, false},
    {L"/VERYSILENT", Switch::VerySilent, false}, {L"/DIR", Switch::Dir, true},
    // What administrators send to every installer for "no window at all".
    {L"/QUIET", Switch::Quiet, false},       {L"/QN", Switch::Quiet, false},
    {L"/LANG", Switch::Lang, true},          {L"/NOSTARTMENU", Switch::NoStartMenu, false},
    {L"/NODESKTOP", Switch::NoDesktop, false}, {L"/GROUP", Switch::Group, true},
    {L"/LOG", Switch::Log, true},            {L"/?", Switch::Help, false},
    {L"/HELP", Switch::Help, false},         {L"/NOICONS", Switch::NoIcons, false},
    {L"/NOSAMPLES", Switch::NoSamples, false}, {L"/ALLUSERS", Switch::AllUsers, false},
    {L"/CURRENTUSER", Switch::CurrentUser, false}, {L"/SP-", Switch::NoSetupLoader, false},
    {L"/SUPPRESSMSGBOXES", Switch::SuppressMessageBoxes, false}, {L"/NORESTART", Switch::NoRestart, false},
    {L"/NOCANCEL", Switch::NoCancel, false}, {L"/UNINSTALL", Switch::Uninstall, false},
};

}  // namespace

std::vector<std::wstring> commandLineArguments(const wchar_t* commandLine)
{
    std::vector<std::wstring> arguments;
    const wchar_t* c = afterProgramName(commandLine);
    for (;;) {
        while (isBlank(*c)) ++c;
        if (!*c) break;
        std::wstring argument;
        bool quoted = false;
        while (*c && (quoted || !isBlank(*c))) {
            if (*c == L'\\') {
                std::size_t backslashes = 0;
                while (*c == L'\\') {
                    ++backslashes;
                    ++c;
                }
                if (*c != L'"') {
                    argument.append(backslashes, L'\\');
                } else if (quoted && (isBlank(c[1]) || !c[1])) {
                    // "C:\Program Files\Tools\" /VERYSILENT: a value that
                    // ends in a backslash before its closing quote. The
                    // runtime would read \" as a quote and swallow the rest
                    // of the line; no switch's value holds a quote, so the
                    // folder it obviously names is taken.
                    argument.append(backslashes, L'\\');
                    quoted = false;
                    ++c;
                } else {
                    argument.append(backslashes / 2, L'\\');
                    if (backslashes % 2) argument += L'"';
                    else quoted = !quoted;
                    ++c;
                }
            } else if (*c == L'"') {
                // Inside quotes, "" is a quote and ends them.
                if (quoted && c[1] == L'"') {
                    argument += L'"';
                    ++c;
                }
                quoted = !quoted;
                ++c;
            } else {
                argument += *c++;
            }
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

std::optional<RunMode> silentSwitchInRawText(const wchar_t* commandLine)
{
    std::optional<RunMode> found;
    const wchar_t* c = afterProgramName(commandLine);
    while (*c) {
        while (*c && (isBlank(*c) || *c == L'"')) ++c;
        const wchar_t* begin = c;
        while (*c && !isBlank(*c) && *c != L'"') ++c;
        const std::wstring token(begin, c);
        if (sameText(token, L"/VERYSILENT") || sameText(token, L"/QUIET") || sameText(token, L"/QN") ||
            sameText(token, L"/UNINSTALL"))
            found = RunMode::VerySilent;
        else if (!found && (sameText(token, L"/S") || sameText(token, L"/SILENT"))) found = RunMode::Silent;
    }
    return found;
}

CommandLineOptions readCommandLine(const wchar_t* commandLine)
{
    CommandLineOptions options = parseCommandLine(commandLineArguments(commandLine));
    if (options.silent()) return options;
    // A silent switch that the splitting hid inside another argument (a
    // quote left open, say): the run is silent all the same, and refused.
    if (const std::optional<RunMode> asked = silentSwitchInRawText(commandLine)) {
        options.mode = *asked;
        options.errors.push_back(L"A silent switch stands inside another argument (check the quotes): " +
                                 std::wstring(afterProgramName(commandLine)));
    }
    return options;
}

std::optional<std::uint32_t> languageFromText(const std::wstring& text)
{
    if (text.empty()) return std::nullopt;
    std::optional<LANGID> id;
    const bool hexadecimal = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    const std::size_t digitsFrom = hexadecimal ? 2 : 0;
    const bool digits = text.find_first_not_of(hexadecimal ? L"0123456789abcdefABCDEF" : L"0123456789",
                                               digitsFrom) == std::wstring::npos;
    if (digits && text.size() - digitsFrom <= 5) {
        const unsigned long value = std::wcstoul(text.c_str() + digitsFrom, nullptr, hexadecimal ? 16 : 10);
        if (value > 0 && value <= 0xFFFF) id = static_cast<LANGID>(value);
    }
    for (std::uint32_t index = 0; index < LanguageCount; ++index) {
        if (!isOfferedLanguage(index)) continue;
        const LANGID langId = langIdOf(index);
        if (id) {
            if (*id == langId) return index;
            continue;
        }
        wchar_t code[9] = {};
        if (text.size() == 2 &&
            ::GetLocaleInfoW(MAKELCID(langId, SORT_DEFAULT), LOCALE_SISO639LANGNAME, code, 9) > 0 &&
            sameText(text, code))
            return index;
    }
    return std::nullopt;
}

std::optional<std::wstring> installFolderFromText(const std::wstring& typed)
{
    std::wstring text = typed;
    trimBlanks(text);
    for (wchar_t& c : text)
        if (c == L'/') c = L'\\';
    while (text.size() > 3 && text.back() == L'\\') text.pop_back();
    if (text.size() == 2 && text[1] == L':') text += L'\\';
    if (text.empty() || text.size() > MaxPathLength || !hasDriveOrShare(text)) return std::nullopt;
    // Qualifying resolves "." and ".." and the like.
    wchar_t qualified[MAX_PATH] = {};
    if (!::PathSearchAndQualifyW(text.c_str(), qualified, MAX_PATH)) return std::nullopt;
    std::wstring result = qualified;
    if (result.size() > 3 && result.back() == L'\\') result.pop_back();
    if (!hasDriveOrShare(result) || !validPathCharacters(result)) return std::nullopt;
    return result;
}

CommandLineOptions parseCommandLine(const std::vector<std::wstring>& arguments)
{
    CommandLineOptions options;
    options.anyArgument = !arguments.empty();
    bool seen[static_cast<int>(Switch::Count)] = {};
    bool silent = false, verySilent = false;

    for (const std::wstring& argument : arguments) {
        const std::size_t equals = argument.find(L'=');
        const std::wstring name = argument.substr(0, equals);
        const bool hasValue = equals != std::wstring::npos;
        const std::wstring value = hasValue ? argument.substr(equals + 1) : std::wstring();

        const SwitchName* known = nullptr;
        for (const SwitchName& s : switchNames)
            if (sameText(name, s.name)) known = &s;
        if (!known) {
            options.errors.push_back(L"Unknown switch: " + argument);
            continue;
        }
        if (hasValue && !known->value) {
            options.errors.push_back(L"The switch " + name + L" takes no value: " + argument);
            continue;
        }
        const bool logAlone = known->which == Switch::Log && !hasValue;
        if (known->value && !logAlone && value.empty()) {
            options.errors.push_back(L"The switch " + name + L" needs a value after \"=\": " + argument);
            continue;
        }
        bool& given = seen[static_cast<int>(known->which)];
        if (given) {
            options.errors.push_back(L"The switch " + name + L" is given more than once.");
            continue;
        }
        given = true;

        switch (known->which) {
        case Switch::Silent:
            silent = true;
            break;
        case Switch::VerySilent:
        case Switch::Quiet:
            verySilent = true;
            break;
        case Switch::Dir:
            if (auto folder = installFolderFromText(value)) options.installFolder = *folder;
            else options.errors.push_back(L"Not a usable installation folder (a full path is needed): " + value);
            break;
        case Switch::Lang:
            if (auto index = languageFromText(value)) options.language = *index;
            else options.errors.push_back(L"Not an offered installation language: " + value);
            break;
        case Switch::NoStartMenu:
            options.noStartMenu = true;
            break;
        case Switch::NoDesktop:
            options.noDesktop = true;
            break;
        case Switch::Group:
            if (auto group = startMenuGroupFromText(value)) options.startMenuGroup = *group;
            else options.errors.push_back(L"Not a usable Start-menu folder (a folder below Programs): " + value);
            break;
        case Switch::Log:
            // A refused name logs nowhere: not into a file of its own either.
            if (logAlone) {
                options.log = true;
            } else if (auto file = logFileFromText(value)) {
                options.log = true;
                options.logFile = *file;
            } else {
                options.errors.push_back(L"Not a usable log file name (a full path is needed): " + value);
            }
            break;
        case Switch::Help:
            options.help = true;
            break;
        case Switch::NoIcons:
            options.noStartMenu = options.noDesktop = true;
            options.noIcons = true;
            break;
        case Switch::NoSamples:
            options.noSamples = true;
            break;
        case Switch::Uninstall:
            options.uninstall = true;
            break;
        case Switch::CurrentUser:
            options.errors.push_back(L"/CURRENTUSER: this product is installed for all users of the machine only "
                                     L"(leave the switch out, or give /ALLUSERS)");
            break;
        case Switch::AllUsers:
        case Switch::NoSetupLoader:
        case Switch::SuppressMessageBoxes:
        case Switch::NoRestart:
        case Switch::NoCancel:
            options.withoutEffect.push_back(argument);
            break;
        case Switch::Count:
            break;
        }
    }

    if (silent && verySilent)
        options.errors.push_back(L"/S (/SILENT) and /VERYSILENT (/QUIET, /QN) exclude each other.");
    if (options.startMenuGroup && options.noStartMenu)
        options.errors.push_back(options.noIcons ? L"/GROUP and /NOICONS exclude each other."
                                                 : L"/GROUP and /NOSTARTMENU exclude each other.");
    if (options.uninstall && (silent || options.installFolder || options.language || options.startMenuGroup ||
                              options.noStartMenu || options.noDesktop || options.noSamples))
        options.errors.push_back(L"/UNINSTALL takes /VERYSILENT (/QUIET, /QN), /LOG and the switches deployment "
                                 L"tools send, none of the installation's.");
    // The uninstallation that /UNINSTALL runs shows no window either.
    if (options.uninstall && !silent) verySilent = true;
    options.mode = verySilent ? RunMode::VerySilent : silent ? RunMode::Silent : RunMode::Interactive;
    return options;
}

bool askedForNoWindow() noexcept
{
    try {
        return silentSwitchInRawText(::GetCommandLineW()).has_value();
    } catch (...) {
    }
    return false;
}

std::wstring installerHelpText()
{
    return L"Switches (in any order, upper or lower case):\n"
           L"\n"
           L"/S or /SILENT\n"
           L"      Shows only the installation's log and progress, asks nothing and closes itself at the end.\n"
           L"/VERYSILENT, /QUIET or /QN\n"
           L"      Shows no window at all (/QUIET and /QN are taken as /VERYSILENT).\n"
           L"/DIR=\"folder\"\n"
           L"      The installation folder, a full path. An installed product keeps its folder.\n"
           L"/LANG=language\n"
           L"      The installation language: its Windows language identifier (1031 or 0x0407)\n"
           L"      or its two-letter code (de). Offered: fr en de es pt nl tr bg ro zh it el pl hu.\n"
           L"/GROUP=\"folder\"\n"
           L"      The Start-menu folder, below Programs (for example \"Orvane Systems\\Trimora 6\").\n"
           L"/NOSTARTMENU\n"
           L"      No shortcuts in the Start menu.\n"
           L"/NODESKTOP\n"
           L"      No shortcut on the desktop.\n"
           L"/NOICONS\n"
           L"      No shortcuts at all (/NOSTARTMENU and /NODESKTOP).\n"
           L"/NOSAMPLES\n"
           L"      Leaves the sample documents out: nothing lands on the all-users desktop.\n"
           L"/LOG\n"
           L"      Logs the run to a new file in the temporary folder.\n"
           L"      Without /LOG a silent run logs to a new file in %SystemRoot%\\Logs\\Orvane Systems\n"
           L"      (the newest 10 are kept), as does a run refused for want of an interactive desktop.\n"
           L"/LOG=\"file\"\n"
           L"      Logs the run to this file, a full path (added at its end when it exists).\n"
           L"/ALLUSERS, /SP-, /SUPPRESSMSGBOXES, /NORESTART, /NOCANCEL\n"
           L"      Accepted as deployment tools send them; they change nothing here: the installation is\n"
           L"      for all users, a silent run shows no message box, nothing restarts Windows.\n"
           L"/UNINSTALL\n"
           L"      Removes the installed product without any window: runs the quiet uninstallation that its\n"
           L"      entry in the list of installed programs names (either edition's), with /LOG when given,\n"
           L"      and ends with the uninstaller's exit code.\n"
           L"/CURRENTUSER\n"
           L"      Refused: the product is installed for all users only.\n"
           L"/? or /HELP\n"
           L"      This window.\n"
           L"\n"
           L"Exit codes of a run started with a switch:\n"
           L"\n"
           L"0\tinstalled\n"
           L"1\tthe processor lacks SSE2\n"
           L"-11\tthe installer could not initialise itself\n"
           L"112\tnot enough free space (nothing was changed)\n"
           L"170\tthe product is running\n"
           L"183\tthe installed product keeps its folder: /DIR names another one\n"
           L"206\tthe /GROUP shortcuts' paths would be too long\n"
           L"267\t/DIR names a file, or a folder below a file\n"
           L"740\tnot started as an administrator\n"
           L"1223\t/? or /HELP: nothing installed\n"
           L"1602\tcancelled by the user\n"
           L"1603\tthe installation failed and was rolled back, or an unexpected error (see the log)\n"
           L"1604\tan earlier installation that did not end cannot be finished yet (nothing was changed; see the log)\n"
           L"1605\t/UNINSTALL: the product is not installed\n"
           L"1610\t/UNINSTALL: the registered uninstall command is not the installation's uninstaller\n"
           L"1618\tanother installation is in progress\n"
           L"1622\tthe log file cannot be created (nothing was changed)\n"
           L"1627\tinstalled, but a step after the file copying failed (see the log)\n"
           L"1633\tthe other edition (32-bit or 64-bit) of the product is installed: nothing changed\n"
           L"1638\ta newer version is already installed\n"
           L"1639\tthe command line is not valid\n"
           L"\n"
           L"With /UNINSTALL, the uninstaller's codes: 0 removed, 2 no uninstall log, 4 something not\n"
           L"removed, 170 the product is running, 1618, 3010 removed after a restart.\n"
           L"\n"
           L"Where no window can be seen (SYSTEM, session 0, no interactive desktop), a run without\n"
           L"/VERYSILENT, /QUIET, /QN, /S or /SILENT shows nothing and ends with 1639.\n";
}

}  // namespace qv
