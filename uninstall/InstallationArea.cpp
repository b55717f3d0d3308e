#include "uninstall/InstallationArea.h"

#include "identity/Product.h"
#include "sys/Handles.h"
#include "sys/PathGuard.h"
#include "sys/ShellFolders.h"

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>

#include <algorithm>

namespace qv {
namespace {

// Where the payload's shared data files go, below <CommonData> and
// <UserData>; an earlier version used the same folders.
constexpr wchar_t dataFolderBelowMacro[] = L"Orvane Systems\\Quorvex";
// A shell link file is a few kilobytes; more is not read.
constexpr DWORD maxShortcutBytes = 64 * 1024;

std::wstring shellFolder(int csidl)
{
    const std::wstring path = specialFolder(csidl);
    return path.empty() ? std::wstring() : resolvedPlainPath(path);
}

std::wstring folderAbove(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return {};
    // "C:\" keeps its separator: it is the root, not "C:".
    return slash == 2 && path[1] == L':' ? path.substr(0, 3) : path.substr(0, slash);
}

bool isRoot(const std::wstring& path)
{
    if (path.size() <= 3) return true;
    // "\\server\share" and nothing below it.
    if (path.compare(0, 2, L"\\\\") == 0) return std::count(path.begin(), path.end(), L'\\') <= 3;
    return false;
}

bool containsIgnoringCase(const std::wstring& text, const wchar_t* word)
{
    return ::FindStringOrdinal(FIND_FROMSTART, text.c_str(), static_cast<int>(text.size()), word, -1, TRUE) >= 0;
}

bool isLocalDrivePath(const std::wstring& resolved)
{
    return resolved.size() >= 3 && resolved[1] == L':';
}

void addResolved(std::vector<std::wstring>& list, const std::wstring& path)
{
    const std::wstring resolved = resolvedPlainPath(path);
    if (!resolved.empty()) list.push_back(resolved);
}

bool anyIs(const std::vector<std::wstring>& list, const std::wstring& path)
{
    return std::any_of(list.begin(), list.end(), [&](const std::wstring& f) { return sameFileName(f, path); });
}

bool strictlyBelowAny(const std::vector<std::wstring>& folders, const std::wstring& path)
{
    return std::any_of(folders.begin(), folders.end(), [&](const std::wstring& folder) {
        return !sameFileName(folder, path) && isSameOrBelow(path, folder);
    });
}

}  // namespace

InstallationArea::InstallationArea(std::vector<std::wstring> installFolders)
{
    for (const std::wstring& folder : installFolders) addResolved(installFolders_, folder);

    const std::wstring commonData = shellFolder(CSIDL_COMMON_APPDATA);
    const std::wstring userData = shellFolder(CSIDL_APPDATA);
    // <CommonData> falls back to the user's folder, as the macro does.
    for (const std::wstring& base : {commonData.empty() ? userData : commonData, userData}) {
        if (base.empty()) continue;
        dataBases_.push_back(base);
        dataFolders_.push_back(base + L"\\" + dataFolderBelowMacro);
    }
    const std::wstring commonDesktop = shellFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
    const std::wstring userDesktop = shellFolder(CSIDL_DESKTOPDIRECTORY);
    desktops_.push_back(commonDesktop.empty() ? userDesktop : commonDesktop);

    for (int csidl : {CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_SYSTEMX86, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86,
                      CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA,
                      CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_PROFILE, CSIDL_COMMON_DESKTOPDIRECTORY,
                      CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS, CSIDL_COMMON_STARTMENU,
                      CSIDL_STARTMENU, CSIDL_COMMON_STARTUP, CSIDL_STARTUP, CSIDL_PERSONAL,
                      CSIDL_COMMON_DOCUMENTS}) {
        const std::wstring folder = shellFolder(csidl);
        if (folder.empty()) continue;
        systemFolders_.push_back(folder);
        // The profiles' folder (C:\Users) and the public profile above the
        // all-users desktop.
        if (csidl == CSIDL_PROFILE || csidl == CSIDL_COMMON_DESKTOPDIRECTORY)
            systemFolders_.push_back(folderAbove(folder));
    }
    // 64-bit program files, which a 32-bit process is not told about.
    wchar_t programW6432[MAX_PATH] = {};
    if (DWORD n = ::GetEnvironmentVariableW(L"ProgramW6432", programW6432, MAX_PATH); n > 0 && n < MAX_PATH)
        addResolved(systemFolders_, programW6432);
}

void InstallationArea::addShortcutFolder(const std::wstring& folder)
{
    addResolved(shortcutFolders_, folder);
}

bool InstallationArea::owns(const LogEntry& entry) const
{
    if (entry.kind == UninstallKey || entry.kind == ClassesRootKeys) return true;
    if (entry.path.empty()) return true;
    const std::wstring path = resolvedPlainPath(entry.path);
    if (path.empty()) return false;
    switch (entry.kind) {
    case CreatedFolder:
        return ownsFolder(path);
    case InstalledFile:
        return ownsFile(path);
    case ProgramShortcut:
    case UninstallShortcut:
    case DesktopShortcut:
        return ownsShortcut(path);
    default:
        return false;
    }
}

bool InstallationArea::ownsFile(const std::wstring& path) const
{
    if (strictlyBelowAny(installFolders_, path) || strictlyBelowAny(dataFolders_, path)) return true;
    for (std::wstring folder = folderAbove(path); !folder.empty() && !isRoot(folder); folder = folderAbove(folder))
        if (isSampleFolder(folder)) return true;
    return false;
}

bool InstallationArea::ownsFolder(const std::wstring& path) const
{
    // The system's folders are never an installation's to remove.
    if (isRoot(path) || anyIs(systemFolders_, path)) return false;
    for (const std::vector<std::wstring>* list : {&installFolders_, &dataFolders_}) {
        for (const std::wstring& folder : *list)
            if (isSameOrBelow(path, folder) || isFolderOrCreatedAbove(path, folder)) return true;
    }
    for (const std::wstring& folder : shortcutFolders_)
        if (isFolderOrCreatedAbove(path, folder)) return true;
    for (std::wstring folder = path; !folder.empty() && !isRoot(folder); folder = folderAbove(folder))
        if (isSampleFolder(folder)) return true;
    return false;
}

bool InstallationArea::ownsShortcut(const std::wstring& path) const
{
    // Read from local folders only: naming a network path would make the
    // administrator's machine log on to whatever server the line names.
    if (!isLocalDrivePath(path) || !sameFileName(::PathFindExtensionW(path.c_str()), L".lnk")) return false;
    const std::wstring target = resolvedPlainPath(shortcutTarget(path));
    return !target.empty() && strictlyBelowAny(installFolders_, target);
}

bool InstallationArea::isShortcutPlace(const std::wstring& path) const
{
    const std::wstring resolved = resolvedPlainPath(path);
    if (resolved.empty() || !isLocalDrivePath(resolved) ||
        !sameFileName(::PathFindExtensionW(resolved.c_str()), L".lnk"))
        return false;
    const std::wstring folder = folderAbove(resolved);
    return anyIs(shortcutFolders_, folder) || anyIs(desktops_, folder);
}

bool InstallationArea::isSampleFolder(const std::wstring& folder) const
{
    if (!anyIs(desktops_, folderAbove(folder))) return false;
    const std::wstring name = nameOf(folder);
    return containsIgnoringCase(name, ProductNameFrench) || containsIgnoringCase(name, ProductNameOther);
}

bool InstallationArea::isFolderOrCreatedAbove(const std::wstring& candidate, const std::wstring& folder) const
{
    if (sameFileName(candidate, folder)) return true;
    for (std::wstring above = folderAbove(folder); !above.empty(); above = folderAbove(above)) {
        if (isRoot(above) || anyIs(systemFolders_, above)) return false;
        if (sameFileName(above, candidate)) return true;
    }
    return false;
}

std::wstring shortcutTarget(const std::wstring& linkFile)
{
    try {
        // The bytes come through a handle that was checked for links, and
        // the link object reads them from memory: it never opens the path.
        CheckedHandle file = openChecked(linkFile, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, SeveralNames);
        if (!file || file.isFolder()) return {};
        std::vector<BYTE> bytes(maxShortcutBytes);
        DWORD read = 0;
        if (!::ReadFile(file.handle.get(), bytes.data(), maxShortcutBytes, &read, nullptr) || read == 0) return {};

        const HRESULT initialized = ::CoInitialize(nullptr);
        if (initialized != S_OK && initialized != S_FALSE) return {};
        auto uninitialize = scopeExit([] { ::CoUninitialize(); });
        std::wstring target;
        {
            ComPtr<IStream> stream;
            stream.reset(::SHCreateMemStream(bytes.data(), read));
            ComPtr<IShellLinkW> link;
            ComPtr<IPersistStream> persist;
            if (!stream ||
                FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                          link.putVoid())) ||
                FAILED(link.queryInterface(persist)) || FAILED(persist->Load(stream.get())))
                return {};
            wchar_t path[MAX_PATH] = {};
            if (FAILED(link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH))) return {};
            target = path;
        }
        return target;
    } catch (...) {
        return {};
    }
}

}  // namespace qv
