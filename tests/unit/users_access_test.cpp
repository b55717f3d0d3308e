#include "sys/UsersAccess.h"

#include "sys/Advapi.h"
#include "sys/HResultError.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <boost/filesystem.hpp>

#include <cstring>
#include <fstream>
#include <vector>

namespace fs = boost::filesystem;

namespace {

// SIDs from their string form, independent of the code under test.
struct StringSid {
    PSID sid = nullptr;
    explicit StringSid(const wchar_t* text) { EXPECT_TRUE(::ConvertStringSidToSidW(text, &sid)); }
    ~StringSid() { ::LocalFree(sid); }
};

const StringSid& sidFor(char who)
{
    static const StringSid users(L"S-1-5-32-545"), admins(L"S-1-5-32-544"),
        everyone(L"S-1-1-0"), system(L"S-1-5-18"), authenticated(L"S-1-5-11");
    switch (who) {
    case 'U': return users;
    case 'A': return admins;
    case 'E': return everyone;
    case 'S': return system;
    default: return authenticated;
    }
}

struct Ace {
    char who;      // U users, A administrators, E everyone, S system, T authenticated
    bool allow;
    DWORD mask;
    BYTE flags;
};

// An ACL of exactly size bytes (0: just large enough) holding the entries.
std::vector<BYTE> makeAcl(const std::vector<Ace>& aces, DWORD size = 0)
{
    if (size == 0) {
        size = sizeof(ACL);
        for (const Ace& ace : aces) size += 8 + ::GetLengthSid(sidFor(ace.who).sid);
    }
    std::vector<BYTE> bytes(size);
    PACL acl = reinterpret_cast<PACL>(bytes.data());
    EXPECT_TRUE(::InitializeAcl(acl, size, ACL_REVISION));
    for (const Ace& ace : aces) {
        PSID sid = sidFor(ace.who).sid;
        if (ace.allow && ace.flags == 0)
            EXPECT_TRUE(::AddAccessAllowedAce(acl, ACL_REVISION, ace.mask, sid));
        else if (ace.allow)
            EXPECT_TRUE(::AddAccessAllowedAceEx(acl, ACL_REVISION, ace.flags, ace.mask, sid));
        else
            EXPECT_TRUE(::AddAccessDeniedAceEx(acl, ACL_REVISION, ace.flags, ace.mask, sid));
    }
    return bytes;
}

DWORD bytesInUse(const std::vector<BYTE>& acl)
{
    ACL_SIZE_INFORMATION info{};
    EXPECT_TRUE(::GetAclInformation(const_cast<PACL>(reinterpret_cast<const ACL*>(acl.data())),
                                    &info, sizeof info, AclSizeInformation));
    return info.AclBytesInUse;
}

constexpr BYTE kInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
constexpr BYTE kInherited = INHERITED_ACE;

struct AclCase {
    const char* name;
    std::vector<Ace> old;
    DWORD mask;
    BYTE flags;
    std::vector<Ace> expected;
};

std::ostream& operator<<(std::ostream& out, const AclCase& c)
{
    return out << c.name;
}

class BuildUsersAcl : public testing::TestWithParam<AclCase> {};

TEST_P(BuildUsersAcl, ReplacesUsersEntriesKeepingTheOrder)
{
    const AclCase& c = GetParam();
    std::vector<BYTE> old = makeAcl(c.old);
    const DWORD size = bytesInUse(old) + 8 + ::GetLengthSid(sidFor('U').sid);
    const qv::AclBuffer built = qv::buildUsersAcl(reinterpret_cast<const ACL*>(old.data()),
                                                  sidFor('U').sid, c.mask, c.flags);
    EXPECT_EQ(built, makeAcl(c.expected, size));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, BuildUsersAcl,
    testing::Values(
        AclCase{"Empty", {}, 0x1F01FF, kInherit, {{'U', true, 0x1F01FF, kInherit}}},
        AclCase{"PlainEntryWithoutFlags", {{'A', true, FILE_ALL_ACCESS, 0}}, 0x13019F, 0,
                {{'A', true, FILE_ALL_ACCESS, 0}, {'U', true, 0x13019F, 0}}},
        AclCase{"AllowAndDenyForUsersReplaced",
                {{'A', true, FILE_ALL_ACCESS, 0},
                 {'U', false, FILE_WRITE_DATA, 0},
                 {'E', true, FILE_GENERIC_READ, 0},
                 {'U', true, FILE_GENERIC_READ, kInherit}},
                0x1F01FF,
                kInherit,
                {{'A', true, FILE_ALL_ACCESS, 0},
                 {'E', true, FILE_GENERIC_READ, 0},
                 {'U', true, 0x1F01FF, kInherit}}},
        AclCase{"BeforeTheInheritedEntries",
                {{'S', false, DELETE, 0},
                 {'A', true, FILE_ALL_ACCESS, kInherited},
                 {'U', true, FILE_GENERIC_READ, kInherited},
                 {'T', true, FILE_GENERIC_READ, kInherited}},
                0x13019F,
                0,
                {{'S', false, DELETE, 0},
                 {'U', true, 0x13019F, 0},
                 {'A', true, FILE_ALL_ACCESS, kInherited},
                 {'T', true, FILE_GENERIC_READ, kInherited}}},
        // An explicit entry after the first inherited one stays where it was.
        AclCase{"OutOfOrderListKeepsItsTail",
                {{'U', false, FILE_ALL_ACCESS, 0},
                 {'E', true, FILE_GENERIC_READ, kInherited},
                 {'S', true, FILE_ALL_ACCESS, 0}},
                0x1F01FF,
                kInherit,
                {{'U', true, 0x1F01FF, kInherit},
                 {'E', true, FILE_GENERIC_READ, kInherited},
                 {'S', true, FILE_ALL_ACCESS, 0}}},
        AclCase{"AllInherited",
                {{'U', true, FILE_GENERIC_READ, kInherited}, {'A', true, FILE_ALL_ACCESS, kInherited}},
                0x1F01FF,
                kInherit,
                {{'U', true, 0x1F01FF, kInherit}, {'A', true, FILE_ALL_ACCESS, kInherited}}}),
    [](const testing::TestParamInfo<AclCase>& info) { return std::string(info.param.name); });

// What a file inherits from its folder's list, as the take-back writes it
// (the system is asked to work nothing out, so that nothing propagates).
TEST(InheritedEntries, FilesGetTheObjectInheritableEntriesOnly)
{
    constexpr BYTE oi = OBJECT_INHERIT_ACE, ci = CONTAINER_INHERIT_ACE, io = INHERIT_ONLY_ACE,
                   np = NO_PROPAGATE_INHERIT_ACE;
    std::vector<BYTE> folder = makeAcl({{'S', true, FILE_ALL_ACCESS, 0},              // the folder's own
                                        {'A', true, GENERIC_ALL, oi | ci | io},       // generic, mapped
                                        {'E', false, FILE_WRITE_DATA, oi | np},       // deny, one level
                                        {'T', true, FILE_GENERIC_READ, ci},           // folders only
                                        {'U', true, FILE_GENERIC_READ, oi | kInherited}});
    std::vector<BYTE> built(1024);
    PACL acl = reinterpret_cast<PACL>(built.data());
    ASSERT_TRUE(::InitializeAcl(acl, static_cast<DWORD>(built.size()), ACL_REVISION));
    qv::appendInheritedEntries(acl, reinterpret_cast<const ACL*>(folder.data()), sidFor('A').sid);
    EXPECT_LE(bytesInUse(built),
              qv::inheritedEntriesSize(reinterpret_cast<const ACL*>(folder.data()), sidFor('A').sid));
    built.resize(bytesInUse(built));
    std::vector<BYTE> expected = makeAcl({{'A', true, FILE_ALL_ACCESS, kInherited},
                                          {'E', false, FILE_WRITE_DATA, kInherited},
                                          {'U', true, FILE_GENERIC_READ, kInherited}});
    reinterpret_cast<PACL>(built.data())->AclSize = static_cast<WORD>(built.size());
    EXPECT_EQ(built, expected);
}

TEST(InheritedEntries, CreatorOwnerBecomesTheOwnerAndCreatorGroupIsLeftOut)
{
    StringSid creatorOwner(L"S-1-3-0"), creatorGroup(L"S-1-3-1");
    std::vector<BYTE> folder(256);
    PACL source = reinterpret_cast<PACL>(folder.data());
    ASSERT_TRUE(::InitializeAcl(source, static_cast<DWORD>(folder.size()), ACL_REVISION));
    ASSERT_TRUE(::AddAccessAllowedAceEx(source, ACL_REVISION, kInherit | INHERIT_ONLY_ACE, GENERIC_ALL,
                                        creatorOwner.sid));
    ASSERT_TRUE(::AddAccessAllowedAceEx(source, ACL_REVISION, kInherit, FILE_GENERIC_READ, creatorGroup.sid));
    std::vector<BYTE> built(512);
    PACL acl = reinterpret_cast<PACL>(built.data());
    ASSERT_TRUE(::InitializeAcl(acl, static_cast<DWORD>(built.size()), ACL_REVISION));
    qv::appendInheritedEntries(acl, source, sidFor('A').sid);
    built.resize(bytesInUse(built));
    std::vector<BYTE> expected = makeAcl({{'A', true, FILE_ALL_ACCESS, kInherited}});
    reinterpret_cast<PACL>(built.data())->AclSize = static_cast<WORD>(built.size());
    EXPECT_EQ(built, expected);
}

TEST(BuildUsersAclWithoutList, NullDaclCountsAsEmpty)
{
    const qv::AclBuffer built = qv::buildUsersAcl(nullptr, sidFor('U').sid, 0x1F01FF, kInherit);
    const DWORD size = sizeof(ACL) + 8 + ::GetLengthSid(sidFor('U').sid);
    EXPECT_EQ(built, makeAcl({{'U', true, 0x1F01FF, kInherit}}, size));
}

// Object entries carry GUIDs before their SID: a Users object entry is found
// and dropped, the entry for Everyone after it kept.
TEST(BuildUsersAclWithoutList, ObjectEntriesForUsersAreDropped)
{
    std::vector<BYTE> old(256);
    PACL acl = reinterpret_cast<PACL>(old.data());
    ASSERT_TRUE(::InitializeAcl(acl, old.size(), ACL_REVISION_DS));
    // Laid out by hand: Wine lacks AddAccessAllowedObjectAce.
    const DWORD sidLength = ::GetLengthSid(sidFor('U').sid);
    std::vector<BYTE> object(sizeof(ACE_HEADER) + 2 * sizeof(DWORD) + sizeof(GUID) + sidLength);
    auto* header = reinterpret_cast<ACE_HEADER*>(object.data());
    header->AceType = ACCESS_ALLOWED_OBJECT_ACE_TYPE;
    header->AceSize = static_cast<WORD>(object.size());
    const DWORD mask = FILE_GENERIC_READ, flags = ACE_OBJECT_TYPE_PRESENT;
    const GUID type = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    std::memcpy(object.data() + 4, &mask, 4);
    std::memcpy(object.data() + 8, &flags, 4);
    std::memcpy(object.data() + 12, &type, sizeof type);
    std::memcpy(object.data() + 12 + sizeof type, sidFor('U').sid, sidLength);
    ASSERT_TRUE(::AddAce(acl, ACL_REVISION_DS, MAXDWORD, object.data(), object.size()));
    ASSERT_TRUE(::AddAccessAllowedAce(acl, ACL_REVISION_DS, FILE_GENERIC_READ, sidFor('E').sid));

    qv::AclBuffer built = qv::buildUsersAcl(acl, sidFor('U').sid, 0x1F01FF, kInherit);
    PACL result = reinterpret_cast<PACL>(built.data());
    ASSERT_EQ(result->AceCount, 2);
    void* ace = nullptr;
    ASSERT_TRUE(::GetAce(result, 0, &ace));
    EXPECT_EQ(static_cast<ACE_HEADER*>(ace)->AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_TRUE(::EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, sidFor('E').sid));
    ASSERT_TRUE(::GetAce(result, 1, &ace));
    EXPECT_TRUE(::EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, sidFor('U').sid));
    EXPECT_EQ(static_cast<ACCESS_ALLOWED_ACE*>(ace)->Mask, 0x1F01FFu);
}

TEST(KeptDaclControl, ProtectedAndAutoInheritedEachKept)
{
    const struct {
        SECURITY_DESCRIPTOR_CONTROL old;
        SECURITY_DESCRIPTOR_CONTROL kept;
    } cases[] = {
        {0, 0},
        {SE_DACL_PRESENT | SE_SELF_RELATIVE, 0},
        {SE_DACL_PROTECTED, SE_DACL_PROTECTED},
        {SE_DACL_AUTO_INHERITED, SE_DACL_AUTO_INHERITED | SE_DACL_AUTO_INHERIT_REQ},
        {SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED,
         SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED | SE_DACL_AUTO_INHERIT_REQ},
    };
    for (const auto& c : cases) EXPECT_EQ(qv::keptDaclControl(c.old), c.kept) << std::hex << c.old;
}

class GrantUsersAccess : public testing::Test {
protected:
    void SetUp() override
    {
        root_ = fs::temp_directory_path() / L"users-access-test";
        fs::remove_all(root_);
        fs::create_directories(root_ / L"Folder");
        std::ofstream(fs::path(root_ / L"File.dat").string()) << "data";
    }
    void TearDown() override { fs::remove_all(root_); }

    // The DACL as the system reads it back, with the descriptor's control.
    static std::vector<BYTE> readDescriptor(const fs::path& path)
    {
        DWORD needed = 0;
        ::GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
        std::vector<BYTE> descriptor(needed);
        EXPECT_TRUE(::GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(),
                                       needed, &needed));
        return descriptor;
    }
    static std::vector<ACCESS_ALLOWED_ACE*> usersEntries(std::vector<BYTE>& descriptor)
    {
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        EXPECT_TRUE(::GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted));
        std::vector<ACCESS_ALLOWED_ACE*> entries;
        for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
            void* ace = nullptr;
            ::GetAce(dacl, i, &ace);
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            if (::EqualSid(&allowed->SidStart, sidFor('U').sid)) entries.push_back(allowed);
        }
        return entries;
    }
    static SECURITY_DESCRIPTOR_CONTROL control(std::vector<BYTE>& descriptor)
    {
        SECURITY_DESCRIPTOR_CONTROL bits = 0;
        DWORD revision = 0;
        ::GetSecurityDescriptorControl(descriptor.data(), &bits, &revision);
        return bits;
    }

    fs::path root_;
};

TEST_F(GrantUsersAccess, FileAndFolderGetOneUsersEntry_ReadBackOnlyOffWine)
{
    EXPECT_TRUE(qv::grantUsersAccess((root_ / L"File.dat").native(), 0x13019F, 0, qv::GrantOn::File));
    EXPECT_TRUE(qv::grantUsersAccess((root_ / L"Folder").native(), 0x1F01FF, kInherit, qv::GrantOn::Folder));
    // Granting twice still leaves one entry.
    EXPECT_TRUE(qv::grantUsersAccess((root_ / L"Folder").native(), 0x1F01FF, kInherit, qv::GrantOn::Folder));
    if (qv::test::runningUnderWine())
        GTEST_SKIP() << "Wine accepts the new DACL but reads back a made-up one; the list "
                        "itself is checked on bytes above";

    std::vector<BYTE> file = readDescriptor(root_ / L"File.dat");
    auto entries = usersEntries(file);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(entries[0]->Mask, 0x13019Fu);

    std::vector<BYTE> folder = readDescriptor(root_ / L"Folder");
    entries = usersEntries(folder);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]->Mask, 0x1F01FFu);
    EXPECT_EQ(entries[0]->Header.AceFlags & kInherit, kInherit);
}

TEST_F(GrantUsersAccess, ProtectedFolderStaysProtected_ReadBackOnlyOffWine)
{
    const fs::path folder = root_ / L"Folder";
    std::vector<BYTE> acl = makeAcl({{'A', true, FILE_ALL_ACCESS, kInherit},
                                     {'U', false, FILE_WRITE_DATA, 0}});
    SECURITY_DESCRIPTOR descriptor{};
    ASSERT_TRUE(::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(::SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<PACL>(acl.data()),
                                            FALSE));
    ASSERT_TRUE(::SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED));
    ASSERT_TRUE(::SetFileSecurityW(folder.c_str(), DACL_SECURITY_INFORMATION, &descriptor));

    EXPECT_TRUE(qv::grantUsersAccess(folder.native(), 0x1F01FF, kInherit, qv::GrantOn::Folder));
    if (qv::test::runningUnderWine())
        GTEST_SKIP() << "Wine drops the protected flag and the entries it was given";

    std::vector<BYTE> after = readDescriptor(folder);
    EXPECT_TRUE(control(after) & SE_DACL_PROTECTED);
    auto entries = usersEntries(after);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
}

TEST_F(GrantUsersAccess, MissingPathThrowsTheWin32Error)
{
    try {
        qv::grantUsersAccess((root_ / L"Missing.dat").native(), 0x13019F, 0, qv::GrantOn::File);
        FAIL() << "no exception";
    } catch (const qv::HResultError& e) {
        EXPECT_EQ(e.code(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    }
}

// A data file a user took over (made themselves its owner, denied the
// administrators) is taken back and granted as usual, so that it cannot
// block every later update. Wine neither enforces a file's DACL nor keeps
// it: here the take-back runs its calls on a plain file and the bytes are
// read back only on Windows, after the user's denial was really set up.
TEST_F(GrantUsersAccess, AFileTakenOverIsTakenBackAndGranted_ReadBackOnlyOffWine)
{
    const fs::path file = root_ / L"File.dat";
    if (!qv::test::runningUnderWine()) {
        std::vector<BYTE> deny = makeAcl({{'A', false, FILE_ALL_ACCESS, 0}});
        SECURITY_DESCRIPTOR descriptor{};
        ASSERT_TRUE(::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
        ASSERT_TRUE(::SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<PACL>(deny.data()), FALSE));
        ASSERT_TRUE(::SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED));
        ASSERT_TRUE(::SetFileSecurityW(file.c_str(), DACL_SECURITY_INFORMATION, &descriptor));
    }
    EXPECT_TRUE(qv::grantUsersAccessReclaiming(file.native(), 0x13019F, 0));
    EXPECT_TRUE(qv::reclaimForAdministrators(file.native(), 0x13019F, 0));
    if (qv::test::runningUnderWine())
        GTEST_SKIP() << "Wine enforces no file DACL and reads back a made-up one";

    DWORD needed = 0;
    ::GetFileSecurityW(file.c_str(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<BYTE> after(needed);
    ASSERT_TRUE(::GetFileSecurityW(file.c_str(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                   after.data(), needed, &needed));
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    ASSERT_TRUE(::GetSecurityDescriptorOwner(after.data(), &owner, &defaulted));
    EXPECT_TRUE(::IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
    EXPECT_FALSE(control(after) & SE_DACL_PROTECTED) << "inherits from its folder again";
    auto entries = usersEntries(after);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]->Mask, 0x13019Fu);
}

// Records every call that would make the system carry a DACL into what lies
// below a folder, and every DACL written on a folder.
struct PropagationWatch {
    PropagationWatch()
    {
        calls = 0;
        real = qv::advapi::SetKernelObjectSecurity.find();
        qv::advapi::SetSecurityInfo.replaceForTesting(&countSetSecurityInfo);
        qv::advapi::SetKernelObjectSecurity.replaceForTesting(&refuseOnFolders);
    }
    ~PropagationWatch()
    {
        qv::advapi::SetSecurityInfo.replaceForTesting(nullptr);
        qv::advapi::SetKernelObjectSecurity.replaceForTesting(nullptr);
    }
    static DWORD WINAPI countSetSecurityInfo(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL)
    {
        ++calls;
        return ERROR_SUCCESS;
    }
    static BOOL WINAPI refuseOnFolders(HANDLE object, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor)
    {
        BY_HANDLE_FILE_INFORMATION info{};
        if (::GetFileInformationByHandle(object, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++calls;
        return real(object, what, descriptor);
    }
    static inline int calls = 0;
    static inline decltype(&::SetKernelObjectSecurity) real = nullptr;
};

// A folder where a data file was (swapped in by a user) gets neither the
// grant nor the take-back, nor is anything written through it. Under Wine
// this proves the refusal and that no call is made that could propagate;
// that Windows would have propagated through SetSecurityInfo is its own
// documented behaviour.
TEST_F(GrantUsersAccess, AFolderInTheDataFilesPlaceIsRefusedByEveryGrantPath)
{
    const fs::path folder = root_ / L"Folder";
    PropagationWatch watch;
    auto refusedAsFolder = [](auto&& grant) {
        try {
            grant();
        } catch (const qv::HResultError& e) {
            return e.code() == HRESULT_FROM_WIN32(ERROR_DIRECTORY);
        }
        return false;
    };
    EXPECT_TRUE(refusedAsFolder([&] { qv::grantUsersAccess(folder.native(), 0x13019F, 0, qv::GrantOn::File); }));
    EXPECT_TRUE(refusedAsFolder([&] { qv::grantUsersAccessReclaiming(folder.native(), 0x13019F, 0); }));
    EXPECT_TRUE(refusedAsFolder([&] { qv::reclaimForAdministrators(folder.native(), 0x13019F, 0); }));
    // And a file where a shared folder is to be granted.
    EXPECT_TRUE(refusedAsFolder(
        [&] { qv::grantUsersAccess((root_ / L"File.dat").native(), 0x1F01FF, kInherit, qv::GrantOn::Folder); }));
    EXPECT_EQ(PropagationWatch::calls, 0);
    // The take-back of a file writes through SetKernelObjectSecurity only.
    EXPECT_TRUE(qv::reclaimForAdministrators((root_ / L"File.dat").native(), 0x13019F, 0));
    EXPECT_EQ(PropagationWatch::calls, 0);
}

}  // namespace
