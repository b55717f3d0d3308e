#pragma once
// Classes in this file:
//   RunFolder        the private folder of one administrator's run: the
//                    backups of what the run replaces, the saved uninstall
//                    key and the run's temporary files live there
//   temporaryBase    the folder below which run folders are made
//
// A temporary folder may be shared (TEMP pointed at C:\Temp) and a name in it
// may be taken first by anybody, as a file, a folder or a link to elsewhere.
// The run folder is therefore created in one call with a DACL that lets only
// Administrators and SYSTEM in, under a name nobody can guess; CreateDirectoryW
// fails rather than reuse a name that exists. While the run lasts a handle
// without delete sharing pins it: it cannot be renamed or replaced by a link.
// Everything the run keeps there is named inside it, where no user can put
// anything first.

#include "sys/Handles.h"

#include <optional>
#include <string>

namespace qv {

class RunFolder {
public:
    // Creates exactly path (its folder checked for links first) with the
    // administrators-only security. Nothing when it cannot; the thread's last
    // error then tells why (ERROR_ALREADY_EXISTS when the name is taken,
    // ERROR_REPARSE_POINT_ENCOUNTERED for a link on the way).
    static std::optional<RunFolder> create(const std::wstring& path);

    RunFolder(RunFolder&&) noexcept = default;
    RunFolder& operator=(RunFolder&&) = delete;
    // Removes the folder when nothing is left in it.
    ~RunFolder();

    // Full path, without trailing separator.
    const std::wstring& path() const noexcept { return path_; }
    // The folder as the file system knows it (volume serial number, file
    // index), read through the pin; zeros when it cannot be read.
    BY_HANDLE_FILE_INFORMATION identity() const noexcept;

    // A fresh unique name "<prefix>XXXX.tmp" in the folder, the file itself
    // not existing (the registry's key saving wants a new file). Empty when
    // none can be made, for example when the path would pass MAX_PATH.
    std::wstring freshFileName(const wchar_t* prefix) const;

private:
    RunFolder(std::wstring path, UniqueFile pin) noexcept : path_(std::move(path)), pin_(std::move(pin)) {}

    std::wstring path_;
    UniqueFile pin_;  // DELETE access, no delete sharing
};

// Where run folders go, with a trailing separator: for a process running as
// SYSTEM the system's own temporary folder (%windir%\SystemTemp where it
// exists, else %windir%\Temp), never a folder a user chose through TEMP; for
// anybody else the user's temporary folder (GetTempPathW). Empty when it
// cannot be had.
std::wstring temporaryBase(bool systemAccount);

}  // namespace qv
