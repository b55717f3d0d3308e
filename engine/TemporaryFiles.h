#pragma once
// Classes in this file:
//   makeTempFolder   names the install run's private temporary folder
//   makeRunFolder    names and creates it, private to administrators
//   TemporaryFiles   the files of one run that are deleted when it ends

#include "sys/RunFolder.h"

#include <optional>
#include <string>
#include <vector>

namespace qv {

// Names a fresh folder "orvane_{<random v4 UUID>}" below the user's
// temporary folder and stores its full path in `folder`. Nothing is created:
// the folder comes into existence when the first file is written there.
// On failure `folder` is left as it was and `errorText` holds the system
// error code as 8 lower-case hex digits and the failing call, for example
// "00000000 (GetTempPath)". A failing random-number provider throws.
// A process running as SYSTEM names it below the system's own temporary
// folder instead (sys/RunFolder.h temporaryBase).
bool makeTempFolder(std::wstring& folder, std::wstring& errorText);

// The run's folder made real: named by makeTempFolder and created with
// RunFolder::create, so that only Administrators and SYSTEM can open it. A
// name that is taken meanwhile is drawn afresh. A folder whose path leaves
// no room for the names of backups inside it is refused like a name too
// long for its buffer ("000000ce (PathAppend)"). On failure errorText holds
// the error code and the failing call as makeTempFolder writes it, for
// example "000000b7 (CreateDirectory)".
std::optional<RunFolder> makeRunFolder(std::wstring& errorText);

// The files of one install run that serve only during the installation.
// While a list exists, current() points to it, so that the extraction
// handler can add the files it writes; the list's destruction deletes them.
class TemporaryFiles {
public:
    explicit TemporaryFiles(std::wstring folder);
    ~TemporaryFiles();
    TemporaryFiles(const TemporaryFiles&) = delete;
    TemporaryFiles& operator=(const TemporaryFiles&) = delete;

    // The list of the run in progress, or null between runs.
    static TemporaryFiles* current() noexcept;

    void add(std::wstring path);

    // Deletes the listed files (read-only ones included), then the folder if
    // it is empty. Every failure is ignored: files that cannot be deleted
    // and files of other kinds stay, and so does the folder that holds them.
    void cleanUp() noexcept;

    const std::wstring& folder() const noexcept { return folder_; }
    const std::vector<std::wstring>& files() const noexcept { return files_; }

private:
    std::wstring folder_;
    std::vector<std::wstring> files_;
};

}  // namespace qv
