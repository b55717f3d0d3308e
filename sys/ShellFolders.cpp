#include "sys/ShellFolders.h"

#include "sys/Handles.h"

namespace qv {

std::wstring specialFolder(int csidl, HWND owner)
{
    wchar_t folder[MAX_PATH + 1] = {};
    ::SHGetFolderPathW(owner, csidl, nullptr, SHGFP_TYPE_CURRENT, folder);
    folder[MAX_PATH] = L'\0';
    return folder;
}

std::wstring knownFolder(REFKNOWNFOLDERID id)
{
    UniqueCoTaskMem path;
    wchar_t* raw = nullptr;
    const HRESULT hr = ::SHGetKnownFolderPath(id, 0, nullptr, &raw);
    path.reset(raw);
    if (FAILED(hr) || !raw) return {};
    return raw;
}

}  // namespace qv
