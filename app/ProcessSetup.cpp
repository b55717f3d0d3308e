#include "app/ProcessSetup.h"

#include "app/ComError.h"
#include "app/CommandLine.h"
#include "app/CommonControls.h"
#include "app/DefaultFolders.h"
#include "app/ExitCodes.h"
#include "identity/InstanceObjects.h"
#include "identity/Product.h"
#include "sys/InteractiveDesktop.h"
#include "sys/MessageBoxGate.h"
#include "sys/PathText.h"
#include "sys/ShellFolders.h"

#include <commctrl.h>
#include <knownfolders.h>

#include <locale>
#include <stdexcept>
#include <string>

namespace qv {

bool processorChecked = false;

namespace {

int answerNoFurther(const std::wstring&, UINT type)
{
    return declinedAnswer(type);
}

[[noreturn]] void initializationFailed()
{
    // A silent run ends with the code alone: nobody is there to answer.
    gatedMessageBox(nullptr, L"Initialization Error", {}, MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
    ::ExitProcess(static_cast<UINT>(-11));
}

// A known folder that start-up cannot do without.
std::wstring requiredKnownFolder(REFKNOWNFOLDERID id)
{
    std::wstring folder = knownFolder(id);
    if (folder.empty()) throw std::runtime_error("known folder");
    return folder;
}

}  // namespace

void keepBoxesOutOfSilentRun(bool (*hasDesktop)()) noexcept
{
    const bool desktop = hasDesktop ? hasDesktop() : hasInteractiveDesktop();
    if (askedForNoWindow() || !desktop) setMessageBoxStandIn(&answerNoFurther);
}

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
        gatedMessageBox(nullptr, incompatibleProcessorText(), {}, MB_ICONERROR);
        ::ExitProcess(ExitProcessorRefused);
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
            MakerFolders& found = detail::makerFoldersToFill();
            found.commonData = appendElement(requiredKnownFolder(FOLDERID_ProgramData), MakerFolderName);
            found.userData = appendElement(requiredKnownFolder(FOLDERID_RoamingAppData), MakerFolderName);
            found.documents = requiredKnownFolder(FOLDERID_Documents);

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

}  // namespace qv
