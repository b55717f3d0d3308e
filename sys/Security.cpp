#include "sys/Security.h"

#include "sys/Advapi.h"
#include "sys/Handles.h"
#include "sys/HResultError.h"

#include <cstdlib>
#include <new>
#include <string>
#include <utility>

namespace qv {
namespace {

Sid builtInSid(SID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD first, DWORD second = 0)
{
    PSID sid = nullptr;
    if (!advapi::AllocateAndInitializeSid(&authority, count, first, second, 0, 0, 0, 0, 0, 0, &sid))
        throwLastError();
    return Sid::fromSystem(sid);
}

Sid heapCopy(PSID source)
{
    const DWORD length = advapi::GetLengthSid(source);
    PSID copy = std::malloc(length);
    if (!copy) throwHResult(E_OUTOFMEMORY);
    Sid owner = Sid::fromHeap(copy);
    if (!advapi::CopySid(length, copy, source)) throwLastError();
    return owner;
}

Sid currentUserAccount()
{
    DWORD nameLength = 0;
    advapi::GetUserNameW(nullptr, &nameLength);
    if (nameLength == 0) throwLastError();
    std::wstring name(nameLength, L'\0');
    if (!advapi::GetUserNameW(name.data(), &nameLength)) throwLastError();
    name.resize(nameLength > 0 ? nameLength - 1 : 0);

    DWORD sidLength = 0;
    DWORD domainLength = 0;
    SID_NAME_USE use = SidTypeUnknown;
    if (!advapi::LookupAccountNameW(nullptr, name.c_str(), nullptr, &sidLength, nullptr,
                                    &domainLength, &use) &&
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        throwLastError();
    PSID sid = std::malloc(sidLength);
    if (!sid) throwHResult(E_OUTOFMEMORY);
    Sid owner = Sid::fromHeap(sid);
    std::wstring domain(domainLength + 1, L'\0');
    if (!advapi::LookupAccountNameW(nullptr, name.c_str(), sid, &sidLength, domain.data(),
                                    &domainLength, &use))
        throwLastError();
    if (use != SidTypeUser) throwHResult(E_UNEXPECTED);
    return owner;
}

Sid tokenUser()
{
    UniqueHandle token;
    if (!advapi::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put())) {
        if (::GetLastError() != ERROR_NO_TOKEN) throwLastError();
        if (!advapi::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()))
            throwLastError();
    }
    DWORD size = 0;
    if (!advapi::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size) &&
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        throwLastError();
    AclBuffer buffer = zeroedBuffer(size);
    if (!advapi::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        throwLastError();
    return heapCopy(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
}

}  // namespace

Sid::Sid(Sid&& other) noexcept
    : sid_(std::exchange(other.sid_, nullptr)), release_(other.release_)
{
}

Sid& Sid::operator=(Sid&& other) noexcept
{
    if (this != &other) {
        reset();
        sid_ = std::exchange(other.sid_, nullptr);
        release_ = other.release_;
    }
    return *this;
}

Sid::~Sid()
{
    reset();
}

Sid Sid::fromSystem(PSID sid) noexcept
{
    return Sid(sid, Release::System);
}

Sid Sid::fromHeap(PSID sid) noexcept
{
    return Sid(sid, Release::Heap);
}

void Sid::reset() noexcept
{
    PSID sid = std::exchange(sid_, nullptr);
    if (!sid) return;
    if (release_ == Release::Heap)
        std::free(sid);
    else if (auto freeSid = advapi::FreeSid.find())
        freeSid(sid);
}

Sid makeSid(WellKnownSid which)
{
    switch (which) {
    case WellKnownSid::Administrators:
        return builtInSid(SECURITY_NT_AUTHORITY, 2, SECURITY_BUILTIN_DOMAIN_RID,
                          DOMAIN_ALIAS_RID_ADMINS);
    case WellKnownSid::Users:
        return builtInSid(SECURITY_NT_AUTHORITY, 2, SECURITY_BUILTIN_DOMAIN_RID,
                          DOMAIN_ALIAS_RID_USERS);
    case WellKnownSid::AuthenticatedUsers:
        return builtInSid(SECURITY_NT_AUTHORITY, 1, SECURITY_AUTHENTICATED_USER_RID);
    case WellKnownSid::CurrentUser:
        return currentUserAccount();
    case WellKnownSid::TokenUser:
        return tokenUser();
    case WellKnownSid::LocalSystem:
        return builtInSid(SECURITY_NT_AUTHORITY, 1, SECURITY_LOCAL_SYSTEM_RID);
    case WellKnownSid::Everyone:
    default:
        return builtInSid(SECURITY_WORLD_SID_AUTHORITY, 1, SECURITY_WORLD_RID);
    }
}

AclBuffer zeroedBuffer(std::size_t size)
{
    try {
        return AclBuffer(size);
    } catch (const std::bad_alloc&) {
        throwHResult(E_OUTOFMEMORY);
    }
}

std::unique_ptr<SECURITY_DESCRIPTOR> newSecurityDescriptor()
{
    std::unique_ptr<SECURITY_DESCRIPTOR> descriptor(new (std::nothrow) SECURITY_DESCRIPTOR{});
    if (!descriptor) throwHResult(E_OUTOFMEMORY);
    if (!advapi::InitializeSecurityDescriptor(descriptor.get(), SECURITY_DESCRIPTOR_REVISION))
        throwLastError();
    return descriptor;
}

void setDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, PACL acl)
{
    if (!advapi::SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE)) throwLastError();
}

AclBuffer singleAceAcl(PSID sid, DWORD mask)
{
    if (!sid || !advapi::IsValidSid(sid)) throwHResult(HRESULT_FROM_WIN32(ERROR_INVALID_SID));
    // The list header and the entry's header and mask take 16 bytes.
    const DWORD size = advapi::GetLengthSid(sid) + 16;
    AclBuffer buffer = zeroedBuffer(size);
    if (!advapi::InitializeAcl(aclPointer(buffer), size, ACL_REVISION)) throwLastError();
    if (!advapi::AddAccessAllowedAce(aclPointer(buffer), ACL_REVISION, mask, sid)) throwLastError();
    return buffer;
}

AclBuffer singleAceAcl(WellKnownSid sid, DWORD mask)
{
    const Sid built = makeSid(sid);
    return singleAceAcl(built.get(), mask);
}

bool isAdministrator() noexcept
{
    try {
        const Sid administrators = makeSid(WellKnownSid::Administrators);
        if (auto checkMembership = advapi::CheckTokenMembership.find()) {
            BOOL member = FALSE;
            // No token: the caller's effective token, impersonation included.
            if (checkMembership(nullptr, administrators.get(), &member)) return member != FALSE;
        }
    } catch (...) {
        // Answered by the access check below.
    }
    return isAdministratorByAccessCheck();
}

bool isAdministratorByAccessCheck(HANDLE token) noexcept
{
    try {
        const Sid administrators = makeSid(WellKnownSid::Administrators);

        UniqueHandle ownToken;
        bool impersonating = false;
        // Declared after the token, so the impersonation ends before it is closed.
        auto revert = scopeExit([&] {
            if (impersonating) {
                if (auto revertToSelf = advapi::RevertToSelf.find()) revertToSelf();
            }
        });
        if (!token) {
            // AccessCheck wants an impersonation token: take a copy of the
            // process's own context as the thread's.
            impersonating = advapi::ImpersonateSelf(SecurityImpersonation) != FALSE;
            if (!advapi::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, FALSE, ownToken.put())) {
                if (::GetLastError() != ERROR_NO_TOKEN) return false;
                if (!advapi::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, ownToken.put()))
                    return false;
            }
            token = ownToken.get();
        }

        AclBuffer acl = singleAceAcl(administrators.get(), 3);
        auto descriptor = newSecurityDescriptor();
        setDescriptorDacl(descriptor.get(), aclPointer(acl));
        if (!advapi::SetSecurityDescriptorOwner(descriptor.get(), administrators.get(), FALSE) ||
            !advapi::SetSecurityDescriptorGroup(descriptor.get(), administrators.get(), FALSE) ||
            !advapi::IsValidSecurityDescriptor(descriptor.get()))
            return false;

        GENERIC_MAPPING mapping = {1, 2, 0, 3};  // read, write, execute, all
        PRIVILEGE_SET privileges{};              // room for one privilege: 20 bytes
        DWORD privilegesLength = sizeof privileges;
        DWORD granted = 0;
        BOOL accessStatus = FALSE;
        if (!advapi::AccessCheck(descriptor.get(), token, 1, &mapping, &privileges,
                                 &privilegesLength, &granted, &accessStatus))
            return false;
        return accessStatus != FALSE;
    } catch (...) {
        return false;
    }
}

bool setPrivilege(const std::wstring& name, bool enable) noexcept
{
    try {
        UniqueHandle token;
        if (!advapi::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                                      token.put()))
            return false;
        LUID luid{};
        if (!advapi::LookupPrivilegeValueW(nullptr, name.c_str(), &luid)) return false;

        // First switch it off, learning its previous state. A privilege the
        // token does not hold is reported through the last error
        // ERROR_NOT_ALL_ASSIGNED while the call itself succeeds.
        TOKEN_PRIVILEGES request{};
        request.PrivilegeCount = 1;
        request.Privileges[0].Luid = luid;
        request.Privileges[0].Attributes = 0;
        // Zeroed: a privilege that was already off is not listed at all and
        // must not leave stray attribute bits (SE_PRIVILEGE_REMOVED would
        // delete it from the token).
        TOKEN_PRIVILEGES previous{};
        DWORD previousLength = sizeof previous;
        ::SetLastError(ERROR_SUCCESS);
        if (!advapi::AdjustTokenPrivileges(token.get(), FALSE, &request, sizeof previous, &previous,
                                           &previousLength) ||
            ::GetLastError() != ERROR_SUCCESS)
            return false;

        const TOKEN_PRIVILEGES original = previous;
        previous.PrivilegeCount = 1;
        previous.Privileges[0].Luid = luid;
        DWORD attributes = previous.Privileges[0].Attributes & ~SE_PRIVILEGE_REMOVED;
        if (enable)
            attributes |= SE_PRIVILEGE_ENABLED;
        else
            attributes &= ~SE_PRIVILEGE_ENABLED;
        previous.Privileges[0].Attributes = attributes;
        ::SetLastError(ERROR_SUCCESS);
        if (!advapi::AdjustTokenPrivileges(token.get(), FALSE, &previous, 0, nullptr, nullptr) ||
            ::GetLastError() != ERROR_SUCCESS) {
            // Put back what the first step switched off.
            if (original.PrivilegeCount != 0)
                advapi::AdjustTokenPrivileges(token.get(), FALSE, const_cast<TOKEN_PRIVILEGES*>(&original),
                                              0, nullptr, nullptr);
            return false;
        }
        return true;
    } catch (...) {
        return false;
    }
}

bool isLocalSystem() noexcept
{
    try {
        const Sid user = makeSid(WellKnownSid::TokenUser);
        const Sid system = makeSid(WellKnownSid::LocalSystem);
        return advapi::EqualSid(user.get(), system.get()) != FALSE;
    } catch (...) {
        return false;
    }
}

}  // namespace qv
