#pragma once
// Classes in this file:
//   PathIdentity   what samePath compares, worked out once for one path
//   samePath       whether two paths name the same file or folder
//   resolvedPlainPath, isSameOrBelow  the lexical side: a path as Windows
//                  resolves it, and whether it lies in a folder
//   longPathOf     a path with its short (8.3) names spelled out

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qv {

// One path's spelling, its file identity when it exists and its absolute,
// normalised form. Comparing one path with many others this way asks the
// file system once per path instead of once per pair, which matters where
// every question is a system call (and under Wine a server round trip).
class PathIdentity {
public:
    explicit PathIdentity(const std::wstring& path) noexcept;

    // True when both name the same file or folder: equal element by element,
    // or the same existing object, or - when that cannot be tested - equal
    // after making both absolute and normalising them, ignoring letter case.
    bool sameAs(const PathIdentity& other) const noexcept;

private:
    struct FileId {
        std::uint32_t volume = 0;
        std::uint64_t index = 0;
        bool operator==(const FileId&) const = default;
    };

    std::vector<std::wstring> elements_;  // as spelled
    std::optional<FileId> file_;          // when the object exists and can be opened
    std::vector<std::wstring> normal_;    // absolute and lexically normal
    bool normalKnown_ = false;            // false when the current folder was unreadable
};

// PathIdentity(a).sameAs(PathIdentity(b)). Never throws.
bool samePath(const std::wstring& a, const std::wstring& b) noexcept;

// The path as Windows resolves it for an action ("." and ".." resolved,
// trailing dots and blanks dropped), when it is a plain absolute drive or
// network path without stream names; empty otherwise.
std::wstring resolvedPlainPath(const std::wstring& path);

// Whether inner is outer or lies below it, comparing whole elements and
// ignoring letter case. Both resolved first.
bool isSameOrBelow(const std::wstring& inner, const std::wstring& outer);

// The path with every short (8.3) name in it replaced by the long one, when
// it exists and fits in MAX_PATH; otherwise the path as given.
std::wstring longPathOf(const std::wstring& path);

}  // namespace qv
