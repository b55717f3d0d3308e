#include "sys/Advapi.h"
#include "sys/ModulePath.h"

#include <string>

namespace qv::advapi {
namespace {

// Never from the application's or the current folder, where a planted copy
// could sit: only the system folder is searched.
HMODULE loadFromSystemFolder() noexcept
{
    if (HMODULE loaded = ::GetModuleHandleW(L"advapi32.dll")) return loaded;
    if (HMODULE m = ::LoadLibraryExW(L"advapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
        return m;
    // Windows 7 without the loader update refuses the search flag with
    // ERROR_INVALID_PARAMETER; name the file by its full path instead.
    const std::wstring folder = systemFolder();
    if (folder.empty()) return nullptr;
    const std::wstring path = folder + L"\\advapi32.dll";
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

HMODULE module() noexcept
{
    // Loaded once for the life of the process; never freed, as the bound
    // addresses point into it.
    static const HMODULE library = loadFromSystemFolder();
    return library;
}

FARPROC findProc(const char* name) noexcept
{
    HMODULE library = module();
    return library ? ::GetProcAddress(library, name) : nullptr;
}

}  // namespace qv::advapi
