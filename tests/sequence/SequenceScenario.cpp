#include "engine/Detection.h"
#include "SequenceScenario.h"

#include "identity/InstanceObjects.h"
#include "lang/Languages.h"
#include "identity/Product.h"
#include "support/TestFiles.h"

#include <windows.h>
#include <shlobj.h>

#include <filesystem>
#include <sstream>

namespace qv::test {
namespace {

constexpr wchar_t applicationIdForTests[] = L"Quorvex6";

}  // namespace

void SequenceScenario::SetUp()
{
    ::CoInitialize(nullptr);
    applicationId() = applicationIdForTests;
    setLanguage(EnglishLanguage);
    const std::wstring mutexName = L"Global\\" + instanceMutexName(applicationIdForTests);
    ::SetEnvironmentVariableW(L"QV_REGISTRAR_MUTEX", mutexName.c_str());
    ::SetEnvironmentVariableW(L"QV_REGISTRAR_EXIT", nullptr);

    installPath = shellFolder(CSIDL_PROGRAM_FILES) + L"\\Orvane Systems\\Trimora 6";
    startMenuFolder = shellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Trimora 6";
    commonData = shellFolder(CSIDL_COMMON_APPDATA) + L"\\Orvane Systems\\Quorvex";
    userData = shellFolder(CSIDL_APPDATA) + L"\\Orvane Systems\\Quorvex";
    samples = shellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Trimora Examples";
    const std::wstring registrar = std::filesystem::path(QV_REGISTRAR_EXE).make_preferred().wstring();
    payload = {
        {L"C:\\build\\Trimora.exe", L"<InstallPath>", readFileBytes(registrar), 1},
        {L"C:\\build\\Uninstall.exe", L"<InstallPath>", "uninstaller 6.4", 2},
        {L"C:\\build\\Lang\\Trimora_en.dll", L"<InstallPath>\\Lang", "english 6.4", 0},
        {L"C:\\build\\Lang\\Trimora_de.dll", L"<InstallPath>\\Lang", "german 6.4", 0},
        {L"C:\\build\\Data\\Words_en.qwl", L"<CommonData>\\Orvane Systems\\Quorvex", "words 6.4", 3},
        {L"C:\\build\\UserData\\Personal.qwl", L"<UserData>\\Orvane Systems\\Quorvex", "", 3},
        {L"C:\\build\\Samples\\Welcome.qvn", L"<SamplePath>", "welcome 6.4", 4},
    };
}

void SequenceScenario::TearDown()
{
    setLanguage(FrenchLanguage);
    ::CoUninitialize();
}

std::unique_ptr<InstallSession> SequenceScenario::startApp()
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

bool SequenceScenario::install(InstallSession& app, const std::vector<TestEntry>& entries)
{
    const std::string packed = bzip2(rawArchive(entries));
    InstallSequence sequence(app, display, target, [packed] { return std::make_unique<std::istringstream>(packed); });
    return sequence.run();
}

std::wstring SequenceScenario::copiedLine(const std::wstring& path)
{
    const std::wstring shown = path.find(L' ') == std::wstring::npos ? path : L"\"" + path + L"\"";
    return L"Copying File  " + shown + L"...OK";
}

std::wstring SequenceScenario::targetOf(std::size_t i) const
{
    const std::wstring name = std::filesystem::path(payload[i].source).filename().wstring();
    const std::wstring& destination = payload[i].destination;
    for (const auto& [macro, folder] : {std::pair<std::wstring, std::wstring>{L"<InstallPath>", installPath},
                                        {L"<CommonData>\\Orvane Systems\\Quorvex", commonData},
                                        {L"<UserData>\\Orvane Systems\\Quorvex", userData},
                                        {L"<SamplePath>", samples}})
        if (destination.rfind(macro, 0) == 0) return folder + destination.substr(macro.size()) + L"\\" + name;
    return {};
}

}  // namespace qv::test
