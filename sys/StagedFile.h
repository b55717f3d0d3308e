#pragma once
// Classes in this file:
//   StagedFile     a file written under a temporary name beside its target
//                  and put in the target's place only once it is complete
//   putInPlace     the same move for a temporary file that an earlier
//                  process wrote and could not move
//   stagingName    the temporary name for a file in a folder
//
// A process that ends while it writes a file (killed, or the power lost)
// must not leave a cut-off file under the real name: an existing data file
// is never written again, a damaged program or library would stay until
// the next reinstallation, and a cut-off uninstall log loses every line
// after the cut. The bytes therefore go to a name of their own, "~qv" and
// random hexadecimal digits, created new in the target's folder through a
// handle checked for links (sys/PathGuard.h), opened by nobody else.
// Complete, the file is flushed to the disk and may be read back through
// handle(); only then does the handle itself take the target's name,
// replacing what is there. Whatever ends the process before leaves only the
// temporary name, which the run's journal named before it was created and
// which the recovery at the next start deletes. Until it is committed, the
// object deletes its file when it goes.

#include "sys/Handles.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace qv {

class StagedFile {
public:
    // Told the temporary name before the file is created.
    using Announce = std::function<void(const std::wstring& target, const std::wstring& staging)>;

    // Creates the temporary file for target (whose folder exists). Throws
    // std::system_error with the system's code, or HResultError when a link
    // is met on the way; whatever announce throws.
    StagedFile(std::wstring target, const Announce& announce);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    void write(const void* data, std::uint64_t size);
    // What was written goes to the disk: before any name points at it.
    void flush();
    // Read and write access, for reading the content back.
    HANDLE handle() const noexcept { return file_.get(); }

    // Moves the file into the target's place, replacing a file there (whose
    // read-only attribute is cleared for that, and put back if the move
    // fails), then gives it attributes (0: left as created). A folder at the
    // target stays and fails it with ERROR_ACCESS_DENIED, and so does a
    // file held open by another process. Throws as the constructor does;
    // the temporary file is deleted then.
    void commit(DWORD attributes = 0);

    const std::wstring& target() const noexcept { return target_; }
    const std::wstring& path() const noexcept { return path_; }

private:
    std::wstring target_;
    std::wstring path_;
    std::wstring folderFinal_;  // the checked folder as the system reports it
    UniqueFile file_;
};

// Moves the temporary file staging (a file with one name, reached through
// checked folders only) into target's place in the same folder as
// StagedFile::commit does. Throws as StagedFile::commit does.
void putInPlace(const std::wstring& staging, const std::wstring& target, DWORD attributes = 0);

// The temporary name for a file in folder: "~qv" and as many random
// hexadecimal digits (16 at most, 8 at least) as keep the path within 259
// characters; empty when even 8 do not fit.
std::wstring stagingName(const std::wstring& folder);
// Whether name is such a name (letters of any case).
bool isStagingName(const std::wstring& name) noexcept;

}  // namespace qv
