#pragma once
// Functions in this file: path text and the plain questions about a name.
//   pathExists     something (file, folder or link) has the name
//   isFolder       a folder, or a link to one, has the name
//   isFile         something that is not a folder has the name
//   parentOf       the path without its last element
//   nameOf         the last element
//   appendElement  one separator between a folder and an element
//   sameFileName   equal as the file system compares names
//   quotedPath     a path in double quotes, one argument of a command line
//
// The questions look at the name once and follow nothing: they suit
// messages, plans and the folder pages. Whatever the installer then acts on
// goes through a handle it judged (sys/PathGuard.h).

#include <string>

namespace qv {

// False for an empty path.
bool pathExists(const std::wstring& path) noexcept;
bool isFolder(const std::wstring& path) noexcept;
bool isFile(const std::wstring& path) noexcept;

// The path without its last element (empty when it has one element only),
// and that last element: split at the last backslash or slash.
std::wstring parentOf(const std::wstring& path);
std::wstring nameOf(const std::wstring& path);

// The element after the path with one backslash between them, whatever
// separators the path ends with; the element alone for an empty path.
std::wstring appendElement(std::wstring path, const std::wstring& element);

// Equal ignoring letter case, as the file system compares names.
bool sameFileName(const std::wstring& a, const std::wstring& b) noexcept;

// "<path>": blanks in it stay inside one argument. A path holds no quote.
std::wstring quotedPath(const std::wstring& path);

}  // namespace qv
