#pragma once
// Classes in this file:
//   SharedFolder   a folder opened to the Users group once a file lands in it
//   FolderMacros   turns an archive entry's destination ("<InstallPath>\Lang")
//                  into a real folder and keeps the shared folders it met
//   lookupFolder   the shell folder lookup with its fallback

#include <string>
#include <vector>

namespace qv {

struct SharedFolder {
    std::wstring path;
    bool granted = false;
};

class FolderMacros {
public:
    // The folders the extractor was given: installation, sample, temporary.
    FolderMacros(std::wstring installPath, std::wstring samplePath, std::wstring tempPath);

    // Resolves one destination folder; registers shared folders on the way.
    // Throws std::system_error with CompressError::Unexpected when a shell
    // folder lookup finds nothing.
    std::wstring resolve(const std::wstring& destination);

    // Appends the folder unless the same folder (samePath) is already listed.
    void registerSharedFolder(const std::wstring& path);

    // Before a file is opened for writing: every not yet granted shared
    // folder that is the file's folder or one of its existing ancestors gets
    // full access for the Users group, inherited by files and subfolders.
    // Failures of the grant propagate as qv::HResultError (sys/HResultError.h);
    // the extraction turns them into code 7.
    void grantPendingFolders(const std::wstring& targetFile);

    const std::vector<SharedFolder>& sharedFolders() const noexcept { return sharedFolders_; }

private:
    std::wstring installPath_;
    std::wstring samplePath_;
    std::wstring tempPath_;
    std::vector<SharedFolder> sharedFolders_;
};

// SHGetFolderPathW for csidl, then for fallbackCsidl when allowed; throws
// std::system_error with CompressError::Unexpected when both find nothing.
std::wstring lookupFolder(int csidl, int fallbackCsidl = 0, bool fallbackAllowed = false);

}  // namespace qv
