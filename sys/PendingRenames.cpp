#include "sys/PendingRenames.h"

#include "sys/Handles.h"
#include "sys/PathIdentity.h"

#include <windows.h>

#include <algorithm>
#include <iterator>

namespace qv {
namespace {

constexpr wchar_t sessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* pendingValues[] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};

// One string of the value: its first character and its length, its NUL not
// counted; the last one may lack its NUL.
struct StringSpan {
    std::size_t begin = 0;
    std::size_t length = 0;
    bool terminated = false;
};

std::vector<StringSpan> stringsOf(const std::vector<wchar_t>& data)
{
    std::vector<StringSpan> strings;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < data.size(); ++i)
        if (data[i] == L'\0') {
            strings.push_back({begin, i - begin, true});
            begin = i + 1;
        }
    if (begin < data.size()) strings.push_back({begin, data.size() - begin, false});
    return strings;
}

// A REG_MULTI_SZ value as it is stored, nothing added. False for a missing
// value, another type or an odd size.
bool readMultiString(HKEY key, const wchar_t* name, std::vector<wchar_t>& data)
{
    // The value may grow between asking its size and reading it.
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD type = 0, size = 0;
        if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
        if (type != REG_MULTI_SZ || size % sizeof(wchar_t) != 0) return false;
        data.assign(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = size;
        const LONG rc = ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got);
        if (rc == ERROR_MORE_DATA) continue;
        if (rc != ERROR_SUCCESS || type != REG_MULTI_SZ || got % sizeof(wchar_t) != 0) return false;
        data.resize(got / sizeof(wchar_t));
        return true;
    }
    return false;
}

// The Win32 path of a source in the form MoveFileExW stores it: "\??\C:\x"
// is C:\x and "\??\UNC\server\share\x" is \\server\share\x. Empty for any
// other form, which names nothing an installation writes.
std::wstring win32PathOf(const std::wstring& source)
{
    constexpr wchar_t prefix[] = L"\\??\\";
    constexpr std::size_t prefixLength = std::size(prefix) - 1;
    if (source.compare(0, prefixLength, prefix) != 0) return {};
    const std::wstring path = source.substr(prefixLength);
    if (path.compare(0, 4, L"UNC\\") == 0) return L"\\" + path.substr(3);
    return path;
}

// Short names spelled out for drive paths only: a network path is never
// looked up, which would make this machine log on to the server it names.
std::wstring comparableForm(const std::wstring& path)
{
    const bool drive = path.size() >= 3 && path[1] == L':' && path[2] == L'\\';
    return drive ? longPathOf(path) : path;
}

bool liesIn(const std::wstring& path, const std::wstring& folder, const std::wstring& longFolder)
{
    return isSameOrBelow(path, folder) || isSameOrBelow(comparableForm(path), longFolder);
}

void write(LogFile* log, const std::wstring& line) noexcept
{
    if (log) log->write(line);
}

}  // namespace

std::vector<std::wstring> cancelPendingDeletionsBelow(const std::wstring& folder, LogFile* log) noexcept
{
    std::vector<std::wstring> cancelled;
    try {
        UniqueKey key;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, sessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put()) !=
            ERROR_SUCCESS)
            return cancelled;
        const std::wstring longFolder = comparableForm(folder);
        for (const wchar_t* name : pendingValues) {
            std::vector<wchar_t> data;
            if (!readMultiString(key.get(), name, data)) continue;
            // Pairs from the first string on, as the Session Manager reads
            // them; a deletion's target is an empty string. What is kept is
            // copied in pieces, so that it stays as it was to the byte.
            const std::vector<StringSpan> strings = stringsOf(data);
            std::vector<wchar_t> kept;
            std::vector<std::wstring> gone;
            std::size_t keptUpTo = 0;
            for (std::size_t i = 0; i + 1 < strings.size(); i += 2) {
                const StringSpan& source = strings[i];
                const StringSpan& target = strings[i + 1];
                if (source.length == 0 || !target.terminated || target.length != 0) continue;
                const std::wstring path =
                    win32PathOf(std::wstring(data.data() + source.begin, source.length));
                if (path.empty() || !liesIn(path, folder, longFolder)) continue;
                kept.insert(kept.end(), data.begin() + static_cast<std::ptrdiff_t>(keptUpTo),
                            data.begin() + static_cast<std::ptrdiff_t>(source.begin));
                keptUpTo = target.begin + 1;  // past the target's NUL
                gone.push_back(path);
            }
            if (gone.empty()) continue;
            kept.insert(kept.end(), data.begin() + static_cast<std::ptrdiff_t>(keptUpTo), data.end());

            // Nothing but the list's closing NUL left: no operation remains.
            const bool nothingLeft = std::all_of(kept.begin(), kept.end(), [](wchar_t c) { return c == L'\0'; });
            const LONG rc = nothingLeft ? ::RegDeleteValueW(key.get(), name)
                                        : ::RegSetValueExW(key.get(), name, 0, REG_MULTI_SZ,
                                                           reinterpret_cast<const BYTE*>(kept.data()),
                                                           static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
            if (rc != ERROR_SUCCESS) {
                write(log, L"Could NOT cancel the deletions Windows has scheduled for its next start in " + folder +
                               L" (" + name + L", error " + std::to_wstring(rc) + L")");
                continue;
            }
            // The point of the change is the next start: on the disk before
            // anything relies on it.
            ::RegFlushKey(key.get());
            for (const std::wstring& path : gone) {
                write(log, L"Cancelled the deletion Windows had scheduled for its next start: " + path);
                cancelled.push_back(path);
            }
        }
    } catch (...) {
        // Out of memory: what was not written stays as it was.
    }
    return cancelled;
}

}  // namespace qv
