#include "sys/PathText.h"

#include <windows.h>

namespace qv {

namespace {

DWORD attributesOf(const std::wstring& path) noexcept
{
    return path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(path.c_str());
}

}  // namespace

bool pathExists(const std::wstring& path) noexcept
{
    return attributesOf(path) != INVALID_FILE_ATTRIBUTES;
}

bool isFolder(const std::wstring& path) noexcept
{
    const DWORD attributes = attributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isFile(const std::wstring& path) noexcept
{
    const DWORD attributes = attributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring parentOf(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring nameOf(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring appendElement(std::wstring path, const std::wstring& element)
{
    if (path.empty()) return element;
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path + L'\\' + element;
}

bool sameFileName(const std::wstring& a, const std::wstring& b) noexcept
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

std::wstring quotedPath(const std::wstring& path)
{
    return L"\"" + path + L"\"";
}

}  // namespace qv
