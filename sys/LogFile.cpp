#include "sys/LogFile.h"

#include "sys/HResultError.h"
#include "sys/PathGuard.h"

#include <bcrypt.h>

#include <cwchar>
#include <string>

namespace qv {
namespace {

constexpr char utf8Mark[] = "\xEF\xBB\xBF";

std::string toUtf8(const std::wstring& text)
{
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                              nullptr);
    return bytes;
}

bool writeAll(HANDLE file, const std::string& bytes) noexcept
{
    DWORD written = 0;
    return ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// Open the last element itself, never what a link there points to; the
// handle is then checked for what it really is.
constexpr DWORD openFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
// Appending only: no write can land anywhere but at the end.
constexpr DWORD appendAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// Whether the file opened for path is somewhere else than in path's folder
// (as its check found it: folderFinal) under path's name: a link at the
// last element was followed, or a folder on the way was swapped for one
// since the check. Wine follows a symbolic link to a file whatever the
// flags and reports it as a plain file: only where the handle really leads
// tells.
bool reachedThroughLink(HANDLE file, const std::wstring& path, const std::wstring& folderFinal)
{
    const std::wstring full = fullPathOf(path);
    const std::wstring actual = finalPathOf(file);
    if (full.empty() || actual.empty() || folderFinal.empty()) return true;
    return !sameFileName(parentOf(actual), folderFinal) || !sameFileName(nameOf(actual), nameOf(full));
}

// A plain file on a disk, with this one name.
DWORD refusal(HANDLE file) noexcept
{
    if (::GetFileType(file) != FILE_TYPE_DISK) return ERROR_NOT_SUPPORTED;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) return ::GetLastError();
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_DIRECTORY;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return ERROR_NOT_SUPPORTED;
    if (info.nNumberOfLinks != 1) return ERROR_NOT_SUPPORTED;
    return ERROR_SUCCESS;
}

std::wstring localTimeText(const wchar_t* format)
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    wchar_t text[32] = {};
    std::swprintf(text, 32, format, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                  now.wMilliseconds);
    return text;
}

}  // namespace

std::wstring temporaryFolder()
{
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) return {};
    return std::wstring(folder, length);
}

std::unique_ptr<LogFile> LogFile::openNamed(const std::wstring& path, DWORD& error)
{
    // The flag above keeps Windows from following a link at the last
    // element; Wine follows it all the same, so the name is looked at first
    // too (Wine reports a link as a reparse point).
    // Every folder on the way is checked for links first (sys/PathGuard.h):
    // a junction there would carry the administrator's log, and what it
    // appends, into a folder of the user's choosing.
    std::wstring folderFinal;
    try {
        folderFinal = checkFoldersOnPath(path);
    } catch (const HResultError& refused) {
        const HRESULT code = refused.code();
        const bool win32 = HRESULT_FACILITY(code) == FACILITY_WIN32;
        error = !win32 || code == HRESULT_FROM_WIN32(errorLinkRefused) || code == HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME)
                    ? ERROR_NOT_SUPPORTED
                    : HRESULT_CODE(code);
        return nullptr;
    }
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            error = ERROR_NOT_SUPPORTED;
            return nullptr;
        }
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            error = ERROR_DIRECTORY;
            return nullptr;
        }
    }
    // An existing file is opened as it is; a missing one is created with
    // CREATE_NEW, which fails on any name taken meanwhile, a dangling link
    // included (OPEN_ALWAYS would create the file a link points to).
    UniqueFile file(::CreateFileW(path.c_str(), appendAccess, FILE_SHARE_READ, nullptr, OPEN_EXISTING, openFlags,
                                  nullptr));
    bool created = false;
    if (!file && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
        file.reset(::CreateFileW(path.c_str(), appendAccess, FILE_SHARE_READ, nullptr, CREATE_NEW, openFlags,
                                 nullptr));
        created = static_cast<bool>(file);
    }
    if (!file) {
        error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) error = ERROR_NOT_SUPPORTED;
        return nullptr;
    }
    DWORD refused = refusal(file.get());
    if (!refused && reachedThroughLink(file.get(), path, folderFinal)) refused = ERROR_NOT_SUPPORTED;
    if (refused) {
        error = refused;
        return nullptr;
    }
    if (created && !writeAll(file.get(), utf8Mark)) {
        error = ::GetLastError();
        return nullptr;
    }
    error = ERROR_SUCCESS;
    return std::unique_ptr<LogFile>(new LogFile(std::move(file), path));
}

std::unique_ptr<LogFile> LogFile::createUnique(const std::wstring& folder, const std::wstring& stem, DWORD& error)
{
    std::wstring base = folder;
    if (!base.empty() && base.back() != L'\\') base += L'\\';
    base += stem + L" " + localTimeText(L"%04u-%02u-%02u %02u.%02u.%02u") + L" ";
    error = ERROR_FILE_EXISTS;
    // A name taken by someone else is never ours: try another one.
    for (int attempt = 0; attempt < 16 && error == ERROR_FILE_EXISTS; ++attempt) {
        unsigned long random = 0;
        if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&random), sizeof random,
                                              BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
            error = ERROR_CAN_NOT_COMPLETE;
            return nullptr;
        }
        wchar_t digits[9] = {};
        std::swprintf(digits, 9, L"%08lx", random);
        const std::wstring path = base + digits + L".log";
        UniqueFile file(::CreateFileW(path.c_str(), appendAccess, FILE_SHARE_READ, nullptr, CREATE_NEW, openFlags,
                                      nullptr));
        if (!file) {
            error = ::GetLastError();
            if (error == ERROR_ALREADY_EXISTS) error = ERROR_FILE_EXISTS;
            continue;
        }
        if (!writeAll(file.get(), utf8Mark)) {
            error = ::GetLastError();
            return nullptr;
        }
        error = ERROR_SUCCESS;
        return std::unique_ptr<LogFile>(new LogFile(std::move(file), path));
    }
    return nullptr;
}

std::unique_ptr<LogFile> LogFile::open(const std::wstring& namedPath, const std::wstring& uniqueStem, DWORD& error)
{
    if (!namedPath.empty()) return openNamed(namedPath, error);
    const std::wstring folder = temporaryFolder();
    if (folder.empty()) {
        error = ::GetLastError() ? ::GetLastError() : ERROR_PATH_NOT_FOUND;
        return nullptr;
    }
    return createUnique(folder, uniqueStem, error);
}

void LogOnDemand::write(const std::wstring& text) noexcept
{
    if (runLog_) return runLog_->write(text);
    if (!ownTried_) {
        ownTried_ = true;
        DWORD error = ERROR_SUCCESS;
        try {
            own_ = LogFile::createUnique(temporaryFolder(), uniqueStem_, error);
        } catch (...) {
            // Out of memory: no log of its own.
        }
    }
    if (own_) own_->write(text);
}

void LogFile::write(const std::wstring& text) noexcept
{
    try {
        const std::wstring stamp = localTimeText(L"%04u-%02u-%02u %02u:%02u:%02u.%03u") + L" ";
        std::size_t begin = 0;
        do {
            std::size_t end = text.find_first_of(L"\r\n", begin);
            if (end == std::wstring::npos) end = text.size();
            writeAll(file_.get(), toUtf8(stamp + text.substr(begin, end - begin) + L"\r\n"));
            if (end < text.size() && text[end] == L'\r' && end + 1 < text.size() && text[end + 1] == L'\n') ++end;
            begin = end + 1;
        } while (begin < text.size());
    } catch (...) {
    }
}

}  // namespace qv
