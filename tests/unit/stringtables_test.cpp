#include "lang/Languages.h"
#include "lang/LocalizedStrings.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

using namespace qv;

// The string tables as this executable carries them (the same resource
// scripts as the installer's).

namespace {

const std::map<UINT, std::wstring> englishTexts = {
    {1000, L"Installer"},
    {1001, L"OK"},
    {1002, L"Cancel"},
    {1003, L"About '%1'"},
    {1004, L"Exit"},
    {1005, L"Back"},
    {1006, L"Next"},
    {1007, L"Install"},
    {1008, L"Browse..."},
    {1009, L"Start menu"},
    {1010, L"Installation Folder Selection"},
    {1011, L"OK"},
    {1012, L"Failed"},
    {1013, L"Uninstall %1"},
    {1014, L"Select Installation Langage"},
    {1015, L"Installation Method"},
    {1016, L"Quick Installation (Recommended)"},
    {1017, L"Advanced Installation"},
    {1018, L"%1 Examples"},
    {1100, L"'%1' Installation."},
    {1101, L"Update from '%1' to '%2'."},
    {1102, L"'%1' is already installed."},
    {1103, L"A more recent Version (%1) is already installed."},
    {1104, L"Do you confirm Reinstallation ?"},
    {1105, L"Click on '%1' to continue or on '%2' to exit Installation."},
    {1106, L"Click on '%1' to continue."},
    {1107, L"Click on '%1' to exit Installation."},
    {1108, L"Click on '%1' to start Installation."},
    {1110, L"Installation is not complete.\r\n\r\nDo you still confirm exit Installation ?"},
    {1111, L"Select '%1' Installation Folder."},
    {1112, L"Create a Shortcut in the following Menu:"},
    {1113, L"Create a Shortcut on the Desktop."},
    {1114, L"Preparing Installation..."},
    {1115, L"Copying File  %1..."},
    {1117, L"Shortcuts Creation..."},
    {1118, L"Registry Data Writing..."},
    {1119, L"Installation Data Writing..."},
    {1120, L"Installation is complete."},
    {1121, L"Installation failed (Error Code %1)."},
    {1122, L"Installation Options"},
    {1123, L"Installation Folder: %1."},
    {1124, L"Creating a Shortcut in the Start Menu (Folder %1)."},
    {1125, L"Creating a Shortcut on the Desktop."},
    {1126, L"You should have Administrator Rights in order to proceed to Installation."},
    {1127, L"You should close '%1' before continuing Installation."},
    {1129, L"'%1' will be installed in the selected Langage, but the Installer, still under translation,  shall run in "
           L"English."},
    {1133, L"An earlier Installation of '%1' did not end and cannot be completed yet. Restart Windows, then start Installation again."},
};

const std::map<UINT, std::wstring> frenchTexts = {
    {1000, L"Installeur"},
    {1001, L"OK"},
    {1002, L"Annuler"},
    {1003, L"\u00c0 propos de '%1'"},
    {1004, L"Quitter"},
    {1005, L"Pr\u00e9c\u00e9dent"},
    {1006, L"Suivant"},
    {1007, L"Installer"},
    {1008, L"Parcourir..."},
    {1009, L"Menu D\u00e9marrer"},
    {1010, L"S\u00e9lection du dossier d'installation"},
    {1011, L"OK"},
    {1012, L"\u00c9chec"},
    {1013, L"D\u00e9sinstaller %1"},
    {1014, L"S\u00e9lectionnez la langue d'installation"},
    {1015, L"M\u00e9thode d'installation"},
    {1016, L"Installation rapide (recommand\u00e9e)"},
    {1017, L"Installation personnalis\u00e9e"},
    {1018, L"Exemples %1"},
    {1100, L"Installation de '%1'."},
    {1101, L"Mise \u00e0 jour de '%1' vers '%2'."},
    {1102, L"'%1' est d\u00e9j\u00e0 install\u00e9."},
    {1103, L"Une version plus r\u00e9cente (%1) est d\u00e9j\u00e0 install\u00e9e."},
    {1104, L"Souhaitez-vous vraiment effectuer une r\u00e9installation ?"},
    {1105, L"Cliquez sur '%1' pour continuer ou sur '%2' pour quitter l'installeur."},
    {1106, L"Cliquez sur '%1' pour continuer."},
    {1107, L"Cliquez sur '%1' pour quitter l'installeur."},
    {1108, L"Cliquez sur '%1' pour d\u00e9marrer l'installation."},
    {1110, L"L'installation n'est pas achev\u00e9e.\r\n\r\n\u00cates-vous certain de vouloir quitter l'installeur ?"},
    {1111, L"S\u00e9lectionnez le dossier dans lequel vous voulez installer '%1'."},
    // French sets a no-break space (U+00A0) before a colon.
    {1112, L"Cr\u00e9er un raccourci dans le menu suivant\u00a0:"},
    {1113, L"Cr\u00e9er un raccourci sur le bureau."},
    {1114, L"Pr\u00e9paration de l'installation..."},
    {1115, L"Copie du fichier %1..."},
    {1117, L"Cr\u00e9ation des raccourcis..."},
    {1118, L"Inscription dans la base de registre..."},
    {1119, L"Enregistrement des informations d'installation..."},
    {1120, L"L'installation est termin\u00e9e."},
    {1121, L"\u00c9chec de l'installation (code d'erreur %1)."},
    {1122, L"Options d'installation"},
    {1123, L"Dossier d'installation\u00a0: %1."},
    {1124, L"Cr\u00e9ation d'un raccourci dans le menu D\u00e9marrer (dossier %1)."},
    {1125, L"Cr\u00e9ation d'un raccourci sur le bureau."},
    {1126, L"Vous devez disposer de privil\u00e8ges d'administrateur sur cet ordinateur pour pouvoir effectuer "
           L"l'installation."},
    {1127, L"Vous devez fermer '%1' avant de poursuivre l'installation."},
    {1129, L"'%1' sera install\u00e9 dans la langue choisie, mais l'installeur, en cours de traduction, "
           L"s'ex\u00e9cutera en fran\u00e7ais."},
    {1133, L"Une installation pr\u00e9c\u00e9dente de '%1' ne s'est pas termin\u00e9e et ne peut pas encore \u00eatre achev\u00e9e. Red\u00e9marrez Windows, puis relancez l'installation."},
};

std::multiset<std::wstring> markersOf(const std::wstring& text)
{
    static const std::wregex marker(L"'?%[0-9]'?");
    std::multiset<std::wstring> found;
    for (std::wsregex_iterator it(text.begin(), text.end(), marker), end; it != end; ++it) found.insert(it->str());
    return found;
}

TEST(StringTables, FrenchAndEnglishAreExact)
{
    setLanguage(0);
    for (const auto& [base, text] : frenchTexts) EXPECT_EQ(loadLocalizedString(base), text) << base;
    setLanguage(1);
    for (const auto& [base, text] : englishTexts) {
        EXPECT_EQ(localizedId(base), base + 1000) << base;
        EXPECT_EQ(loadLocalizedString(base), text) << base;
    }
}

// Every translated language shows its own text for every identifier, with
// the English text's markers (quoted where English quotes them), line
// breaks and trailing dots.
TEST(StringTables, EveryTranslatedLanguageHasEveryText)
{
    for (std::uint32_t language : {2u, 3u, 4u, 7u, 9u, 11u}) {
        setLanguage(language);
        for (const auto& [base, english] : englishTexts) {
            SCOPED_TRACE(::testing::Message() << "language " << language << ", base " << base);
            EXPECT_EQ(localizedId(base), base + stringOffsetOf(language));
            std::wstring text = loadLocalizedString(base);
            EXPECT_FALSE(text.empty());
            EXPECT_NE(text, L"#");
            EXPECT_EQ(markersOf(text), markersOf(english));
            EXPECT_EQ(text.find(L"\r\n\r\n") != std::wstring::npos, english.find(L"\r\n\r\n") != std::wstring::npos);
            auto endsWith = [](const std::wstring& s, const wchar_t* tail) {
                return s.size() >= std::wcslen(tail) && s.compare(s.size() - std::wcslen(tail), std::wstring::npos, tail) == 0;
            };
            EXPECT_EQ(endsWith(text, L"..."), endsWith(english, L"..."));
        }
    }
}

// The languages without installer texts: every identifier is present in
// their block, as a text or as "#", and the installer shows English.
TEST(StringTables, UntranslatedBlocksAreCompleteAndUnused)
{
    for (std::uint32_t language : {5u, 6u, 8u, 10u, 12u, 13u, 14u, 15u, 16u, 17u, 18u, 19u}) {
        setLanguage(language);
        for (const auto& [base, english] : englishTexts) {
            SCOPED_TRACE(::testing::Message() << "language " << language << ", base " << base);
            EXPECT_FALSE(loadResourceString(base + stringOffsetOf(language)).empty());
            EXPECT_EQ(loadLocalizedString(base), english);
        }
        EXPECT_NE(loadResourceString(IDS_APP_TITLE + stringOffsetOf(language)), L"#");
    }
}

TEST(StringTables, UnusedIdentifiersHaveNoText)
{
    for (std::uint32_t language = 0; language < LanguageCount; ++language)
        for (UINT base : {1109u, 1116u, 1128u, 1130u, 1131u, 1132u})
            EXPECT_EQ(loadResourceString(base + stringOffsetOf(language)), L"") << language << " " << base;
}

}  // namespace
