#pragma once
// Classes in this file:
//   LinkUse             what an opening accepts at the end of its path
//   CheckedHandle       a file or folder opened without following a link,
//                       with what was found there
//   checkFoldersOnPath  the folders of a path, from the drive down, checked
//                       for junctions, symbolic links and mount points
//   openChecked         opens a path through checked folders only
//   removeChecked       deletes a file or an empty folder through a checked
//                       handle
//   renameOpenFile      renames a file through its open handle
//   createFolderChecked creates one folder in a checked folder and verifies
//                       where it was made
//   CheckedFolderCache  keeps the folders checked on this thread for a run
//   finalPathOf         where the system says an open handle lies
//   parentOf, nameOf    a path split at its last backslash
//
// The installer and the uninstaller run as administrators, and a standard
// user may have prepared folders they act in (all-users application data,
// the shared folders opened to Users, an installation folder outside the
// program-files folder). A link planted there would turn a write, a grant or
// a delete onto a file elsewhere. Every such action therefore goes through
// a handle opened here, without following a reparse point at the end of the
// path, after every folder above it was checked, and verified afterwards by
// the path the system reports for the handle: a folder swapped for a link
// between the check and the opening shows there.
//
// Under Wine (8) links cannot be created from Windows programs, and one
// made on the Unix side is followed even when opened with
// FILE_FLAG_OPEN_REPARSE_POINT; only the final path of the handle betrays
// it, which is checked for every folder and file, so that the refusals hold
// there too.

#include "sys/Handles.h"
#include "sys/PathText.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace qv {

// ERROR_REPARSE_POINT_ENCOUNTERED: the code of every refusal here, thrown as
// HResultError (sys/HResultError.h) like the security layer's failures.
inline constexpr DWORD errorLinkRefused = 4395;

enum LinkUse : unsigned {
    NoLinks = 0,
    // A reparse point at the end of the path is opened as itself (to delete
    // the link, not its target). Windows only: Wine cannot open a link as
    // itself, and a link it followed is refused all the same.
    LinkItself = 1,
    // A file with more than one name: deleting or moving one name leaves the
    // others alone, but writing, changing attributes or granting access would
    // reach the file behind every name.
    SeveralNames = 2,
};

struct CheckedHandle {
    UniqueFile handle;
    BY_HANDLE_FILE_INFORMATION info{};
    bool isLink = false;   // the handle holds the reparse point itself
    bool created = false;  // OPEN_ALWAYS or CREATE_NEW made a new object
    explicit operator bool() const noexcept { return static_cast<bool>(handle); }
    bool isFolder() const noexcept { return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

// The absolute path that CreateFileW would open for path ("." and ".."
// resolved, relative paths joined to the current folder); empty when it
// cannot be made.
std::wstring fullPathOf(const std::wstring& path);

// The path the system reports for an open handle, without the "\\?\" prefix
// and without trailing separator; empty when it cannot be had.
std::wstring finalPathOf(HANDLE handle);

// Walks the folders that hold path, from the drive down (path itself not
// included), and refuses (HResultError with errorLinkRefused) any that is a
// junction, symbolic link or mount point or is reached through one. Returns
// the final path of the folder that holds path, or empty when a folder on the
// way does not exist yet (nothing below it can be a link). A folder that
// cannot be opened throws its own error. Always walks afresh: for a caller
// that acts by path afterwards.
std::wstring checkFoldersOnPath(const std::wstring& path);

// While one lives on a thread, openChecked, removeChecked and
// createFolderChecked take the folders they checked before from it instead
// of opening every one again. That is safe because each of them verifies
// afterwards, by the final path of its own handle, that what it acted on lies
// in the folder as it was checked: a folder swapped for a link since then
// shows there. Callers that act by path after checkFoldersOnPath never use
// it.
class CheckedFolderCache {
public:
    CheckedFolderCache() noexcept;
    ~CheckedFolderCache();
    CheckedFolderCache(const CheckedFolderCache&) = delete;
    CheckedFolderCache& operator=(const CheckedFolderCache&) = delete;

    // The final path recorded for a folder (compared ignoring case), or null.
    const std::wstring* find(const std::wstring& folder) const;
    void remember(const std::wstring& folder, const std::wstring& finalPath);

private:
    std::vector<std::pair<std::wstring, std::wstring>> folders_;
    CheckedFolderCache* outer_;
};

// Opens path with FILE_FLAG_OPEN_REPARSE_POINT and backup semantics after
// checkFoldersOnPath, then verifies what it got: no reparse point (unless
// LinkItself), the object lies in the checked folder under its own name, and
// a file has one name only (unless SeveralNames). A refusal throws, after
// deleting what this call itself created. An object that does not exist (or
// cannot be opened) gives an empty handle with the thread's last error set.
CheckedHandle openChecked(const std::wstring& path, DWORD access, DWORD share, DWORD creation,
                          unsigned linkUse = NoLinks, DWORD attributes = FILE_ATTRIBUTE_NORMAL);

// What stands at path, seen as itself after its folders were checked:
// nothing, a folder, a file with one name, a file with several names, or a
// link (a reparse point; Windows only, see above). A link on the way throws
// as openChecked does; so does, under Wine, a link at path itself.
enum class NameAtPath { Missing, Folder, File, SeveralNames, Link };
NameAtPath nameAt(const std::wstring& path);

// InUse: another process has the file open without delete sharing, or
// runs it or maps it, so that only the next start of Windows can delete it.
enum class RemoveOutcome { Removed, Missing, Refused, InUse, Failed };
enum class Removable { File, EmptyFolder };

// Deletes a file (its read-only attribute cleared first, for a file with
// one name only: another name's file keeps its attributes) or an empty folder,
// as asked, through a handle from openChecked with LinkItself and
// SeveralNames: a link goes itself, never its target, and a link on the way
// refuses. A folder where a file is expected (or the reverse) stays: Failed.
// Never throws.
RemoveOutcome removeChecked(const std::wstring& path, Removable what) noexcept;

// Deletes what the handle holds when it is closed (a folder only when empty).
bool markForDeletion(HANDLE handle) noexcept;
// Deletes the name the handle was opened by even when the file is
// read-only, without clearing the attribute (which the file's other names
// share). False where the system cannot (before Windows 10 1809).
bool deleteNameIgnoringReadOnly(HANDLE handle) noexcept;

// Marks the name the handle was opened by (a link itself, one name of a
// file with several) for deletion, also when the file is read-only (info:
// as read through the handle). The read-only attribute is cleared for the
// marking only on a file with one name; one with other names keeps it, and
// its name stays where the system cannot delete it regardless (before
// Windows 10 1809, and under Wine). False with the thread's last error.
bool deleteNameOnClose(HANDLE handle, const BY_HANDLE_FILE_INFORMATION& info) noexcept;

// Deletes a file the run itself made in its private run folder (a backup, a
// saved key), as itself: a backup that is one name of a file with several,
// or a link moved there, goes without anything reaching its other names or
// its target. Not for paths anybody else can write.
bool deleteRunFile(const std::wstring& path) noexcept;

// Gives the open file the name destination (a full path on the same volume),
// replacing a file of that name only when asked. False with the thread's
// last error.
bool renameOpenFile(HANDLE file, const std::wstring& destination, bool replaceExisting);

// Creates the folder (its parent must exist) with the given security (null:
// inherited) through its parent's handle: the parent is opened checked
// (openChecked) and held open, unrenamable and undeletable, while the
// folder is created relative to it (NtCreateFile with the parent as root
// directory), never by path. Verified afterwards by the new folder's final
// path; one made elsewhere is removed again. False when it could not be
// made or was refused; never throws.
bool createFolderChecked(const std::wstring& folder, SECURITY_ATTRIBUTES* security = nullptr) noexcept;

// The folder that holds path, as a path that opens it: a drive's root keeps
// its backslash ("C:\", where parentOf gives "C:", which names the drive's
// current folder).
std::wstring folderHolding(const std::wstring& path);

}  // namespace qv
