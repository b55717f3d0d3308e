// The installer's command line read into its record: what each switch
// gives, and every way a switch is refused (the run then goes no further).
#include "app/CommandLine.h"
#include "lang/Languages.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

using Arguments = std::vector<std::wstring>;

TEST(CommandLine, SplitsAsTheRuntimeDoes)
{
    EXPECT_THAT(commandLineArguments(L"\"C:\\Setup dir\\Install.exe\" /VERYSILENT \"/DIR=C:\\Program Files\\X\""),
                ElementsAre(L"/VERYSILENT", L"/DIR=C:\\Program Files\\X"));
    // The form administrators write: the quotes are inside the argument.
    EXPECT_THAT(commandLineArguments(L"Install.exe /DIR=\"C:\\Program Files\\X\" /S"),
                ElementsAre(L"/DIR=C:\\Program Files\\X", L"/S"));
    EXPECT_THAT(commandLineArguments(L"Install.exe"), IsEmpty());
    EXPECT_THAT(commandLineArguments(L"Install.exe a\\\\\"b c\" \\\"d\\\\e"),
                ElementsAre(L"a\\b c", L"\"d\\\\e"));
}

// A value ending in a backslash before its closing quote: the runtime would
// read \" as a quote and make one argument of the rest of the line, so that
// a silent switch after it went unseen and the run opened the help window
// under a deployment tool, where nobody sees it.
TEST(CommandLine, TrailingBackslashBeforeTheClosingQuoteNamesTheFolder)
{
    struct Case {
        const wchar_t* line;
        Arguments arguments;
    };
    const Case cases[] = {
        {L"setup.exe /DIR=\"C:\\Program Files\\Tools\\\" /VERYSILENT",
         {L"/DIR=C:\\Program Files\\Tools\\", L"/VERYSILENT"}},
        {L"\"C:\\My setup\\setup.exe\" \"/DIR=C:\\Program Files\\Tools\\\" /S \"/LOG=C:\\logs\\x.log\"",
         {L"/DIR=C:\\Program Files\\Tools\\", L"/S", L"/LOG=C:\\logs\\x.log"}},
        // Escaped as the runtime wants it: the same folder.
        {L"setup.exe /DIR=\"C:\\Tools\\\\\" /S", {L"/DIR=C:\\Tools\\\\", L"/S"}},
        {L"setup.exe /LOG=\"C:\\logs\\\"", {L"/LOG=C:\\logs\\"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(commandLineArguments(c.line), c.arguments) << testing::PrintToString(std::wstring(c.line));
    }
    const CommandLineOptions o = readCommandLine(cases[0].line);
    EXPECT_THAT(o.errors, IsEmpty());
    EXPECT_EQ(o.mode, RunMode::VerySilent);
    EXPECT_EQ(o.installFolder, L"C:\\Program Files\\Tools");
    // A log file's name cannot end in a backslash: refused, silently.
    const CommandLineOptions log = readCommandLine(L"setup.exe /LOG=\"C:\\logs\\\" /VERYSILENT");
    EXPECT_EQ(log.mode, RunMode::VerySilent);
    EXPECT_EQ(log.errors.size(), 1u);
    EXPECT_FALSE(log.log) << "a refused name logs nowhere, not into a new file either";
}

// However the quotes split the line, a silent switch in it makes the run
// silent; what cannot be read is refused.
TEST(CommandLine, SilentSwitchAnywhereInTheRawLineMakesTheRunSilent)
{
    const CommandLineOptions open = readCommandLine(L"setup.exe \"/LOG=C:\\x.log /VERYSILENT");
    EXPECT_EQ(open.mode, RunMode::VerySilent);
    ASSERT_EQ(open.errors.size(), 1u);
    EXPECT_THAT(open.errors[0], HasSubstr(L"silent switch stands inside another argument"));
    EXPECT_EQ(readCommandLine(L"setup.exe \"/DIR=C:\\A\"B /s").mode, RunMode::Silent);
    EXPECT_EQ(silentSwitchInRawText(L"\"C:\\x\\setup.exe\" \"/SILENT\""), RunMode::Silent);
    EXPECT_EQ(silentSwitchInRawText(L"setup.exe /S /VERYSILENT"), RunMode::VerySilent);
    // Not a switch of its own, and the program's own name does not count.
    EXPECT_FALSE(silentSwitchInRawText(L"setup.exe /DIR=C:\\S /SILENTLY"));
    EXPECT_FALSE(silentSwitchInRawText(L"\"C:\\ /S \\setup.exe\" /LOG"));
    EXPECT_EQ(readCommandLine(L"setup.exe").mode, RunMode::Interactive);
}

// What package managers and scripts send to installers of this style.
TEST(CommandLine, SwitchesDeploymentToolsSendAreAccepted)
{
    const CommandLineOptions o = parseCommandLine(
        {L"/SP-", L"/VERYSILENT", L"/SUPPRESSMSGBOXES", L"/NORESTART", L"/NOCANCEL", L"/ALLUSERS", L"/noicons",
         L"/NOSAMPLES"});
    EXPECT_THAT(o.errors, IsEmpty());
    EXPECT_EQ(o.mode, RunMode::VerySilent);
    EXPECT_THAT(o.withoutEffect, ElementsAre(L"/SP-", L"/SUPPRESSMSGBOXES", L"/NORESTART", L"/NOCANCEL", L"/ALLUSERS"));
    EXPECT_TRUE(o.noStartMenu);
    EXPECT_TRUE(o.noDesktop);
    EXPECT_TRUE(o.noSamples);
    EXPECT_FALSE(parseCommandLine({L"/S"}).noSamples);
    EXPECT_THAT(parseCommandLine({L"/NOICONS", L"/NOSTARTMENU", L"/NODESKTOP"}).errors, IsEmpty());
}

// What administrators send for "no window at all" to every installer: taken
// as /VERYSILENT, also when the quotes hide it, and with the same conflicts.
TEST(CommandLine, QuietAndQnAreVerySilent)
{
    for (const wchar_t* line : {L"setup.exe /quiet", L"setup.exe /QN /NOSAMPLES", L"setup.exe /Qn \"/LOG=C:\\x.log\""}) {
        const CommandLineOptions o = readCommandLine(line);
        EXPECT_EQ(o.mode, RunMode::VerySilent) << testing::PrintToString(std::wstring(line));
        EXPECT_THAT(o.errors, IsEmpty()) << testing::PrintToString(std::wstring(line));
    }
    EXPECT_EQ(silentSwitchInRawText(L"setup.exe \"/DIR=C:\\x /qn"), RunMode::VerySilent);
    EXPECT_EQ(readCommandLine(L"setup.exe \"/DIR=C:\\x /QUIET").mode, RunMode::VerySilent);
    EXPECT_FALSE(silentSwitchInRawText(L"setup.exe /QUIETLY /QN+"));
    EXPECT_THAT(parseCommandLine({L"/S", L"/QUIET"}).errors,
                ElementsAre(HasSubstr(L"exclude each other")));
    EXPECT_THAT(parseCommandLine({L"/QUIET", L"/QN"}).errors, ElementsAre(HasSubstr(L"more than once")));
    EXPECT_THAT(parseCommandLine({L"/QN=1"}).errors, ElementsAre(HasSubstr(L"takes no value")));
    EXPECT_THAT(installerHelpText(), HasSubstr(L"/VERYSILENT, /QUIET or /QN\n"));
}

// /UNINSTALL never shows a window, with or without a silent switch.
TEST(CommandLine, UninstallRunsWithoutWindow)
{
    for (const Arguments& arguments : {Arguments{L"/UNINSTALL"}, Arguments{L"/uninstall", L"/VERYSILENT"},
                                       Arguments{L"/UNINSTALL", L"/QN", L"/LOG=C:\\u.log", L"/NORESTART"}}) {
        const CommandLineOptions o = parseCommandLine(arguments);
        EXPECT_THAT(o.errors, IsEmpty()) << testing::PrintToString(arguments);
        EXPECT_TRUE(o.uninstall);
        EXPECT_EQ(o.mode, RunMode::VerySilent);
    }
    EXPECT_EQ(silentSwitchInRawText(L"setup.exe \"/LOG=C:\\x /UNINSTALL"), RunMode::VerySilent);
}

TEST(CommandLine, NoArgumentsIsTheWizardAsAlways)
{
    const CommandLineOptions o = parseCommandLine({});
    EXPECT_FALSE(o.anyArgument);
    EXPECT_EQ(o.mode, RunMode::Interactive);
    EXPECT_FALSE(o.help);
    EXPECT_FALSE(o.log);
    EXPECT_FALSE(o.installFolder || o.language || o.startMenuGroup);
    EXPECT_THAT(o.errors, IsEmpty());
}

TEST(CommandLine, EverySwitchInAnyOrderAndCase)
{
    const CommandLineOptions o =
        parseCommandLine({L"/nodesktop", L"/Lang=de", L"/VerySilent", L"/dir=D:\\Apps\\Trimora 6\\",
                          L"/group=Tools\\Trimora", L"/log=C:\\Logs\\install.log"});
    EXPECT_THAT(o.errors, IsEmpty());
    EXPECT_TRUE(o.anyArgument);
    EXPECT_EQ(o.mode, RunMode::VerySilent);
    EXPECT_EQ(o.installFolder, L"D:\\Apps\\Trimora 6");
    EXPECT_EQ(o.language, 2u);
    EXPECT_EQ(o.startMenuGroup, L"Tools\\Trimora");
    EXPECT_TRUE(o.noDesktop);
    EXPECT_FALSE(o.noStartMenu);
    EXPECT_TRUE(o.log);
    EXPECT_EQ(o.logFile, L"C:\\Logs\\install.log");

    EXPECT_EQ(parseCommandLine({L"/s"}).mode, RunMode::Silent);
    EXPECT_EQ(parseCommandLine({L"/SILENT", L"/NOSTARTMENU"}).mode, RunMode::Silent);
    EXPECT_TRUE(parseCommandLine({L"/NOSTARTMENU"}).noStartMenu);
    EXPECT_TRUE(parseCommandLine({L"/?"}).help);
    EXPECT_TRUE(parseCommandLine({L"/help"}).help);
    // /LOG alone: a new file in the temporary folder.
    const CommandLineOptions logged = parseCommandLine({L"/LOG"});
    EXPECT_TRUE(logged.log);
    EXPECT_TRUE(logged.logFile.empty());
}

struct FolderCase {
    const wchar_t* typed;
    const wchar_t* folder;  // null: refused
};

class InstallFolder : public ::testing::TestWithParam<FolderCase> {};

TEST_P(InstallFolder, IsQualifiedOrRefused)
{
    const FolderCase& c = GetParam();
    const auto folder = installFolderFromText(c.typed);
    if (c.folder) {
        EXPECT_EQ(folder, c.folder) << testing::PrintToString(std::wstring(c.typed));
    } else {
        EXPECT_FALSE(folder) << testing::PrintToString(std::wstring(c.typed)) << " gave "
                             << testing::PrintToString(folder.value_or(L""));
    }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, InstallFolder,
    ::testing::Values(FolderCase{L"C:\\Program Files\\Orvane Systems\\Trimora 6", L"C:\\Program Files\\Orvane Systems\\Trimora 6"},
                      FolderCase{L"  C:\\Outils \u00dcberall\\Trimora \u00f1\\  ", L"C:\\Outils \u00dcberall\\Trimora \u00f1"},
                      FolderCase{L"C:\\A\\.\\B\\..\\C", L"C:\\A\\C"},
                      FolderCase{L"C:/Apps/Trimora", L"C:\\Apps\\Trimora"},
                      FolderCase{L"D:", L"D:\\"},
                      FolderCase{L"\\\\server\\share\\Trimora", L"\\\\server\\share\\Trimora"},
                      FolderCase{L"\\\\server\\share", L"\\\\server\\share"},
                      // A network path without its share names no folder.
                      FolderCase{L"\\\\server", nullptr},
                      FolderCase{L"\\\\server\\", nullptr},
                      FolderCase{L"\\\\server\\\\Trimora", nullptr},
                      // Relative: it would depend on the folder the tool starts in.
                      FolderCase{L"Trimora", nullptr},
                      FolderCase{L"..\\Trimora", nullptr},
                      FolderCase{L"\\Apps\\Trimora", nullptr},
                      FolderCase{L"", nullptr},
                      // Device and raw paths are no folders to install into.
                      FolderCase{L"\\\\?\\C:\\Trimora", nullptr},
                      FolderCase{L"\\\\.\\C:\\Trimora", nullptr},
                      // Wildcards and characters no path may hold.
                      FolderCase{L"C:\\Tri*mora", nullptr},
                      FolderCase{L"C:\\Tri?mora", nullptr},
                      FolderCase{L"C:\\Tri|mora", nullptr},
                      FolderCase{L"C:\\Trimora\" /NODESKTOP", nullptr}));

TEST(CommandLine, FolderLongerThanAPathIsRefused)
{
    EXPECT_TRUE(installFolderFromText(L"C:\\" + std::wstring(256, L'a')));
    EXPECT_FALSE(installFolderFromText(L"C:\\" + std::wstring(257, L'a')));
}

TEST(CommandLine, LanguageByIdentifierOrCode)
{
    for (const wchar_t* german : {L"1031", L"0x0407", L"0X407", L"de", L"DE"})
        EXPECT_EQ(languageFromText(german), 2u) << testing::PrintToString(std::wstring(german));
    EXPECT_EQ(languageFromText(L"1036"), 0u);
    EXPECT_EQ(languageFromText(L"fr"), 0u);
    EXPECT_EQ(languageFromText(L"0x0409"), 1u);
    EXPECT_EQ(languageFromText(L"nl"), 5u);   // offered, though the installer speaks English in it
    EXPECT_EQ(languageFromText(L"hu"), 19u);
    // Danish, Czech, Hebrew and Japanese are known but not offered; a
    // regional variant is another identifier; the rest is no language.
    for (const wchar_t* refused : {L"1030", L"da", L"cs", L"he", L"0x0411", L"0x0807", L"2055", L"de-DE", L"xx",
                                   L"0", L"0x", L"99999999", L"1031x"})
        EXPECT_FALSE(languageFromText(refused)) << testing::PrintToString(std::wstring(refused));
}

struct RefusedCase {
    Arguments arguments;
    const wchar_t* says;  // part of the one error
};

class Refused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(Refused, WithOneErrorThatNamesIt)
{
    const RefusedCase& c = GetParam();
    const CommandLineOptions o = parseCommandLine(c.arguments);
    ASSERT_EQ(o.errors.size(), 1u) << testing::PrintToString(o.errors);
    EXPECT_THAT(o.errors[0], HasSubstr(c.says));
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, Refused,
    ::testing::Values(RefusedCase{{L"/FOO"}, L"Unknown switch: /FOO"},
                      RefusedCase{{L"VERYSILENT"}, L"Unknown switch: VERYSILENT"},
                      RefusedCase{{L"-S"}, L"Unknown switch: -S"},
                      RefusedCase{{L""}, L"Unknown switch"},
                      RefusedCase{{L"/S=1"}, L"takes no value"},
                      RefusedCase{{L"/DIR"}, L"needs a value"},
                      RefusedCase{{L"/DIR="}, L"needs a value"},
                      RefusedCase{{L"/LOG="}, L"needs a value"},
                      RefusedCase{{L"/DIR=Trimora"}, L"Not a usable installation folder"},
                      RefusedCase{{L"/LANG=da"}, L"Not an offered installation language: da"},
                      RefusedCase{{L"/GROUP=..\\Startup"}, L"Not a usable Start-menu folder"},
                      RefusedCase{{L"/GROUP=C:\\Elsewhere"}, L"Not a usable Start-menu folder"},
                      RefusedCase{{L"/GROUP=\\Elsewhere"}, L"Not a usable Start-menu folder"},
                      RefusedCase{{L"/GROUP=Tools\\.\\Trimora"}, L"Not a usable Start-menu folder"},
                      RefusedCase{{L"/NODESKTOP", L"/nodesktop"}, L"more than once"},
                      RefusedCase{{L"/DIR=C:\\A", L"/DIR=C:\\B"}, L"more than once"},
                      RefusedCase{{L"/S", L"/SILENT"}, L"more than once"},
                      RefusedCase{{L"/S", L"/VERYSILENT"}, L"exclude each other"},
                      RefusedCase{{L"/GROUP=Tools", L"/NOSTARTMENU"}, L"exclude each other"},
                      RefusedCase{{L"/GROUP=Tools", L"/NOICONS"}, L"/GROUP and /NOICONS exclude each other"},
                      RefusedCase{{L"/CURRENTUSER"}, L"/CURRENTUSER: this product is installed for all users"},
                      RefusedCase{{L"/UNINSTALL", L"/DIR=C:\\A"}, L"/UNINSTALL takes"},
                      RefusedCase{{L"/UNINSTALL", L"/S"}, L"/UNINSTALL takes"},
                      RefusedCase{{L"/UNINSTALL", L"/NOSAMPLES"}, L"/UNINSTALL takes"},
                      RefusedCase{{L"/SP"}, L"Unknown switch: /SP"},
                      RefusedCase{{L"/NORESTART=1"}, L"takes no value"},
                      // A log file by a full path only, as /DIR.
                      RefusedCase{{L"/LOG=install.log"}, L"Not a usable log file name"},
                      RefusedCase{{L"/LOG=..\\install.log"}, L"Not a usable log file name"},
                      RefusedCase{{L"/LOG=\\install.log"}, L"Not a usable log file name"},
                      RefusedCase{{L"/LOG=\\\\server"}, L"Not a usable log file name"},
                      RefusedCase{{L"/LOG=C:\\logs\\"}, L"Not a usable log file name"}));

// A refused switch still leaves the mode known, so that a silent run ends
// without a window.
TEST(CommandLine, ModeIsKnownDespiteErrors)
{
    const CommandLineOptions o = parseCommandLine({L"/VERYSILENT", L"/FOO", L"/LOG=C:\\x.log"});
    EXPECT_EQ(o.mode, RunMode::VerySilent);
    EXPECT_EQ(o.errors.size(), 1u);
    EXPECT_EQ(o.logFile, L"C:\\x.log");
}

}  // namespace
}  // namespace qv
