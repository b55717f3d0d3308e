#pragma once
// Texts by base identifier (the French text's identifier, resources/resource.h)
// in the current language, with the fallback for untranslated ("#") texts.

#include <windows.h>

#include <string>

namespace qv {

// The identifier of the text to show for a base identifier: the current
// language's own, else the English one, else the French one. Languages
// without installer texts use English.
UINT localizedId(UINT baseId);

// The text of localizedId(baseId); empty when the resources lack it.
std::wstring loadLocalizedString(UINT baseId);

// The text of one resource identifier in the state's resource module; empty
// when absent.
std::wstring loadResourceString(UINT id);

}  // namespace qv
