#include "sys/RunFolder.h"

#include "sys/FileSecurity.h"
#include "sys/HResultError.h"
#include "sys/PathGuard.h"

#include <windows.h>

namespace qv {

std::optional<RunFolder> RunFolder::create(const std::wstring& path)
{
    try {
        checkFoldersOnPath(path);
        FolderSecurity security = FolderSecurity::administratorsOnly();
        if (!::CreateDirectoryW(path.c_str(), security.attributes())) return std::nullopt;
        // Others may look and write (the run writes below it through other
        // handles), nobody may rename or delete it while the run lasts.
        CheckedHandle pin = openChecked(path, DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
        if (!pin || !pin.isFolder()) {
            const DWORD error = pin ? ERROR_DIRECTORY : ::GetLastError();
            ::RemoveDirectoryW(path.c_str());
            ::SetLastError(error);
            return std::nullopt;
        }
        std::wstring full = fullPathOf(path);
        while (full.size() > 3 && full.back() == L'\\') full.pop_back();
        return RunFolder(std::move(full), std::move(pin.handle));
    } catch (const HResultError& error) {
        // The Win32 code inside HRESULT_FROM_WIN32.
        ::SetLastError(HRESULT_FACILITY(error.code()) == FACILITY_WIN32 ? HRESULT_CODE(error.code())
                                                                         : ERROR_GEN_FAILURE);
        return std::nullopt;
    } catch (...) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return std::nullopt;
    }
}

RunFolder::~RunFolder()
{
    // Through the pin itself: only an empty folder can be marked.
    if (pin_) markForDeletion(pin_.get());
}

BY_HANDLE_FILE_INFORMATION RunFolder::identity() const noexcept
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (pin_) ::GetFileInformationByHandle(pin_.get(), &info);
    return info;
}

std::wstring RunFolder::freshFileName(const wchar_t* prefix) const
{
    wchar_t name[MAX_PATH] = {};
    if (path_.empty() || !::GetTempFileNameW(path_.c_str(), prefix, 0, name)) return {};
    ::DeleteFileW(name);  // only the unique name is wanted
    return name;
}

std::wstring temporaryBase(bool systemAccount)
{
    if (!systemAccount) {
        wchar_t path[MAX_PATH + 1] = {};
        const DWORD length = ::GetTempPathW(MAX_PATH + 1, path);
        return length == 0 || length > MAX_PATH ? std::wstring() : std::wstring(path, length);
    }
    wchar_t windows[MAX_PATH] = {};
    const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    std::wstring base(windows, length);
    if (base.back() != L'\\') base += L'\\';
    // Windows 11 and recent Windows 10 keep SYSTEM's files apart from the
    // Temp folder, where users may create files.
    const std::wstring systemTemp = base + L"SystemTemp";
    const DWORD attributes = ::GetFileAttributesW(systemTemp.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return systemTemp + L'\\';
    return base + L"Temp\\";
}

}  // namespace qv
