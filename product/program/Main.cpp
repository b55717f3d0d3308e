// Trimora, the notebook program of Quorvex 6.04.
//
//   Trimora.exe [notebook.qvn]        opens the window (and the notebook);
//       while an installer or the uninstaller runs it does not start: it
//       shows the system's text for ERROR_INSTALL_ALREADY_RUNNING (none with
//       /Background) and exits with that code, 1618.
//   Trimora.exe /Register [/Background] [/update=<16 hex digits>]
//       registers the .qvn document type; exit code -10 on success, else the
//       system error code (or 2 for a malformed argument). /update= keeps
//       the version the installation updated from (HKLM\Software\Orvane
//       Systems\Quorvex 6, UpdatedFrom). /Background shows no message.
//   Trimora.exe /Unregister [/Background]
//       removes what /Register wrote; exit code 0, else the system error code.

#include "identity/InstanceObjects.h"
#include "sys/ModulePath.h"
#include "product/common/DllSearch.h"
#include "product/common/ProductNames.h"
#include "product/common/ProductStrings.h"
#include "product/program/MainWindow.h"
#include "product/program/Registration.h"
#include "sys/PathText.h"
#include "sys/Handles.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cwctype>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace qv::product;

// The installer takes exactly this value for a successful registration run.
constexpr int kRegistered = -10;
constexpr int kBadArgument = 2;

struct Options {
    bool registering = false;
    bool unregistering = false;
    bool background = false;
    bool badArgument = false;
    std::optional<std::uint64_t> updatedFrom;
    std::wstring document;
};

bool equalsNoCase(const std::wstring& a, const wchar_t* b)
{
    return ::CompareStringOrdinal(a.c_str(), -1, b, -1, TRUE) == CSTR_EQUAL;
}

Options parse(const wchar_t* commandLine)
{
    Options o;
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(commandLine, &count);
    if (!argv) return o;
    const qv::UniqueLocal ownedArguments(argv);
    for (int i = 1; i < count; ++i) {
        std::wstring arg = argv[i];
        if (equalsNoCase(arg, L"/Register")) o.registering = true;
        else if (equalsNoCase(arg, L"/Unregister")) o.unregistering = true;
        else if (equalsNoCase(arg, L"/Background")) o.background = true;
        else if (arg.size() >= 8 && equalsNoCase(arg.substr(0, 8), L"/update=")) {
            o.updatedFrom = parseUpdateVersion(std::wstring_view(arg).substr(8));
            if (!o.updatedFrom) o.badArgument = true;
        } else if (!arg.empty() && arg[0] == L'/') o.badArgument = true;
        else if (o.document.empty()) o.document = arg;
    }
    return o;
}


void reportFailure(const Options& o, const ProductStrings& strings, LONG error)
{
    if (o.background) return;
    wchar_t* text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    const qv::UniqueLocal owned(text);
    std::wstring message = text ? text : L"Error " + std::to_wstring(error);
    ::MessageBoxW(nullptr, message.c_str(), strings.get(IDS_PRODUCT_NAME).c_str(), MB_OK | MB_ICONERROR);
}

int registration(const Options& o, const ProductStrings& strings, const std::wstring& program)
{
    if (o.badArgument || (o.registering && o.unregistering)) return kBadArgument;
    if (o.unregistering) {
        LONG rc = unregisterDocumentType();
        ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST | SHCNF_FLUSH, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) reportFailure(o, strings, rc);
        return rc;
    }
    LONG rc = registerDocumentType(program, strings.get(IDS_DOCUMENT_TYPE));
    if (rc == ERROR_SUCCESS && o.updatedFrom) rc = storeUpdatedFrom(*o.updatedFrom);
    if (rc != ERROR_SUCCESS) {
        reportFailure(o, strings, rc);
        return rc;
    }
    return kRegistered;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand)
{
    qv::product::restrictDllSearch();

    Options options = parse(::GetCommandLineW());
    std::wstring program = qv::modulePath();
    ProductStrings strings(qv::parentOf(program), installedLanguage());

    if (options.registering || options.unregistering) return registration(options, strings, program);
    if (options.badArgument) return kBadArgument;

    // One unit in the product line's count while the window is open: the
    // installer refuses to replace the program's files meanwhile.
    qv::InstanceCounter running(kApplicationId);
    // Counted first, then the installers' mutex looked at: an installer (and
    // the uninstaller) takes the mutex first, then reads the count, so of
    // the two starting together one always sees the other. The registration
    // runs above are made by the mutex's holder and do not look at it.
    if (qv::globalMutexHeldElsewhere(qv::instanceMutexName(kApplicationId))) {
        reportFailure(options, strings, ERROR_INSTALL_ALREADY_RUNNING);
        return ERROR_INSTALL_ALREADY_RUNNING;
    }

    MainWindow window(strings);
    if (!window.create(instance, showCommand)) return 1;
    if (!options.document.empty()) window.open(options.document);
    return window.run();
}
