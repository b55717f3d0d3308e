// Uninstall.exe, the uninstaller of Quorvex 6.04 (Trimora).
//
//   Uninstall.exe [/S]
//       removes what Uninstall.ulog beside it lists, after asking; /S asks
//       and tells nothing (for administrators and scripts). Shared data
//       files stay. Exit code: 0 removed, 1 declined, 2 no readable log,
//       3 the product is running, 4 removed incompletely.
//   Uninstall.exe /cleanup:<handle> <uninstaller> [<folder>...]
//       internal: the temporary copy that deletes the uninstaller once it
//       has ended.

#include "framework/WinApp.h"  // modulePath
#include "product/common/DllSearch.h"
#include "product/uninstaller/Uninstaller.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {


}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    qv::product::restrictDllSearch();

    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::wstring> args;
    for (int i = 1; argv && i < count; ++i) args.emplace_back(argv[i]);
    if (argv) ::LocalFree(argv);

    const std::wstring cleanup = L"/cleanup:";
    if (!args.empty() && args[0].compare(0, cleanup.size(), cleanup) == 0) {
        auto handle = reinterpret_cast<HANDLE>(std::wcstoul(args[0].c_str() + cleanup.size(), nullptr, 10));
        return qv::product::runCleanup(handle, std::vector<std::wstring>(args.begin() + 1, args.end()));
    }

    bool silent = false;
    for (const std::wstring& a : args)
        if (::CompareStringOrdinal(a.c_str(), -1, L"/S", -1, TRUE) == CSTR_EQUAL) silent = true;

    qv::product::Uninstaller uninstaller(qv::modulePath(), silent);
    return static_cast<int>(uninstaller.run());
}
