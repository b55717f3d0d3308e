#include "sys/FileSecurity.h"

#include "sys/Advapi.h"
#include "sys/HResultError.h"
#include "sys/Handles.h"

#include <algorithm>
#include <iterator>

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

namespace {

// NT SERVICE\TrustedInstaller, which owns the system's own folders.
Sid trustedInstaller()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!advapi::AllocateAndInitializeSid(&nt, 6, 80, 956008885u, 3418522649u, 1831038044u, 1853292631u,
                                          2271478464u, 0, 0, &sid))
        throwLastError();
    return Sid::fromSystem(sid);
}

bool isCreatorOwner(PSID sid) noexcept
{
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    static const BYTE creatorOwner[] = {SID_REVISION, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};
    return std::equal(std::begin(creatorOwner), std::end(creatorOwner), bytes);
}

// Every right that changes an object or what it holds.
constexpr ACCESS_MASK changingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                       FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                       GENERIC_ALL | MAXIMUM_ALLOWED;

}  // namespace

bool leftToAdministrators(const std::vector<BYTE>& ownerAndDacl) noexcept
{
    return leftToAdministrators(ownerAndDacl, changingRights, true);
}

bool leftToAdministrators(const std::vector<BYTE>& ownerAndDacl, ACCESS_MASK changing, bool inheritedToo) noexcept
{
    return leftToAdministratorsAnd(ownerAndDacl, changing, inheritedToo, nullptr);
}

bool leftToAdministratorsOrSelf(const std::vector<BYTE>& ownerAndDacl) noexcept
{
    try {
        const Sid self = makeSid(WellKnownSid::TokenUser);
        return leftToAdministratorsAnd(ownerAndDacl, changingRights, true, self.get());
    } catch (...) {
        return false;
    }
}

bool leftToAdministratorsAnd(const std::vector<BYTE>& ownerAndDacl, ACCESS_MASK changing, bool inheritedToo,
                             PSID alsoTrusted) noexcept
{
    try {
        if (ownerAndDacl.empty()) return false;
        auto* descriptor = const_cast<BYTE*>(ownerAndDacl.data());
        if (!advapi::IsValidSecurityDescriptor(descriptor)) return false;
        const Sid administrators = makeSid(WellKnownSid::Administrators);
        const Sid system = makeSid(WellKnownSid::LocalSystem);
        const Sid installer = trustedInstaller();
        auto trusted = [&](PSID sid) {
            return advapi::EqualSid(sid, administrators.get()) || advapi::EqualSid(sid, system.get()) ||
                   advapi::EqualSid(sid, installer.get()) || (alsoTrusted && advapi::EqualSid(sid, alsoTrusted));
        };

        PSID owner = nullptr;
        BOOL defaulted = FALSE;
        if (!::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner || !trusted(owner)) return false;

        BOOL present = FALSE;
        PACL dacl = nullptr;
        if (!advapi::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return false;
        if (!present || !dacl) return false;  // everyone may do everything
        for (DWORD index = 0; index < dacl->AceCount; ++index) {
            void* raw = nullptr;
            if (!advapi::GetAce(dacl, index, &raw)) return false;
            const auto* ace = static_cast<const ACE_HEADER*>(raw);
            if (ace->AceType == ACCESS_DENIED_ACE_TYPE || ace->AceType == ACCESS_DENIED_OBJECT_ACE_TYPE ||
                ace->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE || ace->AceType == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE ||
                ace->AceType == SYSTEM_AUDIT_ACE_TYPE || ace->AceType == SYSTEM_ALARM_ACE_TYPE)
                continue;
            // Any other allow entry of a simple form is judged by its SID;
            // one of another form (object, callback, compound) is not
            // trusted at all.
            if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
            const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
            if (!(allowed->Mask & changing)) continue;
            if (!inheritedToo && (ace->AceFlags & INHERIT_ONLY_ACE)) continue;
            PSID sid = const_cast<DWORD*>(&allowed->SidStart);
            if (!advapi::IsValidSid(sid)) return false;
            if (trusted(sid) || isCreatorOwner(sid)) continue;
            return false;
        }
        return true;
    } catch (...) {
        return false;
    }
}

void secureFolder(HANDLE folder)
{
    FolderSecurity security = FolderSecurity::likeProgramFiles();
    const Sid administrators = makeSid(WellKnownSid::Administrators);
    if (!advapi::SetSecurityDescriptorOwner(security.descriptor(), administrators.get(), FALSE)) throwLastError();
    if (!advapi::SetKernelObjectSecurity(folder, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         security.descriptor()))
        throwLastError();
}

std::wstring securityText(const std::vector<BYTE>& descriptor) noexcept
{
    try {
        if (descriptor.empty()) return {};
        const auto convert = advapi::ConvertSecurityDescriptorToStringSecurityDescriptorW.find();
        if (!convert) return {};
        LPWSTR text = nullptr;
        if (!convert(const_cast<BYTE*>(descriptor.data()), SDDL_REVISION_1,
                     OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr) ||
            !text)
            return {};
        const UniqueLocal owned(text);
        return std::wstring(text);
    } catch (...) {
        return {};
    }
}

}  // namespace qv
