#pragma once
// formatText: the framework's numbered insertion markers %1 to %9.

#include <initializer_list>
#include <string>
#include <string_view>

namespace qv {

// Replaces every %1 ... %9 in the pattern by the argument of that number;
// a marker without argument, and every other "%", is left as it stands.
std::wstring formatText(std::wstring_view pattern, std::initializer_list<std::wstring_view> args);

}  // namespace qv
