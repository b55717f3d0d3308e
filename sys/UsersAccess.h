#pragma once
// Functions in this file:
//   grantUsersAccess   gives BUILTIN\Users one explicit allow entry on a file
//                      or folder
//   reclaimForAdministrators  takes a file a user has locked the
//                      administrators out of back, with the Users entry
//   grantUsersAccessReclaiming  the grant, reclaiming the file when it is
//                      refused
//   buildUsersAcl      the new DACL, computed from the old one's bytes
//   keptDaclControl    the inheritance bits the new descriptor keeps
//   GrantOn            what a grant by path expects to find there
//   inheritedEntries   the entries a file inherits from its folder's DACL

#include "sys/Security.h"

#include <windows.h>

#include <string>

namespace qv {

// What a grant by path is for: a data file or a shared folder. Whatever else
// stands at the path (a folder swapped in for a data file, a file for a
// folder) is refused with ERROR_DIRECTORY (HResultError) before anything is
// written: a grant or a take-back on a folder would reach every file below.
enum class GrantOn { File, Folder };

// Replaces every entry for BUILTIN\Users in the DACL of path by one allow
// entry with mask and aceFlags, placed after the other explicit entries and
// before the inherited ones; the DACL keeps its protected or auto-inherited
// state. The DACL is read and written through one handle opened without
// following links (sys/PathGuard.h), so what was checked is what gets the
// grant: a link on the way, a link at path or a file with several names is
// refused, and so is an object that is not what `on` names. Returns true;
// failures throw HResultError.
bool grantUsersAccess(const std::wstring& path, DWORD mask, BYTE aceFlags, GrantOn on);
// The same on an open handle (READ_CONTROL and WRITE_DAC).
bool grantUsersAccess(HANDLE object, DWORD mask, BYTE aceFlags);

// For a file whose owner a user changed and whose DACL shuts the
// administrators out: with the restore and take-ownership privileges, makes
// BUILTIN\Administrators its owner and gives it a DACL of one explicit allow
// entry for Users (mask, aceFlags) that inherits from its folder again, as a
// file the installation wrote has. Files only: a folder (or a link, or a file
// with several names) at path is refused before anything is written. The
// owner and the DACL go in one SetKernelObjectSecurity call on the checked
// handle, the folder's inheritable entries worked out here (inheritedEntries):
// the system carries nothing anywhere, as SetSecurityInfo would. Returns
// true; failures throw HResultError.
bool reclaimForAdministrators(const std::wstring& path, DWORD mask, BYTE aceFlags);

// grantUsersAccess on a file, and when the file refuses the administrators
// (E_ACCESSDENIED), reclaimForAdministrators. A folder is refused by both.
bool grantUsersAccessReclaiming(const std::wstring& path, DWORD mask, BYTE aceFlags);

// The entries a file created in a folder with folderDacl inherits, as
// Windows computes them: each entry that files inherit (OBJECT_INHERIT_ACE),
// without its inheritance flags and marked INHERITED_ACE, generic rights
// mapped to the file rights, CREATOR OWNER replaced by owner and CREATOR
// GROUP entries left out. Appended to acl (which must have room: see
// inheritedEntriesSize). Throws HResultError.
void appendInheritedEntries(PACL acl, const ACL* folderDacl, PSID owner);
// The bytes appendInheritedEntries may add at most.
DWORD inheritedEntriesSize(const ACL* folderDacl, PSID owner);

// The new list: the old entries in order up to the first inherited one, the
// allow entry for users, then the remaining entries, entries for users left
// out throughout. A null old list counts as empty. Throws HResultError.
AclBuffer buildUsersAcl(const ACL* old, PSID users, DWORD mask, BYTE aceFlags);

// The control bits to set on the new descriptor for an old descriptor's
// control: auto-inherited (with the request to auto-inherit) and protected
// are each kept.
SECURITY_DESCRIPTOR_CONTROL keptDaclControl(SECURITY_DESCRIPTOR_CONTROL old) noexcept;

}  // namespace qv
