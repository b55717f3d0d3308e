#include "product/common/DllSearch.h"

#include <windows.h>

namespace qv::product {

void restrictDllSearch() noexcept
{
    // Looked up, not imported: Windows 7 without update KB2533623 lacks the
    // call, and an import would keep the program from starting there.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) ::SetDllDirectoryW(L"");
}

}  // namespace qv::product
