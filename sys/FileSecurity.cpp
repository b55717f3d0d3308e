#include "sys/FileSecurity.h"

#include "sys/Advapi.h"
#include "sys/HResultError.h"

namespace qv {
namespace {

constexpr BYTE inheritedBelow = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
constexpr DWORD readAndExecute = 0x1200A9;  // FILE_GENERIC_READ | FILE_GENERIC_EXECUTE

}  // namespace

FolderSecurity::FolderSecurity(bool usersMayRead)
{
    const Sid administrators = makeSid(WellKnownSid::Administrators);
    const Sid system = makeSid(WellKnownSid::LocalSystem);
    const Sid users = makeSid(WellKnownSid::Users);

    // Three allow entries at most: list header, then per entry its header
    // and mask (8 bytes) and the SID.
    const DWORD size = sizeof(ACL) + 8 + advapi::GetLengthSid(administrators.get()) + 8 +
                       advapi::GetLengthSid(system.get()) + 8 + advapi::GetLengthSid(users.get());
    acl_ = zeroedBuffer(size);
    PACL acl = aclPointer(acl_);
    if (!advapi::InitializeAcl(acl, size, ACL_REVISION)) throwLastError();
    if (!advapi::AddAccessAllowedAceEx(acl, ACL_REVISION, inheritedBelow, FILE_ALL_ACCESS, administrators.get()) ||
        !advapi::AddAccessAllowedAceEx(acl, ACL_REVISION, inheritedBelow, FILE_ALL_ACCESS, system.get()))
        throwLastError();
    if (usersMayRead && !advapi::AddAccessAllowedAceEx(acl, ACL_REVISION, inheritedBelow, readAndExecute, users.get()))
        throwLastError();

    descriptor_ = newSecurityDescriptor();
    setDescriptorDacl(descriptor_.get(), acl);
    if (!advapi::SetSecurityDescriptorControl(descriptor_.get(), SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        throwLastError();
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = descriptor_.get();
    attributes_.bInheritHandle = FALSE;
}

FolderSecurity FolderSecurity::administratorsOnly()
{
    return FolderSecurity(false);
}

FolderSecurity FolderSecurity::likeProgramFiles()
{
    return FolderSecurity(true);
}

SECURITY_DESCRIPTOR_CONTROL FolderSecurity::control() const
{
    SECURITY_DESCRIPTOR_CONTROL bits = 0;
    DWORD revision = 0;
    if (!advapi::GetSecurityDescriptorControl(descriptor_.get(), &bits, &revision)) throwLastError();
    return bits;
}

std::vector<BYTE> saveDacl(HANDLE object) noexcept
{
    try {
        DWORD needed = 0;
        if (!advapi::GetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, nullptr, 0, &needed) &&
            ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return {};
        std::vector<BYTE> descriptor(needed);
        if (!advapi::GetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed))
            return {};
        return descriptor;
    } catch (...) {
        return {};
    }
}

std::vector<BYTE> saveOwnerAndDacl(HANDLE object) noexcept
{
    try {
        constexpr SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
        DWORD needed = 0;
        if (!advapi::GetKernelObjectSecurity(object, what, nullptr, 0, &needed) &&
            ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return {};
        std::vector<BYTE> descriptor(needed);
        if (!advapi::GetKernelObjectSecurity(object, what, descriptor.data(), needed, &needed)) return {};
        return descriptor;
    } catch (...) {
        return {};
    }
}

bool restoreOwnerAndDacl(HANDLE object, const std::vector<BYTE>& saved) noexcept
{
    if (saved.empty()) return true;
    try {
        PSID owner = nullptr;
        BOOL defaulted = FALSE;
        const bool hasOwner =
            ::GetSecurityDescriptorOwner(const_cast<BYTE*>(saved.data()), &owner, &defaulted) && owner;
        const SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION | (hasOwner ? OWNER_SECURITY_INFORMATION : 0);
        return advapi::SetKernelObjectSecurity(object, what, const_cast<BYTE*>(saved.data())) != FALSE;
    } catch (...) {
        return false;
    }
}

bool restoreDacl(HANDLE object, const std::vector<BYTE>& saved) noexcept
{
    if (saved.empty()) return true;
    try {
        // Self-relative, as read: its control bits (protected, inherited)
        // travel with it.
        return advapi::SetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION,
                                               const_cast<BYTE*>(saved.data())) != FALSE;
    } catch (...) {
        return false;
    }
}

}  // namespace qv
