#include "app/StartUp.h"

#include "app/CommandLine.h"
#include "app/CommonControls.h"
#include "app/ComError.h"
#include "app/ErrorMessages.h"
#include "app/ExitCodes.h"
#include "app/InstallApp.h"
#include "identity/InstanceObjects.h"
#include "app/LanguageChoice.h"
#include "lang/Languages.h"
#include "lang/LocalizedStrings.h"
#include "identity/Product.h"
#include "engine/FileDecision.h"
#include "engine/InstallSequence.h"
#include "sys/RunFolder.h"
#include "uninstall/RunJournal.h"
#include "uninstall/RunRecovery.h"
#include "engine/SpaceCheck.h"
#include "framework/Dialog.h"
#include "sys/TextFormat.h"
#include "framework/MessageBox.h"
#include "framework/UnhandledException.h"
#include "resources/resource.h"
#include "sys/Handles.h"
#include "sys/LogFile.h"
#include "sys/PathIdentity.h"
#include "sys/Security.h"
#include "sys/PathText.h"
#include "sys/ShellFolders.h"
#include "sys/UnattendedProcess.h"
#include "app/DefaultFolders.h"
#include "app/DefaultLog.h"
#include "app/UninstallCommand.h"
#include "sys/InteractiveDesktop.h"
#include "engine/Detection.h"
#include "sys/ModulePath.h"
#include "app/ProcessSetup.h"

#include <commctrl.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <boost/filesystem/path.hpp>

#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <locale>
#include <stdexcept>
#include <string>

namespace qv {

namespace {

// An installation run that an earlier process could not finish (killed,
// or the power lost) is rolled back, or completed when it had made every
// change. What it does goes to the run's log; a run without /LOG gets a log
// of its own in the temporary folder for it ("Quorvex 6 Recovery ..."),
// made only when there is something to recover.
void recoverUnfinishedRun(CInstallApp& app)
{
    LogOnDemand log(app.runLog.get(), productKeyName(productCode) + L" Recovery");
    const bool lent = app.instanceMutex.owned();
    RunRecovery recovery(
        [&log](const std::wstring& line) { log.write(line); },
        // The program's clean-up run, as its registration run, holds no
        // installer mutex of ours.
        [&app, lent](bool lending) {
            if (!lent) return;
            if (lending) app.instanceMutex.release();
            else app.instanceMutex.tryAcquire();
        });
    recovery.recover();
    recovery.removeRunFoldersWithoutChanges(temporaryBase(isLocalSystem()));
}

}  // namespace

namespace {

const wchar_t* modeText(RunMode mode)
{
    switch (mode) {
    case RunMode::Silent: return L"silent (/S): progress window only";
    case RunMode::VerySilent: return L"very silent: no window";
    default: return L"interactive wizard";
    }
}

const wchar_t* stateText(InstallState state)
{
    switch (state) {
    case InstallState::SameVersion: return L"the same version is installed: reinstallation";
    case InstallState::OlderVersion: return L"an older version is installed: update";
    case InstallState::NewerVersion: return L"a newer version is installed";
    default: return L"not installed: first installation";
    }
}

const wchar_t* yesNo(bool value)
{
    return value ? L"yes" : L"no";
}

// What this run of start-up needs beside the session: the switches, the
// log, and the way a run ends.
class StartUpRun {
public:
    explicit StartUpRun(CInstallApp& app) : app_(app), options_(app.options) {}

    void log(const std::wstring& text) const
    {
        if (app_.runLog) app_.runLog->write(text);
    }

    // Ends start-up: the log's last lines and, for a run started with a
    // switch, the process's exit code. Always false, start-up's result.
    bool finish(int code, const std::wstring& why) const
    {
        if (!why.empty()) log(why);
        if (options_.anyArgument) {
            app_.exitCode = code;
            log(L"Exit code: " + std::to_wstring(code));
        }
        return false;
    }

    // A refusal that the interactive installer shows in the framework's
    // message box; a silent run logs it instead and ends with its code.
    bool refuse(const std::wstring& text, UINT style, int code) const
    {
        if (!options_.silent()) app_.messageBox(text, style);
        return finish(code, L"Refused: " + text);
    }

    // The log file that /LOG asks for, before anything else happens. False,
    // with the run ended, when it cannot be had. Without /LOG, a run that
    // nobody watches gets the default log when it can be had, and goes on
    // without one otherwise.
    bool openLog(bool unwatched)
    {
        // /UNINSTALL hands /LOG to the uninstaller, which opens the file
        // itself; its own lines go to the default log.
        if (!options_.log || options_.uninstall) {
            if (unwatched) {
                std::wstring why;
                app_.runLog = openDefaultLog(productKeyName(productCode) +
                                                 (options_.uninstall ? L" Uninstallation" : L" Installation"),
                                             why);
            }
            return true;
        }
        DWORD error = ERROR_SUCCESS;
        app_.runLog = LogFile::open(options_.logFile, productKeyName(productCode) + L" Installation", error);
        if (app_.runLog) return true;
        const std::wstring name = options_.logFile.empty() ? L"a new log file in the temporary folder"
                                                           : options_.logFile;
        if (!options_.silent())
            app_.messageBox(L"The log file cannot be created: " + name + L"\n\n" + systemErrorText(error),
                            MB_OK | MB_ICONERROR);
        finish(ExitLogFileFailed, L"");
        return false;
    }

    void logStart() const
    {
        log(L"Installer of " + productKeyName(productCode) + L" (" + std::wstring(ProductFileVersionText) +
            L"), " + modulePath());
        log(L"Command line: " + std::wstring(::GetCommandLineW()));
        log(std::wstring(L"Mode: ") + modeText(options_.mode));
        if (app_.runLog) log(L"Log file: " + app_.runLog->path());
        if (!options_.withoutEffect.empty()) {
            std::wstring accepted;
            for (const std::wstring& s : options_.withoutEffect) accepted += L" " + s;
            log(L"Accepted, without effect here:" + accepted);
        }
    }

    // A run without a silent switch where nobody can see a window: the
    // wizard or the help window would wait there for ever. It ends at once,
    // with its code even without arguments.
    bool refuseWithoutDesktop() const
    {
        log(L"Refused: no interactive desktop (SYSTEM, session 0 or an invisible window station): no window "
            L"is shown here; an unattended installation needs /VERYSILENT");
        app_.exitCode = ExitBadCommandLine;
        log(L"Exit code: " + std::to_wstring(ExitBadCommandLine));
        return false;
    }

    // A bad command line, or /? and /HELP: the help window in an
    // interactive run, nothing but the log in a silent one.
    bool tellUsage() const
    {
        std::wstring errors;
        for (const std::wstring& error : options_.errors) {
            log(L"Command line: " + error);
            errors += error + L"\n";
        }
        if (!options_.silent()) {
            chooseStartupLanguage();
            refreshAppTitle();
            if (errors.empty()) app_.messageBox(installerHelpText(), MB_OK | MB_ICONINFORMATION);
            else showInvalid(errors);
        }
        return errors.empty() ? finish(ExitHelpShown, L"Help requested: nothing installed")
                              : finish(ExitBadCommandLine, L"The command line is not valid: nothing installed");
    }

    // The help window, headed by what is wrong with the command line.
    void showInvalid(const std::wstring& errors) const
    {
        app_.messageBox(L"The command line is not valid:\n" + errors + L"\n" + installerHelpText(),
                        MB_OK | MB_ICONEXCLAMATION);
    }

    // /LANG in place of the language start-up chose, by the same rule as a
    // language picked on the start page: one without installer texts
    // installs in English.
    void applyLanguage() const
    {
        if (options_.language) {
            setLanguage(*options_.language);
            if (!hasInstallerTranslation(*options_.language)) {
                log(L"The installer has no texts in " + nativeLanguageName(*options_.language) +
                    L": the installation goes on in English, as when that language is picked in the wizard");
                setLanguage(EnglishLanguage);
            }
        }
        refreshAppTitle();
        log(L"Language: " + nativeLanguageName(currentLanguage().languageIndex) + L" (index " +
            std::to_wstring(currentLanguage().languageIndex) + L")");
    }

    // The switches that change the session's choices, checked against the
    // machine. A refusal (its exit code and why) ends the run.
    struct Refusal {
        int code = ExitInstalled;
        std::wstring why;
        explicit operator bool() const noexcept { return !why.empty(); }
    };

    Refusal applyChoices() const
    {
        if (options_.installFolder) {
            // The folder page keeps an installed product's folder too.
            const bool installed = app_.installState == InstallState::SameVersion ||
                                   app_.installState == InstallState::OlderVersion;
            if (!installed) app_.installPath = *options_.installFolder;
            else if (!samePath(*options_.installFolder, app_.installPath))
                return {ExitInstalledElsewhere, L"/DIR: the installed product keeps its folder " + app_.installPath};
            if (const std::wstring file = fileOnTheWay(app_.installPath); !file.empty())
                return {ExitFolderIsAFile, L"/DIR: a file stands where a folder is needed: " + file};
        }
        if (options_.startMenuGroup) {
            const std::wstring programs = startMenuProgramsFolder();
            if (programs.empty())
                return {ExitBadCommandLine, L"/GROUP: the system names no Start-menu Programs folder"};
            app_.startMenuFolder = appendElement(programs, *options_.startMenuGroup);
            app_.createStartMenuShortcut = true;
            // The shortcut files' paths, as the install sequence makes them,
            // must fit a path (259 characters).
            const std::size_t longestName =
                std::max(productLabel(false).size(),
                         formatText(loadLocalizedString(IDS_UNINSTALL_SHORTCUT), {productLabel(true)}).size());
            if (app_.startMenuFolder.size() + 1 + longestName + 4 > MAX_PATH - 1)
                return {ExitPathTooLong, L"/GROUP: the shortcuts' paths in " + app_.startMenuFolder +
                                             L" would be longer than " + std::to_wstring(MAX_PATH - 1) +
                                             L" characters"};
        }
        if (options_.noStartMenu) app_.createStartMenuShortcut = false;
        if (options_.noDesktop) app_.createDesktopShortcut = false;
        return {};
    }

    // The nearest existing element of folder, when it is a file (the folder
    // itself or one above it): no folder can be made there. Empty otherwise.
    // A network path is looked up too: the administrator named it.
    static std::wstring fileOnTheWay(std::wstring folder)
    {
        while (!folder.empty()) {
            const DWORD attributes = ::GetFileAttributesW(folder.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES)
                return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? std::wstring() : folder;
            const std::size_t slash = folder.find_last_of(L'\\');
            if (slash == std::wstring::npos || slash < 3) break;
            folder.resize(slash);
        }
        return {};
    }

    // The free space on every volume the installation writes to, against
    // the archive's sizes, before the first file. A refusal when one is
    // short; nothing when enough, or when the archive cannot be read (the
    // installation's verification pass then fails it as it always did).
    Refusal checkFreeSpace() const
    {
        std::vector<ArchiveEntry> targets;
        try {
            std::unique_ptr<std::istream> archive = openPayloadArchive();
            if (!archive) return {};
            wchar_t temp[MAX_PATH + 1] = {};
            const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
            const std::wstring samples =
                formatText(loadLocalizedString(IDS_EXAMPLES_FOLDER), {productLabel(true)});
            targets = payloadTargets(*archive, app_.installPath, samples,
                                     length > 0 && length <= MAX_PATH ? std::wstring(temp, length) : app_.installPath);
        } catch (...) {
            return {};
        }
        // What the run leaves out does not count: the install sequence's
        // own decision for each file.
        targets.erase(std::remove_if(targets.begin(), targets.end(),
                                     [this](const ArchiveEntry& e) {
                                         return !writesArchiveBytes(decideFileOnDisk(e, app_));
                                     }),
                      targets.end());
        for (const VolumeSpace& volume : spaceOnVolumes(targets)) {
            const std::wstring where = volume.volume.empty() ? L"(unknown volume)" : volume.volume;
            if (!volume.known) {
                log(L"Free space on " + where + L": not told by the system; " + std::to_wstring(volume.needed) +
                    L" bytes needed");
                continue;
            }
            log(L"Free space on " + where + L": " + std::to_wstring(volume.available) + L" bytes, " +
                std::to_wstring(volume.needed) + L" needed");
            if (!volume.enough())
                return {ExitNotEnoughSpace, L"not enough free space on " + where + L": " +
                                                std::to_wstring(volume.needed) + L" bytes needed, " +
                                                std::to_wstring(volume.available) + L" free"};
        }
        return {};
    }

    void logDetection() const
    {
        const std::wstring& program = installedProgramPath();
        log(std::wstring(L"Detected: ") + stateText(app_.installState));
        if (!program.empty()) log(L"Installed program: " + program);
        if (!app_.previousVersionText.empty()) log(L"Installed version: " + app_.previousVersionText);
        log(L"This version: " + productLabel(false) + L" (" + ProductFileVersionText + L")");
        if (!app_.uninstallLog.previousLabel().empty())
            log(L"Earlier uninstall log read, written by: " + app_.uninstallLog.previousLabel());
    }

    void logChoices() const
    {
        log(L"Installation folder: " + app_.installPath);
        log(L"Start-menu shortcuts: " + std::wstring(yesNo(app_.createStartMenuShortcut)) +
            (app_.createStartMenuShortcut ? L", in " + app_.startMenuFolder : std::wstring()));
        log(L"Desktop shortcut: " + std::wstring(yesNo(app_.createDesktopShortcut)));
        if (options_.noSamples) log(L"Sample documents: left out (/NOSAMPLES)");
    }

    // The exit code of a run that reached the installation (or the wizard).
    int outcomeCode() const
    {
        if (app_.installed)
            return app_.lastOutcome == InstallOutcome::InstalledWithFailedSteps ? ExitStepFailed : ExitInstalled;
        if (app_.lastOutcome == InstallOutcome::RefusedUnfinishedRun) return ExitUnfinishedRun;
        if (app_.lastOutcome == InstallOutcome::FailedRolledBack ||
            app_.lastOutcome == InstallOutcome::FailedPartlyRolledBack)
            return ExitFailedRolledBack;
        if (app_.installState == InstallState::NewerVersion) return ExitNewerVersionInstalled;
        return options_.silent() ? ExitFailedRolledBack : ExitCancelled;
    }

    bool finishWithOutcome(const std::wstring& how) const
    {
        const int code = outcomeCode();
        std::wstring why = how;
        if (code == ExitCancelled) why += L": cancelled by the user, nothing installed";
        else if (code == ExitNewerVersionInstalled) why += L": a newer version is installed, nothing installed";
        else if (code == ExitFailedRolledBack && app_.lastOutcome == InstallOutcome::NotRun)
            why += L": the installation could not be started";
        else why += app_.installed ? L": installed" : L": not installed";
        return finish(code, why);
    }

private:
    CInstallApp& app_;
    const CommandLineOptions& options_;
};

// The refusal for an installation of the other edition.
std::wstring otherEditionText(const OtherEditionInstallation& other)
{
    const std::wstring otherEdition = editionText(true);
    std::wstring text = productLabel(true) + L" " + (other.version.empty() ? std::wstring() : other.version + L" ") +
                        L"is installed on this computer by its " + otherEdition + L" edition" +
                        (other.folder.empty() ? std::wstring() : L", in " + other.folder) + L".\n\n";
    text += L"This installer is the " + std::wstring(editionText()) +
            L" edition of the same product: uninstall the installed edition first (in the list of installed "
            L"programs, or with its installer's /UNINSTALL), then run this installer again. Nothing was changed.";
    return text;
}

// The run's log, for the last-resort handlers of a silent run.
LogFile* installerRunLog() noexcept
{
    CInstallApp* app = installApp();
    return app ? app->runLog.get() : nullptr;
}

bool runStartUp(CInstallApp& app, const StartUpSettings& settings);

}  // namespace

bool startUp(CInstallApp& app, const StartUpSettings& settings)
{
    try {
        return runStartUp(app, settings);
    } catch (...) {
        // An exception nothing expected: a line of the log and the failure
        // code; the box only when a person watches.
        try {
            const std::wstring text = currentExceptionText();
            if (app.runLog) {
                app.runLog->write(L"Unexpected error: " + text);
                app.runLog->write(L"Exit code: " + std::to_wstring(ExitFailedRolledBack));
            }
            if (!app.options.silent()) reportUnhandledException();
        } catch (...) {
        }
        app.exitCode = ExitFailedRolledBack;
        return false;
    }
}

namespace {

bool runStartUp(CInstallApp& app, const StartUpSettings& settings)
{
    app.options = readCommandLine(::GetCommandLineW());
    const CommandLineOptions& options = app.options;
    app.noSamples = options.noSamples;
    const bool desktop = settings.hasInteractiveDesktop ? settings.hasInteractiveDesktop() : hasInteractiveDesktop();
    const bool nobodyToSeeAWindow = !options.silent() && !desktop;
    if (options.silent() || nobodyToSeeAWindow)
        enterUnattendedProcess(&installerRunLog, static_cast<UINT>(ExitFailedRolledBack));
    StartUpRun run(app);
    if (!run.openLog(options.silent() || nobodyToSeeAWindow)) return false;
    run.logStart();
    if (nobodyToSeeAWindow) return run.refuseWithoutDesktop();

    // Nothing runs on a processor that was not checked, nor beside another
    // installer.
    if (!processorChecked) {
        if (!options.silent()) reportStartupError(static_cast<DWORD>(E_UNEXPECTED));
        return run.finish(ExitProcessorRefused, L"Refused: the processor check did not run");
    }
    if (!options.errors.empty() || options.help) return run.tellUsage();
    // The installed product's own uninstaller, which takes the installer
    // mutex and counts running programs itself: this process holds neither.
    if (options.uninstall) {
        InstanceCounter::forProcess(applicationId()).withdraw();
        const int code = runRegisteredUninstaller(options, [&run](const std::wstring& line) { run.log(line); });
        return run.finish(code, L"");
    }
    if (!app.instanceMutex.tryAcquire()) {
        if (!options.silent()) reportStartupError(ERROR_BUSY);
        return run.finish(ExitAnotherInstaller, L"Refused: another installer is running");
    }
    // The framework, then the language of the run.
    if (!app.CWinApp::InitInstance())
        return run.finish(ExitInitializationFailed, L"Refused: the framework could not initialise");
    chooseStartupLanguage();
    run.applyLanguage();

    // Only an administrator installs.
    const bool administrator = settings.isAdministrator ? settings.isAdministrator() : isAdministrator();
    if (!administrator) return run.refuse(loadLocalizedString(IDS_NEED_ADMIN), MB_ICONEXCLAMATION | MB_OK,
                                          ExitNotAdministrator);
    // The product must not be running; the count includes this process. A silent run asks nobody to
    // close anything: it ends.
    while (runningCount() > 1) {
        std::wstring text = formatText(loadLocalizedString(IDS_CLOSE_PRODUCT), {productLabel(true)});
        if (options.silent() || app.messageBox(text, MB_ICONEXCLAMATION | MB_RETRYCANCEL) != IDRETRY)
            return run.finish(ExitProductRunning, L"Refused: " + text);
    }

    // Before anything of an earlier installation is looked at: a run that
    // did not end is undone first, so that detection sees the machine as it
    // was before it.
    recoverUnfinishedRun(app);
    // Said now, not after the wizard: a silent run ends here with a code of
    // its own.
    if (const std::optional<std::wstring> blocked = RunJournal::unfinishedRunInTheWay()) {
        if (options.silent()) return run.finish(ExitUnfinishedRun, L"Refused: " + *blocked);
        app.unfinishedRunInTheWay = true;
        run.log(L"Unfinished run: " + *blocked);
    }

    // One product in two editions: an installation by the other one is
    // removed first, never updated across the registry views nor installed
    // beside.
    if (const OtherEditionInstallation other = otherEditionInstallation(); other.found)
        return run.refuse(otherEditionText(other), MB_ICONEXCLAMATION | MB_OK, ExitOtherEditionInstalled);

    // Detection, and the earlier installation's log and folders.
    detectInstallation(app);
    if (app.installState == InstallState::SameVersion || app.installState == InstallState::OlderVersion) {
        std::wstring log = earlierLogPath();
        if (!log.empty()) {
            app.uninstallLog.read(log.c_str());
            app.installPath = earlierInstallFolder(app.uninstallLog, log);
            app.startMenuFolder = earlierStartMenuFolder(app.uninstallLog);
            run.log(L"Earlier uninstall log: " + log);
            if (app.installPath.empty() && !app.uninstallLog.installFolder().empty())
                run.log(L"Its installation folder " + app.uninstallLog.installFolder() +
                        L" is not the folder that holds it: not taken");
            if (app.startMenuFolder.empty() && !app.uninstallLog.shortcutFolder().empty())
                run.log(L"Its Start-menu folder " + app.uninstallLog.shortcutFolder() +
                        L" is not below a Start-menu programs folder: not taken");
        }
    } else {
        app.uninstallLog.read(nullptr);
    }

    run.logDetection();

    // The defaults of the choices, then the switches that change them.
    if (app.installPath.empty()) app.installPath = defaultInstallPath();
    if (app.startMenuFolder.empty()) app.startMenuFolder = defaultStartMenuFolder();
    // Without any Start-menu folder there is nowhere to put the shortcuts.
    app.createStartMenuShortcut = !app.startMenuFolder.empty();
    app.createDesktopShortcut = true;
    app.advancedMode = false;

    if (const auto refusal = run.applyChoices()) {
        if (refusal.code != ExitBadCommandLine)
            return run.refuse(refusal.why, MB_ICONEXCLAMATION | MB_OK, refusal.code);
        if (!options.silent()) run.showInvalid(refusal.why + L"\n");
        return run.finish(ExitBadCommandLine, L"The command line is not valid: " + refusal.why);
    }
    run.logChoices();

    // A silent run answers every question itself: a newer version stays,
    // the same version is reinstalled, an older one updated.
    if (options.silent() && app.installState == InstallState::NewerVersion)
        return run.finish(ExitNewerVersionInstalled, L"Nothing installed: " + app.previousVersionText +
                                                         L" is newer than " + productLabel(false));
    // Checked before anything is written: a volume that cannot take the
    // files refuses the run instead of failing it half-way.
    if (options.silent()) {
        if (const auto refusal = run.checkFreeSpace()) return run.finish(refusal.code, L"Refused: " + refusal.why);
    }
    if (options.mode == RunMode::VerySilent) {
        if (settings.installWithoutWindow && settings.installWithoutWindow(app)) app.installed = true;
        return run.finishWithOutcome(L"Silent installation ended");
    }

    // The wizard, or the progress window of /S.
    const WizardFrameFactory factory =
        options.mode == RunMode::Silent ? settings.createProgressFrame : settings.createWizardFrame;
    if (factory) {
        std::unique_ptr<CDialog> frame = factory(app);
        if (frame) {
            app.setMainWnd(frame.get());
            frame->DoModal();
            app.setMainWnd(nullptr);
        }
    }
    return run.finishWithOutcome(options.silent() ? L"Progress window closed" : L"Wizard closed");
}

}  // namespace

}  // namespace qv
