#include "support/UnixSide.h"

#include <windows.h>

#include <atomic>

namespace qv::test {

int runUnixCommand(const std::string& command)
{
    // Wine runs a native program when CreateProcess is given its Unix path.
    std::wstring line = L"/bin/sh -c \"";
    for (char c : command) {
        if (c == '"') line += L'\\';
        line += static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    line += L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return -1;
    ::WaitForSingleObject(info.hProcess, 60000);
    DWORD code = 0;
    ::GetExitCodeProcess(info.hProcess, &code);
    if (info.hProcess) ::CloseHandle(info.hProcess);
    if (info.hThread) ::CloseHandle(info.hThread);
    return static_cast<int>(code);
}

std::string unixPathOf(const std::wstring& windowsPath)
{
    using UnixName = char*(CDECL*)(LPCWSTR);
    auto toUnix = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) return {};
    char* name = toUnix(windowsPath.c_str());
    if (!name) return {};
    std::string result = name;
    ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
}

bool runUnixCommandAndWait(const std::string& command)
{
    // The command's end shows as a file it makes last.
    static std::atomic<int> counter{0};
    const std::wstring marker =
        L"C:\\qv-unix-done-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
    const std::string unixMarker = unixPathOf(marker);
    if (unixMarker.empty()) return false;
    if (runUnixCommand("(" + command + "); touch '" + unixMarker + "'") < 0) return false;
    for (DWORD waited = 0; waited < 60000; waited += 20) {
        if (::GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES) {
            ::DeleteFileW(marker.c_str());
            return true;
        }
        ::Sleep(20);
    }
    return false;
}

bool plantLink(const std::wstring& link, const std::wstring& target)
{
    const std::string unixLink = unixPathOf(link);
    const std::string unixTarget = unixPathOf(target);
    if (unixLink.empty() || unixTarget.empty()) return false;
    if (!runUnixCommandAndWait("ln -s '" + unixTarget + "' '" + unixLink + "'")) return false;
    // A dangling link is invisible to Windows calls; ask the Linux side.
    const std::wstring check = L"C:\\qv-link-check-" + std::to_wstring(::GetCurrentProcessId());
    const std::string unixCheck = unixPathOf(check);
    runUnixCommandAndWait("test -L '" + unixLink + "' && touch '" + unixCheck + "'");
    const bool planted = ::GetFileAttributesW(check.c_str()) != INVALID_FILE_ATTRIBUTES;
    ::DeleteFileW(check.c_str());
    return planted;
}

bool mapDriveLetter(wchar_t letter, const std::string& unixFolder)
{
    // Wine names C: by its link in the prefix's dosdevices folder
    // (".../dosdevices/c:/"), or by the folder it leads to (".../drive_c").
    std::string driveC = unixPathOf(L"C:\\");
    while (!driveC.empty() && driveC.back() == '/') driveC.pop_back();
    const std::size_t slash = driveC.find_last_of('/');
    if (slash == std::string::npos) return false;
    const std::string above = driveC.substr(0, slash);
    const std::string dosdevices = driveC.substr(slash + 1) == "c:" ? above : above + "/dosdevices";
    const char lower = static_cast<char>(letter | 0x20);
    const std::string link = dosdevices + "/" + lower + ":";
    if (!runUnixCommandAndWait("ln -sfn '" + unixFolder + "' '" + link + "'")) return false;
    const std::wstring root = std::wstring(1, letter) + L":\\";
    for (int round = 0; round < 100; ++round) {
        if (::GetFileAttributesW(root.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        ::Sleep(50);
    }
    return false;
}

std::string otherVolumeFolder()
{
    char folder[1024] = {};
    const DWORD n = ::GetEnvironmentVariableA("QV_OTHER_VOLUME", folder, sizeof folder);
    return n > 0 && n < sizeof folder ? std::string(folder, n) : std::string();
}

}  // namespace qv::test
