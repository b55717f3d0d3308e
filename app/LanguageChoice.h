#pragma once
// Functions in this file:
//   chooseStartupLanguage   the language start-up makes current
//   onLanguageChosen        the start page's change of language

#include <cstdint>

namespace qv {

// Start-up: the user's language within the offered ones, then the language
// an earlier installation recorded in OvLanguage, then English when the
// installer has no texts of its own in the result.
void chooseStartupLanguage();

// The start page's language change: makes the index current, tells the user
// (message 1129) when the installer itself will go on in English, renews the
// application title and asks the main window to renew its texts.
void onLanguageChosen(std::uint32_t index);

}  // namespace qv
