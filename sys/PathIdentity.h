#pragma once
#include <string>

namespace qv {

// True when both paths name the same file or folder: equal element by element,
// or the same existing object, or - when that cannot be tested - equal after
// making both absolute and normalising them, ignoring letter case.
// Never throws.
bool samePath(const std::wstring& a, const std::wstring& b) noexcept;

}  // namespace qv
