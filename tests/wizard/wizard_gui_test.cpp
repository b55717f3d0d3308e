// The real installer under Wine, driven through its windows from this
// process: pages, texts, buttons, languages, situations and the machine
// afterwards. Every scenario runs as its own CTest test in a fresh prefix.
// The installer's exit code is the framework's own (0 on every normal path):
// an Exit that asks nothing ends the process at once; the frame's result
// (1 installed, 2 not) is checked in process by wizard_frame_test.
#include "identity/PublisherContact.h"
#include "support/TestFiles.h"
#include "sys/Dpi.h"
#include "wizard/WizardDriver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include <shlobj.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace qv::test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

constexpr int Next = IDOK, Exit = IDCANCEL, Back = 3;
constexpr wchar_t UninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvex 6";
constexpr wchar_t MakerKey[] = L"Software\\Orvane Systems";
constexpr wchar_t RecordName[] = L"Quorvex 6 Path";

std::wstring folder(int csidl)
{
    wchar_t path[MAX_PATH]{};
    ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

bool exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring readString(const wchar_t* key, const wchar_t* name)
{
    wchar_t data[1024]{};
    DWORD size = sizeof data;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return {};
    return data;
}

void writeString(const wchar_t* key, const wchar_t* name, const std::wstring& value)
{
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, REG_SZ, value.c_str(),
                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void writeDword(const wchar_t* key, const wchar_t* name, DWORD value)
{
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, REG_DWORD, &value, sizeof value);
}

std::string shot(const std::string& language, WizardPage page)
{
    return std::string(QV_SCREENSHOT_DIR) + "/" + language + "/" + pageName(page) + ".png";
}

// A heading line: the text centred between runs of dashes.
void expectHeading(const std::wstring& line, const std::wstring& text)
{
    const std::wstring middle = L" " + text + L" ";
    const auto at = line.find(middle);
    ASSERT_NE(at, std::wstring::npos) << "heading: " << testing::PrintToString(line);
    const std::size_t left = at;
    const std::size_t right = line.size() - at - middle.size();
    EXPECT_EQ(line.find_first_not_of(L'-'), left);
    EXPECT_EQ(std::wstring(line, at + middle.size()).find_first_not_of(L'-'), std::wstring::npos);
    EXPECT_GT(left, 3u);
    EXPECT_TRUE(right == left || right == left + 1) << left << " " << right;
}

class Wizard : public ::testing::Test {
protected:
    const std::wstring installer = QV_INSTALLER_EXE;
    const std::wstring installFolder = folder(CSIDL_PROGRAM_FILES) + L"\\Orvane Systems\\Trimora 6";
    const std::wstring menuFolder = folder(CSIDL_COMMON_PROGRAMS) + L"\\Orvane Systems\\Trimora 6";

    void expectButtons(const WizardDriver& w, const wchar_t* next, bool nextOn, bool backOn, const wchar_t* exit)
    {
        ButtonState n = w.button(Next), b = w.button(Back), e = w.button(Exit);
        EXPECT_EQ(n.text, next);
        EXPECT_EQ(n.enabled, nextOn);
        EXPECT_EQ(b.text, L"<  Back");
        EXPECT_EQ(b.enabled, backOn);
        EXPECT_EQ(e.text, exit);
        EXPECT_TRUE(e.enabled);
        // The default button is Next while it is enabled, else Exit.
        EXPECT_EQ(n.isDefault, nextOn);
        EXPECT_EQ(e.isDefault, !nextOn);
    }

    // Runs Install on the install page and waits for its end.
    bool install(WizardDriver& w)
    {
        w.click(Next);
        return w.waitForStatus({L"Click on 'Next' to continue."}) ||
               (ADD_FAILURE() << "status: " << testing::PrintToString(w.text(1003)), false);
    }

    // A quick installation in English with the default choices, to the end.
    void quickInstallation()
    {
        WizardDriver w(installer);
        ASSERT_TRUE(w.frame());
        ASSERT_TRUE(w.next(WizardPage::Mode));
        ASSERT_TRUE(w.next(WizardPage::Install));
        ASSERT_TRUE(install(w));
        ASSERT_TRUE(w.next(WizardPage::End));
        w.click(Exit);
        ASSERT_EQ(w.waitExit(), 0u);
    }
};

TEST_F(Wizard, QuickInstallationInEnglish)
{
    WizardDriver w(installer);
    ASSERT_TRUE(w.frame()) << "no wizard window";
    EXPECT_EQ(w.caption(), L"Installer – Trimora 6.04");
    const WizardDriver::AboutBox about = w.about(QV_SCREENSHOT_DIR "/en/about.png");
    EXPECT_EQ(about.caption, L"About 'Installer'");
    EXPECT_EQ(about.ok, L"OK");
    EXPECT_FALSE(about.version.empty());
    // The publisher's contact, as the uninstall key gives it.
    EXPECT_THAT(about.statics, Contains(HasSubstr(qv::kPublisherTelephone)));
    EXPECT_THAT(about.statics, Contains(qv::kPublisherWebAddress));

    ASSERT_EQ(w.page(), WizardPage::Start);
    EXPECT_EQ(w.text(1016), L"'Trimora 6.04' Installation.");
    EXPECT_EQ(w.text(1003), L"Click on 'Next' to continue.");
    EXPECT_EQ(w.text(1022), L"Select Installation Langage");
    EXPECT_EQ(w.selectedLanguage(), L"English");
    expectButtons(w, L"Next  >", true, false, L"Cancel");
    EXPECT_TRUE(w.screenshot(shot("en", WizardPage::Start)));

    ASSERT_TRUE(w.next(WizardPage::Mode));
    EXPECT_EQ(w.text(1021), L"Installation Method");
    EXPECT_EQ(w.text(1018), L"Quick Installation (Recommended)");
    EXPECT_EQ(w.text(1019), L"Advanced Installation");
    EXPECT_EQ(::SendMessageW(w.control(1018), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(w.text(1003), L"Click on 'Next' to continue.");
    expectButtons(w, L"Next  >", true, true, L"Cancel");
    EXPECT_TRUE(w.screenshot(shot("en", WizardPage::Mode)));

    // Quick: Path and Shortcut are skipped both ways.
    ASSERT_TRUE(w.next(WizardPage::Install));
    ASSERT_TRUE(w.back(WizardPage::Mode));
    ASSERT_TRUE(w.next(WizardPage::Install));
    EXPECT_EQ(w.text(1003), L"Click on 'Install' to start Installation.");
    expectButtons(w, L"Install", true, true, L"Cancel");
    EXPECT_FALSE(::IsWindowVisible(w.control(1014)));
    const std::vector<std::wstring> summary = w.logLines();
    ASSERT_EQ(summary.size(), 5u) << testing::PrintToString(summary);
    EXPECT_EQ(summary[0], L"'Trimora 6.04' Installation.");
    expectHeading(summary[1], L"Installation Options");
    EXPECT_EQ(summary[2], L"Installation Folder: \"" + installFolder + L"\".");
    EXPECT_EQ(summary[3], L"Creating a Shortcut in the Start Menu (Folder \"" + menuFolder + L"\").");
    EXPECT_EQ(summary[4], L"Creating a Shortcut on the Desktop.");
    EXPECT_EQ(::SendMessageW(w.control(1015), EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    EXPECT_TRUE(w.screenshot(shot("en", WizardPage::Install)));

    ASSERT_TRUE(install(w));
    EXPECT_EQ(w.page(), WizardPage::Install);
    expectButtons(w, L"Next  >", true, false, L"Exit");
    EXPECT_TRUE(::IsWindowVisible(w.control(1014)));
    EXPECT_EQ(::SendMessageW(w.control(1014), PBM_GETPOS, 0, 0), 100);
    const std::vector<std::wstring> log = w.logLines();
    EXPECT_THAT(log, Contains(L"Preparing Installation...OK"));
    EXPECT_THAT(log, Contains(L"Copying File  \"" + installFolder + L"\\Trimora.exe\"...OK"));
    EXPECT_THAT(log, Contains(L"Shortcuts Creation...OK"));
    // The product's own program registers itself and exits with -10.
    EXPECT_THAT(log, Contains(L"Registry Data Writing...OK"));
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::wstring& line) { return line.starts_with(L"Copying File  "); }),
              27);
    EXPECT_THAT(log, Contains(L"Installation Data Writing...OK"));
    EXPECT_TRUE(w.screenshot("" QV_SCREENSHOT_DIR "/en/install-done.png"));

    ASSERT_TRUE(w.next(WizardPage::End));
    EXPECT_EQ(w.text(1016), L"Installation is complete.");
    EXPECT_EQ(w.text(1003), L"Click on 'Exit' to exit Installation.");
    expectButtons(w, L"Next  >", false, true, L"Exit");
    EXPECT_TRUE(w.screenshot(shot("en", WizardPage::End)));
    // Back shows the install page with its log; Next leads to the end again.
    ASSERT_TRUE(w.back(WizardPage::Install));
    EXPECT_EQ(w.logLines(), log);
    ASSERT_TRUE(w.next(WizardPage::End));

    w.click(Exit);
    EXPECT_EQ(w.waitExit(), 0u);
    EXPECT_EQ(w.findBox(), nullptr);

    EXPECT_FALSE(readString(UninstallKey, L"DisplayName").empty());
    EXPECT_EQ(readString(MakerKey, RecordName), installFolder + L"\\Trimora.exe");
    EXPECT_TRUE(exists(installFolder + L"\\Trimora.exe"));
    EXPECT_TRUE(exists(installFolder + L"\\Uninstall.exe"));
    EXPECT_TRUE(exists(installFolder + L"\\Uninstall.ulog"));
    EXPECT_TRUE(exists(menuFolder + L"\\Trimora 6.04.lnk"));
    EXPECT_TRUE(exists(menuFolder + L"\\Uninstall Trimora.lnk"));
    EXPECT_TRUE(exists(folder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Trimora 6.04.lnk"));
}

TEST_F(Wizard, AdvancedInstallationTypedFolderWithoutStartMenu)
{
    WizardDriver w(installer);
    ASSERT_TRUE(w.frame());
    ASSERT_TRUE(w.next(WizardPage::Mode));
    w.click(1019);
    ASSERT_TRUE(w.next(WizardPage::Path));
    EXPECT_EQ(w.text(1008), L"Installation Folder Selection");
    EXPECT_EQ(w.text(1009), L"Select 'Trimora' Installation Folder.");
    EXPECT_EQ(w.text(1007), installFolder);
    EXPECT_EQ(w.text(1006), L"Browse...");
    EXPECT_TRUE(w.enabled(1006));
    expectButtons(w, L"Next  >", true, true, L"Cancel");
    EXPECT_TRUE(w.screenshot(shot("en", WizardPage::Path)));
    const std::wstring typed = L"C:\\Custom Apps\\Trimora";
    w.setText(1007, typed);

    ASSERT_TRUE(w.next(WizardPage::Shortcut));
    EXPECT_EQ(w.text(1012), L"Start menu");
    EXPECT_EQ(w.text(1011), L"Create a Shortcut in the following Menu:");
    EXPECT_EQ(w.text(1010), L"Create a Shortcut on the Desktop.");
    EXPECT_EQ(w.text(1007), L"Programs\\Orvane Systems\\Trimora 6");
    EXPECT_EQ(::GetWindowLongW(w.control(1007), GWL_STYLE) & ES_READONLY, ES_READONLY);
    EXPECT_TRUE(w.screenshot(shot("en", WizardPage::Shortcut)));
    w.setCheck(1011, false);
    // Without the shortcut its folder cannot be chosen, but it is kept.
    EXPECT_FALSE(w.enabled(1007));
    EXPECT_FALSE(w.enabled(1006));
    EXPECT_EQ(w.text(1007), L"Programs\\Orvane Systems\\Trimora 6");

    ASSERT_TRUE(w.next(WizardPage::Install));
    // Every page back to the start and forth again keeps the choices.
    for (WizardPage p : {WizardPage::Shortcut, WizardPage::Path, WizardPage::Mode, WizardPage::Start})
        ASSERT_TRUE(w.back(p)) << pageName(p);
    for (WizardPage p : {WizardPage::Mode, WizardPage::Path, WizardPage::Shortcut, WizardPage::Install})
        ASSERT_TRUE(w.next(p)) << pageName(p);
    const std::vector<std::wstring> summary = w.logLines();
    ASSERT_EQ(summary.size(), 4u) << testing::PrintToString(summary);
    EXPECT_EQ(summary[2], L"Installation Folder: \"" + typed + L"\".");
    EXPECT_EQ(summary[3], L"Creating a Shortcut on the Desktop.");

    ASSERT_TRUE(install(w));
    ASSERT_TRUE(w.next(WizardPage::End));
    w.click(Exit);
    EXPECT_EQ(w.waitExit(), 0u);
    EXPECT_TRUE(exists(typed + L"\\Trimora.exe"));
    EXPECT_FALSE(exists(installFolder));
    EXPECT_FALSE(exists(menuFolder + L"\\Trimora 6.04.lnk"));
    EXPECT_TRUE(exists(folder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Trimora 6.04.lnk"));
}

// Runs with LANG=fr_FR.UTF-8: every page in French, screenshots of each.
TEST_F(Wizard, FrenchUser)
{
    WizardDriver w(installer);
    ASSERT_TRUE(w.frame());
    EXPECT_EQ(w.caption(), L"Installeur – Quorvex 6.04");
    EXPECT_EQ(w.text(1016), L"Installation de 'Quorvex 6.04'.");
    EXPECT_EQ(w.text(1003), L"Cliquez sur 'Suivant' pour continuer.");
    EXPECT_EQ(w.text(1022), L"Sélectionnez la langue d'installation");
    EXPECT_EQ(w.button(Next).text, L"Suivant  >");
    EXPECT_EQ(w.button(Back).text, L"<  Précédent");
    EXPECT_EQ(w.button(Exit).text, L"Annuler");
    EXPECT_TRUE(w.screenshot(shot("fr", WizardPage::Start)));
    ASSERT_TRUE(w.next(WizardPage::Mode));
    EXPECT_EQ(w.text(1018), L"Installation rapide (recommandée)");
    w.click(1019);
    EXPECT_TRUE(w.screenshot(shot("fr", WizardPage::Mode)));
    ASSERT_TRUE(w.next(WizardPage::Path));
    const std::wstring frenchFolder = folder(CSIDL_PROGRAM_FILES) + L"\\Orvane Systems\\Quorvex 6";
    EXPECT_EQ(w.text(1007), frenchFolder);
    EXPECT_EQ(w.text(1008), L"Sélection du dossier d'installation");
    EXPECT_TRUE(w.screenshot(shot("fr", WizardPage::Path)));
    ASSERT_TRUE(w.next(WizardPage::Shortcut));
    EXPECT_EQ(w.text(1007), L"Programs\\Orvane Systems\\Quorvex 6");
    EXPECT_EQ(w.text(1011), L"Cr\u00e9er un raccourci dans le menu suivant\u00a0:");
    EXPECT_TRUE(w.screenshot(shot("fr", WizardPage::Shortcut)));
    ASSERT_TRUE(w.next(WizardPage::Install));
    EXPECT_EQ(w.button(Next).text, L"Installer");
    EXPECT_EQ(w.text(1003), L"Cliquez sur 'Installer' pour démarrer l'installation.");
    const std::vector<std::wstring> summary = w.logLines();
    ASSERT_EQ(summary.size(), 5u);
    expectHeading(summary[1], L"Options d'installation");
    EXPECT_EQ(summary[2], L"Dossier d'installation\u00a0: \"" + frenchFolder + L"\".");
    EXPECT_TRUE(w.screenshot(shot("fr", WizardPage::Install)));
    w.click(Next);
    ASSERT_TRUE(w.waitForStatus({L"Cliquez sur 'Suivant' pour continuer."}));
    EXPECT_TRUE(w.screenshot("" QV_SCREENSHOT_DIR "/fr/install-done.png"));
    ASSERT_TRUE(w.next(WizardPage::End));
    EXPECT_EQ(w.text(1016), L"L'installation est terminée.");
    EXPECT_EQ(w.button(Exit).text, L"Quitter");
    EXPECT_TRUE(w.screenshot(shot("fr", WizardPage::End)));
    w.click(Exit);
    EXPECT_EQ(w.waitExit(), 0u);
    EXPECT_TRUE(exists(frenchFolder + L"\\Trimora.exe"));
    // The language is recorded for the next run.
    DWORD language = 99, size = sizeof language;
    EXPECT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, UninstallKey, L"OvLanguage", RRF_RT_DWORD, nullptr, &language,
                             &size),
              ERROR_SUCCESS);
    EXPECT_EQ(language, 0u);
}

TEST_F(Wizard, LanguageChangeRelabelsEverythingAtOnce)
{
    WizardDriver w(installer);
    ASSERT_TRUE(w.frame());
    HWND list = w.control(1023);
    ASSERT_EQ(::SendMessageW(list, CB_GETCOUNT, 0, 0), 14);
    // The fourteen languages in the list's order, each with its flag.
    const wchar_t* names[] = {L"Français", L"English", L"Deutsch", L"Español", L"Italiano", L"Português",
                              L"Nederlands", L"Polski", L"Ελληνικά", L"Türkçe", L"Български", L"Română"};
    for (int i = 0; i < 12; ++i) {
        wchar_t text[257]{};
        ::SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        EXPECT_EQ(std::wstring(text), names[i]) << i;
    }

    w.selectLanguage(2);  // German
    for (DWORD waited = 0; waited < 10000 && w.button(Exit).text != L"Abbrechen"; waited += 20) ::Sleep(20);
    EXPECT_EQ(w.caption(), L"Installationsprogramm – Trimora 6.04");
    EXPECT_EQ(w.about().caption, L"Info über 'Installationsprogramm'");
    EXPECT_EQ(w.button(Next).text, L"Weiter  >");
    EXPECT_EQ(w.button(Back).text, L"<  Zurück");
    EXPECT_EQ(w.button(Exit).text, L"Abbrechen");
    EXPECT_EQ(w.text(1016), L"Installation von 'Trimora 6.04'.");
    EXPECT_EQ(w.text(1003), L"Klicken Sie auf 'Weiter', um fortzufahren.");
    EXPECT_EQ(w.text(1022), L"Wählen Sie die Installationssprache");
    EXPECT_EQ(::SendMessageW(list, CB_GETCURSEL, 0, 0), 2);
    EXPECT_TRUE(w.screenshot(shot("de", WizardPage::Start)));
    ASSERT_TRUE(w.next(WizardPage::Mode));
    EXPECT_EQ(w.text(1021), L"Installationsart");
    EXPECT_TRUE(w.screenshot(shot("de", WizardPage::Mode)));
    ASSERT_TRUE(w.back(WizardPage::Start));

    w.selectLanguage(7);  // Polish: the installer has no texts of its own
    HWND box = w.waitForBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(messageBoxText(box),
              L"'Trimora' will be installed in the selected Langage, but the Installer, still under translation,  "
              L"shall run in English.");
    w.answer(box, IDOK);
    for (DWORD waited = 0; waited < 10000 && w.button(Exit).text != L"Cancel"; waited += 20) ::Sleep(20);
    EXPECT_EQ(w.caption(), L"Installer – Trimora 6.04");
    EXPECT_EQ(w.button(Exit).text, L"Cancel");
    EXPECT_EQ(w.text(1016), L"'Trimora 6.04' Installation.");
    EXPECT_EQ(::SendMessageW(list, CB_GETCURSEL, 0, 0), 7);
    w.click(Exit);
    if (HWND question = w.waitForBox()) w.answer(question, IDYES);
    EXPECT_EQ(w.waitExit(), 0u);
}

TEST_F(Wizard, EarlierInstallationLanguageIsPreselected)
{
    writeDword(UninstallKey, L"OvLanguage", 9);  // Romanian
    WizardDriver w(installer);
    ASSERT_TRUE(w.frame());
    EXPECT_EQ(::SendMessageW(w.control(1023), CB_GETCURSEL, 0, 0), 11);
    EXPECT_EQ(w.selectedLanguage(), L"Română");
    EXPECT_NE(w.button(Exit).text, L"Cancel");
}

TEST_F(Wizard, ExitQuestionNoKeepsTheWizard)
{
    WizardDriver w(installer);
    ASSERT_TRUE(w.frame());
    w.click(Exit);
    HWND box = w.waitForBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(messageBoxText(box), L"Installation is not complete.\r\n\r\nDo you still confirm exit Installation ?");
    EXPECT_EQ(windowText(box), L"Installer – Trimora 6.04");
    EXPECT_THAT(messageBoxButtons(box), ::testing::UnorderedElementsAre(IDYES, IDNO));
    w.answer(box, IDNO);
    EXPECT_EQ(w.page(), WizardPage::Start);
    ASSERT_TRUE(w.next(WizardPage::Mode));
    w.click(Exit);
    box = w.waitForBox();
    ASSERT_TRUE(box);
    w.answer(box, IDNO);
    EXPECT_EQ(w.page(), WizardPage::Mode);
    EXPECT_EQ(w.process().wait(0), STILL_ACTIVE);
    w.click(Exit);
    box = w.waitForBox();
    ASSERT_TRUE(box);
    w.answer(box, IDYES);
    EXPECT_EQ(w.waitExit(), 0u);
}

TEST_F(Wizard, SameVersionInstalled)
{
    ASSERT_NO_FATAL_FAILURE(quickInstallation());
    WizardDriver w(installer);
    ASSERT_TRUE(w.frame());
    EXPECT_EQ(w.text(1016), L"'Trimora 6.04' is already installed.\r\nDo you confirm Reinstallation ?");
    EXPECT_EQ(w.text(1003), L"Click on 'Next' to continue or on 'Cancel' to exit Installation.");
    EXPECT_TRUE(w.screenshot("" QV_SCREENSHOT_DIR "/en/start-same-version.png"));
    // The Path page shows the installed folder, read-only.
    ASSERT_TRUE(w.next(WizardPage::Mode));
    w.click(1019);
    ASSERT_TRUE(w.next(WizardPage::Path));
    EXPECT_EQ(w.text(1007), installFolder);
    EXPECT_EQ(::GetWindowLongW(w.control(1007), GWL_STYLE) & ES_READONLY, ES_READONLY);
    EXPECT_FALSE(w.enabled(1006));
    EXPECT_FALSE(w.enabled(1009));
    // On the Mode page Exit asks; on the start page it does not.
    ASSERT_TRUE(w.back(WizardPage::Mode));
    w.click(Exit);
    HWND box = w.waitForBox();
    ASSERT_TRUE(box);
    w.answer(box, IDNO);
    ASSERT_TRUE(w.back(WizardPage::Start));
    w.click(Exit);
    EXPECT_EQ(w.waitExit(), 0u);
}

TEST_F(Wizard, OlderVersionInstalled)
{
    writeString(MakerKey, RecordName, QV_OLD_PROGRAM_EXE);
    WizardDriver w(installer);
    ASSERT_TRUE(w.frame());
    EXPECT_EQ(w.text(1016), L"Update from 'Trimora 6.03' to 'Trimora 6.04'.");
    EXPECT_EQ(w.text(1003), L"Click on 'Next' to continue.");
    EXPECT_TRUE(w.button(Next).enabled);
    w.click(Exit);
    HWND box = w.waitForBox();
    ASSERT_TRUE(box);
    w.answer(box, IDYES);
    EXPECT_EQ(w.waitExit(), 0u);
}

TEST_F(Wizard, NewerVersionInstalled)
{
    writeString(MakerKey, RecordName, QV_NEW_PROGRAM_EXE);
    WizardDriver w(installer);
    ASSERT_TRUE(w.frame());
    EXPECT_EQ(w.text(1016), L"'Trimora 6.04' Installation.\r\nA more recent Version (Trimora 6.05) is already installed.");
    EXPECT_EQ(w.text(1003), L"Click on 'Cancel' to exit Installation.");
    expectButtons(w, L"Next  >", false, false, L"Cancel");
    EXPECT_TRUE(w.screenshot("" QV_SCREENSHOT_DIR "/en/start-newer-version.png"));
    w.click(Exit);
    EXPECT_EQ(w.waitExit(), 0u);
}

// A folder where a language library is to go: the installation fails on it
// and leaves it as it was; once the user has moved it away, Install runs
// the installation again and its lines follow the failed run's.
TEST_F(Wizard, FolderInTheWayFailsThenInstallAgainRunsAgain)
{
    const std::wstring inTheWay = installFolder + L"\\Lang\\Trimora_de.dll";
    ASSERT_TRUE(std::filesystem::create_directories(inTheWay));
    {
        std::ofstream notes(std::filesystem::path(inTheWay + L"\\notes.txt"));
        notes << "the owner's notes";
    }
    WizardDriver w(installer);
    ASSERT_TRUE(w.frame());
    ASSERT_TRUE(w.next(WizardPage::Mode));
    ASSERT_TRUE(w.next(WizardPage::Install));
    w.click(Next);
    ASSERT_TRUE(w.waitForStatus({L"Installation failed (Error Code 1:00000005)."}))
        << testing::PrintToString(w.text(1003));
    expectButtons(w, L"Install", true, true, L"Cancel");
    const std::vector<std::wstring> failed = w.logLines();
    ASSERT_FALSE(failed.empty());
    EXPECT_EQ(failed.back(), L"Copying File  \"" + inTheWay + L"\"...Failed");
    EXPECT_TRUE(exists(inTheWay + L"\\notes.txt"));
    EXPECT_FALSE(exists(installFolder + L"\\Trimora.exe"));

    std::filesystem::remove_all(inTheWay);
    ASSERT_TRUE(install(w));
    const std::vector<std::wstring> log = w.logLines();
    ASSERT_GT(log.size(), failed.size());
    EXPECT_TRUE(std::equal(failed.begin(), failed.end(), log.begin())) << "the failed run's lines stay first";
    const std::vector<std::wstring> again(log.begin() + static_cast<std::ptrdiff_t>(failed.size()), log.end());
    ASSERT_GE(again.size(), 2u);
    EXPECT_EQ(again[0].find_first_not_of(L'-'), std::wstring::npos) << "a separator line";
    EXPECT_EQ(again[1], L"Preparing Installation...OK");
    EXPECT_EQ(std::count_if(again.begin(), again.end(),
                            [](const std::wstring& line) { return line.starts_with(L"Copying File  "); }),
              27);
    EXPECT_EQ(again.back(), L"Installation Data Writing...OK");
    ASSERT_TRUE(w.next(WizardPage::End));
    w.click(Exit);
    EXPECT_EQ(w.waitExit(), 0u);
}

// The installer with a byte of its payload changed: the verification pass
// fails before anything is written.
TEST_F(Wizard, DamagedPayloadFailsAndOffersInstallAgain)
{
    std::ifstream in(installer.c_str(), std::ios::binary);
    ASSERT_TRUE(in) << "cannot read the installer";
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string magic = "BZh91AY&SY";
    const auto at = bytes.find(magic);
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(bytes.find(magic, at + 1), std::string::npos);
    bytes[at + 200] ^= 0x5A;
    wchar_t temp[MAX_PATH]{};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring damaged = std::wstring(temp) + L"InstallDamaged.exe";
    {
        std::ofstream out(damaged.c_str(), std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    WizardDriver w(damaged);
    ASSERT_TRUE(w.frame());
    ASSERT_TRUE(w.next(WizardPage::Mode));
    ASSERT_TRUE(w.next(WizardPage::Install));
    w.click(Next);
    ASSERT_TRUE(w.waitForStatus({L"Installation failed (Error Code 4)."}));
    expectButtons(w, L"Install", true, true, L"Cancel");
    EXPECT_THAT(w.logLines(), Contains(L"Preparing Installation...Failed"));
    EXPECT_TRUE(w.screenshot("" QV_SCREENSHOT_DIR "/en/install-failed.png"));
    // Back and forth again: the summary again, the failure still in the status.
    ASSERT_TRUE(w.back(WizardPage::Mode));
    ASSERT_TRUE(w.next(WizardPage::Install));
    EXPECT_EQ(w.logLines().size(), 5u);
    EXPECT_EQ(w.text(1003), L"Installation failed (Error Code 4).");
    EXPECT_FALSE(exists(installFolder));
    w.click(Exit);
    HWND box = w.waitForBox();
    ASSERT_TRUE(box);
    w.answer(box, IDYES);
    EXPECT_EQ(w.waitExit(), 0u);
}

// Every page and the About box of the installer at the screen's DPI (CTest
// runs it at 96, 144 and 192 DPI, in English and in French): an advanced
// installation to its end, a screenshot of each on the way, in
// screenshots/dpi<DPI>/<language>/. The installer is per-monitor aware by
// its manifest, its frame lies on the screen and its side picture has the
// DPI's size.
TEST_F(Wizard, EveryPageAtTheScreensDpi)
{
    const bool french = PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_FRENCH;
    WizardDriver w(installer);
    ASSERT_TRUE(w.frame());
    const UINT dpi = qv::windowDpi(w.frame());
    if (const char* prefixDpi = std::getenv("QV_WINE_DPI")) EXPECT_EQ(dpi, std::stoul(prefixDpi));
    EXPECT_EQ(dpiAwareness(w.frame()), perMonitorAwareByManifest());
    const std::string folder =
        std::string(QV_SCREENSHOT_DIR) + "/dpi" + std::to_string(dpi) + "/" + (french ? "fr" : "en") + "/";

    RECT frame{}, desktop{};
    ::GetWindowRect(w.frame(), &frame);
    ::GetWindowRect(::GetDesktopWindow(), &desktop);
    EXPECT_TRUE(frame.left >= desktop.left && frame.top >= desktop.top && frame.right <= desktop.right &&
                frame.bottom <= desktop.bottom);
    HWND picture = nullptr;
    for (HWND child = ::GetWindow(w.frame(), GW_CHILD); child && !picture; child = ::GetWindow(child, GW_HWNDNEXT))
        if ((::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP && className(child) == L"Static")
            picture = child;
    RECT shown{};
    ::GetWindowRect(picture, &shown);
    EXPECT_EQ(shown.right - shown.left, qv::scaledForDpi(87, dpi));
    EXPECT_EQ(shown.bottom - shown.top, qv::scaledForDpi(171, dpi));

    EXPECT_TRUE(w.screenshot(folder + "start.png"));
    ASSERT_TRUE(w.next(WizardPage::Mode));
    w.click(1019);
    EXPECT_TRUE(w.screenshot(folder + "mode.png"));
    ASSERT_TRUE(w.next(WizardPage::Path));
    EXPECT_TRUE(w.screenshot(folder + "path.png"));
    ASSERT_TRUE(w.next(WizardPage::Shortcut));
    EXPECT_TRUE(w.screenshot(folder + "shortcut.png"));
    ASSERT_TRUE(w.next(WizardPage::Install));
    EXPECT_TRUE(w.screenshot(folder + "install.png"));
    w.click(Next);
    ASSERT_TRUE(w.waitForStatus({french ? L"Cliquez sur 'Suivant' pour continuer." : L"Click on 'Next' to continue."}));
    EXPECT_TRUE(w.screenshot(folder + "install-done.png"));
    ASSERT_TRUE(w.next(WizardPage::End));
    EXPECT_TRUE(w.screenshot(folder + "end.png"));
    // Last: the box leaves the frame active, which the caption shows.
    EXPECT_FALSE(w.about(folder + "about.png").caption.empty());
    w.click(Exit);
    EXPECT_EQ(w.waitExit(), 0u);
}

}  // namespace
