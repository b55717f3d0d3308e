#pragma once
// Classes in this file:
//   Sequence   the install sequence's fixture: a fresh prefix's folders, a
//              payload of stand-ins (the registrar as the program, an
//              uninstaller, libraries, shared data, samples, a temporary
//              file), the application object as start-up leaves it, and an
//              earlier installation laid out by hand
//   readValue, linkTarget, readLog, backupsLeft  what a run left, read back
//
// Shared by the sequence's scenarios and the hardening scenarios, each of
// which runs in a fresh prefix of its own.

#include "engine/Detection.h"
#include "engine/InstallSession.h"
#include "lang/Languages.h"
#include "identity/Product.h"
#include "engine/InstallSequence.h"
#include "engine/InstallTexts.h"
#include "support/ArchiveTestSupport.h"
#include "support/RecordingDisplay.h"
#include "support/TestFiles.h"
#include "sys/Handles.h"
#include "uninstall/UninstallLog.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <tuple>

namespace qv {

using test::RecordingDisplay;
using test::TestEntry;
using test::shellFolder;

inline constexpr wchar_t applicationIdForTests[] = L"Quorvex6";
inline constexpr wchar_t recordKey[] = L"Software\\QvSequenceTest";

inline std::wstring windowsPath(const char* path)
{
    return std::filesystem::path(path).make_preferred().wstring();
}

inline bool exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline DWORD attributesOf(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str());
}

struct RegValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool found = false;
    std::wstring text() const
    {
        std::wstring s(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
        if (!s.empty() && s.back() == L'\0') s.pop_back();
        return s;
    }
    DWORD number() const { return data.size() == 4 ? *reinterpret_cast<const DWORD*>(data.data()) : 0xDEADBEEF; }
};

inline RegValue readValue(HKEY root, const std::wstring& key, const std::wstring& name)
{
    RegValue value;
    DWORD size = 0;
    if (::RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &value.type, nullptr, &size) !=
        ERROR_SUCCESS)
        return value;
    value.data.resize(size);
    value.found = ::RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &value.type,
                                 value.data.data(), &size) == ERROR_SUCCESS;
    value.data.resize(size);
    return value;
}

// Target and working folder of a shell link file.
inline std::pair<std::wstring, std::wstring> linkTarget(const std::wstring& lnk)
{
    ComPtr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.putVoid())))
        return {};
    ComPtr<IPersistFile> file;
    if (FAILED(link.queryInterface(file)) || FAILED(file->Load(lnk.c_str(), STGM_READ))) return {};
    wchar_t target[MAX_PATH] = {}, folder[MAX_PATH] = {};
    link->GetPath(target, MAX_PATH, nullptr, 0);
    link->GetWorkingDirectory(folder, MAX_PATH);
    return {target, folder};
}

// One line of Uninstall.ulog as read back: kind, payload kind, done, path.
using Logged = std::tuple<int, int, bool, std::wstring>;

inline std::vector<Logged> readLog(const std::wstring& path, std::wstring* label = nullptr)
{
    UninstallLog log;
    log.read(path.c_str());
    if (label) *label = log.previousLabel();
    std::vector<Logged> entries;
    for (const LogEntry& e : log.previousEntries()) entries.emplace_back(e.kind, e.payloadKind, e.done, e.path);
    return entries;
}

// What a backup would leave behind under the temporary folder: "ov*.tmp"
// there or in a run's folder "orvane_{...}" below it.
inline std::vector<std::wstring> backupsLeft()
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::vector<std::wstring> left;
    auto collect = [&](const std::wstring& folder) {
        WIN32_FIND_DATAW found;
        UniqueFindFile find(::FindFirstFileW((folder + L"ov*.tmp").c_str(), &found));
        if (find) do left.push_back(folder + found.cFileName); while (::FindNextFileW(find.get(), &found));
    };
    collect(temp);
    WIN32_FIND_DATAW run;
    UniqueFindFile runs(::FindFirstFileW((std::wstring(temp) + L"orvane_{*").c_str(), &run));
    if (runs) do collect(std::wstring(temp) + run.cFileName + L"\\"); while (::FindNextFileW(runs.get(), &run));
    return left;
}

class Sequence : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::CoInitialize(nullptr);
        applicationId() = applicationIdForTests;
        setLanguage(EnglishLanguage);
        mutexName = L"Global\\" + instanceMutexName(applicationIdForTests);
        ::SetEnvironmentVariableW(L"QV_REGISTRAR_MUTEX", mutexName.c_str());
        ::SetEnvironmentVariableW(L"QV_REGISTRAR_EXIT", nullptr);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, recordKey);

        installPath = shellFolder(CSIDL_PROGRAM_FILES) + L"\\Orvane Systems\\Trimora 6";
        startMenuFolder = shellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Trimora 6";
        commonData = shellFolder(CSIDL_COMMON_APPDATA) + L"\\Orvane Systems\\Quorvex";
        userData = shellFolder(CSIDL_APPDATA) + L"\\Orvane Systems\\Quorvex";
        desktop = shellFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
        samples = desktop + L"\\Trimora Examples";
        programBytes = test::readFileBytes(windowsPath(QV_REGISTRAR_EXE));
        payload = {
            {L"C:\\build\\Trimora.exe", L"<InstallPath>", programBytes, 1},
            {L"C:\\build\\Uninstall.exe", L"<InstallPath>", "uninstaller 6.4", 2},
            {L"C:\\build\\Lang\\Trimora_en.dll", L"<InstallPath>\\Lang", "english 6.4", 0},
            {L"C:\\build\\Lang\\Trimora_de.dll", L"<InstallPath>\\Lang", "german 6.4", 0},
            {L"C:\\build\\Lang\\Trimora_fr.dll", L"<InstallPath>\\Lang", "french 6.4", 0},
            {L"C:\\build\\Data\\Words_en.qwl", L"<CommonData>\\Orvane Systems\\Quorvex", "words 6.4", 3},
            {L"C:\\build\\UserData\\Personal.qwl", L"<UserData>\\Orvane Systems\\Quorvex", "", 3},
            {L"C:\\build\\Samples\\Welcome.qvn", L"<SamplePath>", "welcome 6.4", 4},
            {L"C:\\build\\Samples\\Meeting Notes.qvn", L"<SamplePath>", "meeting notes 6.4", 4},
            {L"C:\\build\\setup.tmp", L"<Temporary>", "only during installation", 5},
        };
    }

    void TearDown() override
    {
        setLanguage(FrenchLanguage);
        ::CoUninitialize();
    }

    // The application object as start-up leaves it: the mutex taken, the
    // folders and options chosen, an earlier installation detected.
    std::unique_ptr<InstallSession> startApp()
    {
        auto app = std::make_unique<InstallSession>();
        EXPECT_TRUE(app->instanceMutex.tryAcquire());
        app->installPath = installPath;
        app->startMenuFolder = startMenuFolder;
        app->createStartMenuShortcut = true;
        app->createDesktopShortcut = true;
        detectInstallation(*app, findInstalledProgram());
        const std::wstring earlier = earlierLogPath();
        app->uninstallLog.read(earlier.empty() ? nullptr : earlier.c_str());
        return app;
    }

    bool install(InstallSession& app, const std::vector<TestEntry>& entries)
    {
        const std::string packed = test::bzip2(test::rawArchive(entries));
        return install(app, packed);
    }

    bool install(InstallSession& app, const std::string& packed)
    {
        InstallSequence sequence(app, display, target,
                                 [packed] { return std::make_unique<std::istringstream>(packed); });
        return sequence.run();
    }

    std::wstring targetOf(const TestEntry& entry, const InstallSession& app) const
    {
        const std::wstring name = std::filesystem::path(entry.source).filename().wstring();
        const std::wstring& d = entry.destination;
        auto under = [&](const wchar_t* macro, const std::wstring& folder) {
            return d.rfind(macro, 0) == 0 ? folder + d.substr(std::wcslen(macro)) + L"\\" + name : std::wstring();
        };
        for (auto [macro, folder] : {std::pair<const wchar_t*, std::wstring>{L"<InstallPath>", installPath},
                                     {L"<CommonData>\\Orvane Systems\\Quorvex", commonData},
                                     {L"<UserData>\\Orvane Systems\\Quorvex", userData},
                                     {L"<SamplePath>", samples},
                                     {L"<Temporary>", app.tempFolder}})
            if (std::wstring t = under(macro, folder); !t.empty()) return t;
        return {};
    }

    std::wstring copyingLine(const std::wstring& path) const { return copyingFileText(path) + L"OK"; }

    // Writes the files, the log, the uninstall key and the installation
    // record of an earlier installation by hand. Its program is oldProgram
    // (read-only, as the sequence leaves it); its data files were changed
    // by the user; its log also names a library this version no longer has.
    void setUpEarlierInstallation(const std::string& oldProgram, const std::wstring& oldLabel)
    {
        for (const std::wstring& folder :
             {installPath + L"\\Lang", commonData, userData, samples, startMenuFolder})
            std::filesystem::create_directories(folder);
        auto put = [](const std::wstring& path, const std::string& bytes) { test::writeFileBytes(path, bytes); };
        put(installPath + L"\\Trimora.exe", oldProgram);
        put(installPath + L"\\Uninstall.exe", "uninstaller old");
        put(installPath + L"\\Lang\\Trimora_en.dll", "english old");
        put(installPath + L"\\Lang\\Trimora_de.dll", "german old");
        put(installPath + L"\\Lang\\Trimora_it.dll", "italian old");
        put(commonData + L"\\Words_en.qwl", "words the user added to");
        put(userData + L"\\Personal.qwl", "the user's own words");
        put(samples + L"\\Welcome.qvn", "welcome old");
        ::SetFileAttributesW((installPath + L"\\Trimora.exe").c_str(), FILE_ATTRIBUTE_READONLY);
        ::SetFileAttributesW((installPath + L"\\Uninstall.exe").c_str(), FILE_ATTRIBUTE_READONLY);

        const std::wstring shortcutLine = L"// Shortcut Path : " + startMenuFolder;
        std::vector<std::wstring> lines = {
            L"// Uninstall Log File v1",
            L"// ############ WARNING: Do not delete or modify this file. ############",
            L"// Install " + oldLabel,
            L"// Install Path : " + installPath,
            shortcutLine,
            L"// " + std::wstring(shortcutLine.size() - 3, L'-'),
            L"0000:00ff:1 -- " + installPath,
            L"0001:0101:1 -- " + installPath + L"\\Trimora.exe",
            L"0002:0102:1 -- " + installPath + L"\\Uninstall.exe",
            L"0003:0100:1 -- " + installPath + L"\\Lang\\Trimora_en.dll",
            L"0004:0100:1 -- " + installPath + L"\\Lang\\Trimora_de.dll",
            L"0005:0100:1 -- " + installPath + L"\\Lang\\Trimora_it.dll",
            L"0006:0103:1 -- " + commonData + L"\\Words_en.qwl",
            L"0007:0103:1 -- " + userData + L"\\Personal.qwl",
            L"0008:0104:1 -- " + samples + L"\\Welcome.qvn",
            L"0009:05ff:1 -- HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvex 6",
        };
        std::wstring text(1, wchar_t(0xFEFF));
        for (const std::wstring& line : lines) text += line + L"\r\n";
        put(installPath + L"\\Uninstall.ulog",
            std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));

        UniqueKey key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(UninstallKeyPath) + L"Quorvex 6").c_str(), 0,
                                    nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        const std::wstring uninstaller = installPath + L"\\Uninstall.exe";
        ::RegSetValueExW(key.get(), L"UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(uninstaller.c_str()),
                         DWORD((uninstaller.size() + 1) * 2));
        ::RegSetValueExW(key.get(), L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(oldLabel.c_str()),
                         DWORD((oldLabel.size() + 1) * 2));
        const std::wstring extra = L"kept by the earlier version";
        ::RegSetValueExW(key.get(), L"EarlierOnly", 0, REG_SZ, reinterpret_cast<const BYTE*>(extra.c_str()),
                         DWORD((extra.size() + 1) * 2));
        UniqueKey maker;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, MakerKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    maker.put(), nullptr),
                  ERROR_SUCCESS);
        const std::wstring program = installPath + L"\\Trimora.exe";
        ::RegSetValueExW(maker.get(), L"Quorvex 6 Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(program.c_str()),
                         DWORD((program.size() + 1) * 2));
    }

    std::wstring recorded(const wchar_t* name) { return readValue(HKEY_CURRENT_USER, recordKey, name).text(); }
    DWORD recordedNumber(const wchar_t* name) { return readValue(HKEY_CURRENT_USER, recordKey, name).number(); }

    std::wstring mutexName;
    std::wstring installPath, startMenuFolder, commonData, userData, desktop, samples;
    std::string programBytes;
    std::vector<TestEntry> payload;
    RecordingDisplay display;
    InstallTarget target;
};

}  // namespace qv
