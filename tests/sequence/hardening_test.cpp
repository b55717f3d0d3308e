// The install sequence against a machine a standard user prepared first:
// links planted where the installation writes, grants, backs up and rolls
// back, a tampered uninstall log, a shared temporary folder full of taken
// names, a program path the command line could be cut at. Each scenario runs
// the real sequence as the administrator's run would, in a fresh prefix of
// its own (tests/sequence.cmake), and asserts that nothing outside the
// installation changed: a snapshot diff with content hashes and the
// security as the system reads it back (under Wine: made up from the Unix
// mode bits, so it shows changes of those).
//
// Links are planted with ln -s on the Linux side (support/UnixSide.h) and
// stand for junctions: Wine reports a link to a folder as
// FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT and follows it
// on every open. Under Wine these scenarios prove the checks by path
// attributes and by the final path of each handle; the check of a handle's
// own reparse attribute is the same code path on Windows.

#include "engine/InstallRun.h"
#include "SequenceFixture.h"
#include "support/MachineSnapshot.h"
#include "support/RunLogLines.h"
#include "support/TestFiles.h"
#include "support/UnixSide.h"
#include "sys/Advapi.h"
#include "sys/LogFile.h"
#include "sys/PathGuard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <algorithm>
#include <set>

namespace qv {
namespace {

using test::MachineSnapshot;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

const std::wstring victim = L"C:\\Victim";  // what an attacker would aim the installation at

std::wstring utf16Text(const std::wstring& path)
{
    const std::string bytes = test::readFileBytes(path);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

void appendUtf16Lines(const std::wstring& path, const std::vector<std::wstring>& lines)
{
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::wstring text = utf16Text(path);
    for (const std::wstring& line : lines) text += line + L"\r\n";
    test::writeFileBytes(path, std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
}

std::uint64_t fileIndex(const std::wstring& path)
{
    UniqueFile file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !::GetFileInformationByHandle(file.get(), &info)) return 0;
    return (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// The folder's entries as the Linux side lists them: Wine lists no link
// that leads nowhere.
std::vector<std::string> unixListing(const std::wstring& folder)
{
    const std::wstring listing = L"C:\\qv-listing.txt";
    test::runUnixCommandAndWait("ls -A '" + test::unixPathOf(folder) + "' | sort > '" + test::unixPathOf(listing) +
                                "'");
    const std::string text = test::readFileBytes(listing);
    ::DeleteFileW(listing.c_str());
    std::vector<std::string> names;
    for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) names.push_back(text.substr(start, end - start));
    }
    return names;
}

std::set<std::wstring> namesIn(const std::wstring& folder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    UniqueFindFile find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (find) do names.insert(found.cFileName); while (::FindNextFileW(find.get(), &found));
    return names;
}

class Hardening : public Sequence {
protected:
    void SetUp() override
    {
        Sequence::SetUp();
        test::makeFolders(victim + L"\\Quorvex");
        test::writeFileBytes(victim + L"\\precious.dll", "not the installation's");
    }

    // The whole machine as the installation can touch it, and the victim.
    static MachineSnapshot snapshot() { return MachineSnapshot::take({victim}); }

    // Runs the installation with a run log, and returns its lines.
    std::vector<std::wstring> installLogged(InstallSession& app, bool& installed)
    {
        const std::wstring logPath = L"C:\\hardening run.log";
        DWORD error = 0;
        app.runLog = LogFile::openNamed(logPath, error);
        EXPECT_TRUE(app.runLog) << error;
        const std::string packed = test::bzip2(test::rawArchive(payload));
        installed = runInstallation(app, display, target,
                                    [packed] { return std::make_unique<std::istringstream>(packed); });
        app.runLog.reset();
        return test::runLogLines(logPath);
    }

    // The run failed where it met the link, with the code a failed grant
    // has, and the line of the file it was about to write says so.
    void expectRefusedAt(const std::wstring& file)
    {
        const std::vector<std::wstring> lines = display.lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), copyingFileText(file) + L"Failed");
        EXPECT_EQ(display.status, L"Installation failed (Error Code 7).");
    }
};

TEST_F(Hardening, LinkAtTheSharedDataFolder)
{
    // All users may create folders in the all-users application data: the
    // maker's folder is taken first, as a junction to elsewhere.
    ASSERT_TRUE(test::plantLink(shellFolder(CSIDL_COMMON_APPDATA) + L"\\Orvane Systems", victim));
    auto app = startApp();
    const MachineSnapshot before = snapshot();
    EXPECT_FALSE(install(*app, payload));

    expectRefusedAt(commonData + L"\\Words_en.qwl");
    // Nothing written or granted through the link, and the files written
    // before it are gone again.
    EXPECT_THAT(diff(before, snapshot()), IsEmpty());
    EXPECT_THAT(namesIn(victim + L"\\Quorvex"), ElementsAreArray({L".", L".."}));
    EXPECT_TRUE(app->uninstallLog.newEntries().empty());
}

TEST_F(Hardening, LinkAtTheSampleFolder)
{
    // The sample folder is opened to Users: whoever planted a junction in
    // its place on the desktop would get the samples and the grant there.
    ASSERT_TRUE(test::plantLink(samples, victim));
    auto app = startApp();
    const MachineSnapshot before = snapshot();
    EXPECT_FALSE(install(*app, payload));

    expectRefusedAt(samples + L"\\Welcome.qvn");
    EXPECT_THAT(diff(before, snapshot()), IsEmpty());
}

TEST_F(Hardening, TamperedLogLinesAreKeptAsTheyAreAndNeverActedOn)
{
    // The earlier installation's folder is one users can write: its log
    // gains a system file, a file and a folder of nobody's installation, and
    // a shortcut line naming the user's document.
    setUpEarlierInstallation(programBytes, L"Trimora 6.04");
    const std::wstring systemFile = shellFolder(CSIDL_WINDOWS) + L"\\win.ini";
    const std::wstring document = shellFolder(CSIDL_PERSONAL) + L"\\letter.txt";
    const std::wstring folder = victim + L"\\Empty";
    test::writeFileBytes(document, "the user's own letter");
    test::makeFolders(folder);
    const std::vector<Logged> planted = {
        Logged{InstalledFile, 0, true, systemFile},
        Logged{InstalledFile, 4, true, document},
        Logged{CreatedFolder, -1, true, folder},
        Logged{ProgramShortcut, -1, true, document},
        Logged{InstalledFile, 1, true, L"\\\\server\\share\\Trimora.exe"},
    };
    appendUtf16Lines(installPath + L"\\Uninstall.ulog",
                     {L"0010:0100:1 -- " + systemFile, L"0011:0104:1 -- " + document, L"0012:00ff:1 -- " + folder,
                      L"0013:02ff:1 -- " + document, L"0014:0101:1 -- \\\\server\\share\\Trimora.exe"});
    const test::FileState systemBefore = test::stateOf(systemFile);
    const test::FileState documentBefore = test::stateOf(document);
    const test::FileState folderBefore = test::stateOf(folder);
    auto app = startApp();
    ASSERT_EQ(app->installState, InstallState::SameVersion);
    const MachineSnapshot before = snapshot();
    ASSERT_TRUE(install(*app, payload));

    // The shortcut step did not move the document away as the earlier
    // shortcut, and nothing else touched what the lines name.
    EXPECT_EQ(test::stateOf(systemFile), systemBefore);
    EXPECT_EQ(test::stateOf(document), documentBefore);
    EXPECT_EQ(test::stateOf(folder), folderBefore);
    std::vector<std::wstring> outside;
    for (const std::wstring& line : diff(before, snapshot()))
        if (line.find(victim) != std::wstring::npos) outside.push_back(line);
    EXPECT_THAT(outside, IsEmpty());
    // The new log carries the lines over unchanged, ahead of this run's.
    const std::vector<Logged> logged = readLog(installPath + L"\\Uninstall.ulog");
    for (const Logged& line : planted) EXPECT_EQ(std::count(logged.begin(), logged.end(), line), 1);
    EXPECT_EQ(std::count(logged.begin(), logged.end(),
                         Logged{ProgramShortcut, -1, true, startMenuFolder + L"\\Trimora 6.04.lnk"}),
              1);
    EXPECT_THAT(backupsLeft(), IsEmpty());
}

TEST_F(Hardening, SharedTemporaryFolderWithEveryBackupNameTakenFirst)
{
    // TEMP points at a folder every user can write, and every name the
    // system's temporary-file function could give a backup there ("ov" and
    // up to four hex digits: Wine's spelling) is taken by a link to
    // nowhere in the victim's folder.
    const std::wstring shared = L"C:\\SharedTemp";
    test::makeFolders(shared);
    const std::string unixShared = test::unixPathOf(shared), unixVictim = test::unixPathOf(victim);
    ASSERT_TRUE(test::runUnixCommandAndWait("seq 0 65535 | awk -v v='" + unixVictim +
                                            "' '{ printf \"%s/ov%x.tmp\\n\", v, $1 }' | xargs ln -s -t '" +
                                            unixShared + "'"));
    const std::vector<std::string> taken = unixListing(shared);
    ASSERT_EQ(taken.size(), 65536u);

    setUpEarlierInstallation(programBytes, L"Trimora 6.04");
    auto app = startApp();
    payload[4].crc = 0x12345678;  // the run fails after replacing four files: they must come back
    const MachineSnapshot before = snapshot();
    wchar_t tmp[MAX_PATH] = {}, temp[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"TMP", tmp, MAX_PATH);
    ::GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH);
    ::SetEnvironmentVariableW(L"TMP", shared.c_str());
    ::SetEnvironmentVariableW(L"TEMP", shared.c_str());
    const bool installed = install(*app, payload);
    ::SetEnvironmentVariableW(L"TMP", tmp[0] ? tmp : nullptr);
    ::SetEnvironmentVariableW(L"TEMP", temp[0] ? temp : nullptr);
    EXPECT_FALSE(installed);

    // The backups were made in the run's own folder below the shared one,
    // and put back: the earlier installation is as it was, nothing went to
    // where the taken names lead, and the shared folder holds what it held.
    EXPECT_EQ(app->tempFolder.rfind(shared + L"\\orvane_{", 0), 0u) << app->tempFolder;
    EXPECT_THAT(diff(before, snapshot()), IsEmpty());
    EXPECT_EQ(test::readFileBytes(installPath + L"\\Lang\\Trimora_en.dll"), "english old");
    EXPECT_TRUE(unixListing(shared) == taken);
}

TEST_F(Hardening, ProgramPathOf259CharactersWithBlanks)
{
    // Unquoted, the registration run's command line would start C:\Qv.exe,
    // which a user could have put in place of the first word.
    std::wstring folder = L"C:\\Qv Apps\\";
    const std::wstring words = L"Trimora Orvane Systems Quorvex Notebook Editor ";
    while (folder.size() < 247) folder += words[folder.size() % words.size()];
    if (folder.back() == L' ') folder.back() = L'x';
    installPath = folder;
    const std::wstring program = installPath + L"\\Trimora.exe";
    ASSERT_EQ(program.size(), 259u);
    ASSERT_TRUE(::CopyFileW(windowsPath(QV_REGISTRAR_EXE).c_str(), L"C:\\Qv.exe", FALSE));

    auto app = startApp();
    app->createStartMenuShortcut = app->createDesktopShortcut = false;
    // Uninstall.ulog, three characters longer than the program's name, has
    // no room in that folder: the run is rolled back after its registration
    // run (an installation nothing could remove is no installation).
    EXPECT_FALSE(install(*app, {payload[0]}));

    EXPECT_EQ(recorded(L"Program"), program) << "the installed program ran, not C:\\Qv.exe";
    EXPECT_EQ(recorded(L"CommandLine"), L"\"" + program + L"\" /Register /Background");
    EXPECT_EQ(recordedNumber(L"Runs"), 1u);
    const std::vector<std::wstring> lines = display.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), L"Registry Data Writing...OK"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), L"Installation Data Writing...Failed"), lines.end());
    EXPECT_EQ(recorded(L"Unregistered"), program) << "the rollback undid the program's registrations with it";
}

TEST_F(Hardening, KeptDataFileStaysInPlaceOnRollback)
{
    // A data file that was there before the first installation is kept and
    // journalled; a later file fails. The user's file is neither deleted
    // and put back nor left with the Users grant: it never moved.
    test::makeFolders(commonData);
    test::writeFileBytes(commonData + L"\\Words_en.qwl", "the user's words");
    const std::uint64_t identity = fileIndex(commonData + L"\\Words_en.qwl");
    auto app = startApp();
    payload[7].crc = 0x12345678;
    const MachineSnapshot before = snapshot();
    EXPECT_FALSE(install(*app, payload));

    EXPECT_EQ(display.status, L"Installation failed (Error Code 3).");
    EXPECT_THAT(diff(before, snapshot()), IsEmpty());
    EXPECT_EQ(fileIndex(commonData + L"\\Words_en.qwl"), identity);
    EXPECT_THAT(backupsLeft(), IsEmpty());
}

TEST_F(Hardening, InstallationFolderOutsideProgramFiles)
{
    // C:\ lets authenticated users create and change below it: a folder the
    // installation makes there gets what program files give instead; a
    // folder that was there keeps what it had.
    const std::wstring existing = L"C:\\Tools";
    test::makeFolders(existing);
    installPath = existing + L"\\Trimora\\Current";
    const test::FileState existingBefore = test::stateOf(existing);
    auto app = startApp();
    ASSERT_TRUE(install(*app, payload));
    EXPECT_EQ(test::stateOf(existing).security, existingBefore.security);

    const std::vector<Logged> logged = readLog(installPath + L"\\Uninstall.ulog");
    EXPECT_EQ(std::count(logged.begin(), logged.end(), Logged{CreatedFolder, -1, true, existing + L"\\Trimora"}), 1);
    if (test::runningUnderWine())
        GTEST_SKIP() << "Wine reads back a DACL made up from the Unix mode bits; the list handed to "
                        "CreateDirectoryW is checked on its bytes in run_folder_test";
    for (const std::wstring& created : {existing + L"\\Trimora", installPath}) {
        DWORD needed = 0;
        ::GetFileSecurityW(created.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
        std::vector<BYTE> descriptor(needed);
        ASSERT_TRUE(::GetFileSecurityW(created.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed));
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ::GetSecurityDescriptorControl(descriptor.data(), &control, &revision);
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        ::GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted);
        ASSERT_NE(dacl, nullptr);
        // Every folder made on the way: nothing of C:\'s entries flows in.
        EXPECT_TRUE(control & SE_DACL_PROTECTED) << std::string(created.begin(), created.end());
        EXPECT_EQ(dacl->AceCount, 3u);
        // Users may read and run, never write.
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            void* raw = nullptr;
            ::GetAce(dacl, i, &raw);
            auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
            if (::IsWellKnownSid(&ace->SidStart, WinBuiltinUsersSid) ||
                ::IsWellKnownSid(&ace->SidStart, WinAuthenticatedUserSid))
                EXPECT_EQ(ace->Mask & (FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC), 0u);
        }
    }
}


// Stands for a user who swaps a data file for a folder of hard links to
// files they cannot change, at the moment the file's Users grant is refused
// (on Windows an opportunistic lock broken by the backup's read makes that
// moment exact; here the refusal itself is made up, as Wine enforces no
// DACL). Also counts the calls that would carry a DACL into a folder's
// contents and every DACL written on the planted folder or below it.
class FolderSwappedInAtTheGrant {
public:
    FolderSwappedInAtTheGrant(std::wstring dataFile, std::wstring linkedFile)
    {
        dataFile_ = std::move(dataFile);
        linkedFile_ = std::move(linkedFile);
        swapped_ = false;
        propagating_ = writtenOnTheFolder_ = 0;
        real_ = advapi::SetKernelObjectSecurity.find();
        advapi::SetKernelObjectSecurity.replaceForTesting(&refuseOnceThenSwap);
        advapi::SetSecurityInfo.replaceForTesting(&countPropagating);
    }
    ~FolderSwappedInAtTheGrant()
    {
        advapi::SetKernelObjectSecurity.replaceForTesting(nullptr);
        advapi::SetSecurityInfo.replaceForTesting(nullptr);
    }
    FolderSwappedInAtTheGrant(const FolderSwappedInAtTheGrant&) = delete;
    FolderSwappedInAtTheGrant& operator=(const FolderSwappedInAtTheGrant&) = delete;

    static bool swapped() { return swapped_; }
    static int propagating() { return propagating_; }
    static int writtenOnTheFolder() { return writtenOnTheFolder_; }

private:
    static BOOL WINAPI refuseOnceThenSwap(HANDLE object, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor)
    {
        const std::wstring at = finalPathOf(object);
        if (swapped_ && (sameFileName(at, dataFile_) || sameFileName(parentOf(at), dataFile_))) ++writtenOnTheFolder_;
        if (!swapped_ && sameFileName(at, dataFile_)) {
            swapped_ = true;
            ::MoveFileW(dataFile_.c_str(), (dataFile_ + L".moved").c_str());
            ::CreateDirectoryW(dataFile_.c_str(), nullptr);
            ::CreateHardLinkW((dataFile_ + L"\\" + nameOf(linkedFile_)).c_str(), linkedFile_.c_str(), nullptr);
            ::SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        return real_(object, what, descriptor);
    }
    static DWORD WINAPI countPropagating(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL)
    {
        ++propagating_;
        return ERROR_ACCESS_DENIED;
    }

    static inline std::wstring dataFile_, linkedFile_;
    static inline bool swapped_ = false;
    static inline int propagating_ = 0, writtenOnTheFolder_ = 0;
    static inline decltype(&::SetKernelObjectSecurity) real_ = nullptr;
};

TEST_F(Hardening, FolderSwappedInForADataFileAtItsTakeBack)
{
    // A reinstallation renews the Users grant of the earlier data file; the
    // user has shut the administrators out of it (the grant is refused) and
    // puts a folder in its place, holding a hard link to a file of the
    // victim's. Under Wine this proves that the take-back refuses the
    // folder, that no call is made that would carry a DACL into it (Windows
    // propagates through SetSecurityInfo), and that no DACL is written on
    // the folder or what it holds. That Windows itself would have refused
    // the grant needs Windows.
    setUpEarlierInstallation(programBytes, L"Trimora 6.04");
    const std::wstring dataFile = commonData + L"\\Words_en.qwl";
    const std::wstring linked = victim + L"\\precious.dll";
    auto app = startApp();
    ASSERT_EQ(app->installState, InstallState::SameVersion);
    const MachineSnapshot before = snapshot();
    const test::FileState linkedBefore = test::stateOf(linked);
    bool installed = true;
    {
        FolderSwappedInAtTheGrant user(dataFile, linked);
        installed = install(*app, payload);
        ASSERT_TRUE(FolderSwappedInAtTheGrant::swapped());
        EXPECT_EQ(FolderSwappedInAtTheGrant::propagating(), 0);
        EXPECT_EQ(FolderSwappedInAtTheGrant::writtenOnTheFolder(), 0);
    }
    EXPECT_FALSE(installed);
    EXPECT_EQ(display.status, L"Installation failed (Error Code 7).");
    // The file behind the hard link is as it was, security included, and
    // nothing of the victim's changed; the earlier installation is back.
    EXPECT_EQ(test::stateOf(linked), linkedBefore);
    std::vector<std::wstring> outside;
    for (const std::wstring& line : diff(before, snapshot()))
        if (line.find(victim) != std::wstring::npos) outside.push_back(line);
    EXPECT_THAT(outside, IsEmpty());
    EXPECT_EQ(test::readFileBytes(installPath + L"\\Lang\\Trimora_en.dll"), "english old");
}


// Owner and DACL of a file or folder as the system reads them back.
std::string ownerAndDacl(const std::wstring& path)
{
    constexpr SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    ::GetFileSecurityW(path.c_str(), what, nullptr, 0, &needed);
    std::string descriptor(needed, '\0');
    if (!needed || !::GetFileSecurityW(path.c_str(), what, descriptor.data(), needed, &needed)) return {};
    return descriptor;
}

std::wstring asText(const std::string& descriptor)
{
    LPWSTR text = nullptr;
    if (descriptor.empty() ||
        !::ConvertSecurityDescriptorToStringSecurityDescriptorW(const_cast<char*>(descriptor.data()), SDDL_REVISION_1,
                                                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                                &text, nullptr))
        return {};
    std::wstring result(text);
    ::LocalFree(text);
    return result;
}

// A folder a user made in advance at the installation's path, owned by
// another account, with an inheritable full-control entry for everyone.
const wchar_t planted[] = L"O:S-1-5-21-1004336348-1177238915-682003330-1001D:(A;OICI;FA;;;WD)";

class ExistingInstallationFolder : public Hardening {
protected:
    void SetUp() override
    {
        Hardening::SetUp();
        installPath = L"C:\\Trimora";
        test::makeFolders(installPath);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(planted, SDDL_REVISION_1, &descriptor,
                                                                           nullptr));
        const BOOL set = ::SetFileSecurityW(installPath.c_str(), OWNER_SECURITY_INFORMATION |
                                            DACL_SECURITY_INFORMATION, descriptor);
        ::LocalFree(descriptor);
        ASSERT_TRUE(set);
        before = ownerAndDacl(installPath);
        keptByTheSystem = asText(before) == planted;
    }

    std::string before;
    bool keptByTheSystem = false;  // Wine 8 keeps what it is given in an extended attribute
};

TEST_F(ExistingInstallationFolder, IsTakenOverBeforeAnythingIsWrittenIntoIt)
{
    // Under Wine this proves that the folder is judged, taken over and
    // logged before the first file, with the owner and the protected DACL of
    // a created folder as the system keeps them; that the user could no
    // longer plant a program or a library there needs Windows, which
    // enforces the DACL.
    auto app = startApp();
    bool installed = false;
    const std::vector<std::wstring> lines = installLogged(*app, installed);
    EXPECT_TRUE(installed);
    EXPECT_TRUE(test::containsInOrder(
        lines, {L"Journal: the existing folder " + installPath +
                    L" is taken over for the administrators (owner Administrators, the protection of a created "
                    L"folder): it was " + asText(before),
                L"Journal: recorded file " + installPath + L"\\Trimora.exe*"}));
    // The folder the run made below it is the run's own, not taken over.
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::wstring& line) { return line.rfind(L"Journal: the existing folder", 0) == 0; }),
              1);
    // Everyone's entry is gone: under Wine, which makes the DACL it reads
    // back up from the Unix mode bits, as the bits the take-over set.
    const std::wstring after = asText(ownerAndDacl(installPath));
    EXPECT_EQ(after.find(L";;;WD)"), std::wstring::npos) << after;
    if (!keptByTheSystem) GTEST_SKIP() << "the system does not keep a folder's security as it was given";
    EXPECT_EQ(after, L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)");
}

TEST_F(ExistingInstallationFolder, RollbackGivesItsOwnerAndDaclBack)
{
    // A run that fails after its first files puts the folder's owner and
    // DACL back as the user had them, and leaves nothing else changed.
    // Under Wine the read-back holds where Wine keeps what it was given.
    payload[4].crc = 0x12345678;
    auto app = startApp();
    const MachineSnapshot snapshotBefore = snapshot();
    bool installed = true;
    const std::vector<std::wstring> lines = installLogged(*app, installed);
    EXPECT_FALSE(installed);
    EXPECT_TRUE(test::containsInOrder(
        lines, {L"Journal: the existing folder " + installPath + L"*", L"Rollback: *",
                L"Rollback: file " + installPath + L": folder given back its earlier owner and DACL"}));
    EXPECT_EQ(ownerAndDacl(installPath), before);
    std::vector<std::wstring> changed;
    for (const std::wstring& line : diff(snapshotBefore, snapshot()))
        if (line.find(L"hardening run.log") == std::wstring::npos) changed.push_back(line);
    EXPECT_THAT(changed, IsEmpty());
    if (!keptByTheSystem) GTEST_SKIP() << "the system does not keep a folder's security as it was given";
    EXPECT_EQ(asText(ownerAndDacl(installPath)), planted);
}


TEST_F(Hardening, UnquotedUninstallStringBesideAFolderUsersMayWriteIsWarnedOf)
{
    // C:\Tools lets authenticated users create files (as a folder made
    // below C:\ inherits): the list of installed programs would start a
    // C:\Tools\Orvane.exe planted there for the unquoted uninstall command
    // line. The value stays as it is; the run's log says so. Under Wine and
    // Windows alike this proves the line for a folder whose DACL the system
    // keeps; that the list of installed programs would start the planted
    // program is Windows's own documented parsing.
    const std::wstring tools = L"C:\\Tools";
    test::makeFolders(tools);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;AU)",
                                                                       SDDL_REVISION_1, &descriptor, nullptr));
    ASSERT_TRUE(::SetFileSecurityW(tools.c_str(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor));
    ::LocalFree(descriptor);
    installPath = tools + L"\\Orvane Systems\\Trimora 6";
    auto app = startApp();
    bool installed = false;
    const std::vector<std::wstring> lines = installLogged(*app, installed);
    EXPECT_TRUE(installed);
    const std::wstring uninstaller = installPath + L"\\Uninstall.exe";
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, std::wstring(UninstallKeyPath) + L"Quorvex 6", L"UninstallString").text(),
              uninstaller);
    EXPECT_TRUE(test::containsInOrder(
        lines, {L"Warning: the uninstall entry's command line " + uninstaller +
                L" is unquoted, as earlier installers read it, and users other than the administrators may create "
                L"files in C:\\Tools: a program planted as C:\\Tools\\Orvane.exe would be started in the "
                L"uninstaller's place from the list of installed programs. A folder below the program-files folder "
                L"has no such risk."}));
}


TEST_F(Hardening, HardLinkAtAShortcutsNameLosesOnlyItsName)
{
    // A user who may write in the Start-menu folder plants a hard link to
    // the victim's file under the shortcut's name. The shortcut is made in
    // memory, written to a file created new under a temporary name and
    // moved into place by its handle: the link's name is replaced, the
    // victim's file behind its other name keeps its content and attributes.
    // Wine keeps hard links and shares attributes between the names (they
    // are the Unix file's mode bits and extended attributes), so this holds
    // under Wine as on Windows.
    const std::wstring linked = victim + L"\\precious.dll";
    const std::wstring shortcut = startMenuFolder + L"\\Trimora 6.04.lnk";
    test::makeFolders(startMenuFolder);
    ASSERT_TRUE(::CreateHardLinkW(shortcut.c_str(), linked.c_str(), nullptr));
    ASSERT_TRUE(::SetFileAttributesW(linked.c_str(), FILE_ATTRIBUTE_HIDDEN));
    const test::FileState before = test::stateOf(linked);
    auto app = startApp();
    ASSERT_TRUE(install(*app, payload));

    EXPECT_EQ(test::stateOf(linked), before);
    EXPECT_EQ(test::readFileBytes(linked), "not the installation's");
    EXPECT_EQ(linkTarget(shortcut).first, installPath + L"\\Trimora.exe");
    EXPECT_NE(fileIndex(shortcut), fileIndex(linked));
}

// An installation file of the earlier installation replaced by a hard link
// to the victim's read-only, hidden file: the run moves that name away as
// the earlier file's backup, and then deletes the backup (a complete run)
// or puts it back (a rollback). Neither clears an attribute of the file
// behind the link, which its other name shares. Wine keeps the read-only
// attribute in the Unix mode bits and the hidden one in an extended
// attribute, both shared by the names: this holds under Wine as on Windows.
class HardLinkAtAnInstallationFile : public Hardening {
protected:
    void SetUp() override
    {
        Hardening::SetUp();
        setUpEarlierInstallation(programBytes, L"Trimora 6.04");
        linked = victim + L"\\precious.dll";
        const std::wstring german = installPath + L"\\Lang\\Trimora_de.dll";
        ASSERT_TRUE(::DeleteFileW(german.c_str()));
        ASSERT_TRUE(::CreateHardLinkW(german.c_str(), linked.c_str(), nullptr));
        ASSERT_TRUE(::SetFileAttributesW(linked.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
        before = test::stateOf(linked);
    }
    void TearDown() override
    {
        ::SetFileAttributesW(linked.c_str(), FILE_ATTRIBUTE_NORMAL);
        Hardening::TearDown();
    }

    std::wstring linked;
    test::FileState before;
};

TEST_F(HardLinkAtAnInstallationFile, KeepsItsAttributesWhenTheBackupIsDeleted)
{
    auto app = startApp();
    ASSERT_TRUE(install(*app, payload));
    EXPECT_EQ(test::stateOf(linked), before);
    EXPECT_EQ(test::readFileBytes(linked), "not the installation's");
    EXPECT_EQ(test::readFileBytes(installPath + L"\\Lang\\Trimora_de.dll"), "german 6.4");
    // Windows (10 1809 and later) deletes the backup's read-only name
    // without clearing the attribute; Wine cannot, and the name stays in
    // the run's folder there rather than the attribute going.
    if (!test::runningUnderWine()) EXPECT_THAT(backupsLeft(), IsEmpty());
}

TEST_F(HardLinkAtAnInstallationFile, KeepsItsAttributesWhenTheRunIsRolledBack)
{
    payload[4].crc = 0x12345678;  // after the German library was replaced
    auto app = startApp();
    EXPECT_FALSE(install(*app, payload));
    EXPECT_EQ(test::stateOf(linked), before);
    EXPECT_EQ(test::readFileBytes(linked), "not the installation's");
    // The name is back as it was: the victim's file under it.
    EXPECT_EQ(fileIndex(installPath + L"\\Lang\\Trimora_de.dll"), fileIndex(linked));
    EXPECT_THAT(backupsLeft(), IsEmpty());
}

}  // namespace
}  // namespace qv
