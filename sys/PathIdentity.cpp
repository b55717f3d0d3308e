#include "sys/PathIdentity.h"

#include <boost/filesystem.hpp>

#include <windows.h>

#include <vector>

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

bool sameIgnoringCase(const std::wstring& a, const std::wstring& b) noexcept
{
    if (a.size() != b.size()) return false;
    return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(),
                            static_cast<int>(a.size()), b.data(),
                            static_cast<int>(b.size())) == CSTR_EQUAL;
}

bool existsQuietly(const fs::path& path) noexcept
{
    boost::system::error_code error;
    return fs::exists(path, error) && !error;
}

}  // namespace

bool samePath(const std::wstring& a, const std::wstring& b) noexcept
{
    try {
        const fs::path pathA(a);
        const fs::path pathB(b);
        if (elements(pathA) == elements(pathB)) return true;

        // The library answers "different" without an error when only one of
        // them exists; only a test on two existing objects is conclusive.
        if (existsQuietly(pathA) && existsQuietly(pathB)) {
            boost::system::error_code error;
            const bool same = fs::equivalent(pathA, pathB, error);
            if (!error) return same;
        }

        const auto lexical = [](const fs::path& path) {
            fs::path full = fs::absolute(path);
            fs::path normal = full.lexically_normal();
            std::vector<std::wstring> result = elements(normal);
            // A trailing separator leaves a "." behind; the folder is the same.
            if (result.size() > 1 && (result.back() == L"." || result.back().empty()))
                result.pop_back();
            return result;
        };
        const std::vector<std::wstring> normalA = lexical(pathA);
        const std::vector<std::wstring> normalB = lexical(pathB);
        if (normalA.size() != normalB.size()) return false;
        for (std::size_t i = 0; i < normalA.size(); ++i)
            if (!sameIgnoringCase(normalA[i], normalB[i])) return false;
        return true;
    } catch (...) {
        // The current folder could not be read, or memory ran out: the paths
        // cannot be shown to be the same.
        return false;
    }
}

}  // namespace qv
