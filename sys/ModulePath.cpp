#include "sys/ModulePath.h"

#include <vector>

namespace qv {

std::wstring modulePath(HMODULE module)
{
    // GetModuleFileNameW truncates silently when the buffer is too small.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD n = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring executableStem()
{
    const std::wstring path = modulePath();
    auto start = path.find_last_of(L"\\/");
    start = (start == std::wstring::npos) ? 0 : start + 1;
    auto dot = path.rfind(L'.');
    if (dot == std::wstring::npos || dot < start) dot = path.size();
    return path.substr(start, dot - start);
}

std::wstring systemFolder()
{
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

}  // namespace qv
