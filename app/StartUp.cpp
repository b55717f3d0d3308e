#include "app/StartUp.h"

#include "app/CommonControls.h"
#include "app/ComError.h"
#include "app/ErrorMessages.h"
#include "app/InstallApp.h"
#include "app/InstanceObjects.h"
#include "app/Languages.h"
#include "app/LocalizedStrings.h"
#include "app/Product.h"
#include "framework/Dialog.h"
#include "framework/Format.h"
#include "resources/resource.h"
#include "sys/Handles.h"
#include "sys/Security.h"

#include <commctrl.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <locale>
#include <stdexcept>
#include <string>

namespace qv {
namespace {

constexpr wchar_t MakerFolderName[] = L"Orvane Systems";

[[noreturn]] void initializationFailed()
{
    ::MessageBoxW(nullptr, L"Initialization Error", nullptr,
                  MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
    ::ExitProcess(static_cast<UINT>(-11));
}

// One separator between the elements, whatever the first ends with.
std::wstring appendElement(std::wstring path, const std::wstring& element)
{
    if (path.empty()) return element;
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path + L'\\' + element;
}

std::wstring knownFolder(REFKNOWNFOLDERID id)
{
    UniqueCoTaskMem path;
    wchar_t* raw = nullptr;
    HRESULT hr = ::SHGetKnownFolderPath(id, 0, nullptr, &raw);
    path.reset(raw);
    if (FAILED(hr) || !raw) throw std::runtime_error("known folder");
    return raw;
}

// CSIDL folder as the system gives it, nothing created; empty on failure.
std::wstring specialFolder(int csidl)
{
    wchar_t buffer[MAX_PATH + 1] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))) return {};
    return buffer;
}

MakerFolders& folders()
{
    static MakerFolders found;
    return found;
}

}  // namespace

void restrictDllSearch() noexcept
{
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    // Windows 7 without its update KB2533623 lacks the call: there at least
    // the current folder leaves the search.
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) ::SetDllDirectoryW(L"");
}

std::wstring incompatibleProcessorText()
{
    return L"This Version is not compatible with your Configuration.\n\n"
           L"Cette version n'est pas compatible avec votre configuration.\n\n"
           L"Diese Version ist nicht mit Ihrer Konfiguration kompatibel.";
}

void checkProcessor(bool (*hasSse2)())
{
    const bool supported =
        hasSse2 ? hasSse2() : ::IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != FALSE;
    if (!supported) {
        ::MessageBoxW(nullptr, incompatibleProcessorText().c_str(), nullptr, MB_ICONERROR);
        ::ExitProcess(1);
    }
    processorChecked = true;
}

void initializeModule()
{
    static const bool done = [] {
        try {
            ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
            wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
            std::locale chosen = std::locale::classic();
            if (::GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH) > 0) {
                std::string narrow;
                for (const wchar_t* c = name; *c; ++c) narrow += static_cast<char>(*c & 0x7F);
                // mingw's runtime knows no named locale and throws: the
                // classic one stays.
                try {
                    chosen = std::locale(narrow.c_str());
                } catch (const std::runtime_error&) {
                }
            }
            std::locale::global(chosen);
        } catch (...) {
            initializationFailed();
        }
        return true;
    }();
    (void)done;
}

void initializeApplication()
{
    static const bool done = [] {
        initializeModule();
        try {
            MakerFolders& found = folders();
            found.commonData = appendElement(knownFolder(FOLDERID_ProgramData), MakerFolderName);
            found.userData = appendElement(knownFolder(FOLDERID_RoamingAppData), MakerFolderName);
            found.documents = knownFolder(FOLDERID_Documents);

            if (commonControlsVersion() < 0x60000) throw std::runtime_error("common controls");
            INITCOMMONCONTROLSEX classes{sizeof classes, 0xC0FF};
            if (!::InitCommonControlsEx(&classes)) throw std::runtime_error("common controls");

            applicationId() = determineApplicationId();
            InstanceCounter::forProcess(applicationId());
            setComErrorHandler(&throwComErrorAsSystemError);
        } catch (...) {
            initializationFailed();
        }
        return true;
    }();
    (void)done;
}

const MakerFolders& makerFolders()
{
    return folders();
}

std::wstring defaultInstallPath()
{
    std::wstring base = specialFolder(CSIDL_PROGRAM_FILES);
    if (base.empty()) {
        wchar_t windows[MAX_PATH + 1] = {};
        UINT n = ::GetSystemWindowsDirectoryW(windows, MAX_PATH + 1);
        base = (n >= 2 && n <= MAX_PATH && windows[1] == L':') ? std::wstring(windows, 2) + L"\\Program Files"
                                                               : L"C:\\Program Files";
    }
    return appendElement(appendElement(base, MakerFolderName), productFolderName());
}

std::wstring defaultStartMenuFolder()
{
    std::wstring base = specialFolder(CSIDL_COMMON_PROGRAMS);
    if (base.empty()) base = specialFolder(CSIDL_PROGRAMS);
    if (base.empty()) return {};
    return appendElement(appendElement(base, MakerFolderName), productFolderName());
}

bool startUp(CInstallApp& app, const StartUpSettings& settings)
{
    // 1-2: nothing runs on a processor that was not checked, nor beside
    // another installer.
    if (!processorChecked) {
        reportStartupError(static_cast<DWORD>(E_UNEXPECTED));
        return false;
    }
    if (!app.instanceMutex.tryAcquire()) {
        reportStartupError(ERROR_BUSY);
        return false;
    }
    // 3-5
    if (!app.CWinApp::InitInstance()) return false;
    chooseStartupLanguage();
    refreshAppTitle();

    // 6
    const bool administrator = settings.isAdministrator ? settings.isAdministrator() : isAdministrator();
    if (!administrator) {
        app.messageBox(loadLocalizedString(IDS_NEED_ADMIN), MB_ICONEXCLAMATION | MB_OK);
        return false;
    }
    // 7: the count includes this process.
    while (runningCount() > 1) {
        std::wstring text = formatText(loadLocalizedString(IDS_CLOSE_PRODUCT), {productLabel(true)});
        if (app.messageBox(text, MB_ICONEXCLAMATION | MB_RETRYCANCEL) != IDRETRY) return false;
    }

    // 8-9
    detectInstallation(app);
    if (app.installState == InstallState::SameVersion || app.installState == InstallState::OlderVersion) {
        std::wstring log = earlierLogPath();
        if (!log.empty()) {
            app.uninstallLog.read(log.c_str());
            app.installPath = app.uninstallLog.installFolder();
            app.startMenuFolder = app.uninstallLog.shortcutFolder();
        }
    } else {
        app.uninstallLog.read(nullptr);
    }

    // 10-12
    if (app.installPath.empty()) app.installPath = defaultInstallPath();
    if (app.startMenuFolder.empty()) app.startMenuFolder = defaultStartMenuFolder();
    // Without any Start-menu folder there is nowhere to put the shortcuts.
    app.createStartMenuShortcut = !app.startMenuFolder.empty();
    app.createDesktopShortcut = true;
    app.advancedMode = false;

    // 13
    if (settings.createWizardFrame) {
        std::unique_ptr<CDialog> frame = settings.createWizardFrame(app);
        if (frame) {
            app.setMainWnd(frame.get());
            frame->DoModal();
            app.setMainWnd(nullptr);
        }
    }
    return false;
}

}  // namespace qv
