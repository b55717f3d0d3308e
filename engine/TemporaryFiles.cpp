#include "engine/TemporaryFiles.h"

#include "sys/PathGuard.h"
#include "uninstall/RunFolderName.h"
#include "sys/Security.h"

#include <windows.h>
#include <shlwapi.h>

#include <cwchar>

namespace qv {

namespace {

// Longest temporary path (with its trailing separator) accepted from the
// system; the same limit guards the journal's backups.
constexpr DWORD maxTempPathLength = 246;

// "ovXXXX.tmp", the longest name a backup in the run folder gets.
constexpr std::size_t backupNameLength = 10;

TemporaryFiles* currentList = nullptr;

std::wstring formatError(DWORD code, const wchar_t* call)
{
    wchar_t text[64];
    std::swprintf(text, sizeof text / sizeof *text, L"%08x (%ls)", static_cast<unsigned>(code), call);
    return text;
}

// Through a checked handle: a link goes itself, and a file with other names
// keeps its attributes (sys/PathGuard.h). A folder stays.
void deleteFile(const std::wstring& path) noexcept
{
    removeChecked(path, Removable::File);
}

}  // namespace

bool makeTempFolder(std::wstring& folder, std::wstring& errorText)
{
    wchar_t path[MAX_PATH] = {};
    // GetTempPathW does not always set an error when the path is too long
    // for the buffer; start from zero so the text never shows a stale code.
    ::SetLastError(ERROR_SUCCESS);
    DWORD length = 0;
    if (isLocalSystem()) {
        // SYSTEM's TEMP may name any folder; its own one is used instead.
        const std::wstring base = temporaryBase(true);
        if (!base.empty() && base.size() < MAX_PATH) {
            ::lstrcpynW(path, base.c_str(), MAX_PATH);
            length = static_cast<DWORD>(base.size());
        }
    } else {
        length = ::GetTempPathW(MAX_PATH, path);
    }
    if (length == 0 || length > maxTempPathLength) {
        errorText = formatError(::GetLastError(), L"GetTempPath");
        return false;
    }
    // A temporary path of up to 246 characters plus the 45-character folder
    // name can pass MAX_PATH: refuse it rather than name a folder that no
    // 260-character buffer further on could hold.
    const std::wstring name = newRunFolderName();
    if (!::PathAppendW(path, name.c_str())) {
        errorText = formatError(ERROR_FILENAME_EXCED_RANGE, L"PathAppend");
        return false;
    }
    folder = path;
    return true;
}

std::optional<RunFolder> makeRunFolder(std::wstring& errorText)
{
    // A fresh random name is taken only by a run of ours or by chance; a
    // few draws are plenty, and an endless loop would hide a real failure.
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::wstring folder;
        if (!makeTempFolder(folder, errorText)) return std::nullopt;
        // The backups are named inside it ("ov" + four hex digits + ".tmp"):
        // a run that could make none would overwrite what it cannot restore.
        if (folder.size() + 1 + backupNameLength > MAX_PATH - 1) {
            errorText = formatError(ERROR_FILENAME_EXCED_RANGE, L"PathAppend");
            return std::nullopt;
        }
        std::optional<RunFolder> created = RunFolder::create(folder);
        if (created) return created;
        const DWORD error = ::GetLastError();
        errorText = formatError(error, L"CreateDirectory");
        if (error != ERROR_ALREADY_EXISTS) return std::nullopt;
    }
    return std::nullopt;
}

TemporaryFiles::TemporaryFiles(std::wstring folder) : folder_(std::move(folder))
{
    currentList = this;
}

TemporaryFiles::~TemporaryFiles()
{
    cleanUp();
}

TemporaryFiles* TemporaryFiles::current() noexcept
{
    return currentList;
}

void TemporaryFiles::add(std::wstring path)
{
    files_.push_back(std::move(path));
}

void TemporaryFiles::cleanUp() noexcept
{
    if (currentList == this) currentList = nullptr;
    for (const std::wstring& file : files_) deleteFile(file);
    files_.clear();
    // Succeeds only when nothing else was left there.
    if (!folder_.empty()) ::RemoveDirectoryW(folder_.c_str());
}

}  // namespace qv
