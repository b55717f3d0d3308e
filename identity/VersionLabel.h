#pragma once
// Functions in this file:
//   displayName    the product name of a version resource as the chosen
//                  language shows it
//   displayLabel   displayName, version and the marks of pre-release,
//                  private and debug builds
//
// Labels of this product line only: the name is localized for the codes of
// the Quorvex family.

#include "sys/VersionInfo.h"

#include <string>

namespace qv {

// The edition name that replaces the product name for German users when the
// installer's own SpecialBuild string carries it.
inline constexpr wchar_t GermanEditionName[] = L"Morvenda";

std::wstring displayName(const VersionInfo& info);
std::wstring displayLabel(const VersionInfo& info);

}  // namespace qv
