// The Users group's grants inside the install sequence: the shared data
// folders (full control, inherited by what they hold) and the data files
// (read, write and delete), written, kept or left from the earlier
// installation.
//
// Wine accepts a new DACL but reads back one of its own making, without the
// Users entry. So the test takes the DACL the installer hands the system,
// through the security layer's binding of SetKernelObjectSecurity (which
// still passes it on; the grant writes through a handle checked for links,
// whose path the system reports): under Wine that is what it proves. On
// Windows it also reads every granted DACL back.

#include "SequenceScenario.h"

#include "support/MachineSnapshot.h"
#include "support/TestFiles.h"
#include "sys/Advapi.h"
#include "sys/PathGuard.h"

#include <gmock/gmock.h>

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

namespace qv::test {
namespace {

using ::testing::ElementsAreArray;
using ::testing::UnorderedElementsAreArray;

// One Users entry of a DACL: path, entry type, mask, entry flags.
using UsersEntry = std::tuple<std::wstring, int, DWORD, int>;

constexpr DWORD FolderAccess = 0x1F01FF;  // FILE_ALL_ACCESS
constexpr int FolderFlags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
constexpr DWORD DataFileAccess = 0x13019F;  // FILE_GENERIC_READ, FILE_GENERIC_WRITE, DELETE

PSID usersSid()
{
    static PSID sid = [] {
        PSID made = nullptr;
        ::ConvertStringSidToSidW(L"S-1-5-32-545", &made);
        return made;
    }();
    return sid;
}

std::vector<UsersEntry> usersEntriesOf(const std::wstring& path, PSECURITY_DESCRIPTOR descriptor)
{
    std::vector<UsersEntry> entries;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl) return entries;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace)) continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if (::EqualSid(&allowed->SidStart, usersSid()))
            entries.emplace_back(path, allowed->Header.AceType, allowed->Mask, allowed->Header.AceFlags);
    }
    return entries;
}

// The DACLs handed to the system since the last take().
class HandedDacls {
public:
    HandedDacls()
    {
        real_ = advapi::SetKernelObjectSecurity.find();
        advapi::SetKernelObjectSecurity.replaceForTesting(&recordAndPass);
    }
    ~HandedDacls() { advapi::SetKernelObjectSecurity.replaceForTesting(nullptr); }
    HandedDacls(const HandedDacls&) = delete;
    HandedDacls& operator=(const HandedDacls&) = delete;

    std::vector<UsersEntry> take() { return std::exchange(handed_, {}); }

private:
    static BOOL WINAPI recordAndPass(HANDLE object, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor)
    {
        if (what & DACL_SECURITY_INFORMATION) {
            const std::vector<UsersEntry> entries = usersEntriesOf(finalPathOf(object), descriptor);
            handed_.insert(handed_.end(), entries.begin(), entries.end());
        }
        return real_(object, what, descriptor);
    }

    static inline decltype(&::SetKernelObjectSecurity) real_ = nullptr;
    static inline std::vector<UsersEntry> handed_;
};

// The Users entries of each path's DACL as the system reads it back.
std::vector<UsersEntry> readBack(const std::vector<UsersEntry>& granted)
{
    std::vector<UsersEntry> entries;
    for (const UsersEntry& grant : granted) {
        const std::wstring& path = std::get<0>(grant);
        DWORD needed = 0;
        ::GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
        std::vector<BYTE> descriptor(needed);
        if (needed && ::GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed)) {
            const std::vector<UsersEntry> found = usersEntriesOf(path, descriptor.data());
            entries.insert(entries.end(), found.begin(), found.end());
        }
    }
    return entries;
}

class UsersGrants : public SequenceScenario {
protected:
    void expectOnTheMachine(const std::vector<UsersEntry>& expected)
    {
        if (runningUnderWine()) return;  // Wine reads back a DACL of its own making
        EXPECT_THAT(readBack(expected), UnorderedElementsAreArray(expected));
    }
    UsersEntry folderGrant(const std::wstring& path) const
    {
        return {path, ACCESS_ALLOWED_ACE_TYPE, FolderAccess, FolderFlags};
    }
    UsersEntry dataFileGrant(const std::wstring& path) const
    {
        return {path, ACCESS_ALLOWED_ACE_TYPE, DataFileAccess, 0};
    }
};

// A first installation, with the per-user word list already there (kept)
// and the shared one new (written): one Users entry on the shared one, and
// one on each shared folder as its first file is written. The per-user word
// list in the installing account's profile gets none: it keeps what it
// inherits there, or every user of the machine could read and change it.
TEST_F(UsersGrants, FirstInstallationGrantsSharedFoldersAndDataFiles)
{
    std::filesystem::create_directories(userData);
    writeFileBytes(targetOf(5), "the user's own words");
    const std::string personalSecurity = stateOf(targetOf(5)).security;
    HandedDacls handed;
    auto app = startApp();
    ASSERT_TRUE(install(*app, payload));
    // As the system reads it back (under Wine, where it keeps what it was
    // given in the file's extended attributes, too).
    EXPECT_EQ(stateOf(targetOf(5)).security, personalSecurity);

    const std::vector<UsersEntry> expected = {
        dataFileGrant(targetOf(4)),
        folderGrant(std::filesystem::path(commonData).parent_path().wstring()),
        folderGrant(commonData),
        folderGrant(samples),
    };
    EXPECT_THAT(handed.take(), UnorderedElementsAreArray(expected));
    expectOnTheMachine(expected);
}

// A reinstallation leaves the data files of the earlier installation as the
// user has them and renews the shared one's grant (the per-user one's
// security is left as it is); the samples' folder, written again, is opened
// again.
TEST_F(UsersGrants, ReinstallationRenewsTheGrantsOfTheEarlierDataFiles)
{
    {
        auto first = startApp();
        ASSERT_TRUE(install(*first, payload));
    }
    writeFileBytes(targetOf(4), "words the user added to");
    auto app = startApp();
    ASSERT_EQ(app->installState, InstallState::SameVersion);
    display = RecordingDisplay{};
    HandedDacls handed;
    ASSERT_TRUE(install(*app, payload));

    const std::vector<std::wstring> lines = display.lines();
    for (std::size_t data : {4u, 5u})
        EXPECT_EQ(std::count(lines.begin(), lines.end(), copiedLine(targetOf(data))), 0) << data;
    EXPECT_EQ(readFileBytes(targetOf(4)), "words the user added to");
    const std::vector<UsersEntry> expected = {
        dataFileGrant(targetOf(4)),
        folderGrant(samples),
    };
    EXPECT_THAT(handed.take(), UnorderedElementsAreArray(expected));
    expectOnTheMachine(expected);
}

}  // namespace
}  // namespace qv::test
