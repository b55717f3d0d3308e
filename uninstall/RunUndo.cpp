#include "uninstall/RunUndo.h"

#include "identity/Product.h"
#include "sys/Handles.h"
#include "sys/PathGuard.h"

#include <windows.h>
#include <tlhelp32.h>

#include <system_error>
#include <vector>

namespace qv {
namespace {

// The key and value a record names: the installation record when both are
// empty.
std::pair<std::wstring, std::wstring> valueOf(const JournalRecord& record)
{
    if (record.path.empty() && record.other.empty())
        return {MakerKeyPath, installationRecordValueName()};
    return {record.path, record.other};
}

}  // namespace

std::wstring productKeyPath()
{
    return std::wstring(MakerKeyPath) + L"\\" + productKeyName(productCode);
}

JournalRecord earlierValue(const std::wstring& keyPath, const std::wstring& valueName)
{
    JournalRecord earlier(JournalRecordType::InstallationRecord, keyPath);
    earlier.other = valueName;
    const auto [key, name] = valueOf(earlier);
    UniqueKey opened;
    const LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, opened.put());
    if (status == ERROR_FILE_NOT_FOUND) return earlier;
    if (status != ERROR_SUCCESS) throw std::system_error(status, std::system_category());
    DWORD type = 0, size = 0;
    LSTATUS query = ::RegQueryValueExW(opened.get(), name.c_str(), nullptr, &type, nullptr, &size);
    if (query == ERROR_FILE_NOT_FOUND) return earlier;
    if (query == ERROR_SUCCESS) {
        earlier.data.resize(size);
        query = ::RegQueryValueExW(opened.get(), name.c_str(), nullptr, &type, earlier.data.data(), &size);
    }
    if (query != ERROR_SUCCESS) throw std::system_error(query, std::system_category());
    earlier.data.resize(size);
    earlier.flags = journal_flags::RecordExisted;
    earlier.number = type;
    return earlier;
}

bool isValueOfTheRun(const JournalRecord& record)
{
    if (record.type != JournalRecordType::InstallationRecord) return false;
    if (record.path.empty() && record.other.empty()) return true;
    return sameFileName(record.path, productKeyPath()) && sameFileName(record.other, kUpdatedFromValueName);
}

bool putBackValue(const JournalRecord& earlier) noexcept
{
    try {
        const auto [key, name] = valueOf(earlier);
        UniqueKey opened;
        if (earlier.flags & journal_flags::RecordExisted) {
            if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                  nullptr, opened.put(), nullptr) != ERROR_SUCCESS)
                return false;
            return ::RegSetValueExW(opened.get(), name.c_str(), 0, earlier.number, earlier.data.data(),
                                    static_cast<DWORD>(earlier.data.size())) == ERROR_SUCCESS;
        }
        const LSTATUS status =
            ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE | KEY_QUERY_VALUE, opened.put());
        if (status == ERROR_FILE_NOT_FOUND) return true;
        if (status != ERROR_SUCCESS) return false;
        const LSTATUS deleted = ::RegDeleteValueW(opened.get(), name.c_str());
        if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) return false;
        // The product's key that only the run's value filled goes with it.
        DWORD subkeys = 0, values = 0;
        if (sameFileName(key, productKeyPath()) &&
            ::RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                               nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
            subkeys == 0 && values == 0) {
            opened.reset();
            ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
        }
        return true;
    } catch (...) {
        return false;
    }
}

unsigned endProgramRuns(const std::wstring& program, DWORD timeoutMs) noexcept
{
    std::vector<UniqueHandle> runs;
    try {
        // Invalid as a file handle is: INVALID_HANDLE_VALUE.
        UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snapshot) return 0;
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
            if (entry.th32ProcessID == ::GetCurrentProcessId() || !sameFileName(entry.szExeFile, nameOf(program)))
                continue;
            UniqueHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION,
                                               FALSE, entry.th32ProcessID));
            if (!process) continue;
            wchar_t image[MAX_PATH * 2] = {};
            DWORD length = static_cast<DWORD>(std::size(image));
            if (::QueryFullProcessImageNameW(process.get(), 0, image, &length) &&
                sameFileName(fullPathOf(std::wstring(image, length)), fullPathOf(program)))
                runs.push_back(std::move(process));
        }
    } catch (...) {
    }
    const DWORD started = ::GetTickCount();
    for (UniqueHandle& run : runs) {
        const DWORD spent = ::GetTickCount() - started;
        if (::WaitForSingleObject(run.get(), spent < timeoutMs ? timeoutMs - spent : 0) != WAIT_OBJECT_0) {
            ::TerminateProcess(run.get(), ERROR_PROCESS_ABORTED);
            ::WaitForSingleObject(run.get(), 5000);
        }
    }
    return static_cast<unsigned>(runs.size());
}

}  // namespace qv
