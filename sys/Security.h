#pragma once
// Classes in this file:
//   WellKnownSid           the security identifiers the layer builds
//   Sid                    owner of one built SID, freed the way it was made
//   AclBuffer              a zeroed, owned buffer holding one ACL
//   makeSid, newSecurityDescriptor, setDescriptorDacl, singleAceAcl
//   isAdministrator        membership of BUILTIN\Administrators, with an
//                          access-check fallback
//   setPrivilege           switches one privilege of the process token
//   PrivilegeScope         a privilege switched on for one scope
//   isLocalSystem          whether the process runs as SYSTEM
//
// Every advapi32 function is bound by name at its first use (sys/Advapi.h);
// failures throw HResultError (sys/HResultError.h).

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace qv {

enum class WellKnownSid : int {
    Everyone = 0,            // S-1-1-0, also for any value not listed
    Administrators = 1,      // S-1-5-32-544
    Users = 2,               // S-1-5-32-545
    AuthenticatedUsers = 3,  // S-1-5-11
    CurrentUser = 4,         // the account of the current user, by name
    TokenUser = 5,           // the user of the thread or process token
    LocalSystem = 6,         // S-1-5-18, the account services run as
};

class Sid {
public:
    Sid() noexcept = default;
    Sid(const Sid&) = delete;
    Sid& operator=(const Sid&) = delete;
    Sid(Sid&& other) noexcept;
    Sid& operator=(Sid&& other) noexcept;
    ~Sid();

    PSID get() const noexcept { return sid_; }
    explicit operator bool() const noexcept { return sid_ != nullptr; }

    // From AllocateAndInitializeSid: released with FreeSid.
    static Sid fromSystem(PSID sid) noexcept;
    // From std::malloc: released with std::free.
    static Sid fromHeap(PSID sid) noexcept;

private:
    enum class Release { System, Heap };
    Sid(PSID sid, Release release) noexcept : sid_(sid), release_(release) {}
    void reset() noexcept;

    PSID sid_ = nullptr;
    Release release_ = Release::System;
};

// Builds the SID; E_UNEXPECTED when the current user's account is not of
// user type, HRESULT_FROM_WIN32 of the last error when a call fails.
Sid makeSid(WellKnownSid which);

// Bytes of one access-control list, zeroed when allocated.
using AclBuffer = std::vector<BYTE>;
inline PACL aclPointer(AclBuffer& buffer) noexcept { return reinterpret_cast<PACL>(buffer.data()); }

// A zeroed buffer of size bytes; E_OUTOFMEMORY when it cannot be allocated.
AclBuffer zeroedBuffer(std::size_t size);

// An initialised, empty absolute descriptor (revision 1), freshly allocated
// and zeroed. Throws.
std::unique_ptr<SECURITY_DESCRIPTOR> newSecurityDescriptor();

// Puts acl as the descriptor's DACL: present, not defaulted. Throws.
void setDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, PACL acl);

// A new list (revision 2) of GetLengthSid + 16 bytes holding one
// access-allowed entry for the SID with the mask. Throws.
AclBuffer singleAceAcl(PSID sid, DWORD mask);
AclBuffer singleAceAcl(WellKnownSid sid, DWORD mask);

// True when the current user is a member of BUILTIN\Administrators: the
// system's token-membership check, or, when that is missing or fails, the
// access check below. Never throws.
bool isAdministrator() noexcept;

// The access check on its own: a descriptor allowing only Administrators,
// checked against token (an impersonation token), or, with no token, against
// the caller's own context (impersonating itself). False when any step
// fails. Never throws.
bool isAdministratorByAccessCheck(HANDLE token = nullptr) noexcept;

// Enables or disables the privilege (for example "SeBackupPrivilege") in the
// process token. False when the token does not hold it or any call fails;
// the token is then left as it was. Never throws.
bool setPrivilege(const std::wstring& name, bool enable) noexcept;

// Switches the privilege on for the scope and off again at its end, on
// every path. Without the privilege the guarded call itself fails and
// reports it, so the answer of setPrivilege is not needed here.
class PrivilegeScope {
public:
    explicit PrivilegeScope(const wchar_t* name) noexcept : name_(name) { setPrivilege(name_, true); }
    ~PrivilegeScope() { setPrivilege(name_, false); }
    PrivilegeScope(const PrivilegeScope&) = delete;
    PrivilegeScope& operator=(const PrivilegeScope&) = delete;

private:
    const wchar_t* name_;
};

// True when the process token's user is LocalSystem (S-1-5-18). Never throws.
bool isLocalSystem() noexcept;

}  // namespace qv
