#pragma once
// Functions in this file:
//   grantUsersAccess   gives BUILTIN\Users one explicit allow entry on a file
//                      or folder
//   buildUsersAcl      the new DACL, computed from the old one's bytes
//   keptDaclControl    the inheritance bits the new descriptor keeps

#include "sys/Security.h"

#include <windows.h>

#include <string>

namespace qv {

// Replaces every entry for BUILTIN\Users in the DACL of path by one allow
// entry with mask and aceFlags, placed after the other explicit entries and
// before the inherited ones; the DACL keeps its protected or auto-inherited
// state. Returns true; failures throw HResultError.
bool grantUsersAccess(const std::wstring& path, DWORD mask, BYTE aceFlags);

// The new list: the old entries in order up to the first inherited one, the
// allow entry for users, then the remaining entries, entries for users left
// out throughout. A null old list counts as empty. Throws HResultError.
AclBuffer buildUsersAcl(const ACL* old, PSID users, DWORD mask, BYTE aceFlags);

// The control bits to set on the new descriptor for an old descriptor's
// control: auto-inherited (with the request to auto-inherit) and protected
// are each kept.
SECURITY_DESCRIPTOR_CONTROL keptDaclControl(SECURITY_DESCRIPTOR_CONTROL old) noexcept;

}  // namespace qv
