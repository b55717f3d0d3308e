#pragma once
// Classes in this file:
//   FolderSecurity   the security a folder is created with, in one call:
//                    for the run's private folder (administrators and SYSTEM
//                    only) and for an installation folder outside the
//                    program-files folder (the protection program files have)
//   saveDacl, restoreDacl  a file's DACL kept and put back through a handle
//   saveOwnerAndDacl, restoreOwnerAndDacl  the same with the file's owner
//   leftToAdministrators  whether only administrators may change an object
//                    (leftToAdministratorsOrSelf: or the account running)
//   secureFolder     makes an existing folder what a created one would be
//   securityText     an owner and DACL as text, for the run's log
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
    SECURITY_DESCRIPTOR* descriptor() noexcept { return descriptor_.get(); }
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

// Whether an owner and DACL as saveOwnerAndDacl reads them leave the object
// to the administrators: owned by BUILTIN\Administrators, SYSTEM or
// TrustedInstaller, and no allow entry for anyone else (CREATOR OWNER aside:
// what the administrators create is theirs) grants writing, adding,
// deleting or changing permissions or owner, whether on the object itself or
// inherited by what is created in it. A missing DACL allows everything;
// unreadable bytes count as not left to them. Never throws.
bool leftToAdministrators(const std::vector<BYTE>& ownerAndDacl) noexcept;
// The same for the rights named (generic rights included as given), on
// the object itself only (entries that only pass on to what is created in
// it do not count) unless inheritedToo.
bool leftToAdministrators(const std::vector<BYTE>& ownerAndDacl, ACCESS_MASK rights, bool inheritedToo) noexcept;
// The same, alsoTrusted (when not null) counting as one of the administrators.
bool leftToAdministratorsAnd(const std::vector<BYTE>& ownerAndDacl, ACCESS_MASK rights, bool inheritedToo,
                             PSID alsoTrusted) noexcept;
// leftToAdministrators, where the account this process runs as counts as an
// administrator too: for a folder the process writes only new files of its
// own to, what that account owns or may change is no other user's doing
// (SYSTEM's is trusted anyway; under Wine every file belongs to the account
// that runs the programs).
bool leftToAdministratorsOrSelf(const std::vector<BYTE>& ownerAndDacl) noexcept;

// Gives the open folder (WRITE_OWNER and WRITE_DAC, or the restore
// privilege) BUILTIN\Administrators as owner and the protected DACL of
// FolderSecurity::likeProgramFiles, in one SetKernelObjectSecurity call:
// written as built, so that nothing is carried into what the folder holds.
// Throws HResultError.
void secureFolder(HANDLE folder);

// The owner and DACL of a descriptor in the system's text form
// ("O:...D:..."); empty when it cannot be made. Never throws.
std::wstring securityText(const std::vector<BYTE>& descriptor) noexcept;

}  // namespace qv
