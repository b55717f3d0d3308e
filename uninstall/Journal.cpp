// The journal side of UninstallLog: recording changes before they are made,
// backups of what they replace, and rollback.

#include "uninstall/UninstallLog.h"

#include "app/Product.h"
#include "sys/Handles.h"
#include "sys/Security.h"
#include "uninstall/JournalObserver.h"
#include "uninstall/UninstallKey.h"

#include <shlobj.h>

#include <boost/filesystem/path.hpp>

namespace qv {
namespace {

constexpr std::size_t kMaxPath = MAX_PATH - 1;      // 259 characters
constexpr DWORD kMaxTempFolderLength = 246;          // leaves room for "ovXXXX.tmp"

bool isFolder(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool exists(const std::wstring& path)
{
    return !path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Privileges are switched back off on every path out of a registry backup or
// restore, as they were before.
class PrivilegeScope {
public:
    explicit PrivilegeScope(const wchar_t* name) : name_(name) { enablePrivilege(name_, true); }
    ~PrivilegeScope() { enablePrivilege(name_, false); }
    PrivilegeScope(const PrivilegeScope&) = delete;
    PrivilegeScope& operator=(const PrivilegeScope&) = delete;

private:
    // Without the privilege the save or restore itself fails and is
    // handled there, so the answer is not needed.
    static void enablePrivilege(const wchar_t* name, bool enable) noexcept { setPrivilege(name, enable); }
    const wchar_t* name_;
};

}  // namespace

LogEntry& UninstallLog::append(std::int32_t kind)
{
    LogEntry& entry = newEntries_.emplace_back();
    entry.kind = kind;
    return entry;
}

void UninstallLog::createFolders(const std::wstring& folder)
{
    if (folder.empty() || folder.size() > kMaxPath) return;

    // Walk the path from the top down, skipping its first element (the
    // drive, or the server of a network path), and create what is missing.
    constexpr wchar_t separators[] = L"\\/";
    const std::size_t first = folder.find_first_not_of(separators);
    if (first == std::wstring::npos) return;
    std::size_t end = folder.find_first_of(separators, first);
    while (end != std::wstring::npos) {
        const std::size_t element = folder.find_first_not_of(separators, end);
        if (element == std::wstring::npos) break;  // trailing separators
        end = folder.find_first_of(separators, element);
        const std::wstring current = folder.substr(0, end);
        if (isFolder(current)) continue;
        if (!::CreateDirectoryW(current.c_str(), nullptr)) return;
        ::SHChangeNotify(SHCNE_MKDIR, SHCNF_PATHW, current.c_str(), nullptr);
        LogEntry& entry = append(CreatedFolder);
        entry.path = current;
        entry.done = true;
        if (observer_) observer_->recorded(entry);
    }
}

std::wstring UninstallLog::makeBackup(const wchar_t* source, bool copy)
{
    // A folder standing where a file goes is no earlier version of it: it
    // stays where it is, and the write of the file fails on it.
    if (source && isFolder(source)) return {};
    wchar_t tempFolder[MAX_PATH] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, tempFolder);
    if (length == 0 || length > kMaxTempFolderLength) return {};

    wchar_t name[MAX_PATH] = {};
    if (!::GetTempFileNameW(tempFolder, L"ov", 0, name)) return {};
    ::DeleteFileW(name);  // only the unique name is wanted
    if (!source) return name;

    const DWORD attributes = ::GetFileAttributesW(source);
    const bool valid = attributes != INVALID_FILE_ATTRIBUTES;
    ::SetFileAttributesW(source, FILE_ATTRIBUTE_NORMAL);
    if (copy) {
        if (::CopyFileW(source, name, FALSE)) {
            if (valid) {
                ::SetFileAttributesW(source, attributes);
                ::SetFileAttributesW(name, attributes);
            }
            return name;
        }
    } else if (::MoveFileW(source, name)) {
        if (valid) ::SetFileAttributesW(name, attributes);
        return name;
    }
    if (valid) ::SetFileAttributesW(source, attributes);
    return {};
}

void UninstallLog::recordFile(const std::wstring& path, std::int32_t entryKind, bool copy)
{
    pending_ = true;
    createFolders(boost::filesystem::path(path).parent_path().wstring());
    LogEntry& entry = append(InstalledFile);
    entry.path = path;
    entry.payloadKind = entryKind;
    if (exists(path)) entry.backupPath = makeBackup(path.c_str(), copy);
    if (observer_) observer_->recorded(entry);
}

void UninstallLog::recordShortcut(int which, const std::wstring& folder)
{
    pending_ = true;
    createFolders(folder);
    const std::int32_t kind = which == 0 ? ProgramShortcut : which == 1 ? UninstallShortcut : DesktopShortcut;
    LogEntry& entry = append(kind);
    for (const LogEntry& earlier : previousEntries_) {
        if (earlier.kind != kind) continue;
        if (exists(earlier.path)) entry.backupPath = makeBackup(earlier.path.c_str(), false);
        break;  // only the first earlier shortcut of this kind
    }
    if (observer_) observer_->recorded(entry);
}

void UninstallLog::recordUninstallKey(HKEY key)
{
    pending_ = true;
    LogEntry& entry = append(UninstallKey);
    auto tell = scopeExit([&] {
        if (observer_) observer_->recorded(entry);
    });
    if (!key) return;  // a key created by this run is deleted by rollback

    entry.backupPath = makeBackup(nullptr, false);
    if (entry.backupPath.empty()) return;
    PrivilegeScope backup(SE_BACKUP_NAME);
    if (::RegSaveKeyW(key, entry.backupPath.c_str(), nullptr) != ERROR_SUCCESS) {
        ::SetFileAttributesW(entry.backupPath.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(entry.backupPath.c_str());
        entry.backupPath.clear();
    }
}

void UninstallLog::recordClassesRoot()
{
    pending_ = true;
    const LogEntry& entry = append(ClassesRootKeys);
    if (observer_) observer_->recorded(entry);
}

void UninstallLog::confirm(bool done, const wchar_t* path)
{
    if (!pending_ || newEntries_.empty()) return;
    pending_ = false;
    LogEntry& last = newEntries_.back();
    last.done = done;
    if (path) last.path = path;
    if (observer_) observer_->settled(last);
}

bool UninstallLog::wasInstalled(const std::wstring& path) const
{
    for (const LogEntry& entry : previousEntries_)
        if (entry.kind == InstalledFile && entry.done && entry.path == path) return true;
    return false;
}

void UninstallLog::undo(LogEntry& entry) noexcept
{
    switch (entry.kind) {
    case CreatedFolder:
        ::RemoveDirectoryW(entry.path.c_str());  // only succeeds when empty
        break;
    case InstalledFile:
    case ProgramShortcut:
    case UninstallShortcut:
    case DesktopShortcut:
        // A shortcut that was never created has no path: its backup then
        // stays where it is rather than being moved to nowhere.
        if (entry.path.empty()) break;
        // A folder there is none of this run's files: it stays, with all
        // it holds.
        if (isFolder(entry.path)) break;
        ::SetFileAttributesW(entry.path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(entry.path.c_str());
        if (!entry.backupPath.empty()) {
            const DWORD attributes = ::GetFileAttributesW(entry.backupPath.c_str());
            ::SetFileAttributesW(entry.backupPath.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (::MoveFileW(entry.backupPath.c_str(), entry.path.c_str()) &&
                attributes != INVALID_FILE_ATTRIBUTES)
                ::SetFileAttributesW(entry.path.c_str(), attributes);
        }
        break;
    case UninstallKey: {
        PrivilegeScope restore(SE_RESTORE_NAME);
        UniqueKey parent;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallParentKeyPath, 0, KEY_ALL_ACCESS, parent.put()) !=
            ERROR_SUCCESS)
            break;
        std::wstring name;
        try {
            name = productKeyName(productCode);
        } catch (...) {
            break;
        }
        if (!entry.backupPath.empty()) {
            UniqueKey product;
            if (::RegOpenKeyExW(parent.get(), name.c_str(), 0, KEY_ALL_ACCESS, product.put()) == ERROR_SUCCESS)
                ::RegRestoreKeyW(product.get(), entry.backupPath.c_str(), 0);
            ::SetFileAttributesW(entry.backupPath.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(entry.backupPath.c_str());
        } else {
            ::RegDeleteTreeW(parent.get(), name.c_str());
        }
        break;
    }
    default:  // ClassesRootKeys: the program's own registrations stay
        break;
    }
}

void UninstallLog::rollback() noexcept
{
    if (observer_) observer_->rollingBack(newEntries_.size());
    while (!newEntries_.empty()) {
        undo(newEntries_.back());
        if (observer_) observer_->undone(newEntries_.back());
        newEntries_.pop_back();
    }
}

}  // namespace qv
