#include "sys/PathGuard.h"

#include "sys/HResultError.h"

#include <algorithm>
#include <vector>

namespace qv {
namespace {

constexpr DWORD openAsItself = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

[[noreturn]] void refuse()
{
    throwHResult(HRESULT_FROM_WIN32(errorLinkRefused));
}

bool isLockedOpen(DWORD error) noexcept
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

bool isMissing(DWORD error) noexcept
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The root of a drive path ("C:\") or of a network path ("\\server\share\"),
// and where the elements below it begin; 0 for any other form (device and
// "\\?\" paths, which nothing of ours names).
std::size_t rootLength(const std::wstring& path) noexcept
{
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return 3;
    if (path.size() > 2 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?' && path[2] != L'.') {
        const std::size_t server = path.find(L'\\', 2);
        if (server == std::wstring::npos || server == 2) return 0;
        const std::size_t share = path.find(L'\\', server + 1);
        if (share == server + 1) return 0;
        return share == std::wstring::npos ? 0 : share + 1;
    }
    return 0;
}

// A reparse point that stands for another name: a symbolic link, a junction
// or a mount point. Others (cloud placeholders, compressed system files)
// are the file itself. A tag that cannot be told counts as a link.
bool isNameSurrogate(DWORD tag) noexcept
{
    return tag == 0 || IsReparseTagNameSurrogate(tag);
}

// Whether the handle, opened without following, holds a link itself.
bool handleIsLink(HANDLE handle, DWORD attributes) noexcept
{
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) return true;
    return isNameSurrogate(tag.ReparseTag);
}

thread_local CheckedFolderCache* activeCache = nullptr;

std::wstring longNameOf(const std::wstring& path)
{
    DWORD size = ::GetLongPathNameW(path.c_str(), nullptr, 0);
    if (size == 0) return {};
    std::wstring result(size, L'\0');
    size = ::GetLongPathNameW(path.c_str(), result.data(), size);
    result.resize(size);
    return result;
}

// The name under which the handle's object lies is the one asked for; a
// short (8.3) spelling of it counts as the same name.
bool sameName(const std::wstring& asked, const std::wstring& final)
{
    if (sameFileName(nameOf(asked), nameOf(final))) return true;
    const std::wstring longName = longNameOf(asked);
    return !longName.empty() && sameFileName(nameOf(longName), nameOf(final));
}

}  // namespace

std::wstring fullPathOf(const std::wstring& path)
{
    if (path.empty()) return {};
    DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return {};
    std::wstring result(size, L'\0');
    size = ::GetFullPathNameW(path.c_str(), size, result.data(), nullptr);
    if (size == 0 || size >= result.size()) return {};
    result.resize(size);
    return result;
}

std::wstring finalPathOf(HANDLE handle)
{
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return {};
        if (length < buffer.size()) {
            std::wstring path(buffer.data(), length);
            if (path.compare(0, 4, L"\\\\?\\") == 0) path.erase(0, 4);
            while (!path.empty() && path.back() == L'\\') path.pop_back();
            return path;
        }
        buffer.resize(length + 1);
    }
}

namespace {

// The walk of checkFoldersOnPath, taking and keeping folders in the cache
// when one is given.
std::wstring walkFolders(const std::wstring& path, CheckedFolderCache* cache)
{
    const std::wstring full = fullPathOf(path);
    const std::size_t root = rootLength(full);
    if (root == 0) throwHResult(HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME));

    // The deepest folder checked before: the walk goes on below it.
    std::size_t end = root;
    std::wstring folderFinal;
    if (cache) {
        for (std::size_t slash = full.rfind(L'\\'); slash != std::wstring::npos && slash >= root;
             slash = slash == 0 ? std::wstring::npos : full.rfind(L'\\', slash - 1)) {
            if (const std::wstring* known = cache->find(full.substr(0, slash))) {
                folderFinal = *known;
                end = slash;
                break;
            }
        }
    }
    if (folderFinal.empty()) {
        UniqueFile rootHandle(::CreateFileW(full.substr(0, root).c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!rootHandle) throwLastError();
        folderFinal = finalPathOf(rootHandle.get());
        if (folderFinal.empty()) throwLastError();
    }

    // Every folder between there and the last element.
    for (;;) {
        while (end < full.size() && full[end] == L'\\') ++end;
        const std::size_t next = full.find(L'\\', end);
        if (next == std::wstring::npos) return folderFinal;  // what remains is the last element
        const std::wstring folder = full.substr(0, next);
        end = next;

        UniqueFile handle(::CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr, OPEN_EXISTING,
                                        openAsItself, nullptr));
        if (!handle) {
            if (isMissing(::GetLastError())) return {};
            throwLastError();
        }
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(handle.get(), &info)) throwLastError();
        if (handleIsLink(handle.get(), info.dwFileAttributes)) refuse();
        // Where the handle lies: a link that the system followed (as Wine
        // does with every one) shows as another folder or another name.
        const std::wstring final = finalPathOf(handle.get());
        if (final.empty()) throwLastError();
        if (!sameFileName(parentOf(final), folderFinal) || !sameName(folder, final)) refuse();
        // A file where a folder should be: nothing below it exists.
        if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
        folderFinal = final;
        if (cache) cache->remember(folder, final);
    }
}

}  // namespace

std::wstring checkFoldersOnPath(const std::wstring& path)
{
    return walkFolders(path, nullptr);
}

CheckedFolderCache::CheckedFolderCache() noexcept : outer_(activeCache)
{
    activeCache = this;
}

CheckedFolderCache::~CheckedFolderCache()
{
    activeCache = outer_;
}

const std::wstring* CheckedFolderCache::find(const std::wstring& folder) const
{
    for (const auto& [path, final] : folders_)
        if (sameFileName(path, folder)) return &final;
    return nullptr;
}

void CheckedFolderCache::remember(const std::wstring& folder, const std::wstring& finalPath)
{
    if (!find(folder)) folders_.emplace_back(folder, finalPath);
}

bool deleteNameIgnoringReadOnly(HANDLE handle) noexcept
{
    // FILE_DISPOSITION_INFO_EX (Windows 10 1809 and later): deletes the name
    // without the read-only attribute being cleared first. Older systems
    // refuse, and the name stays.
    constexpr auto fileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
    constexpr DWORD deleteFlag = 0x1, ignoreReadOnly = 0x10;
    struct {
        DWORD Flags;
    } disposition{deleteFlag | ignoreReadOnly};
    return ::SetFileInformationByHandle(handle, fileDispositionInfoEx, &disposition, sizeof disposition) != FALSE;
}

bool markForDeletion(HANDLE handle) noexcept
{
    FILE_DISPOSITION_INFO disposition{TRUE};
    return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

bool deleteNameOnClose(HANDLE handle, const BY_HANDLE_FILE_INFORMATION& info) noexcept
{
    const DWORD attributes = info.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) || !(attributes & FILE_ATTRIBUTE_READONLY))
        return markForDeletion(handle);
    // A read-only file refuses deletion. Where the system can, its name goes
    // without the attribute being touched at all; the attribute of a file
    // with other names is theirs too, so nothing else is tried for one.
    if (deleteNameIgnoringReadOnly(handle)) return true;
    const bool severalNames = !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && info.nNumberOfLinks > 1;
    if (severalNames) return false;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes & ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic)) return false;
    if (markForDeletion(handle)) return true;
    const DWORD error = ::GetLastError();
    basic.FileAttributes = attributes;
    ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
    ::SetLastError(error);
    return false;
}

bool deleteRunFile(const std::wstring& path) noexcept
{
    UniqueFile file(::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, shareAll, nullptr,
                                  OPEN_EXISTING, openAsItself, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !::GetFileInformationByHandle(file.get(), &info)) return false;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    return deleteNameOnClose(file.get(), info);
}

bool renameOpenFile(HANDLE file, const std::wstring& destination, bool replaceExisting)
{
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + (destination.size() + 1) * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replaceExisting ? TRUE : FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(destination.size() * sizeof(wchar_t));
    std::copy(destination.begin(), destination.end(), rename->FileName);
    return ::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != FALSE;
}

std::wstring folderHolding(const std::wstring& path)
{
    const std::wstring full = fullPathOf(path);
    const std::size_t root = rootLength(full);
    const std::wstring parent = parentOf(full);
    return root != 0 && parent.size() < root ? full.substr(0, root) : parent;
}

CheckedHandle openChecked(const std::wstring& path, DWORD access, DWORD share, DWORD creation, unsigned linkUse,
                          DWORD attributes)
{
    const std::wstring full = fullPathOf(path);
    // A drive's (or share's) root has no folder above it to check, and is
    // no link: opened as it is.
    if (const std::size_t root = rootLength(full); root != 0 && root == full.size()) {
        CheckedHandle opened;
        if (creation != OPEN_EXISTING && creation != OPEN_ALWAYS) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return opened;
        }
        opened.handle.reset(::CreateFileW(full.c_str(), access, share, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (opened.handle && !::GetFileInformationByHandle(opened.handle.get(), &opened.info)) throwLastError();
        return opened;
    }
    std::wstring folderFinal = walkFolders(full, activeCache);

    // What may be created here must be deletable through the same handle,
    // should it turn out to lie elsewhere.
    if (creation != OPEN_EXISTING && creation != TRUNCATE_EXISTING) access |= DELETE;
    auto open = [&](DWORD disposition) {
        return ::CreateFileW(full.c_str(), access, share, nullptr, disposition, attributes | openAsItself, nullptr);
    };
    CheckedHandle opened;
    if (creation == OPEN_ALWAYS) {
        // Opened, else created new: that tells for sure what this call made.
        // A name that is neither there nor free is a link to nowhere that
        // the system follows on creation (Wine shows none of it): refused.
        opened.handle.reset(open(OPEN_EXISTING));
        if (!opened.handle && isMissing(::GetLastError())) {
            opened.handle.reset(open(CREATE_NEW));
            opened.created = static_cast<bool>(opened.handle);
            if (!opened.handle) {
                const DWORD error = ::GetLastError();
                if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return opened;
                opened.handle.reset(open(OPEN_EXISTING));
                if (!opened.handle && isMissing(::GetLastError())) refuse();
            }
        }
    } else {
        opened.handle.reset(open(creation));
        opened.created = opened.handle && (creation == CREATE_NEW ||
                                           (creation == CREATE_ALWAYS && ::GetLastError() != ERROR_ALREADY_EXISTS));
    }
    if (!opened.handle) return opened;

    // What this call created goes again when it turns out to be misplaced.
    auto refuseOpened = [&]() {
        if (opened.created) markForDeletion(opened.handle.get());
        opened.handle.reset();
        refuse();
    };

    // Its folder appeared only after the check: check the way again.
    if (folderFinal.empty()) {
        try {
            folderFinal = walkFolders(full, activeCache);
        } catch (...) {
            refuseOpened();
        }
        if (folderFinal.empty()) refuseOpened();
    }
    if (!::GetFileInformationByHandle(opened.handle.get(), &opened.info)) {
        const DWORD error = ::GetLastError();
        if (opened.created) markForDeletion(opened.handle.get());
        throwHResult(HRESULT_FROM_WIN32(error));
    }
    opened.isLink = handleIsLink(opened.handle.get(), opened.info.dwFileAttributes);

    // Where the handle really lies: in the checked folder, under the name
    // asked for. A link the system followed (Wine follows every one) or a
    // folder swapped since the check shows here.
    const std::wstring final = finalPathOf(opened.handle.get());
    if (final.empty() || !sameFileName(parentOf(final), folderFinal) || !sameName(full, final)) refuseOpened();
    if (opened.isLink && !(linkUse & LinkItself)) refuseOpened();
    if (!opened.isLink && !opened.isFolder() && opened.info.nNumberOfLinks > 1 && !(linkUse & SeveralNames))
        refuseOpened();
    return opened;
}

NameAtPath nameAt(const std::wstring& path)
{
    const CheckedHandle opened =
        openChecked(path, FILE_READ_ATTRIBUTES, shareAll, OPEN_EXISTING, LinkItself | SeveralNames);
    if (!opened) {
        const DWORD error = ::GetLastError();
        if (isMissing(error)) return NameAtPath::Missing;
        throwHResult(HRESULT_FROM_WIN32(error));
    }
    if (opened.isLink) return NameAtPath::Link;
    if (opened.isFolder()) return NameAtPath::Folder;
    return opened.info.nNumberOfLinks > 1 ? NameAtPath::SeveralNames : NameAtPath::File;
}

RemoveOutcome removeChecked(const std::wstring& path, Removable what) noexcept
{
    try {
        CheckedHandle opened = openChecked(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, shareAll,
                                           OPEN_EXISTING, LinkItself | SeveralNames);
        if (!opened) {
            const DWORD error = ::GetLastError();
            if (isMissing(error)) return RemoveOutcome::Missing;
            return isLockedOpen(error) ? RemoveOutcome::InUse : RemoveOutcome::Failed;
        }
        if (!opened.isLink && opened.isFolder() != (what == Removable::EmptyFolder)) return RemoveOutcome::Failed;

        // The installer marks the program and the uninstaller read-only,
        // and a read-only file refuses deletion; another name of the file
        // keeps its attributes.
        if (deleteNameOnClose(opened.handle.get(), opened.info)) return RemoveOutcome::Removed;
        // Opened for deletion, a file still refuses to be marked while a
        // process runs it or maps it (STATUS_CANNOT_DELETE reads as access
        // denied); a folder refuses while it holds anything, and a link
        // is never one.
        const DWORD error = ::GetLastError();
        return !opened.isLink && !opened.isFolder() && (error == ERROR_ACCESS_DENIED || error == ERROR_USER_MAPPED_FILE ||
                                      isLockedOpen(error))
                   ? RemoveOutcome::InUse
                   : RemoveOutcome::Failed;
    } catch (const HResultError& error) {
        return error.code() == HRESULT_FROM_WIN32(errorLinkRefused) ? RemoveOutcome::Refused
                                                                    : RemoveOutcome::Failed;
    } catch (...) {
        return RemoveOutcome::Failed;
    }
}

namespace {

// NtCreateFile's own types, as winternl.h would give them; the function is
// looked up in ntdll.dll, which every process has loaded.
struct NtUnicodeString {
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
};
struct NtObjectAttributes {
    ULONG Length;
    HANDLE RootDirectory;
    NtUnicodeString* ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
};
struct NtIoStatusBlock {
    union {
        LONG Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
};
using NtCreateFileFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, NtObjectAttributes*, NtIoStatusBlock*, PLARGE_INTEGER,
                                    ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(LONG);

constexpr ULONG objCaseInsensitive = 0x40;
constexpr ULONG fileCreate = 2;
constexpr ULONG fileDirectoryFile = 0x1, fileSynchronousIoNonAlert = 0x20, fileOpenReparsePoint = 0x200000;

template <class Fn>
Fn ntdllFunction(const char* name) noexcept
{
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), name)));
}

}  // namespace

bool createFolderChecked(const std::wstring& folder, SECURITY_ATTRIBUTES* security) noexcept
{
    try {
        const std::wstring full = fullPathOf(folder);
        std::wstring name = nameOf(full);
        if (full.empty() || name.empty() || name.size() > 255) {
            ::SetLastError(ERROR_BAD_PATHNAME);
            return false;
        }
        // The parent, checked and held open: while it is, it can be neither
        // renamed nor deleted (nor can a folder above it), so the new folder
        // is made in the folder that was checked, through its handle, never
        // by a path that a link could redirect.
        CheckedHandle parent = openChecked(folderHolding(full), FILE_TRAVERSE | FILE_ADD_SUBDIRECTORY | SYNCHRONIZE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
        if (!parent) return false;
        if (!parent.isFolder()) {
            ::SetLastError(ERROR_PATH_NOT_FOUND);
            return false;
        }
        const auto create = ntdllFunction<NtCreateFileFn>("NtCreateFile");
        const auto toError = ntdllFunction<RtlNtStatusToDosErrorFn>("RtlNtStatusToDosError");
        if (!create || !toError) {
            ::SetLastError(ERROR_PROC_NOT_FOUND);
            return false;
        }
        NtUnicodeString objectName{static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                                   static_cast<USHORT>(name.size() * sizeof(wchar_t)), name.data()};
        NtObjectAttributes attributes{sizeof(NtObjectAttributes), parent.handle.get(), &objectName, objCaseInsensitive,
                                      security ? security->lpSecurityDescriptor : nullptr, nullptr};
        NtIoStatusBlock status{};
        HANDLE made = nullptr;
        const LONG result = create(&made, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &status, nullptr,
                                   FILE_ATTRIBUTE_NORMAL, shareAll, fileCreate,
                                   fileDirectoryFile | fileSynchronousIoNonAlert | fileOpenReparsePoint, nullptr, 0);
        if (result < 0) {
            ::SetLastError(toError(result));
            return false;
        }
        UniqueFile created(made);
        // Where it was made, as the system reports it: in the checked
        // parent, under its own name.
        const std::wstring final = finalPathOf(created.get());
        if (!sameFileName(parentOf(final), finalPathOf(parent.handle.get())) || !sameName(full, final)) {
            markForDeletion(created.get());
            ::SetLastError(errorLinkRefused);
            return false;
        }
        return true;
    } catch (const HResultError& error) {
        ::SetLastError(HRESULT_FACILITY(error.code()) == FACILITY_WIN32 ? HRESULT_CODE(error.code())
                                                                         : ERROR_GEN_FAILURE);
        return false;
    } catch (...) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

}  // namespace qv
