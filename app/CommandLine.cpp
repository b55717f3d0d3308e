#include "app/CommandLine.h"

#include "app/Languages.h"
#include "sys/Handles.h"

#include <windows.h>
#include <shellapi.h>
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

// Every character may stand in a path; wildcards may not.
bool validPathCharacters(const std::wstring& text)
{
    for (wchar_t c : text) {
        const UINT type = ::PathGetCharTypeW(c);
        if (type == GCT_INVALID || (type & GCT_WILD)) return false;
    }
    return true;
}

// "C:\..." or "\\server\share\...", and neither "\\?\" nor "\\.\": those
// name devices and raw paths, never an installation folder.
bool hasDriveOrShare(const std::wstring& path)
{
    if (path.size() >= 3 && std::iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\') return true;
    return path.size() > 2 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?' && path[2] != L'.';
}

std::optional<std::wstring> fullPath(const std::wstring& text)
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetFullPathNameW(text.c_str(), MAX_PATH, buffer, nullptr);
    if (length == 0 || length >= MAX_PATH) return std::nullopt;
    return std::wstring(buffer, length);
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

enum class Switch { Silent, VerySilent, Dir, Lang, NoStartMenu, NoDesktop, Group, Log, Help, Count };

struct SwitchName {
    const wchar_t* name;
    Switch which;
    bool value;  // takes "=value" (optional only for /LOG)
};

constexpr SwitchName switchNames[] = {
    {L"/S", Switch::Silent, false},          {L"/SILENT", Switch::Silent, false},
    {L"/VERYSILENT", Switch::VerySilent, false}, {L"/DIR", Switch::Dir, true},
    {L"/LANG", Switch::Lang, true},          {L"/NOSTARTMENU", Switch::NoStartMenu, false},
    {L"/NODESKTOP", Switch::NoDesktop, false}, {L"/GROUP", Switch::Group, true},
    {L"/LOG", Switch::Log, true},            {L"/?", Switch::Help, false},
    {L"/HELP", Switch::Help, false},
};

}  // namespace

std::vector<std::wstring> commandLineArguments(const wchar_t* commandLine)
{
    std::vector<std::wstring> arguments;
    int count = 0;
    UniqueLocal list(reinterpret_cast<HLOCAL>(::CommandLineToArgvW(commandLine ? commandLine : L"", &count)));
    auto** argv = static_cast<wchar_t**>(list.get());
    for (int i = 1; argv && i < count; ++i) arguments.emplace_back(argv[i]);
    return arguments;
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
            options.log = true;
            if (!logAlone) {
                if (auto file = fullPath(value)) options.logFile = *file;
                else options.errors.push_back(L"Not a usable log file name: " + value);
            }
            break;
        case Switch::Help:
            options.help = true;
            break;
        case Switch::Count:
            break;
        }
    }

    if (silent && verySilent) options.errors.push_back(L"/S (/SILENT) and /VERYSILENT exclude each other.");
    if (options.startMenuGroup && options.noStartMenu)
        options.errors.push_back(L"/GROUP and /NOSTARTMENU exclude each other.");
    options.mode = verySilent ? RunMode::VerySilent : silent ? RunMode::Silent : RunMode::Interactive;
    return options;
}

bool askedForNoWindow() noexcept
{
    try {
        for (const std::wstring& argument : commandLineArguments(::GetCommandLineW()))
            if (sameText(argument, L"/S") || sameText(argument, L"/SILENT") || sameText(argument, L"/VERYSILENT"))
                return true;
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
           L"/VERYSILENT\n"
           L"      Shows no window at all.\n"
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
           L"/LOG\n"
           L"      Logs the run to a new file in the temporary folder.\n"
           L"/LOG=\"file\"\n"
           L"      Logs the run to this file (added at its end when it exists).\n"
           L"/? or /HELP\n"
           L"      This window.\n"
           L"\n"
           L"Exit codes of a run started with a switch:\n"
           L"\n"
           L"0\tinstalled (also after /? and /HELP)\n"
           L"1\tthe processor lacks SSE2\n"
           L"-11\tthe installer could not initialise itself\n"
           L"170\tthe product is running\n"
           L"740\tnot started as an administrator\n"
           L"1602\tcancelled by the user\n"
           L"1603\tthe installation failed and was rolled back\n"
           L"1618\tanother installation is in progress\n"
           L"1622\tthe log file cannot be created (nothing was changed)\n"
           L"1627\tinstalled, but a step after the file copying failed (see the log)\n"
           L"1638\ta newer version is already installed\n"
           L"1639\tthe command line is not valid\n";
}

}  // namespace qv
