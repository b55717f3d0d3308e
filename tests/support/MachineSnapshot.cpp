#include "support/MachineSnapshot.h"

#include "sys/Crc32.h"
#include "support/TestFiles.h"
#include "sys/Handles.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cwctype>
#include <set>

namespace qv::test {
namespace {

std::wstring upper(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towupper(c); });
    return text;
}

std::string securityOf(const std::wstring& path)
{
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    ::GetFileSecurityW(path.c_str(), what, nullptr, 0, &needed);
    std::string bytes(needed, '\0');
    if (needed == 0 || !::GetFileSecurityW(path.c_str(), what, bytes.data(), needed, &needed)) return {};
    return bytes;
}

FileState fileState(const std::wstring& path, const WIN32_FIND_DATAW& found)
{
    FileState state;
    state.attributes = found.dwFileAttributes;
    state.folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // Not through a link: its own security is not readable under Wine.
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) state.security = securityOf(path);
    if (state.folder) return state;
    state.size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        state.readable = false;
        return state;
    }
    Crc32 crc;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) crc.update(buffer, read);
    state.crc = crc.value();
    return state;
}

void walkFolder(const std::wstring& folder, std::map<std::wstring, FileState>& files)
{
    WIN32_FIND_DATAW found;
    UniqueFindFile find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!find) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        files[path] = fileState(path, found);
        // Links to elsewhere are recorded, not followed.
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            walkFolder(path, files);
    } while (::FindNextFileW(find.get(), &found));
}

void walkKey(HKEY key, const std::wstring& name, MachineSnapshot& snapshot, const std::wstring& skipSubkey)
{
    snapshot.keys[name] = true;
    std::vector<wchar_t> valueName(16384);
    std::vector<BYTE> data(65536);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(valueName.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LONG status = ::RegEnumValueW(key, i, valueName.data(), &nameLength, nullptr, &type, data.data(), &dataLength);
        if (status == ERROR_MORE_DATA) {
            data.resize(dataLength + 1);
            --i;
            continue;
        }
        if (status != ERROR_SUCCESS) break;
        ValueState value;
        value.type = type;
        value.data.assign(reinterpret_cast<const char*>(data.data()), dataLength);
        snapshot.values[name + L"\\" + std::wstring(valueName.data(), nameLength)] = std::move(value);
    }
    std::vector<std::wstring> subkeys;
    wchar_t subkey[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (::RegEnumKeyExW(key, i, subkey, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subkeys.emplace_back(subkey, length);
    }
    for (const std::wstring& sub : subkeys) {
        if (!skipSubkey.empty() && upper(sub) == upper(skipSubkey)) continue;
        UniqueKey child;
        if (::RegOpenKeyExW(key, sub.c_str(), 0, KEY_READ, child.put()) != ERROR_SUCCESS) {
            snapshot.keys[name + L"\\" + sub] = true;
            continue;
        }
        walkKey(child.get(), name + L"\\" + sub, snapshot, {});
    }
}

template <class Map, class Describe>
void compare(const Map& before, const Map& after, const wchar_t* what, Describe changedKind,
             std::vector<std::wstring>& lines)
{
    for (const auto& [path, state] : before) {
        auto found = after.find(path);
        if (found == after.end())
            lines.push_back(std::wstring(L"-") + changedKind(state, what) + L" " + path);
        else if (!(found->second == state))
            lines.push_back(std::wstring(L"~") + changedKind(state, what) + L" " + path);
    }
    for (const auto& [path, state] : after)
        if (!before.count(path)) lines.push_back(std::wstring(L"+") + changedKind(state, what) + L" " + path);
}

}  // namespace

std::vector<std::wstring> MachineSnapshot::roots()
{
    std::vector<std::wstring> folders;
    for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_COMMON_APPDATA, CSIDL_APPDATA, CSIDL_COMMON_STARTMENU,
                      CSIDL_STARTMENU, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY})
        folders.push_back(shellFolder(csidl));
    wchar_t temp[MAX_PATH] = {};
    if (DWORD n = ::GetTempPathW(MAX_PATH, temp); n > 0 && n < MAX_PATH) {
        std::wstring path = temp;
        while (!path.empty() && path.back() == L'\\') path.pop_back();
        folders.push_back(path);
    }
    // Without the empty ones and without folders inside another root.
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    std::vector<std::wstring> result;
    for (const std::wstring& f : folders) {
        if (f.empty()) continue;
        bool inside = false;
        for (const std::wstring& other : folders)
            if (!other.empty() && other != f && upper(f).rfind(upper(other) + L"\\", 0) == 0) inside = true;
        if (!inside) result.push_back(f);
    }
    return result;
}

MachineSnapshot MachineSnapshot::take(const std::vector<std::wstring>& extraRoots)
{
    MachineSnapshot snapshot;
    for (const std::wstring& root : roots()) walkFolder(root, snapshot.files);
    for (const std::wstring& root : extraRoots) walkFolder(root, snapshot.files);
    UniqueKey software;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_READ, software.put()) == ERROR_SUCCESS)
        walkKey(software.get(), L"HKLM\\Software", snapshot, L"Classes");  // seen as HKCR
    walkKey(HKEY_CLASSES_ROOT, L"HKCR", snapshot, {});
    return snapshot;
}

FileState stateOf(const std::wstring& path)
{
    WIN32_FIND_DATAW found;
    UniqueFindFile find(::FindFirstFileW(path.c_str(), &found));
    if (!find) return FileState{false, 0, 0, false, 0, {}};
    return fileState(path, found);
}

std::vector<std::wstring> diff(const MachineSnapshot& before, const MachineSnapshot& after,
                               const std::function<bool(const std::wstring&)>& ignore)
{
    std::vector<std::wstring> lines;
    compare(before.files, after.files, L"file",
            [](const FileState& s, const wchar_t*) { return s.folder ? L"folder" : L"file"; }, lines);
    compare(before.keys, after.keys, L"key", [](bool, const wchar_t* what) { return what; }, lines);
    compare(before.values, after.values, L"value", [](const ValueState&, const wchar_t* what) { return what; },
            lines);
    if (ignore) lines.erase(std::remove_if(lines.begin(), lines.end(), ignore), lines.end());
    std::sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace qv::test
