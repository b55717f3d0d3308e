#include "engine/FolderMacros.h"

#include "sys/OwnerWindow.h"
#include "engine/CompressError.h"
#include "sys/PathIdentity.h"
#include "sys/UsersAccess.h"
#include "sys/ShellFolders.h"

#include <boost/filesystem.hpp>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <system_error>

namespace qv {
namespace fs = boost::filesystem;

namespace {

constexpr DWORD kSharedFolderAccess = FILE_ALL_ACCESS;                        // 0x1F01FF
constexpr BYTE kSharedFolderInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;  // 3

enum class Macro {
    InstallPath,
    SamplePath,
    ProgramFiles,
    ProgramCommon,
    CommonData,
    UserData,
    CommonDocuments,
    Documents,
    CommonDesktop,
    Desktop,
    WinDir,
    System,
    Temporary,
};

struct MacroDefinition {
    const wchar_t* name;
    Macro macro;
    int csidl;          // 0 for the folders the extractor was given
    int fallbackCsidl;  // 0 when there is no fallback
    bool shared;
};

// Tested in this order; the first whole, exact match wins.
constexpr MacroDefinition kMacros[] = {
    {L"<InstallPath>", Macro::InstallPath, 0, 0, false},
    {L"<SamplePath>", Macro::SamplePath, 0, 0, false},
    {L"<ProgramFiles>", Macro::ProgramFiles, CSIDL_PROGRAM_FILES, 0, false},
    {L"<ProgramCommon>", Macro::ProgramCommon, CSIDL_PROGRAM_FILES_COMMON, 0, false},
    {L"<CommonData>", Macro::CommonData, CSIDL_COMMON_APPDATA, CSIDL_APPDATA, true},
    {L"<UserData>", Macro::UserData, CSIDL_APPDATA, 0, false},
    {L"<CommonDocuments>", Macro::CommonDocuments, CSIDL_COMMON_DOCUMENTS, CSIDL_PERSONAL, true},
    {L"<Documents>", Macro::Documents, CSIDL_PERSONAL, 0, false},
    {L"<CommonDesktop>", Macro::CommonDesktop, CSIDL_COMMON_DESKTOPDIRECTORY,
     CSIDL_DESKTOPDIRECTORY, true},
    {L"<Desktop>", Macro::Desktop, CSIDL_DESKTOPDIRECTORY, 0, false},
    {L"<WinDir>", Macro::WinDir, CSIDL_WINDOWS, 0, false},
    {L"<System>", Macro::System, CSIDL_SYSTEM, 0, false},
    {L"<Temporary>", Macro::Temporary, 0, 0, false},
};

std::wstring commonDesktop()
{
    return lookupFolder(CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY, true);
}

bool isDirectory(const fs::path& path) noexcept
{
    boost::system::error_code error;
    return fs::is_directory(path, error) && !error;
}

}  // namespace

FolderMacros::FolderMacros(std::wstring installPath, std::wstring samplePath, std::wstring tempPath)
    : installPath_(std::move(installPath)),
      samplePath_(std::move(samplePath)),
      tempPath_(std::move(tempPath))
{
}

std::wstring FolderMacros::resolve(const std::wstring& destination)
{
    const fs::path path(destination);
    auto element = path.begin();
    if (element == path.end()) return destination;

    const std::wstring& first = element->native();
    if (first.size() < 2 || first.front() != L'<' || first.back() != L'>') return destination;

    const auto definition = std::find_if(std::begin(kMacros), std::end(kMacros),
                                         [&](const MacroDefinition& d) { return first == d.name; });

    fs::path folder;
    bool shared = false;
    if (definition != std::end(kMacros)) {
        shared = definition->shared;
        switch (definition->macro) {
        case Macro::InstallPath:
            folder = installPath_;
            break;
        case Macro::SamplePath: {
            const fs::path sample(samplePath_);
            if (sample.empty()) {
                folder = commonDesktop();
            } else if (sample.has_root_name() && sample.has_root_directory()) {
                folder = sample;
            } else {
                // Only the sample folder itself is opened to the Users group,
                // not the folders the destination names below it.
                folder = commonDesktop();
                folder /= sample;
                registerSharedFolder(folder.native());
            }
            break;
        }
        case Macro::Temporary:
            folder = tempPath_.empty() ? installPath_ : tempPath_;
            break;
        default:
            folder = lookupFolder(definition->csidl, definition->fallbackCsidl,
                                  definition->fallbackCsidl != 0);
            break;
        }
    }

    // Boost names a trailing separator as a last "." element: the folder is
    // the one before it.
    for (++element; element != path.end(); ++element) {
        if (element->native() == L"." && std::next(element) == path.end() &&
            (destination.back() == L'\\' || destination.back() == L'/'))
            break;
        folder /= *element;
        if (shared) registerSharedFolder(folder.native());
    }
    return folder.native();
}

void FolderMacros::registerSharedFolder(const std::wstring& path)
{
    const bool known = std::any_of(sharedFolders_.begin(), sharedFolders_.end(),
                                   [&](const SharedFolder& f) { return samePath(f.path, path); });
    if (!known) sharedFolders_.push_back(SharedFolder{path, false});
}

void FolderMacros::grantPendingFolders(const std::wstring& targetFile)
{
    // Called before every file is opened, so keep the file-system questions
    // few: a shared folder that does not exist yet cannot contain the
    // target, and the target's folders are walked once for all the others.
    std::vector<SharedFolder*> pending;
    for (SharedFolder& shared : sharedFolders_)
        if (!shared.granted && isDirectory(fs::path(shared.path))) pending.push_back(&shared);
    if (pending.empty()) return;

    // Each folder's identity is worked out once, not once per pair.
    std::vector<PathIdentity> sharedIdentities;
    for (const SharedFolder* shared : pending) sharedIdentities.emplace_back(shared->path);
    std::vector<SharedFolder*> reached;
    const fs::path target(targetFile);
    for (fs::path folder = target.parent_path(); !folder.empty() && isDirectory(folder);
         folder = folder.parent_path()) {
        const PathIdentity identity(folder.native());
        for (std::size_t i = 0; i < pending.size(); ++i)
            if (std::find(reached.begin(), reached.end(), pending[i]) == reached.end() &&
                identity.sameAs(sharedIdentities[i]))
                reached.push_back(pending[i]);
        if (reached.size() == pending.size()) break;
        if (!folder.has_relative_path()) break;  // the root: nothing above it
    }
    // Granted in the order the folders were registered.
    for (SharedFolder* shared : pending) {
        if (std::find(reached.begin(), reached.end(), shared) == reached.end()) continue;
        grantUsersAccess(shared->path, kSharedFolderAccess, kSharedFolderInheritance, GrantOn::Folder);
        shared->granted = true;
    }
}

std::wstring lookupFolder(int csidl, int fallbackCsidl, bool fallbackAllowed)
{
    std::wstring folder = specialFolder(csidl, findOwnerWindow());
    if (folder.empty() && fallbackAllowed) folder = specialFolder(fallbackCsidl, findOwnerWindow());
    if (folder.empty()) throw std::system_error(CompressError::Unexpected);
    return folder;
}

}  // namespace qv
