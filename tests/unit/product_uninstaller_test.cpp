// The uninstaller Uninstall.exe against a hand-made installation: the files,
// folders, shortcuts and registry entries an installation leaves, and the
// Uninstall.ulog that lists them in the installer's recording order.

#include "ProductTestPaths.h"
#include "identity/InstanceObjects.h"
#include "engine/Shortcut.h"
#include "product/common/ProductNames.h"
#include "product/program/MainWindow.h"
#include "support/ArchiveTestSupport.h"
#include "support/ProductTestSupport.h"
#include "support/RunLogLines.h"
#include "support/TestFiles.h"
#include "support/UnixSide.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace qv::product;
using namespace qv::test;
using ::testing::Contains;
using ::testing::IsEmpty;

const std::wstring stage = QV_PRODUCT_STAGE;
const std::wstring uninstallKey = std::wstring(kUninstallParentKey) + L"\\" + kUninstallKeyName;
constexpr DWORD registered = 0xFFFFFFF6;

bool exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void makeFolder(const std::wstring& path)
{
    ::CreateDirectoryW(path.c_str(), nullptr);
    ASSERT_TRUE(exists(path)) << "cannot create the folder";
}

void copy(const std::wstring& from, const std::wstring& to, bool readOnly = false)
{
    ASSERT_TRUE(::CopyFileW(from.c_str(), to.c_str(), FALSE));
    if (readOnly) ::SetFileAttributesW(to.c_str(), FILE_ATTRIBUTE_READONLY);
}

// Removes a folder tree the uninstaller may have left, read-only files too.
void removeTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW data;
    qv::UniqueFindFile find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (find) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) removeTree(path);
            else {
                ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(find.get(), &data));
    }
    find.reset();
    ::RemoveDirectoryW(folder.c_str());
}

bool waitUntilGone(const std::wstring& path)
{
    // The clean-up copy deletes the uninstaller after it has ended.
    for (int i = 0; i < 300 && exists(path); ++i) ::Sleep(100);
    return !exists(path);
}

struct Entry {
    int kind;
    int payloadKind;
    std::wstring path;
};

// The restart-time deletions as a test found them, put back byte for byte
// when it ends: the tests share one prefix, and a later start of it must
// not delete what another test laid out.
struct PendingRenamesKept {
    PendingRenamesKept()
    {
        qv::UniqueKey key;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, sessionManager, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
        DWORD size = 0;
        if (::RegQueryValueExW(key.get(), value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return;
        data.resize(size);
        if (::RegQueryValueExW(key.get(), value, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return;
        data.resize(size);
        present = true;
    }
    ~PendingRenamesKept()
    {
        qv::UniqueKey key;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, sessionManager, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return;
        if (present)
            ::RegSetValueExW(key.get(), value, 0, type, data.data(), static_cast<DWORD>(data.size()));
        else
            ::RegDeleteValueW(key.get(), value);
    }
    static constexpr const wchar_t* sessionManager = L"System\\CurrentControlSet\\Control\\Session Manager";
    static constexpr const wchar_t* value = L"PendingFileRenameOperations";
    bool present = false;
    DWORD type = REG_MULTI_SZ;
    std::vector<BYTE> data;
    const std::wstring text = pendingFileRenames();
};

class HandMadeInstallation : public ::testing::Test {
protected:
    PendingRenamesKept pendingBefore;

    void SetUp() override
    {
        maker = shellFolder(CSIDL_PROGRAM_FILES) + L"\\Orvane Systems";
        install = maker + L"\\Trimora 6";
        lang = install + L"\\Lang";
        program = install + L"\\Trimora.exe";
        uninstaller = install + L"\\Uninstall.exe";
        logPath = install + L"\\Uninstall.ulog";
        sharedMaker = shellFolder(CSIDL_COMMON_APPDATA) + L"\\Orvane Systems";
        shared = sharedMaker + L"\\Quorvex";
        userMaker = shellFolder(CSIDL_APPDATA) + L"\\Orvane Systems";
        user = userMaker + L"\\Quorvex";
        samples = shellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Trimora Examples";
        startMenu = shellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Trimora 6";
        programShortcut = startMenu + L"\\Trimora 6.04.lnk";
        uninstallShortcut = startMenu + L"\\Uninstall Trimora.lnk";
        desktopShortcut = shellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Trimora 6.04.lnk";

        for (const std::wstring& f : {maker, install, lang, sharedMaker, shared, userMaker, user, samples, startMenu})
            makeFolder(f);
        copy(stage + L"\\Trimora.exe", program, true);
        copy(stage + L"\\Uninstall.exe", uninstaller, true);
        copy(stage + L"\\Lang\\Trimora_en.dll", lang + L"\\Trimora_en.dll");
        copy(stage + L"\\Lang\\Trimora_de.dll", lang + L"\\Trimora_de.dll");
        copy(stage + L"\\Data\\Words_en.qwl", shared + L"\\Words_en.qwl");
        copy(stage + L"\\UserData\\Personal.qwl", user + L"\\Personal.qwl");
        copy(stage + L"\\Samples\\Welcome.qvn", samples + L"\\Welcome.qvn");
        copy(stage + L"\\Samples\\Meeting Notes.qvn", samples + L"\\Meeting Notes.qvn");
        // Real shell links: the uninstaller removes only shortcuts that lead
        // into the installation folder.
        ASSERT_TRUE(qv::createShortcut(program, startMenu, L"Trimora 6.04"));
        ASSERT_TRUE(qv::createShortcut(uninstaller, startMenu, L"Uninstall Trimora"));
        ASSERT_TRUE(qv::createShortcut(program, shellFolder(CSIDL_COMMON_DESKTOPDIRECTORY), L"Trimora 6.04"));

        setRegString(HKEY_LOCAL_MACHINE, uninstallKey, L"DisplayName", L"Trimora 6.04");
        setRegString(HKEY_LOCAL_MACHINE, uninstallKey, L"UninstallString", uninstaller);
        setRegDword(HKEY_LOCAL_MACHINE, uninstallKey, L"OvLanguage", 1);
        setRegString(HKEY_LOCAL_MACHINE, kMakerKey, kInstallRecordValue, program);
        ASSERT_EQ(runProcess(L"\"" + program + L"\" /Register /Background /update=0006000300000000"), registered);

        // The installer's recording order: folders before the files in them.
        entries = {
            {0, -1, maker},         {0, -1, install},      {1, 1, program},
            {0, -1, userMaker},     {0, -1, user},         {1, 3, user + L"\\Personal.qwl"},
            {1, 2, uninstaller},    {0, -1, lang},         {1, 0, lang + L"\\Trimora_en.dll"},
            {1, 0, lang + L"\\Trimora_de.dll"},            {0, -1, sharedMaker},
            {0, -1, shared},        {1, 3, shared + L"\\Words_en.qwl"},
            {0, -1, samples},       {1, 4, samples + L"\\Welcome.qvn"},
            {1, 4, samples + L"\\Meeting Notes.qvn"},      {0, -1, startMenu},
            {2, -1, programShortcut},                      {3, -1, uninstallShortcut},
            {4, -1, desktopShortcut},
            {5, -1, L"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvex 6"},
            {6, -1, L"HKEY_CLASSES_ROOT\\..."},
        };
        writeLog();
    }

    void TearDown() override
    {
        waitForCleanupCopies();
        for (const std::wstring& f : {maker, sharedMaker, userMaker, samples, startMenu}) removeTree(f);
        ::SetFileAttributesW(desktopShortcut.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(desktopShortcut.c_str());
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, uninstallKey.c_str());
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, uninstallKey.c_str());
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kMakerKey);
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kMakerKey);
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kDocumentProgId);
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kDocumentExtension);
    }

    // Uninstall.ulog as the installer writes it: UTF-16LE with a byte-order
    // mark, six header lines, one line per entry, CR LF everywhere.
    void writeLog()
    {
        std::wstring text = L"\xFEFF";
        std::wstring shortcutLine = L"Shortcut Path : " + startMenu;
        text += L"// Uninstall Log File v1\r\n";
        text += L"// ############ WARNING: Do not delete or modify this file. ############\r\n";
        text += L"// Install Trimora 6.04\r\n";
        text += L"// Install Path : " + install + L"\r\n";
        text += L"// " + shortcutLine + L"\r\n";
        text += L"// " + std::wstring(shortcutLine.size(), L'-') + L"\r\n";
        for (std::size_t i = 0; i < entries.size(); ++i) {
            wchar_t head[32];
            swprintf(head, 32, L"%04u:%04x:1 -- ", static_cast<unsigned>(i),
                     static_cast<unsigned>(entries[i].kind * 256 + (entries[i].payloadKind & 0xFF)));
            text += head + entries[i].path + L"\r\n";
        }
        writeFileBytes(logPath, std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
        ::SetFileAttributesW(logPath.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    }

    std::wstring uninstallCommand(const wchar_t* arguments) const
    {
        return L"\"" + uninstaller + L"\"" + arguments;
    }

    void expectUntouched()
    {
        for (const std::wstring& p : {program, uninstaller, logPath, lang + L"\\Trimora_en.dll",
                                      samples + L"\\Welcome.qvn", programShortcut, desktopShortcut})
            EXPECT_TRUE(exists(p)) << std::string(p.begin(), p.end());
        EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, uninstallKey));
        EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, kMakerKey, kInstallRecordValue), program);
        EXPECT_EQ(regString(HKEY_CLASSES_ROOT, kDocumentExtension, nullptr), kDocumentProgId);
    }

    std::wstring maker, install, lang, program, uninstaller, logPath, sharedMaker, shared, userMaker, user,
        samples, startMenu, programShortcut, uninstallShortcut, desktopShortcut;
    std::vector<Entry> entries;
};

TEST_F(HandMadeInstallation, SilentRemovesWhatTheLogListsAndKeepsSharedData)
{
    std::string words = readFileBytes(shared + L"\\Words_en.qwl");
    const std::vector<std::wstring> runFolders = runFoldersInTemp();
    StartedProcess run(uninstallCommand(L" /S"));
    // /S asks nothing: the run ends without anyone answering.
    EXPECT_EQ(run.waitForExit(60000), 0u);

    // Files, shortcuts, and the folders created for them, deepest first.
    for (const std::wstring& gone : {program, lang + L"\\Trimora_en.dll", lang + L"\\Trimora_de.dll", lang,
                                     samples + L"\\Welcome.qvn", samples + L"\\Meeting Notes.qvn", samples,
                                     programShortcut, uninstallShortcut, startMenu, desktopShortcut, logPath})
        EXPECT_FALSE(exists(gone)) << std::string(gone.begin(), gone.end());
    // Shared data stays, as the users left it, in its folders.
    EXPECT_EQ(readFileBytes(shared + L"\\Words_en.qwl"), words);
    EXPECT_TRUE(exists(user + L"\\Personal.qwl"));

    // The registry: the program's own registration, the uninstall key, the
    // installation record and the then empty maker's key.
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kDocumentExtension));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kDocumentProgId));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, uninstallKey));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kMakerKey));

    // Last, the uninstaller itself and the folders that held it, removed by
    // a temporary copy once the uninstaller has ended; the copy and its
    // private folder go after it. Nothing waits for the next start of
    // Windows.
    EXPECT_TRUE(waitUntilGone(uninstaller));
    EXPECT_TRUE(waitUntilGone(install));
    EXPECT_TRUE(waitUntilGone(maker));
    EXPECT_EQ(runFoldersAfterCleanup(runFolders), runFolders) << "the copy's private folder goes too";
    EXPECT_EQ(pendingFileRenames(), pendingBefore.text);
}

TEST_F(HandMadeInstallation, AFileInUseGoesAtTheRestartAndTheExitCodeSaysSo)
{
    // Another process holds a language library open without letting anyone
    // delete it.
    const std::wstring library = lang + L"\\Trimora_de.dll";
    qv::UniqueFile held(::CreateFileW(library.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    const std::wstring logFile = L"C:\\uninstall in use.log";
    ::DeleteFileW(logFile.c_str());

    const std::vector<std::wstring> runFolders = runFoldersInTemp();
    EXPECT_EQ(runProcess(uninstallCommand(L" /VERYSILENT \"/LOG=C:\\uninstall in use.log\"")), 3010u);
    // Everything else went; the uninstaller too, through its copy.
    for (const std::wstring& gone : {program, lang + L"\\Trimora_en.dll", samples, programShortcut, logPath})
        EXPECT_FALSE(exists(gone)) << testing::PrintToString(gone);
    EXPECT_TRUE(waitUntilGone(uninstaller));
    EXPECT_EQ(runFoldersAfterCleanup(runFolders), runFolders);
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, uninstallKey));

    // Windows deletes the library at its next start, then the folders that
    // kept it, deepest first; nothing else is added.
    // (Without the multi-string's closing NUL.)
    auto entries = [](std::wstring text) {
        if (!text.empty()) text.pop_back();
        return text;
    };
    std::wstring added = entries(pendingFileRenames());
    const std::wstring before = entries(pendingBefore.text);
    ASSERT_EQ(added.rfind(before, 0), 0u) << "earlier entries stay as they were";
    added.erase(0, before.size());
    EXPECT_EQ(added, L"\\??\\" + library + L"||\\??\\" + lang + L"||\\??\\" + install + L"||\\??\\" + maker + L"||");
    const std::vector<std::wstring> lines = runLogLines(logFile);
    EXPECT_THAT(lines, Contains(L"In use: " + library + L" is deleted when Windows starts again"));
    EXPECT_THAT(lines, Contains(L"Removed; what is in use goes when Windows starts again"));
    EXPECT_THAT(lines, Contains(L"Exit code: 3010"));
    ::DeleteFileW(logFile.c_str());
}

TEST_F(HandMadeInstallation, AFileInUseWhereUsersMayWriteIsNeverScheduledForTheRestart)
{
    // The samples folder is open to Users: by the next start the path could
    // lead anywhere, so a sample in use stays, and the run says it is
    // incomplete instead of asking for a restart.
    const std::wstring sample = samples + L"\\Welcome.qvn";
    qv::UniqueFile held(::CreateFileW(sample.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    const std::wstring logFile = L"C:\\uninstall sample in use.log";
    ::DeleteFileW(logFile.c_str());

    EXPECT_EQ(runProcess(uninstallCommand(L" /VERYSILENT \"/LOG=C:\\uninstall sample in use.log\"")), 4u);
    EXPECT_TRUE(exists(sample));
    EXPECT_FALSE(exists(program));
    EXPECT_TRUE(waitUntilGone(uninstaller));
    waitForCleanupCopies();
    EXPECT_EQ(pendingFileRenames(), pendingBefore.text) << "nothing scheduled by a path users may change";
    EXPECT_THAT(runLogLines(logFile), Contains(L"Could NOT delete " + sample + L" (in use)"));
    held.reset();
    ::DeleteFileW(logFile.c_str());
}

TEST_F(HandMadeInstallation, KeepsFoldersWithFilesTheLogDoesNotListAndEntriesOfOtherInstallations)
{
    writeFileBytes(samples + L"\\My Notes.qvn", "Trimora Notebook 1\nmine\n");
    writeFileBytes(install + L"\\backup.qvn", "Trimora Notebook 1\nmine too\n");
    setRegString(HKEY_LOCAL_MACHINE, kMakerKey, L"Other Product Path", L"C:\\Other\\Other.exe");

    EXPECT_EQ(runProcess(uninstallCommand(L" /S")), 0u);
    EXPECT_FALSE(exists(samples + L"\\Welcome.qvn"));
    EXPECT_TRUE(exists(samples + L"\\My Notes.qvn"));
    EXPECT_FALSE(exists(program));
    EXPECT_TRUE(waitUntilGone(uninstaller));
    EXPECT_TRUE(exists(install + L"\\backup.qvn"));
    // The maker's key still holds another record.
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, kMakerKey, kInstallRecordValue), std::nullopt);
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, kMakerKey, L"Other Product Path"), L"C:\\Other\\Other.exe");
}

TEST_F(HandMadeInstallation, LeavesTheRegistrationOfAnotherInstallation)
{
    // A later installation elsewhere registered itself under the same names.
    setRegString(HKEY_LOCAL_MACHINE, uninstallKey, L"UninstallString", L"D:\\Trimora\\Uninstall.exe");
    setRegString(HKEY_LOCAL_MACHINE, kMakerKey, kInstallRecordValue, L"D:\\Trimora\\Trimora.exe");
    EXPECT_EQ(runProcess(uninstallCommand(L" /S")), 0u);
    EXPECT_FALSE(exists(program));
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, uninstallKey, L"UninstallString"), L"D:\\Trimora\\Uninstall.exe");
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, kMakerKey, kInstallRecordValue), L"D:\\Trimora\\Trimora.exe");
}

TEST_F(HandMadeInstallation, AsksFirstAndRemovesNothingWhenTheAnswerIsNo)
{
    StartedProcess run(uninstallCommand(L""));
    HWND question = findProcessWindow(run.id(), L"#32770", 30000);
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(dialogText(question), L"Do you want to remove Trimora 6.04 and all of its components?");
    // Its boxes are drawn for their screen's DPI, by the uninstaller's manifest.
    EXPECT_EQ(dpiAwareness(question), perMonitorAwareByManifest());
    ::SendMessageW(::GetDlgItem(question, IDNO), BM_CLICK, 0, 0);
    EXPECT_EQ(run.waitForExit(30000), 1602u);  // ERROR_INSTALL_USEREXIT
    expectUntouched();
}

TEST_F(HandMadeInstallation, AsksFirstAndTellsTheOutcomeWhenTheAnswerIsYes)
{
    StartedProcess run(uninstallCommand(L""));
    HWND question = findProcessWindow(run.id(), L"#32770", 30000);
    ASSERT_NE(question, nullptr);
    ::SendMessageW(::GetDlgItem(question, IDYES), BM_CLICK, 0, 0);

    HWND outcome = nullptr;
    for (int i = 0; i < 300 && !outcome; ++i) {
        HWND found = findProcessWindow(run.id(), L"#32770", 100);
        if (found && found != question) outcome = found;
    }
    ASSERT_NE(outcome, nullptr);
    EXPECT_EQ(dialogText(outcome),
              L"Trimora 6.04 was removed from your computer. Shared dictionaries and templates were kept.");
    EXPECT_FALSE(exists(program));
    ::SendMessageW(::GetDlgItem(outcome, IDOK), BM_CLICK, 0, 0);
    EXPECT_EQ(run.waitForExit(30000), 0u);
}

TEST_F(HandMadeInstallation, RefusesWhileTheProgramRuns)
{
    StartedProcess running(L"\"" + program + L"\"");
    ASSERT_NE(findProcessWindow(running.id(), kMainWindowClass, 20000), nullptr);
    EXPECT_EQ(runProcess(uninstallCommand(L" /S")), 170u);  // ERROR_BUSY, as the installer
    expectUntouched();
}

TEST_F(HandMadeInstallation, WithoutItsLogRemovesNothing)
{
    ::SetFileAttributesW(logPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(::DeleteFileW(logPath.c_str()));
    EXPECT_EQ(runProcess(uninstallCommand(L" /S")), 2u);
    EXPECT_TRUE(exists(program));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, uninstallKey));

    // A log of another format version is no log either.
    writeFileBytes(logPath, "// Uninstall Log File v2\r\n");
    EXPECT_EQ(runProcess(uninstallCommand(L" /S")), 2u);
    EXPECT_TRUE(exists(program));
}

// --- A log and an installation a standard user prepared -------------------------
// The installation folder may be one users can write (outside the
// program-files folder): its log and its folders are then the attacker's.
// Links are made with ln -s on the Linux side and stand for junctions;
// under Wine, where DeleteFileW and RemoveDirectoryW on such a link delete
// its target, the uninstaller proves that it refuses them (on Windows it
// deletes a link itself, which the same checks allow).

const std::wstring registrar = std::filesystem::path(QV_REGISTRAR_EXE).make_preferred().wstring();

TEST_F(HandMadeInstallation, TamperedLogLinesOfOtherFilesAreLeftAndReported)
{
    const std::wstring systemFile = shellFolder(CSIDL_WINDOWS) + L"\\win.ini";
    const std::wstring document = shellFolder(CSIDL_PERSONAL) + L"\\letter.txt";
    const std::wstring emptyFolder = L"C:\\Victim\\Empty";
    const std::wstring decoy = L"C:\\Victim\\Trimora.exe";
    makeFolder(L"C:\\Victim");
    makeFolder(emptyFolder);
    writeFileBytes(document, "the user's own letter");
    copy(registrar, decoy);
    const std::string systemBytes = readFileBytes(systemFile);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\QvSequenceTest");
    // Lines for a system file, a document, a folder of nobody's installation,
    // and a program elsewhere (the program line met last used to be run).
    entries.insert(entries.begin(), {{1, 0, systemFile}, {1, 4, document}, {0, -1, emptyFolder}});
    entries.push_back({1, 1, decoy});
    writeLog();

    EXPECT_EQ(runProcess(uninstallCommand(L" /S")), 4u) << "something was not removed";
    EXPECT_EQ(readFileBytes(systemFile), systemBytes);
    EXPECT_EQ(readFileBytes(document), "the user's own letter");
    EXPECT_TRUE(exists(emptyFolder));
    EXPECT_TRUE(exists(decoy));
    EXPECT_EQ(regString(HKEY_CURRENT_USER, L"Software\\QvSequenceTest", L"Unregistered"), std::nullopt)
        << "only the program in the uninstaller's own folder is run";
    // What the installation owns is removed all the same.
    EXPECT_FALSE(exists(program));
    EXPECT_FALSE(exists(samples + L"\\Welcome.qvn"));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kDocumentExtension));
    EXPECT_TRUE(waitUntilGone(uninstaller));
}

TEST_F(HandMadeInstallation, RemovesNothingThroughALink)
{
    // The language folder gives way to a junction to a folder whose files
    // bear the libraries' names, and a sample to a link to another file.
    const std::wstring elsewhere = L"C:\\Victim\\Libraries";
    makeFolder(L"C:\\Victim");
    makeFolder(elsewhere);
    writeFileBytes(elsewhere + L"\\Trimora_en.dll", "not ours");
    writeFileBytes(elsewhere + L"\\Trimora_de.dll", "not ours either");
    writeFileBytes(L"C:\\Victim\\notes.txt", "a file of its own");
    removeTree(lang);
    ASSERT_TRUE(plantLink(lang, elsewhere));
    ASSERT_TRUE(::DeleteFileW((samples + L"\\Welcome.qvn").c_str()));
    ASSERT_TRUE(plantLink(samples + L"\\Welcome.qvn", L"C:\\Victim\\notes.txt"));

    EXPECT_EQ(runProcess(uninstallCommand(L" /S")), 4u);
    EXPECT_EQ(readFileBytes(elsewhere + L"\\Trimora_en.dll"), "not ours");
    EXPECT_EQ(readFileBytes(elsewhere + L"\\Trimora_de.dll"), "not ours either");
    EXPECT_EQ(readFileBytes(L"C:\\Victim\\notes.txt"), "a file of its own");
    EXPECT_FALSE(exists(program));
    // Wine's own deleting would go through the links: they go from the
    // Linux side before the fixture clears the folders.
    waitForCleanupCopies();
    runUnixCommandAndWait("rm -f '" + unixPathOf(lang) + "' '" + unixPathOf(samples + L"\\Welcome.qvn") + "'");
}

TEST_F(HandMadeInstallation, ALogThatNeverEndsIsNoLog)
{
    // Uninstall.ulog made a link to an endless device: read within a fixed
    // bound, never through the link, it is no readable log.
    ::SetFileAttributesW(logPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(::DeleteFileW(logPath.c_str()));
    ASSERT_TRUE(runUnixCommandAndWait("ln -s /dev/zero '" + unixPathOf(logPath) + "'"));
    EXPECT_EQ(runProcess(uninstallCommand(L" /S")), 2u);
    EXPECT_TRUE(exists(program));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, uninstallKey));
    runUnixCommandAndWait("rm -f '" + unixPathOf(logPath) + "'");
}

}  // namespace
