#include "sys/UsersAccess.h"

#include "sys/Advapi.h"
#include "sys/HResultError.h"
#include "sys/PathGuard.h"

#include <algorithm>
#include <vector>

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

namespace {

constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A folder where a file was to be granted, or a file where a folder was.
void refuseUnless(const CheckedHandle& opened, GrantOn on)
{
    if (opened.isFolder() != (on == GrantOn::Folder)) throwHResult(HRESULT_FROM_WIN32(ERROR_DIRECTORY));
}

bool isCreatorSid(PSID sid, BYTE rid) noexcept
{
    // S-1-3-rid: the creator owner (0) and creator group (1) placeholders.
    static const SID_IDENTIFIER_AUTHORITY creator = SECURITY_CREATOR_SID_AUTHORITY;
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    if (bytes[0] != SID_REVISION || bytes[1] != 1) return false;
    if (!std::equal(bytes + 2, bytes + 8, creator.Value)) return false;
    DWORD subAuthority;
    std::copy_n(bytes + 8, sizeof subAuthority, reinterpret_cast<BYTE*>(&subAuthority));
    return subAuthority == rid;
}

ACCESS_MASK mapGenericFileRights(ACCESS_MASK mask) noexcept
{
    ACCESS_MASK mapped = mask & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (mask & GENERIC_READ) mapped |= FILE_GENERIC_READ;
    if (mask & GENERIC_WRITE) mapped |= FILE_GENERIC_WRITE;
    if (mask & GENERIC_EXECUTE) mapped |= FILE_GENERIC_EXECUTE;
    if (mask & GENERIC_ALL) mapped |= FILE_ALL_ACCESS;
    return mapped;
}

// The DACL of an open object as a self-relative descriptor.
AclBuffer readDacl(HANDLE object)
{
    DWORD needed = 0;
    if (!advapi::GetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, nullptr, 0, &needed) &&
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        throwLastError();
    AclBuffer descriptor = zeroedBuffer(std::max<DWORD>(needed, sizeof(SECURITY_DESCRIPTOR)));
    if (!advapi::GetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, descriptor.data(),
                                         static_cast<DWORD>(descriptor.size()), &needed))
        throwLastError();
    return descriptor;
}

PACL daclOf(AclBuffer& descriptor)
{
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!advapi::GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted)) throwLastError();
    return present ? dacl : nullptr;
}

}  // namespace

DWORD inheritedEntriesSize(const ACL* folderDacl, PSID owner)
{
    if (!folderDacl) return 0;
    ACL_SIZE_INFORMATION info{};
    if (!advapi::GetAclInformation(const_cast<PACL>(folderDacl), &info, sizeof info, AclSizeInformation))
        throwLastError();
    // Each entry at most as long as it was, or as an allow entry for owner.
    return info.AclBytesInUse + info.AceCount * (8 + advapi::GetLengthSid(owner));
}

void appendInheritedEntries(PACL acl, const ACL* folderDacl, PSID owner)
{
    if (!folderDacl) return;
    PACL source = const_cast<PACL>(folderDacl);
    ACL_SIZE_INFORMATION info{};
    if (!advapi::GetAclInformation(source, &info, sizeof info, AclSizeInformation)) throwLastError();
    const DWORD revision = std::max<DWORD>(ACL_REVISION, source->AclRevision);
    constexpr BYTE inheritanceFlags =
        OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | NO_PROPAGATE_INHERIT_ACE | INHERIT_ONLY_ACE;
    for (DWORD index = 0; index < info.AceCount; ++index) {
        void* raw = nullptr;
        if (!advapi::GetAce(source, index, &raw)) throwLastError();
        const auto* ace = static_cast<const ACE_HEADER*>(raw);
        // Files inherit what is marked for objects; the rest stays with
        // folders.
        if (!(ace->AceFlags & OBJECT_INHERIT_ACE)) continue;
        const BYTE flags = static_cast<BYTE>((ace->AceFlags & ~inheritanceFlags) | INHERITED_ACE);
        PSID sid = aceSid(ace);
        if (sid && isCreatorSid(sid, 1)) continue;  // the creator group: the file has none of its own
        const bool simple = ace->AceType == ACCESS_ALLOWED_ACE_TYPE || ace->AceType == ACCESS_DENIED_ACE_TYPE;
        if (sid && isCreatorSid(sid, 0)) {
            // The creator owner stands for the file's owner.
            if (!simple) continue;
            const ACCESS_MASK mask = mapGenericFileRights(reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace)->Mask);
            const bool ok = ace->AceType == ACCESS_ALLOWED_ACE_TYPE
                                ? advapi::AddAccessAllowedAceEx(acl, ACL_REVISION, flags, mask, owner)
                                : advapi::AddAccessDeniedAceEx(acl, ACL_REVISION, flags, mask, owner);
            if (!ok) throwLastError();
            continue;
        }
        std::vector<BYTE> copy(reinterpret_cast<const BYTE*>(ace), reinterpret_cast<const BYTE*>(ace) + ace->AceSize);
        auto* header = reinterpret_cast<ACE_HEADER*>(copy.data());
        header->AceFlags = flags;
        // Every entry type keeps its mask right after the header.
        if (copy.size() >= sizeof(ACE_HEADER) + sizeof(ACCESS_MASK)) {
            ACCESS_MASK mask;
            std::copy_n(copy.data() + sizeof(ACE_HEADER), sizeof mask, reinterpret_cast<BYTE*>(&mask));
            mask = mapGenericFileRights(mask);
            std::copy_n(reinterpret_cast<const BYTE*>(&mask), sizeof mask, copy.data() + sizeof(ACE_HEADER));
        }
        if (!advapi::AddAce(acl, revision, MAXDWORD, copy.data(), header->AceSize)) throwLastError();
    }
}

bool grantUsersAccess(const std::wstring& path, DWORD mask, BYTE aceFlags, GrantOn on)
{
    CheckedHandle opened = openChecked(path, READ_CONTROL | WRITE_DAC, shareAll, OPEN_EXISTING);
    if (!opened) throwLastError();
    refuseUnless(opened, on);
    return grantUsersAccess(opened.handle.get(), mask, aceFlags);
}

bool reclaimForAdministrators(const std::wstring& path, DWORD mask, BYTE aceFlags)
{
    // Opened with backup semantics, the restore privilege grants WRITE_DAC
    // and WRITE_OWNER whatever the DACL says, and the backup privilege
    // READ_CONTROL on the folder, whose inheritable entries the file gets.
    PrivilegeScope restore(SE_RESTORE_NAME);
    PrivilegeScope backup(SE_BACKUP_NAME);
    PrivilegeScope takeOwnership(SE_TAKE_OWNERSHIP_NAME);
    CheckedHandle folder = openChecked(folderHolding(path), READ_CONTROL, shareAll, OPEN_EXISTING);
    if (!folder) throwLastError();
    refuseUnless(folder, GrantOn::Folder);
    CheckedHandle opened = openChecked(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER, shareAll, OPEN_EXISTING);
    if (!opened) throwLastError();
    // A folder swapped in for the file since it was checked gets nothing:
    // whatever is written on a folder reaches what lies below it.
    refuseUnless(opened, GrantOn::File);
    // The file lies in the folder whose entries it gets.
    const std::wstring folderPath = finalPathOf(folder.handle.get());
    if (folderPath.empty() || !sameFileName(parentOf(finalPathOf(opened.handle.get())), folderPath))
        throwHResult(HRESULT_FROM_WIN32(errorLinkRefused));

    const Sid administrators = makeSid(WellKnownSid::Administrators);
    const Sid users = makeSid(WellKnownSid::Users);
    AclBuffer folderDescriptor = readDacl(folder.handle.get());
    const ACL* folderDacl = daclOf(folderDescriptor);

    // The explicit entry for users, then what the folder hands its files,
    // as the system would have worked it out, written as built: nothing of
    // it is carried anywhere else.
    AclBuffer own = buildUsersAcl(nullptr, users.get(), mask, aceFlags);
    ACL_SIZE_INFORMATION ownInfo{};
    if (!advapi::GetAclInformation(aclPointer(own), &ownInfo, sizeof ownInfo, AclSizeInformation)) throwLastError();
    const DWORD size = ownInfo.AclBytesInUse + inheritedEntriesSize(folderDacl, administrators.get());
    AclBuffer buffer = zeroedBuffer(size);
    PACL acl = aclPointer(buffer);
    const DWORD revision = folderDacl ? std::max<DWORD>(ACL_REVISION, folderDacl->AclRevision) : ACL_REVISION;
    if (!advapi::InitializeAcl(acl, size, revision)) throwLastError();
    void* ownAce = nullptr;
    if (!advapi::GetAce(aclPointer(own), 0, &ownAce)) throwLastError();
    copyAce(acl, revision, static_cast<const ACE_HEADER*>(ownAce));
    appendInheritedEntries(acl, folderDacl, administrators.get());

    auto descriptor = newSecurityDescriptor();
    setDescriptorDacl(descriptor.get(), acl);
    if (!advapi::SetSecurityDescriptorOwner(descriptor.get(), administrators.get(), FALSE)) throwLastError();
    // Inherits from its folder again: not protected, its inherited entries
    // marked as such.
    if (!advapi::SetSecurityDescriptorControl(descriptor.get(), SE_DACL_AUTO_INHERITED, SE_DACL_AUTO_INHERITED))
        throwLastError();
    if (!advapi::SetKernelObjectSecurity(opened.handle.get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         descriptor.get()))
        throwLastError();
    return true;
}

bool grantUsersAccessReclaiming(const std::wstring& path, DWORD mask, BYTE aceFlags)
{
    try {
        return grantUsersAccess(path, mask, aceFlags, GrantOn::File);
    } catch (const HResultError& error) {
        if (error.code() != E_ACCESSDENIED) throw;
    }
    return reclaimForAdministrators(path, mask, aceFlags);
}

}  // namespace qv
