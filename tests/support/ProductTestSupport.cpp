#include "support/ProductTestSupport.h"

#include <tlhelp32.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace qv::test {

std::optional<DWORD> runProcess(const std::wstring& commandLine, const std::wstring& folder)
{
    StartedProcess process(commandLine, folder);
    if (!process.started()) return std::nullopt;
    return process.waitForExit(INFINITE);
}

StartedProcess::StartedProcess(const std::wstring& commandLine, const std::wstring& folder)
{
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                         folder.empty() ? nullptr : folder.c_str(), &si, &pi)) {
        ::CloseHandle(pi.hThread);
        process_.reset(pi.hProcess);
        id_ = pi.dwProcessId;
    }
}

StartedProcess::~StartedProcess()
{
    if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process_.get(), 1);
        ::WaitForSingleObject(process_.get(), 5000);
    }
}

std::optional<DWORD> StartedProcess::waitForExit(DWORD timeoutMs)
{
    if (!process_ || ::WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    if (!::GetExitCodeProcess(process_.get(), &code)) return std::nullopt;
    return code;
}

namespace {
struct Search {
    DWORD processId;
    const wchar_t* windowClass;
    HWND found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM p)
{
    auto s = reinterpret_cast<Search*>(p);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    wchar_t name[256] = {};
    ::GetClassNameW(window, name, 256);
    if (owner == s->processId && ::IsWindowVisible(window) && std::wstring(name) == s->windowClass) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND findProcessWindow(DWORD processId, const wchar_t* windowClass, DWORD timeoutMs)
{
    for (DWORD waited = 0;; waited += 50) {
        Search search{processId, windowClass, nullptr};
        ::EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found || waited >= timeoutMs) return search.found;
        ::Sleep(50);
    }
}

namespace {
BOOL CALLBACK collectStatic(HWND child, LPARAM p)
{
    wchar_t name[64] = {};
    ::GetClassNameW(child, name, 64);
    if (::CompareStringOrdinal(name, -1, L"Static", -1, TRUE) == CSTR_EQUAL)
        *reinterpret_cast<std::wstring*>(p) += windowText(child);
    return TRUE;
}
}  // namespace

std::wstring dialogText(HWND dialog)
{
    std::wstring text;
    ::EnumChildWindows(dialog, collectStatic, reinterpret_cast<LPARAM>(&text));
    return text;
}

std::optional<std::wstring> regString(HKEY root, const std::wstring& path, const wchar_t* name)
{
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t), type = 0;
    UniqueKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return std::nullopt;
    if (::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    return std::wstring(buffer);
}

std::optional<DWORD> regDword(HKEY root, const std::wstring& path, const wchar_t* name)
{
    DWORD value = 0, size = sizeof value, type = 0;
    UniqueKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS ||
        ::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        return std::nullopt;
    return value;
}

bool keyExists(HKEY root, const std::wstring& path)
{
    UniqueKey key;
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

namespace {
UniqueKey createKey(HKEY root, const std::wstring& path)
{
    UniqueKey key;
    if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        throw std::runtime_error("cannot create a registry key");
    return key;
}
}  // namespace

void setRegString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value)
{
    UniqueKey key = createKey(root, path);
    ::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void setRegDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD value)
{
    UniqueKey key = createKey(root, path);
    ::RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

namespace {

std::vector<DWORD> cleanupCopies()
{
    std::vector<DWORD> ids;
    UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.get() == INVALID_HANDLE_VALUE) {
        snapshot.release();
        return ids;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry))
        if (::CompareStringOrdinal(entry.szExeFile, 3, L"qvu", 3, TRUE) == CSTR_EQUAL) ids.push_back(entry.th32ProcessID);
    return ids;
}

bool pathExists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

std::vector<std::wstring> waitForCleanupCopies()
{
    std::vector<std::wstring> left;
    for (DWORD id : cleanupCopies()) {
        UniqueHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
        if (!process) continue;
        wchar_t image[MAX_PATH] = {};
        DWORD size = MAX_PATH;
        const bool named = ::QueryFullProcessImageNameW(process.get(), 0, image, &size) != FALSE;
        ::WaitForSingleObject(process.get(), 30000);
        // Holding the ended process would keep its file in use.
        process.reset();
        if (!named) continue;
        const std::wstring copy(image, size);
        const std::wstring folder = copy.substr(0, copy.find_last_of(L'\\'));
        for (int i = 0; i < 300 && (pathExists(copy) || pathExists(folder)); ++i) ::Sleep(100);
        if (pathExists(copy) || pathExists(folder)) left.push_back(copy);
    }
    return left;
}

std::vector<std::wstring> runFoldersInTemp()
{
    std::vector<std::wstring> names;
    wchar_t temp[MAX_PATH + 1] = {};
    if (!::GetTempPathW(MAX_PATH + 1, temp)) return names;
    WIN32_FIND_DATAW found;
    UniqueFindFile find(::FindFirstFileW((std::wstring(temp) + L"orvane_*").c_str(), &found));
    if (!find) return names;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) names.push_back(found.cFileName);
    } while (::FindNextFileW(find.get(), &found));
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::wstring> runFoldersAfterCleanup(const std::vector<std::wstring>& before)
{
    waitForCleanupCopies();
    std::vector<std::wstring> now = runFoldersInTemp();
    for (int i = 0; i < 300 && now != before; ++i) {
        ::Sleep(100);
        now = runFoldersInTemp();
    }
    return now;
}

std::wstring pendingFileRenames()
{
    UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                        key.put()) != ERROR_SUCCESS)
        return {};
    std::vector<wchar_t> data(32768);
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t)), type = 0;
    if (::RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, &type,
                           reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
        return {};
    std::wstring text(data.data(), size / sizeof(wchar_t));
    for (wchar_t& c : text)
        if (c == L'\0') c = L'|';
    return text;
}

std::vector<std::wstring> deleteTreeByHand(const std::wstring& folder)
{
    std::vector<std::wstring> stayed;
    WIN32_FIND_DATAW found{};
    UniqueFindFile search(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (search)
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                const std::vector<std::wstring> below = deleteTreeByHand(path);
                stayed.insert(stayed.end(), below.begin(), below.end());
            } else {
                ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (!::DeleteFileW(path.c_str())) stayed.push_back(path);
            }
        } while (::FindNextFileW(search.get(), &found));
    search.reset();
    if (!::RemoveDirectoryW(folder.c_str())) stayed.push_back(folder);
    return stayed;
}

}  // namespace qv::test
