// Uninstall.exe, the uninstaller of Quorvex 6.04 (Trimora).
//
//   Uninstall.exe [/S | /SILENT | /VERYSILENT] [/LOG | /LOG="file"] [/? | /HELP]
//                 [/SUPPRESSMSGBOXES] [/NORESTART] [/NOCANCEL] [/SP-] [/ALLUSERS]
//       removes what Uninstall.ulog beside it lists, after asking; /S and
//       /VERYSILENT ask and tell nothing and show no window (for
//       administrators and scripts). Shared data files stay. The exit codes
//       are UninstallResult's (Uninstaller.h) and uninstallerHelpText's.
//   Uninstall.exe /cleanup:<handle> <uninstaller> [<folder>...]
//       internal: the temporary copy that deletes the uninstaller once it
//       has ended.

#include "app/CommandLine.h"
#include "app/ErrorMessages.h"
#include "identity/Product.h"
#include "sys/ModulePath.h"
#include "product/common/DllSearch.h"
#include "product/uninstaller/SelfDeletion.h"
#include "product/uninstaller/Uninstaller.h"
#include "sys/LogFile.h"
#include "sys/MessageBoxGate.h"
#include "sys/UnattendedProcess.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace {

using qv::product::UninstallResult;

std::wstring uninstallerHelpText()
{
    return L"Switches (in any order, upper or lower case):\n"
           L"\n"
           L"/S, /SILENT or /VERYSILENT\n"
           L"      Asks nothing, tells nothing and shows no window.\n"
           L"/LOG\n"
           L"      Logs the run to a new file in the temporary folder.\n"
           L"/LOG=\"file\"\n"
           L"      Logs the run to this file (added at its end when it exists).\n"
           L"/? or /HELP\n"
           L"      This window.\n"
           L"/SUPPRESSMSGBOXES, /NORESTART, /NOCANCEL, /SP-, /ALLUSERS\n"
           L"      Accepted as deployment tools send them; they change nothing here.\n"
           L"\n"
           L"Exit codes:\n"
           L"\n"
           L"0\tremoved\n"
           L"2\tno readable Uninstall.ulog: nothing removed\n"
           L"4\tremoved, but something could not be deleted, or a line of\n"
           L"\tUninstall.ulog that is not this installation's was left alone (see the log)\n"
           L"170\tthe product is running: nothing removed\n"
           L"1223\t/? or /HELP: nothing removed\n"
           L"1602\tthe user answered No\n"
           L"1603\tan unexpected error (see the log)\n"
           L"1618\tan installer is running: nothing removed\n"
           L"1622\tthe log file cannot be created: nothing removed\n"
           L"1639\tthe command line is not valid: nothing removed\n"
           L"3010\tremoved, but a file in use goes only when Windows starts again:\n"
           L"\ta restart completes the removal (see the log)\n";
}

void show(const std::wstring& text, UINT icon)
{
    qv::gatedMessageBox(nullptr, text, qv::executableStem(), MB_OK | icon);
}

int finish(qv::LogFile* log, UninstallResult result)
{
    const int code = static_cast<int>(result);
    if (log) log->write(L"Exit code: " + std::to_wstring(code));
    return code;
}

// The log of a run that nobody watches, for its last-resort handlers
// (sys/UnattendedProcess.h).
qv::LogFile* unattendedLog = nullptr;

qv::LogFile* currentUnattendedLog() noexcept
{
    return unattendedLog;
}

int uninstall(std::unique_ptr<qv::LogFile>& log);

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    qv::product::restrictDllSearch();
    std::unique_ptr<qv::LogFile> log;
    const bool silent = qv::askedForNoWindow();
    if (silent)
        qv::enterUnattendedProcess(&currentUnattendedLog, static_cast<UINT>(UninstallResult::UnexpectedError));
    try {
        return uninstall(log);
    } catch (...) {
        std::wstring text = L"an exception without a text";
        try {
            throw;
        } catch (const std::exception& e) {
            text.assign(e.what(), e.what() + std::strlen(e.what()));
        } catch (...) {
        }
        if (log) log->write(L"Unexpected error: " + text);
        if (!silent) show(L"An unexpected error occurred: " + text, MB_ICONERROR);
        return finish(log.get(), UninstallResult::UnexpectedError);
    }
}

namespace {

int uninstall(std::unique_ptr<qv::LogFile>& log)
{
    const std::vector<std::wstring> args = qv::commandLineArguments(::GetCommandLineW());
    const std::wstring cleanup = L"/cleanup:";
    if (!args.empty() && args[0].compare(0, cleanup.size(), cleanup) == 0) {
        auto handle = reinterpret_cast<HANDLE>(std::wcstoul(args[0].c_str() + cleanup.size(), nullptr, 10));
        return qv::product::runCleanup(handle, std::vector<std::wstring>(args.begin() + 1, args.end()));
    }

    // The installer's switches, of which the uninstaller takes its own.
    const qv::CommandLineOptions options = qv::readCommandLine(::GetCommandLineW());
    std::vector<std::wstring> errors = options.errors;
    if (options.installFolder || options.language || options.startMenuGroup || options.noStartMenu ||
        options.noDesktop || options.noSamples || options.uninstall)
        errors.push_back(L"/DIR, /LANG, /GROUP, /NOSTARTMENU, /NODESKTOP, /NOICONS, /NOSAMPLES and /UNINSTALL are "
                         L"switches of the installer.");
    const bool silent = options.silent();

    // The log first, before anything is looked at or changed.
    if (options.log) {
        DWORD error = ERROR_SUCCESS;
        log = qv::LogFile::open(options.logFile,
                                qv::productKeyName(qv::QuorvexProductCode) + L" Uninstallation", error);
        if (!log) {
            if (!silent)
                show(L"The log file cannot be created: " +
                         (options.logFile.empty() ? L"a new log file in the temporary folder" : options.logFile) +
                         L"\n\n" + qv::systemErrorText(error),
                     MB_ICONERROR);
            return static_cast<int>(UninstallResult::LogFileFailed);
        }
        log->write(L"Uninstaller " + qv::modulePath());
        log->write(L"Command line: " + std::wstring(::GetCommandLineW()));
        log->write(silent ? L"Mode: silent, no window" : L"Mode: interactive");
        if (silent) unattendedLog = log.get();
        if (!options.withoutEffect.empty()) {
            std::wstring accepted;
            for (const std::wstring& s : options.withoutEffect) accepted += L" " + s;
            log->write(L"Accepted, without effect here:" + accepted);
        }
    }

    if (!errors.empty()) {
        std::wstring text;
        for (const std::wstring& e : errors) {
            if (log) log->write(L"Command line: " + e);
            text += e + L"\n";
        }
        if (!silent) show(L"The command line is not valid:\n" + text + L"\n" + uninstallerHelpText(), MB_ICONEXCLAMATION);
        return finish(log.get(), UninstallResult::BadCommandLine);
    }
    if (options.help) {
        if (!silent) show(uninstallerHelpText(), MB_ICONINFORMATION);
        return finish(log.get(), UninstallResult::HelpShown);
    }

    qv::product::Uninstaller uninstaller(qv::modulePath(), silent);
    uninstaller.setLog(log.get());
    return finish(log.get(), uninstaller.run());
}

}  // namespace
