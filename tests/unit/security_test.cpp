#include "sys/Security.h"

#include "sys/Advapi.h"
#include "sys/HResultError.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace {

std::wstring sidText(PSID sid)
{
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text)) return L"(invalid)";
    std::wstring result = text;
    ::LocalFree(text);
    return result;
}

TEST(MakeSid, BuildsTheWellKnownIdentifiers)
{
    const struct {
        int value;
        const wchar_t* text;
    } cases[] = {
        {0, L"S-1-1-0"}, {1, L"S-1-5-32-544"}, {2, L"S-1-5-32-545"}, {3, L"S-1-5-11"},
        {99, L"S-1-1-0"},  // any value not listed is Everyone
    };
    for (const auto& c : cases) {
        const qv::Sid sid = qv::makeSid(static_cast<qv::WellKnownSid>(c.value));
        EXPECT_EQ(sidText(sid.get()), c.text) << c.value;
    }
}

TEST(MakeSid, CurrentUserByNameIsTheTokensUser)
{
    const qv::Sid byName = qv::makeSid(qv::WellKnownSid::CurrentUser);
    const qv::Sid ofToken = qv::makeSid(qv::WellKnownSid::TokenUser);
    EXPECT_EQ(sidText(byName.get()), sidText(ofToken.get()));
    EXPECT_NE(sidText(ofToken.get()), L"(invalid)");
}

// The system's own answer, for comparison.
bool systemSaysAdministrator()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    EXPECT_TRUE(::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                           DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins));
    BOOL member = FALSE;
    EXPECT_TRUE(::CheckTokenMembership(nullptr, admins, &member));
    ::FreeSid(admins);
    return member != FALSE;
}

// Makes bound functions count as missing for one test.
class Missing {
public:
    template <class... F>
    explicit Missing(F&... functions)
    {
        (functions.setMissingForTesting(true), ...);
        restore_ = [&functions...] { (functions.setMissingForTesting(false), ...); };
    }
    ~Missing() { restore_(); }

private:
    std::function<void()> restore_;
};

TEST(IsAdministrator, AnswersThroughTheMembershipCheck)
{
    EXPECT_EQ(qv::isAdministrator(), systemSaysAdministrator());
    if (qv::test::runningUnderWine()) {
        EXPECT_TRUE(qv::isAdministrator()) << "Wine's user is always an administrator";
    }
}

TEST(IsAdministrator, FallsBackToTheAccessCheckWithoutMembershipCheck)
{
    const bool expected = systemSaysAdministrator();
    Missing missing(qv::advapi::CheckTokenMembership);
    EXPECT_EQ(qv::isAdministrator(), expected);
    EXPECT_EQ(qv::isAdministratorByAccessCheck(), expected);
    // The impersonation of the check has ended.
    HANDLE token = nullptr;
    EXPECT_FALSE(::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
}

TEST(IsAdministrator, FalseWhenTheFallbackCannotRun)
{
    Missing missing(qv::advapi::CheckTokenMembership, qv::advapi::AccessCheck);
    EXPECT_FALSE(qv::isAdministrator());
}

TEST(IsAdministratorByAccessCheck, FalseForATokenThatIsNoToken)
{
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_FALSE(qv::isAdministratorByAccessCheck(event));
    ::CloseHandle(event);
}

TEST(IsAdministratorByAccessCheck, TokenWithAdministratorsForDenyOnly)
{
    HANDLE process = nullptr;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &process));
    HANDLE impersonation = nullptr;
    ASSERT_TRUE(::DuplicateToken(process, SecurityImpersonation, &impersonation));
    const bool plain = qv::isAdministratorByAccessCheck(impersonation);
    ::CloseHandle(impersonation);
    EXPECT_EQ(plain, systemSaysAdministrator());

    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    ASSERT_TRUE(::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                           DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins));
    SID_AND_ATTRIBUTES disabled = {admins, 0};
    HANDLE restricted = nullptr;
    const BOOL made = ::CreateRestrictedToken(process, 0, 1, &disabled, 0, nullptr, 0, nullptr,
                                              &restricted);
    ::FreeSid(admins);
    ::CloseHandle(process);
    ASSERT_TRUE(made) << ::GetLastError();
    ASSERT_TRUE(::DuplicateToken(restricted, SecurityImpersonation, &impersonation));
    ::CloseHandle(restricted);
    const bool denied = qv::isAdministratorByAccessCheck(impersonation);
    ::CloseHandle(impersonation);
    if (denied && qv::test::runningUnderWine())
        GTEST_SKIP() << "Wine's access check ignores deny-only groups: the non-administrator "
                        "answer is shown here only through the failing steps";
    EXPECT_FALSE(denied);
}

// The privileges of the process token, as the system reports them.
std::vector<BYTE> tokenPrivileges()
{
    HANDLE token = nullptr;
    EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
    DWORD size = 0;
    ::GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> bytes(size);
    EXPECT_TRUE(::GetTokenInformation(token, TokenPrivileges, bytes.data(), size, &size));
    ::CloseHandle(token);
    return bytes;
}

// -1 when the token does not hold the privilege, else its attributes.
long privilegeAttributes(const wchar_t* name)
{
    LUID luid{};
    EXPECT_TRUE(::LookupPrivilegeValueW(nullptr, name, &luid));
    std::vector<BYTE> bytes = tokenPrivileges();
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(bytes.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& p = privileges->Privileges[i];
        if (p.Luid.LowPart == luid.LowPart && p.Luid.HighPart == luid.HighPart)
            return static_cast<long>(p.Attributes);
    }
    return -1;
}

class SetPrivilege : public testing::TestWithParam<const wchar_t*> {};

TEST_P(SetPrivilege, SwitchesOnAndOff)
{
    const wchar_t* name = GetParam();
    ASSERT_NE(privilegeAttributes(name), -1) << "the account does not hold it";
    const long before = privilegeAttributes(name);

    EXPECT_TRUE(qv::setPrivilege(name, true));
    EXPECT_TRUE(privilegeAttributes(name) & SE_PRIVILEGE_ENABLED);
    EXPECT_TRUE(qv::setPrivilege(name, true));  // already on
    EXPECT_TRUE(privilegeAttributes(name) & SE_PRIVILEGE_ENABLED);

    EXPECT_TRUE(qv::setPrivilege(name, false));
    EXPECT_FALSE(privilegeAttributes(name) & SE_PRIVILEGE_ENABLED);
    EXPECT_TRUE(qv::setPrivilege(name, false));  // already off: still held
    EXPECT_EQ(privilegeAttributes(name) & ~SE_PRIVILEGE_ENABLED, before & ~SE_PRIVILEGE_ENABLED);
}

INSTANTIATE_TEST_SUITE_P(BackupAndRestore, SetPrivilege,
                         testing::Values(L"SeBackupPrivilege", L"SeRestorePrivilege"));

// Wine's account does not hold SeCreateTokenPrivilege: the adjustment
// succeeds with ERROR_NOT_ALL_ASSIGNED (1300).
TEST(SetPrivilegeNotHeld, FalseAndTokenUnchanged)
{
    if (privilegeAttributes(L"SeCreateTokenPrivilege") != -1)
        GTEST_SKIP() << "this account holds SeCreateTokenPrivilege";
    qv::setPrivilege(L"SeBackupPrivilege", true);
    const std::vector<BYTE> before = tokenPrivileges();
    EXPECT_FALSE(qv::setPrivilege(L"SeCreateTokenPrivilege", true));
    EXPECT_FALSE(qv::setPrivilege(L"SeCreateTokenPrivilege", false));
    EXPECT_EQ(tokenPrivileges(), before);
    qv::setPrivilege(L"SeBackupPrivilege", false);
}

TEST(SetPrivilegeNotHeld, UnknownNameIsFalse)
{
    EXPECT_FALSE(qv::setPrivilege(L"SeNoSuchPrivilege", true));
}

TEST(SingleAceAcl, OneAllowEntryForEveryone)
{
    qv::AclBuffer acl = qv::singleAceAcl(qv::WellKnownSid::Everyone, MUTEX_ALL_ACCESS);
    // Exactly the list the system builds for the same entry.
    PSID everyone = nullptr;
    ASSERT_TRUE(::ConvertStringSidToSidW(L"S-1-1-0", &everyone));
    const DWORD size = ::GetLengthSid(everyone) + 16;
    std::vector<BYTE> expected(size);
    ASSERT_TRUE(::InitializeAcl(reinterpret_cast<PACL>(expected.data()), size, ACL_REVISION));
    ASSERT_TRUE(::AddAccessAllowedAce(reinterpret_cast<PACL>(expected.data()), ACL_REVISION,
                                      MUTEX_ALL_ACCESS, everyone));
    ::LocalFree(everyone);
    EXPECT_EQ(acl, expected);

    ACL_SIZE_INFORMATION info{};
    ASSERT_TRUE(::GetAclInformation(qv::aclPointer(acl), &info, sizeof info, AclSizeInformation));
    EXPECT_EQ(info.AceCount, 1u);
    EXPECT_EQ(info.AclBytesFree, 0u);
}

TEST(SingleAceAcl, InvalidSidThrows)
{
    BYTE garbage[16] = {9, 9};
    try {
        qv::singleAceAcl(garbage, 1);
        FAIL() << "no exception";
    } catch (const qv::HResultError& e) {
        EXPECT_EQ(e.code(), HRESULT_FROM_WIN32(ERROR_INVALID_SID));
    }
}

// The mutex of the running-instance check is built this way.
TEST(NewSecurityDescriptor, GuardsANamedMutexForEveryone)
{
    qv::AclBuffer acl = qv::singleAceAcl(qv::WellKnownSid::Everyone, MUTEX_ALL_ACCESS);
    auto descriptor = qv::newSecurityDescriptor();
    EXPECT_TRUE(::IsValidSecurityDescriptor(descriptor.get()));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor.get(), &control, &revision));
    EXPECT_EQ(revision, 1u);
    EXPECT_EQ(control, 0);

    qv::setDescriptorDacl(descriptor.get(), qv::aclPointer(acl));
    BOOL present = FALSE, defaulted = TRUE;
    PACL dacl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_FALSE(defaulted);
    EXPECT_EQ(dacl, qv::aclPointer(acl));

    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
    HANDLE mutex = ::CreateMutexW(&attributes, FALSE, L"Local\\QvSecurityTestMutex");
    ASSERT_NE(mutex, nullptr) << ::GetLastError();
    PACL readBack = nullptr;
    PSECURITY_DESCRIPTOR stored = nullptr;
    ASSERT_EQ(::GetSecurityInfo(mutex, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                &readBack, nullptr, &stored),
              ERROR_SUCCESS);
    ASSERT_NE(readBack, nullptr);
    ASSERT_EQ(readBack->AceCount, 1);
    void* ace = nullptr;
    ASSERT_TRUE(::GetAce(readBack, 0, &ace));
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(allowed->Mask, static_cast<DWORD>(MUTEX_ALL_ACCESS));
    EXPECT_EQ(sidText(const_cast<DWORD*>(&allowed->SidStart)), L"S-1-1-0");
    ::LocalFree(stored);
    ::CloseHandle(mutex);
}

}  // namespace
