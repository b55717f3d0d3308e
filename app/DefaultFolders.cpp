#include "app/DefaultFolders.h"

#include "identity/Product.h"
#include "sys/PathIdentity.h"
#include "sys/PathText.h"
#include "sys/ShellFolders.h"

#include <boost/filesystem/path.hpp>

#include <shlobj.h>

namespace qv {

namespace detail {

MakerFolders& makerFoldersToFill()
{
    static MakerFolders found;
    return found;
}

}  // namespace detail

const MakerFolders& makerFolders()
{
    return detail::makerFoldersToFill();
}

std::wstring defaultInstallPath()
{
    std::wstring base = specialFolder(CSIDL_PROGRAM_FILES);
    if (base.empty()) {
        wchar_t windows[MAX_PATH + 1] = {};
        UINT n = ::GetSystemWindowsDirectoryW(windows, MAX_PATH + 1);
        base = (n >= 2 && n <= MAX_PATH && windows[1] == L':') ? std::wstring(windows, 2) + L"\\Program Files"
                                                               : L"C:\\Program Files";
    }
    return appendElement(appendElement(base, MakerFolderName), productFolderName());
}

std::wstring startMenuProgramsFolder()
{
    std::wstring base = specialFolder(CSIDL_COMMON_PROGRAMS);
    if (base.empty()) base = specialFolder(CSIDL_PROGRAMS);
    return base;
}

std::wstring defaultStartMenuFolder()
{
    const std::wstring base = startMenuProgramsFolder();
    if (base.empty()) return {};
    return appendElement(appendElement(base, MakerFolderName), productFolderName());
}

std::wstring earlierInstallFolder(const UninstallLog& log, const std::wstring& logPath)
{
    const std::wstring& folder = log.installFolder();
    if (folder.empty()) return {};
    return samePath(folder, boost::filesystem::path(logPath).parent_path().wstring()) ? folder : std::wstring();
}

std::wstring earlierStartMenuFolder(const UninstallLog& log)
{
    const std::wstring& folder = log.shortcutFolder();
    if (folder.empty()) return {};
    for (int csidl : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) {
        const std::wstring programs = specialFolder(csidl);
        if (!programs.empty() && !samePath(folder, programs) && isSameOrBelow(folder, programs)) return folder;
    }
    return {};
}

}  // namespace qv
