#pragma once
// Classes in this file:
//   advapi::Function<Fn>   one security function of advapi32.dll, bound by
//                          name at its first use and kept in its own slot
//   advapi::module         the library itself, taken from the system folder
//   advapi::<Name>         the slots of the functions the installer calls
//
// Binding by name keeps the import table free of the security functions and
// lets a missing function fail with E_NOTIMPL instead of stopping the loader.

#include "sys/HResultError.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <utility>

namespace qv::advapi {

// The loaded advapi32.dll (already loaded, else from the system folder only);
// null when it cannot be loaded. Never throws.
HMODULE module() noexcept;

// The address of name in advapi32.dll, or null. Never throws.
FARPROC findProc(const char* name) noexcept;

template <class Fn>
class Function {
public:
    constexpr explicit Function(const char* name) noexcept : name_(name) {}
    Function(const Function&) = delete;
    Function& operator=(const Function&) = delete;

    // The bound function; null when the library or the function is missing.
    Fn find() const noexcept
    {
        if (missing_.load(std::memory_order_relaxed)) return nullptr;
        void* p = slot_.load(std::memory_order_acquire);
        if (!p) {
            p = reinterpret_cast<void*>(findProc(name_));
            if (p) slot_.store(p, std::memory_order_release);
        }
        return reinterpret_cast<Fn>(p);
    }

    // The bound function; E_UNEXPECTED without the library, E_NOTIMPL without
    // the function.
    Fn get() const
    {
        if (Fn f = find()) return f;
        throwHResult(module() ? E_NOTIMPL : E_UNEXPECTED);
    }

    template <class... Args>
    auto operator()(Args&&... args) const
    {
        return get()(std::forward<Args>(args)...);
    }

    // For tests: makes the function count as missing, as on a system that
    // lacks it, until called again with false.
    void setMissingForTesting(bool missing) noexcept { missing_.store(missing); }
    // For tests: calls go to replacement (null: to the library's function
    // again), to see what the installer hands the system where the system
    // cannot show it afterwards.
    void replaceForTesting(Fn replacement) noexcept
    {
        slot_.store(reinterpret_cast<void*>(replacement), std::memory_order_release);
    }

private:
    const char* name_;
    mutable std::atomic<void*> slot_{nullptr};
    std::atomic<bool> missing_{false};
};

#define QV_ADVAPI_FUNCTION(name) inline Function<decltype(&::name)> name{#name}

// Access-control lists and descriptors.
QV_ADVAPI_FUNCTION(InitializeAcl);
QV_ADVAPI_FUNCTION(GetAclInformation);
QV_ADVAPI_FUNCTION(GetAce);
QV_ADVAPI_FUNCTION(AddAce);
QV_ADVAPI_FUNCTION(AddAccessAllowedAce);
QV_ADVAPI_FUNCTION(AddAccessAllowedAceEx);
QV_ADVAPI_FUNCTION(AddAccessDeniedAceEx);
QV_ADVAPI_FUNCTION(InitializeSecurityDescriptor);
QV_ADVAPI_FUNCTION(IsValidSecurityDescriptor);
QV_ADVAPI_FUNCTION(GetSecurityDescriptorDacl);
QV_ADVAPI_FUNCTION(SetSecurityDescriptorDacl);
QV_ADVAPI_FUNCTION(GetSecurityDescriptorControl);
QV_ADVAPI_FUNCTION(SetSecurityDescriptorControl);
QV_ADVAPI_FUNCTION(SetSecurityDescriptorOwner);
QV_ADVAPI_FUNCTION(SetSecurityDescriptorGroup);
QV_ADVAPI_FUNCTION(GetFileSecurityW);
QV_ADVAPI_FUNCTION(SetFileSecurityW);
QV_ADVAPI_FUNCTION(GetKernelObjectSecurity);
QV_ADVAPI_FUNCTION(SetKernelObjectSecurity);
QV_ADVAPI_FUNCTION(SetSecurityInfo);
QV_ADVAPI_FUNCTION(ConvertSecurityDescriptorToStringSecurityDescriptorW);

// Security identifiers.
QV_ADVAPI_FUNCTION(AllocateAndInitializeSid);
QV_ADVAPI_FUNCTION(FreeSid);
QV_ADVAPI_FUNCTION(GetLengthSid);
QV_ADVAPI_FUNCTION(IsValidSid);
QV_ADVAPI_FUNCTION(EqualSid);
QV_ADVAPI_FUNCTION(CopySid);
QV_ADVAPI_FUNCTION(GetUserNameW);
QV_ADVAPI_FUNCTION(LookupAccountNameW);

// Tokens, privileges and the access check.
QV_ADVAPI_FUNCTION(CheckTokenMembership);
QV_ADVAPI_FUNCTION(ImpersonateSelf);
QV_ADVAPI_FUNCTION(RevertToSelf);
QV_ADVAPI_FUNCTION(OpenThreadToken);
QV_ADVAPI_FUNCTION(OpenProcessToken);
QV_ADVAPI_FUNCTION(GetTokenInformation);
QV_ADVAPI_FUNCTION(AccessCheck);
QV_ADVAPI_FUNCTION(LookupPrivilegeValueW);
QV_ADVAPI_FUNCTION(AdjustTokenPrivileges);

#undef QV_ADVAPI_FUNCTION

}  // namespace qv::advapi
