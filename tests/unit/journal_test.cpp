// Backup and rollback against the real file system and registry: every
// change recorded in the journal is undone in reverse order.

#include "uninstall/UninstallKey.h"
#include "uninstall/UninstallLog.h"

#include "lang/Languages.h"
#include "identity/Product.h"
#include "engine/TemporaryFiles.h"
#include "support/TestFiles.h"
#include "sys/Handles.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <boost/algorithm/string/predicate.hpp>
#include <optional>
#include <boost/filesystem/path.hpp>

using namespace qv;
using namespace qv::test;

namespace {

const std::wstring kRoot = L"C:\\qvjournal";

std::vector<char> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

DWORD attributesOf(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setLanguage(1);
        makeFolders(kRoot);
        std::wstring error;
        std::optional<RunFolder> made = makeRunFolder(error);
        ASSERT_TRUE(made) << error;
        runFolder.emplace(std::move(*made));
    }

    // A journal whose backups go to the run's private folder, as the
    // install sequence sets it up.
    UninstallLog journal()
    {
        UninstallLog log;
        log.useRunFolder(&*runFolder);
        return log;
    }

    // A backup: a name "ov....tmp" directly in the run folder.
    bool isBackupName(const std::wstring& path) const
    {
        const boost::filesystem::path backup(path);
        const std::wstring name = backup.filename().wstring();
        return boost::iequals(backup.parent_path().wstring(), runFolder->path()) && boost::istarts_with(name, L"ov") &&
               boost::iends_with(name, L".tmp");
    }

    std::optional<RunFolder> runFolder;
};

TEST_F(JournalTest, CreatedFoldersAreRemovedDeepestFirstAndOnlyWhenEmpty)
{
    makeFolders(kRoot + L"\\A");
    UninstallLog log = journal();
    log.recordFile(kRoot + L"\\A\\B\\C\\file.dll", 0, false);
    writeText(kRoot + L"\\A\\B\\C\\file.dll", "new");
    log.confirm(true);

    std::vector<std::wstring> created;
    for (const auto& entry : log.newEntries())
        if (entry.kind == CreatedFolder) created.push_back(entry.path);
    EXPECT_EQ(created, (std::vector<std::wstring>{kRoot + L"\\A\\B", kRoot + L"\\A\\B\\C"}));
    EXPECT_EQ(log.newEntries().back().kind, InstalledFile);

    // Something else put a file into A\B meanwhile: that folder must stay.
    writeText(kRoot + L"\\A\\B\\foreign.txt", "not ours");
    log.rollback();
    EXPECT_TRUE(log.newEntries().empty());
    EXPECT_FALSE(fileExists(kRoot + L"\\A\\B\\C"));
    EXPECT_TRUE(fileExists(kRoot + L"\\A\\B\\foreign.txt"));

    // Without the foreign file both folders go.
    UninstallLog second = journal();
    second.recordFile(kRoot + L"\\A\\X\\Y\\file.dll", 0, false);
    second.rollback();
    EXPECT_FALSE(fileExists(kRoot + L"\\A\\X"));
    EXPECT_TRUE(fileExists(kRoot + L"\\A"));
}

TEST_F(JournalTest, ReplacedReadOnlyFileComesBackWithItsBytesAndAttribute)
{
    const std::wstring program = kRoot + L"\\Trimora.exe";
    writeText(program, "old program");
    ::SetFileAttributesW(program.c_str(), FILE_ATTRIBUTE_READONLY);

    UninstallLog log = journal();
    log.recordFile(program, 1, false);
    const std::wstring backup = log.newEntries().back().backupPath;
    EXPECT_TRUE(isBackupName(backup)) << backup;
    EXPECT_FALSE(fileExists(program)) << "the old file is moved away";
    EXPECT_TRUE(attributesOf(backup) & FILE_ATTRIBUTE_READONLY);

    writeText(program, "new program");
    log.confirm(true);
    log.rollback();
    EXPECT_EQ(readBytes(program), bytesOf("old program"));
    EXPECT_TRUE(attributesOf(program) & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(fileExists(backup));
}

// A backup gone from the run folder (a cleaner emptied it) is never taken
// for one put back: the rollback is incomplete and names the file.
TEST_F(JournalTest, ABackupGoneFromTheRunFolderIsNotCountedRestored)
{
    const std::wstring program = kRoot + L"\\Gone.dll";
    writeText(program, "old library");
    UninstallLog log = journal();
    log.recordFile(program, 1, false);
    const std::wstring backup = log.newEntries().back().backupPath;
    writeText(program, "new library");
    log.confirm(true);
    ASSERT_TRUE(::DeleteFileW(backup.c_str()));

    std::list<LogEntry> notUndone;
    EXPECT_FALSE(log.rollback(&notUndone));
    ASSERT_EQ(notUndone.size(), 1u);
    EXPECT_EQ(notUndone.front().path, program);
    EXPECT_TRUE(notUndone.front().backupLost);
    EXPECT_EQ(readBytes(program), bytesOf("new library"));
}

TEST_F(JournalTest, CommitDeletesBackups)
{
    const std::wstring program = kRoot + L"\\Trimora.exe";
    writeText(program, "old");
    UninstallLog log = journal();
    log.recordFile(program, 1, false);
    const std::wstring backup = log.newEntries().back().backupPath;
    writeText(program, "new");
    log.confirm(true);
    ASSERT_TRUE(fileExists(backup));
    EXPECT_TRUE(log.commit(kRoot + L"\\Uninstall.ulog", kRoot, L"")) << ::GetLastError();
    EXPECT_FALSE(fileExists(backup));
    EXPECT_TRUE(log.newEntries().back().backupPath.empty());
}

TEST_F(JournalTest, ExistingDataFileIsCopiedNeverMoved)
{
    const std::wstring data = kRoot + L"\\Lexicon.dat";
    writeText(data, "user's data");
    UninstallLog log = journal();
    log.recordFile(data, 3, true);
    log.confirm(true);
    const std::wstring backup = log.newEntries().back().backupPath;
    EXPECT_TRUE(fileExists(data));
    EXPECT_EQ(readBytes(backup), readBytes(data));
    EXPECT_TRUE(log.newEntries().back().done);
}

// A folder where a file is to be installed is not the file's earlier
// version: whether the entry asks for a move or a copy, nothing is backed up,
// and rolling the entry back leaves the folder as it was, contents included.
TEST_F(JournalTest, FolderStandingWhereAFileGoesStaysInPlace)
{
    for (const bool copy : {false, true}) {
        SCOPED_TRACE(copy ? "copy" : "move");
        const std::wstring folder = kRoot + L"\\Trimora_en.dll";
        makeFolders(folder + L"\\inside");
        writeText(folder + L"\\inside\\notes.txt", "the owner's notes");
        ::SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_HIDDEN);
        const DWORD attributes = attributesOf(folder);

        UninstallLog log;
        log.recordFile(folder, copy ? 3 : 0, copy);
        EXPECT_TRUE(log.newEntries().back().backupPath.empty()) << log.newEntries().back().backupPath;
        EXPECT_EQ(readBytes(folder + L"\\inside\\notes.txt"), bytesOf("the owner's notes"));
        log.confirm(false);
        log.rollback();
        EXPECT_EQ(readBytes(folder + L"\\inside\\notes.txt"), bytesOf("the owner's notes"));
        EXPECT_EQ(attributesOf(folder), attributes);
    }
}

TEST_F(JournalTest, EarlierShortcutIsMovedAwayAndBack)
{
    const std::wstring earlierLink = kRoot + L"\\Old Menu\\Trimora 6.lnk";
    makeFolders(kRoot + L"\\Old Menu");
    writeText(earlierLink, "earlier shortcut");
    const std::wstring earlierLog = kRoot + L"\\earlier.ulog";
    writeUtf16Lines(earlierLog, {
        L"// Uninstall Log File v1", L"// x", L"// Install Trimora 6.03", L"// Install Path : " + kRoot,
        L"// Shortcut Path : " + kRoot + L"\\Old Menu", L"// -",
        L"0000:02ff:1 -- " + earlierLink,
    });
    UninstallLog log = journal();
    log.read(earlierLog.c_str());

    const std::wstring menu = kRoot + L"\\New Menu";
    log.recordShortcut(0, menu);
    EXPECT_TRUE(fileExists(menu)) << "the shortcut's folder is created";
    EXPECT_FALSE(fileExists(earlierLink)) << "the earlier shortcut is moved away";
    const std::wstring link = menu + L"\\Trimora 6.lnk";
    writeText(link, "new shortcut");
    log.confirm(true, link.c_str());

    EXPECT_TRUE(log.rollback());
    // The earlier shortcut comes back where it was, as the recovery of a
    // run that did not end puts it back; this run's shortcut and its new
    // folder go.
    EXPECT_EQ(readBytes(earlierLink), bytesOf("earlier shortcut"));
    EXPECT_FALSE(fileExists(link));
    EXPECT_FALSE(fileExists(menu));
}

// The new shortcut was never made (its folder failed, the journal could not
// name it): the earlier one, moved away before, comes back where it was.
TEST_F(JournalTest, ShortcutNeverCreatedPutsTheEarlierOneBack)
{
    const std::wstring earlierLink = kRoot + L"\\Trimora 6.lnk";
    writeText(earlierLink, "earlier");
    const std::wstring earlierLog = kRoot + L"\\earlier.ulog";
    writeUtf16Lines(earlierLog, {L"// Uninstall Log File v1", L"// x", L"// Install Trimora 6.03",
                                 L"// Install Path : " + kRoot, L"// Shortcut Path : ", L"// -",
                                 L"0000:04ff:1 -- " + earlierLink});
    UninstallLog log = journal();
    log.read(earlierLog.c_str());
    log.recordShortcut(2, kRoot);
    const std::wstring backup = log.newEntries().back().backupPath;
    ASSERT_FALSE(fileExists(earlierLink));
    log.confirm(false);
    EXPECT_TRUE(log.rollback());
    EXPECT_FALSE(fileExists(backup));
    EXPECT_EQ(readBytes(earlierLink), bytesOf("earlier"));
}

TEST_F(JournalTest, ConfirmSettlesOnlyTheEntryRecordedLast)
{
    UninstallLog log = journal();
    log.recordClassesRoot();
    EXPECT_TRUE(log.pending());
    log.confirm(true, L"first");
    log.confirm(false, L"second");
    EXPECT_FALSE(log.pending());
    EXPECT_TRUE(log.newEntries().back().done);
    EXPECT_EQ(log.newEntries().back().path, L"first");
}

TEST_F(JournalTest, WasInstalledComparesLetterCase)
{
    const std::wstring earlierLog = kRoot + L"\\earlier.ulog";
    writeUtf16Lines(earlierLog, {L"// Uninstall Log File v1", L"// x", L"// Install Trimora 6.03",
                                 L"// Install Path : " + kRoot, L"// Shortcut Path : ", L"// -",
                                 L"0000:0103:1 -- C:\\Data\\Lexicon.dat", L"0001:0103:0 -- C:\\Data\\Notes.dat"});
    UninstallLog log = journal();
    log.read(earlierLog.c_str());
    EXPECT_TRUE(log.wasInstalled(L"C:\\Data\\Lexicon.dat"));
    EXPECT_FALSE(log.wasInstalled(L"C:\\data\\lexicon.dat"));
    EXPECT_FALSE(log.wasInstalled(L"C:\\Data\\Notes.dat")) << "not done";
}

// --- the uninstall key --------------------------------------------------------

const std::wstring kProductKey = std::wstring(kUninstallParentKeyPath) + L"\\Quorvex 6";

struct Value {
    DWORD type = 0;
    std::vector<BYTE> data;
};

Value readValue(const wchar_t* name)
{
    Value v;
    DWORD size = 0;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, kProductKey.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &v.type,
                       nullptr, &size) != ERROR_SUCCESS)
        return {};
    v.data.resize(size);
    ::RegGetValueW(HKEY_LOCAL_MACHINE, kProductKey.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &v.type,
                   v.data.data(), &size);
    return v;
}

Value sz(const std::wstring& text)
{
    Value v{REG_SZ, {}};
    const BYTE* p = reinterpret_cast<const BYTE*>(text.c_str());
    v.data.assign(p, p + (text.size() + 1) * sizeof(wchar_t));
    return v;
}

Value dword(DWORD n)
{
    Value v{REG_DWORD, {}};
    const BYTE* p = reinterpret_cast<const BYTE*>(&n);
    v.data.assign(p, p + 4);
    return v;
}

bool keyExists(const std::wstring& path)
{
    UniqueKey key;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

bool operator==(const Value& a, const Value& b) { return a.type == b.type && a.data == b.data; }
void PrintTo(const Value& v, std::ostream* os) { *os << "type " << v.type << ", " << v.data.size() << " bytes"; }

TEST_F(JournalTest, FirstInstallationCreatesTheUninstallKeyAndRollbackDeletesIt)
{
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProductKey.c_str());
    UninstallLog log = journal();
    setLanguage(2);  // German
    const std::wstring uninstaller = L"C:\\Program Files\\Orvane Systems\\Trimora 6\\Uninstall.exe";
    const std::wstring program = L"C:\\Program Files\\Orvane Systems\\Trimora 6\\Trimora.exe";
    ASSERT_TRUE(writeUninstallKey(log, uninstaller, program, productCode, 2));

    EXPECT_EQ(readValue(L"DisplayName"), sz(productLabel(false)));
    EXPECT_EQ(readValue(L"UninstallString"), sz(uninstaller)) << "no quotes, even with blanks";
    EXPECT_EQ(readValue(L"DisplayIcon"), sz(program + L",0"));
    EXPECT_EQ(readValue(L"DisplayVersion"), sz(L"6.4.0.2"));
    EXPECT_EQ(readValue(L"Publisher"), sz(L"Orvane Systems"));
    const Value web = readValue(L"URLInfoAbout");
    EXPECT_EQ(web.type, DWORD(REG_SZ));
    EXPECT_GT(web.data.size(), 2u);
    EXPECT_EQ(readValue(L"HelpLink"), web);
    EXPECT_EQ(readValue(L"URLUpdateInfo"), web);
    EXPECT_EQ(readValue(L"HelpTelephone").type, DWORD(REG_SZ));
    EXPECT_EQ(readValue(L"NoModify"), dword(1));
    EXPECT_EQ(readValue(L"NoRepair"), dword(1));
    EXPECT_EQ(readValue(L"OvLanguage"), dword(2));

    const LogEntry& entry = log.newEntries().back();
    EXPECT_EQ(entry.kind, UninstallKey);
    EXPECT_TRUE(entry.done);
    EXPECT_TRUE(entry.backupPath.empty());
    EXPECT_FALSE(log.pending());

    UniqueKey sub;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kProductKey + L"\\Sub").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, sub.put(), nullptr),
              ERROR_SUCCESS);
    sub.reset();
    log.rollback();
    EXPECT_FALSE(keyExists(kProductKey));
}

TEST_F(JournalTest, ExistingUninstallKeyIsBackedUpBeforeItIsRewritten)
{
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProductKey.c_str());
    UniqueKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                key.put(), nullptr),
              ERROR_SUCCESS);
    const std::wstring earlierName = L"Trimora 6.03";
    ::RegSetValueExW(key.get(), L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(earlierName.c_str()),
                     DWORD((earlierName.size() + 1) * 2));
    ::RegSetValueExW(key.get(), L"Comments", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"kept"), 10);
    key.reset();

    UninstallLog log = journal();
    ASSERT_TRUE(writeUninstallKey(log, L"C:\\T\\Uninstall.exe", L"C:\\T\\Trimora.exe", productCode, 1));
    const std::wstring backup = log.newEntries().back().backupPath;
    ASSERT_FALSE(backup.empty()) << "the existing key is saved first";
    EXPECT_TRUE(isBackupName(backup));
    EXPECT_TRUE(fileExists(backup));
    EXPECT_EQ(readValue(L"Comments"), sz(L"kept")) << "values of others are left alone";

    log.rollback();
    EXPECT_FALSE(fileExists(backup)) << "the hive file is deleted after the restore";
    EXPECT_TRUE(keyExists(kProductKey)) << "an earlier key is restored, never deleted";
    // Under Wine RegRestoreKeyW reports success without restoring anything,
    // so the earlier DisplayName can only be checked on Windows.
    if (!runningUnderWine()) {
        EXPECT_EQ(readValue(L"DisplayName"), sz(earlierName));
    }
}

TEST_F(JournalTest, CommittedRunDeletesTheKeyBackup)
{
    UniqueKey key;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                      nullptr);
    key.reset();
    UninstallLog log = journal();
    ASSERT_TRUE(writeUninstallKey(log, L"C:\\T\\Uninstall.exe", L"C:\\T\\Trimora.exe", productCode, 1));
    const std::wstring backup = log.newEntries().back().backupPath;
    ASSERT_TRUE(fileExists(backup));
    log.commit(kRoot + L"\\Uninstall.ulog", kRoot, L"");
    EXPECT_FALSE(fileExists(backup));
    EXPECT_TRUE(keyExists(kProductKey));
}

}  // namespace
