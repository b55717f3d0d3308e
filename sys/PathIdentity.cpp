#include "sys/PathIdentity.h"

#include "sys/Handles.h"
#include "sys/PathGuard.h"

#include <boost/filesystem.hpp>

#include <windows.h>

namespace qv {
namespace fs = boost::filesystem;

namespace {

// The path's elements as the file system sees them: the root name with its
// separators in the preferred form, the root directory as one "\", then the
// names. "C:/A" and "C:\A" thus split alike.
std::vector<std::wstring> elements(const fs::path& path)
{
    std::vector<std::wstring> result;
    if (path.has_root_name()) {
        std::wstring root = path.root_name().native();
        for (wchar_t& c : root)
            if (c == L'/') c = L'\\';
        result.push_back(std::move(root));
    }
    if (path.has_root_directory()) result.push_back(L"\\");
    for (const fs::path& element : path.relative_path()) result.push_back(element.native());
    return result;
}

std::vector<std::wstring> normalElements(const fs::path& path)
{
    const fs::path normal = fs::absolute(path).lexically_normal();
    std::vector<std::wstring> result = elements(normal);
    // A trailing separator leaves a "." behind; the folder is the same.
    if (result.size() > 1 && (result.back() == L"." || result.back().empty())) result.pop_back();
    return result;
}

bool sameIgnoringCase(const std::wstring& a, const std::wstring& b) noexcept
{
    if (a.size() != b.size()) return false;
    return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(),
                            static_cast<int>(a.size()), b.data(),
                            static_cast<int>(b.size())) == CSTR_EQUAL;
}

}  // namespace

PathIdentity::PathIdentity(const std::wstring& path) noexcept
{
    try {
        const fs::path p(path);
        elements_ = elements(p);
        // Opening with no access rights reads the identity of files and
        // (with backup semantics) folders alike, whoever holds them open.
        if (!path.empty()) {
            UniqueFile handle(::CreateFileW(path.c_str(), 0,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
            BY_HANDLE_FILE_INFORMATION info;
            if (handle && ::GetFileInformationByHandle(handle.get(), &info))
                file_ = FileId{info.dwVolumeSerialNumber,
                               (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
        }
        normal_ = normalElements(p);
        normalKnown_ = true;
    } catch (...) {
        // The current folder could not be read, or memory ran out: only the
        // spelling and the identity can speak for this path.
    }
}

bool PathIdentity::sameAs(const PathIdentity& other) const noexcept
{
    if (elements_ == other.elements_) return true;
    // Only a test on two existing objects is conclusive.
    if (file_ && other.file_) return *file_ == *other.file_;
    if (!normalKnown_ || !other.normalKnown_ || normal_.size() != other.normal_.size()) return false;
    for (std::size_t i = 0; i < normal_.size(); ++i)
        if (!sameIgnoringCase(normal_[i], other.normal_[i])) return false;
    return true;
}

bool samePath(const std::wstring& a, const std::wstring& b) noexcept
{
    return PathIdentity(a).sameAs(PathIdentity(b));
}

std::wstring resolvedPlainPath(const std::wstring& path)
{
    // Only the forms the installer writes: "X:\..." and "\\server\share\...".
    const bool drive = path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/') &&
                       ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
    const bool network = path.size() > 2 && (path[0] == L'\\' || path[0] == L'/') &&
                         (path[1] == L'\\' || path[1] == L'/') && path[2] != L'?' && path[2] != L'.';
    if (!drive && !network) return {};
    if (path.find_first_of(L"*?\"<>|", 0) != std::wstring::npos) return {};
    if (path.find(L':', drive ? 2 : 0) != std::wstring::npos) return {};  // streams

    std::wstring full = fullPathOf(path);
    // Device names ("C:\x\CON") come back as "\\.\CON".
    if (full.empty() || full.compare(0, 4, L"\\\\.\\") == 0 || full.compare(0, 4, L"\\\\?\\") == 0) return {};
    if (full.find(L':', drive ? 2 : 0) != std::wstring::npos) return {};
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    return full;
}

bool isSameOrBelow(const std::wstring& inner, const std::wstring& outer)
{
    const std::wstring a = resolvedPlainPath(inner);
    std::wstring b = resolvedPlainPath(outer);
    if (a.empty() || b.empty() || a.size() < b.size()) return false;
    if (!sameFileName(a.substr(0, b.size()), b)) return false;
    return a.size() == b.size() || b.back() == L'\\' || a[b.size()] == L'\\';
}

std::wstring longPathOf(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetLongPathNameW(path.c_str(), buffer, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? path : std::wstring(buffer, length);
}

}  // namespace qv
