#pragma once
// The installer's languages: the table of twenty languages by index (0
// French, 1 English, ...) and the process-wide language state. Start-up's
// choice and the start page's change are app/LanguageChoice.h.
//
// The index is the installer's language number everywhere (session, the
// OvLanguage registry value, string lookup). Operations taking an index
// expect 0 to 19 unless they say otherwise; callers check what they read
// from outside with isOfferedLanguage first.

#include <windows.h>

#include <cstdint>
#include <string>

namespace qv {

inline constexpr std::uint32_t LanguageCount = 20;
inline constexpr std::uint32_t FrenchLanguage = 0;
inline constexpr std::uint32_t EnglishLanguage = 1;
// Bit i for every index the start page offers and the registry may select.
inline constexpr std::uint32_t OfferedLanguages = 0x8CFBF;

struct LanguageState {
    std::uint32_t offeredMask = 1;    // languageFromUserLocale's mask when given none
    std::uint32_t languageIndex = 0;  // the current language
    LCID lcid = 0;                    // its locale identifier
    UINT codePage = 1252;             // its ANSI code page
    HMODULE resourceModule = nullptr; // where strings are looked up; null: the executable
    bool rightToLeft = false;         // written right to left
};

// The process's language state, set up at first use with French current.
LanguageState& currentLanguage();

// Makes the index current: locale, code page, writing direction; the next
// string lookup starts again from the executable's resources.
void setLanguage(std::uint32_t index);

// Makes the language's locale the C++ and C runtime locale for collation,
// character classes, money and time; numbers keep the classic conventions.
void applyLocale(std::uint32_t index);

// The index of the user's default language when its bit is set in the mask
// (0: the state's offeredMask), else English when the mask has it, else French.
std::uint32_t languageFromUserLocale(std::uint32_t mask = 0);

LANGID langIdOf(std::uint32_t index);
// Any value: true for the offered indexes only.
bool isOfferedLanguage(std::uint32_t index) noexcept;
// Any value: false for the languages whose texts the installer lacks; an
// index outside the table counts as translated.
bool hasInstallerTranslation(std::uint32_t index) noexcept;
bool isRightToLeft(std::uint32_t index);
// The index's locale identifier: the user's own when it has the index's
// language identifier, else the language identifier with the default sort.
LCID localeOf(std::uint32_t index);
// Locale name such as "fr-FR" (the user's own variant when the user's language
// is the same), or empty.
std::string localeNameOf(std::uint32_t index);
// The language's own name, first character in upper case ("Français"), or
// empty for a locale the system does not know.
std::wstring nativeLanguageName(std::uint32_t index);
// Offset of the language's block of strings from the French base identifiers.
std::uint32_t stringOffsetOf(std::uint32_t index);

}  // namespace qv
