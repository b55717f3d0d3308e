#include "sys/UsersAccess.h"

#include "sys/Advapi.h"
#include "sys/HResultError.h"
#include "sys/PathGuard.h"

#include <algorithm>

namespace qv {
namespace {

bool isObjectAce(BYTE type) noexcept
{
    switch (type) {
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_OBJECT_ACE_TYPE:
    case SYSTEM_AUDIT_OBJECT_ACE_TYPE:
    case SYSTEM_ALARM_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
    case SYSTEM_AUDIT_CALLBACK_OBJECT_ACE_TYPE:
    case SYSTEM_ALARM_CALLBACK_OBJECT_ACE_TYPE:
        return true;
    default:
        return false;
    }
}

// Where the entry's SID starts, or null for an entry without a single SID
// (compound entries) or one too short to hold the SID it announces.
// Object entries carry up to two GUIDs before their SID.
PSID aceSid(const ACE_HEADER* ace) noexcept
{
    if (ace->AceType == ACCESS_ALLOWED_COMPOUND_ACE_TYPE) return nullptr;
    DWORD offset = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK);
    if (isObjectAce(ace->AceType)) {
        if (ace->AceSize < offset + sizeof(DWORD)) return nullptr;
        DWORD objectFlags;
        std::copy_n(reinterpret_cast<const BYTE*>(ace) + offset, sizeof objectFlags,
                    reinterpret_cast<BYTE*>(&objectFlags));
        offset += sizeof(DWORD);
        if (objectFlags & ACE_OBJECT_TYPE_PRESENT) offset += sizeof(GUID);
        if (objectFlags & ACE_INHERITED_OBJECT_TYPE_PRESENT) offset += sizeof(GUID);
    }
    const DWORD fixedSidPart = 8;  // revision, count, authority
    if (ace->AceSize < offset + fixedSidPart) return nullptr;
    const BYTE* sid = reinterpret_cast<const BYTE*>(ace) + offset;
    if (ace->AceSize < offset + fixedSidPart + 4u * sid[1]) return nullptr;
    return const_cast<BYTE*>(sid);
}

bool isForSid(const ACE_HEADER* ace, PSID sid)
{
    PSID aceOwner = aceSid(ace);
    return aceOwner && advapi::IsValidSid(aceOwner) && advapi::EqualSid(aceOwner, sid);
}

void copyAce(PACL acl, DWORD revision, const ACE_HEADER* ace)
{
    if (!advapi::AddAce(acl, revision, MAXDWORD, const_cast<ACE_HEADER*>(ace), ace->AceSize))
        throwLastError();
}

}  // namespace

AclBuffer buildUsersAcl(const ACL* old, PSID users, DWORD mask, BYTE aceFlags)
{
    PACL source = const_cast<PACL>(old);
    DWORD count = 0;
    DWORD bytesInUse = sizeof(ACL);
    DWORD revision = ACL_REVISION;
    if (source) {
        ACL_SIZE_INFORMATION info{};
        if (!advapi::GetAclInformation(source, &info, sizeof info, AclSizeInformation))
            throwLastError();
        count = info.AceCount;
        bytesInUse = info.AclBytesInUse;
        // Entries of a directory-service list need its revision in the copy.
        revision = std::max<DWORD>(ACL_REVISION, source->AclRevision);
    }

    // The header of an allow entry without its SidStart member, then the SID:
    // enough, as the entries for users already counted are dropped.
    const DWORD size = bytesInUse + 8 + advapi::GetLengthSid(users);
    AclBuffer buffer = zeroedBuffer(size);
    PACL acl = aclPointer(buffer);
    if (!advapi::InitializeAcl(acl, size, ACL_REVISION)) throwLastError();

    auto entry = [&](DWORD index) {
        void* ace = nullptr;
        if (!advapi::GetAce(source, index, &ace)) throwLastError();
        return static_cast<const ACE_HEADER*>(ace);
    };

    DWORD index = 0;
    for (; index < count; ++index) {
        const ACE_HEADER* ace = entry(index);
        if (ace->AceFlags & INHERITED_ACE) break;
        if (!isForSid(ace, users)) copyAce(acl, revision, ace);
    }

    bool added = false;
    if (aceFlags != 0) {
        if (auto addEx = advapi::AddAccessAllowedAceEx.find()) {
            if (!addEx(acl, ACL_REVISION, aceFlags, mask, users)) throwLastError();
            added = true;
        }
    }
    if (!added && !advapi::AddAccessAllowedAce(acl, ACL_REVISION, mask, users)) throwLastError();

    for (; index < count; ++index) {
        const ACE_HEADER* ace = entry(index);
        if (!isForSid(ace, users)) copyAce(acl, revision, ace);
    }
    return buffer;
}

SECURITY_DESCRIPTOR_CONTROL keptDaclControl(SECURITY_DESCRIPTOR_CONTROL old) noexcept
{
    // Both are kept: a DACL cut off from its parent usually carries both
    // bits, and losing the protection would let the parent's entries flow in.
    SECURITY_DESCRIPTOR_CONTROL bits = 0;
    if (old & SE_DACL_AUTO_INHERITED) bits |= SE_DACL_AUTO_INHERITED | SE_DACL_AUTO_INHERIT_REQ;
    if (old & SE_DACL_PROTECTED) bits |= SE_DACL_PROTECTED;
    return bits;
}

bool grantUsersAccess(HANDLE object, DWORD mask, BYTE aceFlags)
{
    const Sid users = makeSid(WellKnownSid::Users);

    DWORD needed = 0;
    if (!advapi::GetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, nullptr, 0, &needed) &&
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        throwLastError();
    AclBuffer oldDescriptor = zeroedBuffer(std::max<DWORD>(needed, sizeof(SECURITY_DESCRIPTOR)));
    if (!advapi::GetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, oldDescriptor.data(),
                                         static_cast<DWORD>(oldDescriptor.size()), &needed))
        throwLastError();

    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL oldDacl = nullptr;
    if (!advapi::GetSecurityDescriptorDacl(oldDescriptor.data(), &present, &oldDacl, &defaulted))
        throwLastError();
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!advapi::GetSecurityDescriptorControl(oldDescriptor.data(), &control, &revision))
        throwLastError();

    AclBuffer acl = buildUsersAcl(present ? oldDacl : nullptr, users.get(), mask, aceFlags);

    auto descriptor = newSecurityDescriptor();
    setDescriptorDacl(descriptor.get(), aclPointer(acl));
    if (const SECURITY_DESCRIPTOR_CONTROL bits = keptDaclControl(control)) {
        if (!advapi::SetSecurityDescriptorControl(descriptor.get(), bits, bits)) throwLastError();
    }
    // Written as built, like SetFileSecurityW does: SetSecurityInfo would
    // work the inheritance out anew and carry it into the folder's existing
    // files, which the grant is not to touch.
    if (!advapi::SetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, descriptor.get()))
        throwLastError();
    return true;
}

bool grantUsersAccess(const std::wstring& path, DWORD mask, BYTE aceFlags)
{
    CheckedHandle opened = openChecked(path, READ_CONTROL | WRITE_DAC,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    if (!opened) throwLastError();
    return grantUsersAccess(opened.handle.get(), mask, aceFlags);
}

bool reclaimForAdministrators(const std::wstring& path, DWORD mask, BYTE aceFlags)
{
    // Opened with backup semantics, the restore privilege grants WRITE_DAC
    // and WRITE_OWNER whatever the DACL says, and the backup privilege
    // READ_CONTROL, which the inheritance below needs.
    PrivilegeScope restore(SE_RESTORE_NAME);
    PrivilegeScope backup(SE_BACKUP_NAME);
    PrivilegeScope takeOwnership(SE_TAKE_OWNERSHIP_NAME);
    CheckedHandle opened = openChecked(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    if (!opened) throwLastError();

    const Sid administrators = makeSid(WellKnownSid::Administrators);
    const Sid users = makeSid(WellKnownSid::Users);
    AclBuffer acl = buildUsersAcl(nullptr, users.get(), mask, aceFlags);
    // One call: the owner, the explicit entry, and the folder's inherited
    // entries in place of whatever the user had put there.
    const DWORD status = advapi::SetSecurityInfo(
        opened.handle.get(), SE_FILE_OBJECT,
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
        administrators.get(), nullptr, aclPointer(acl), nullptr);
    if (status != ERROR_SUCCESS) throwHResult(HRESULT_FROM_WIN32(status));
    return true;
}

bool grantUsersAccessReclaiming(const std::wstring& path, DWORD mask, BYTE aceFlags)
{
    try {
        return grantUsersAccess(path, mask, aceFlags);
    } catch (const HResultError& error) {
        if (error.code() != E_ACCESSDENIED) throw;
    }
    return reclaimForAdministrators(path, mask, aceFlags);
}

}  // namespace qv
