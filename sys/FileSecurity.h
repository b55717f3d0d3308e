#pragma once
// Classes in this file:
//   FolderSecurity   the security a folder is created with, in one call:
//                    for the run's private folder (administrators and SYSTEM
//                    only) and for an installation folder outside the
//                    program-files folder (the protection program files have)
//   saveDacl, restoreDacl  a file's DACL kept and put back through a handle
//   saveOwnerAndDacl, restoreOwnerAndDacl  the same with the file's owner
//
// A folder that is created first and protected afterwards can be opened by
// anyone in between; CreateDirectoryW with a SECURITY_ATTRIBUTES leaves no
// such moment. The lists are protected, so nothing of the parent's entries
// (C:\ lets authenticated users create and change) flows in.

#include "sys/Security.h"

#include <windows.h>

#include <memory>
#include <vector>

namespace qv {

class FolderSecurity {
public:
    // BUILTIN\Administrators and SYSTEM full control, inherited by files
    // and folders below; nobody else.
    static FolderSecurity administratorsOnly();
    // As above, and BUILTIN\Users read and execute (0x1200A9), inherited.
    static FolderSecurity likeProgramFiles();

    FolderSecurity(FolderSecurity&&) noexcept = default;
    FolderSecurity& operator=(FolderSecurity&&) noexcept = default;

    // For CreateDirectoryW; valid while this object lives.
    SECURITY_ATTRIBUTES* attributes() noexcept { return &attributes_; }
    const AclBuffer& acl() const noexcept { return acl_; }
    SECURITY_DESCRIPTOR_CONTROL control() const;

private:
    explicit FolderSecurity(bool usersMayRead);

    AclBuffer acl_;
    std::unique_ptr<SECURITY_DESCRIPTOR> descriptor_;
    SECURITY_ATTRIBUTES attributes_{};
};

// The object's DACL as a self-relative descriptor; empty when it cannot be
// read. Never throws.
std::vector<BYTE> saveDacl(HANDLE object) noexcept;
// Writes a DACL kept by saveDacl back (nothing for an empty one). Never throws.
bool restoreDacl(HANDLE object, const std::vector<BYTE>& saved) noexcept;
// The object's owner and DACL, self-relative (READ_CONTROL, or backup
// semantics with the backup privilege); empty when they cannot be read. A
// reader that takes the DACL alone from it finds it there. Never throws.
std::vector<BYTE> saveOwnerAndDacl(HANDLE object) noexcept;
// Writes back what saveOwnerAndDacl kept: the owner too, when it holds one
// (WRITE_OWNER and WRITE_DAC, or the restore privilege for an owner that is
// another account). Never throws.
bool restoreOwnerAndDacl(HANDLE object, const std::vector<BYTE>& saved) noexcept;

}  // namespace qv
