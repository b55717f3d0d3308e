// Installers, the uninstaller and the installed program exclude each other
// through the installers' mutex: an installer or the uninstaller holds it for
// its whole run; another installer is then refused (1618), the uninstaller
// waits or, silent, ends with 3, and the program does not start. Every
// scenario holds the mutex by a real process waiting on a question (the
// wizard's page, the uninstaller's confirmation), so that what runs beside
// it meets it for certain. Each scenario is its own CTest test in a fresh
// prefix with an X server of its own (tests/unattended.cmake).
#include "ProductTestPaths.h"
#include "support/ProductTestSupport.h"
#include "support/RunLogLines.h"
#include "support/TestFiles.h"
#include "support/WindowDriver.h"
#include "wizard/WizardDriver.h"

#include <windows.h>
#include <shlobj.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace qv {
namespace {

using test::containsInOrder;
using test::runLogLines;
using test::runToEnd;
using test::shellFolder;
using ::testing::UnorderedElementsAre;

const std::wstring installer = QV_INSTALLER_EXE;
constexpr DWORD Installed = 0, Declined = 1602, Cancelled = 1602, AnotherInstaller = 1618;
constexpr DWORD Registered = 0xFFFFFFF6;  // -10
constexpr wchar_t ProductKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvex 6";
constexpr wchar_t Confirmation[] = L"Do you want to remove Trimora 6.04 and all of its components?";
constexpr wchar_t CloseFirst[] = L"Please close Trimora 6.04 before removing it.";

// The system's text for an error code, as the program shows it.
std::wstring systemText(DWORD error)
{
    wchar_t* text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    UniqueLocal owner(text);
    return text ? text : L"";
}

// A message box of the process other than the one answered before.
HWND waitForBoxOf(test::ChildProcess& process, HWND answered = nullptr)
{
    test::WindowQuery query;
    query.processId = process.id();
    query.className = L"#32770";
    query.exclude = answered;
    return test::waitForWindow(query);
}

class Exclusion : public ::testing::Test {
protected:
    const std::wstring installFolder = shellFolder(CSIDL_PROGRAM_FILES) + L"\\Orvane Systems\\Trimora 6";
    const std::wstring program = installFolder + L"\\Trimora.exe";
    const std::wstring uninstaller = installFolder + L"\\Uninstall.exe";

    void SetUp() override { ASSERT_EQ(runToEnd(installer, L"/VERYSILENT"), Installed); }

    void expectStillInstalled() const
    {
        EXPECT_TRUE(test::fileExists(program));
        EXPECT_TRUE(test::fileExists(installFolder + L"\\Uninstall.ulog"));
        EXPECT_TRUE(test::keyExists(HKEY_LOCAL_MACHINE, ProductKey));
        EXPECT_EQ(test::regString(HKEY_LOCAL_MACHINE, L"Software\\Orvane Systems", L"Quorvex 6 Path"), program);
    }

    // The program started by a user beside the holder: it says that an
    // installation runs, opens no window and ends with 1618.
    void expectProgramRefused() const
    {
        test::ChildProcess started(L"\"" + program + L"\"");
        ASSERT_TRUE(started.started());
        const HWND box = waitForBoxOf(started);
        ASSERT_TRUE(box) << "the program said nothing";
        EXPECT_EQ(test::messageBoxText(box), systemText(ERROR_INSTALL_ALREADY_RUNNING));
        EXPECT_EQ(test::windowText(box), L"Trimora");
        EXPECT_EQ(test::findProcessWindow(started.id(), L"OrvaneTrimoraMainWindow", 0), nullptr);
        test::clickButton(box, IDOK);
        EXPECT_EQ(started.wait(30000), DWORD(ERROR_INSTALL_ALREADY_RUNNING));
    }
};

TEST_F(Exclusion, AnUninstallationTurnsAwayInstallersAndTheProgram)
{
    test::ChildProcess uninstall(L"\"" + uninstaller + L"\" /LOG=C:\\uninstall.log");
    const HWND question = waitForBoxOf(uninstall);
    ASSERT_TRUE(question);
    ASSERT_EQ(test::messageBoxText(question), Confirmation);

    // While it asks, it holds the mutex as an installer does.
    EXPECT_EQ(runToEnd(installer, L"/VERYSILENT /LOG=C:\\second.log"), AnotherInstaller);
    EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\second.log"),
                                {L"Refused: another installer is running", L"Exit code: 1618"}));
    expectProgramRefused();

    test::clickButton(question, IDNO);
    EXPECT_EQ(uninstall.wait(30000), Declined);
    expectStillInstalled();
    // Its end lets them run again.
    EXPECT_EQ(runToEnd(installer, L"/VERYSILENT /LOG=C:\\after.log"), Installed);
    EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\after.log"),
                                {L"Detected: the same version is installed: reinstallation", L"Exit code: 0"}));
}

TEST_F(Exclusion, TheUninstallerWaitsForARunningInstaller)
{
    // With a switch, so that leaving it ends with its code.
    test::WizardDriver wizard(installer, {}, L"/LOG=C:\\wizard.log");
    ASSERT_TRUE(wizard.frame());

    // Silent: ended with the installer's code for the same case, nothing removed.
    EXPECT_EQ(runToEnd(uninstaller, L"/VERYSILENT /LOG=C:\\refused.log"), AnotherInstaller);
    EXPECT_TRUE(containsInOrder(runLogLines(L"C:\\refused.log"),
                                {L"An installer is running: nothing removed", L"Exit code: 1618"}));
    expectStillInstalled();

    // The program does not start beside an installer; its registration run,
    // which an installer makes, does.
    expectProgramRefused();
    ASSERT_EQ(::RegDeleteTreeW(HKEY_CLASSES_ROOT, L".qvn"), ERROR_SUCCESS);
    EXPECT_EQ(runToEnd(program, L"/Register /Background"), Registered);
    EXPECT_EQ(test::regString(HKEY_CLASSES_ROOT, L".qvn", L""), L"Orvane.QuorvexNotebook.6");

    // Interactive: the question it asks while the product runs, again after
    // Retry for as long as the installer runs.
    test::ChildProcess uninstall(L"\"" + uninstaller + L"\"");
    const HWND busy = waitForBoxOf(uninstall);
    ASSERT_TRUE(busy);
    EXPECT_EQ(test::messageBoxText(busy), CloseFirst);
    EXPECT_THAT(test::messageBoxButtons(busy), UnorderedElementsAre(IDRETRY, IDCANCEL));
    test::clickButton(busy, IDRETRY);
    const HWND stillBusy = waitForBoxOf(uninstall, busy);
    ASSERT_TRUE(stillBusy);
    EXPECT_EQ(test::messageBoxText(stillBusy), CloseFirst);

    // Once the installer has ended, Retry goes on to the confirmation.
    ASSERT_TRUE(wizard.next(test::WizardPage::Mode));
    wizard.click(IDCANCEL);
    const HWND leave = wizard.waitForBox();
    ASSERT_TRUE(leave);
    wizard.answer(leave, IDYES);
    ASSERT_EQ(wizard.waitExit(), Cancelled);
    test::clickButton(stillBusy, IDRETRY);
    const HWND question = waitForBoxOf(uninstall, stillBusy);
    ASSERT_TRUE(question);
    EXPECT_EQ(test::messageBoxText(question), Confirmation);
    test::clickButton(question, IDNO);
    EXPECT_EQ(uninstall.wait(30000), Declined);
    expectStillInstalled();
}

}  // namespace
}  // namespace qv
