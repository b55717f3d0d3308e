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

}  // namespace qv
