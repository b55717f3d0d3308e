#include "app/CommonControls.h"

#include "sys/Handles.h"

#include <shlwapi.h>

#include <cwctype>
#include <string>
#include <vector>

namespace qv {
namespace {

DWORD dllVersion(HMODULE comctl)
{
    auto get = reinterpret_cast<DLLGETVERSIONPROC>(
        reinterpret_cast<void*>(::GetProcAddress(comctl, "DllGetVersion")));
    if (!get) return 0;
    DLLVERSIONINFO info{};
    info.cbSize = sizeof info;
    if (FAILED(get(&info))) return 0;
    return (info.dwMajorVersion << 16) | (info.dwMinorVersion & 0xFFFF);
}

std::wstring lower(std::wstring text)
{
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// version="6.0.2600.2982" of an encoded assembly identity, as major << 16 | minor.
DWORD identityVersion(const std::wstring& identity)
{
    auto at = lower(identity).find(L"version=\"");
    if (at == std::wstring::npos) return 0;
    const wchar_t* p = identity.c_str() + at + 9;
    wchar_t* end = nullptr;
    unsigned long major = std::wcstoul(p, &end, 10);
    if (end == p || *end != L'.') return 0;
    p = end + 1;
    unsigned long minor = std::wcstoul(p, &end, 10);
    if (end == p || major > 0xFFFF || minor > 0xFFFF) return 0;
    return static_cast<DWORD>((major << 16) | minor);
}

// The version of the assembly that redirects comctl32.dll, when the module
// loaded under that name lies in the assembly's folder.
DWORD boundAssemblyVersion(HMODULE comctl)
{
    ACTCTX_SECTION_KEYED_DATA data{};
    data.cbSize = sizeof data;
    if (!::FindActCtxSectionStringW(FIND_ACTCTX_SECTION_KEY_RETURN_HACTCTX, nullptr,
                                    ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, L"comctl32.dll", &data))
        return 0;  // ERROR_SXS_KEY_NOT_FOUND (14007) without the manifest
    auto releaseContext = scopeExit([&] { ::ReleaseActCtx(data.hActCtx); });

    DWORD index = data.ulAssemblyRosterIndex;
    SIZE_T needed = 0;
    ::QueryActCtxW(0, data.hActCtx, &index, AssemblyDetailedInformationInActivationContext, nullptr, 0,
                   &needed);
    if (needed < sizeof(ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION)) return 0;
    std::vector<BYTE> buffer(needed);
    if (!::QueryActCtxW(0, data.hActCtx, &index, AssemblyDetailedInformationInActivationContext,
                        buffer.data(), buffer.size(), &needed))
        return 0;
    const auto* info = reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer.data());
    if (!info->lpAssemblyEncodedAssemblyIdentity || !info->lpAssemblyDirectoryName) return 0;
    const std::wstring identity = info->lpAssemblyEncodedAssemblyIdentity;
    if (lower(identity).find(L"microsoft.windows.common-controls") != 0) return 0;

    // The module must be the assembly's own, not a comctl32 found elsewhere.
    wchar_t path[MAX_PATH + 1] = {};
    DWORD length = ::GetModuleFileNameW(comctl, path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return 0;
    std::wstring folder = lower(std::wstring(path, length));
    folder.erase(folder.find_last_of(L'\\') == std::wstring::npos ? 0 : folder.find_last_of(L'\\'));
    std::wstring directory = lower(info->lpAssemblyDirectoryName);
    while (!directory.empty() && directory.back() == L'\\') directory.pop_back();
    if (directory.empty() || folder.size() < directory.size() ||
        folder.compare(folder.size() - directory.size(), directory.size(), directory) != 0)
        return 0;
    return identityVersion(identity);
}

}  // namespace

DWORD commonControlsVersion()
{
    HMODULE comctl = ::GetModuleHandleW(L"comctl32.dll");
    UniqueModule loaded;
    if (!comctl) {
        loaded.reset(::LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
        comctl = loaded.get();
    }
    if (!comctl) return 0;
    DWORD version = dllVersion(comctl);
    if (version < 0x60000) {
        DWORD bound = boundAssemblyVersion(comctl);
        if (bound > version) version = bound;
    }
    return version;
}

}  // namespace qv
