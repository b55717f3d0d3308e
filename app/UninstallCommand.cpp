#include "app/UninstallCommand.h"

#include "app/ExitCodes.h"
#include "identity/Product.h"
#include "sys/Handles.h"
#include "sys/PathGuard.h"
#include "sys/PathText.h"
#include "sys/Registry.h"
#include "sys/ModulePath.h"

#include <windows.h>

namespace qv {
namespace {

constexpr wchar_t UninstallerName[] = L"Uninstall.exe";

RegisteredUninstaller refused(RegisteredUninstaller found, int code, std::wstring why)
{
    found.path.clear();
    found.refusal = code;
    found.why = std::move(why);
    return found;
}

}  // namespace

RegisteredUninstaller registeredUninstaller() noexcept
{
    RegisteredUninstaller found;
    try {
        const std::wstring subKey = UninstallKeyPath + productKeyName(productCode);
        RegistryKey key = openKey(HKEY_LOCAL_MACHINE, subKey);
        found.key = L"HKEY_LOCAL_MACHINE\\" + subKey;
        if (!key) {
            key = openKeyInOtherView(HKEY_LOCAL_MACHINE, subKey);
            found.key += std::wstring(L" (") + editionText(true) + L" view)";
        }
        if (!key) return refused(found, ExitNotInstalled, L"no uninstall key of " + productKeyName(productCode));
        std::wstring uninstaller, quiet, folder;
        readString(key, L"UninstallString", uninstaller);
        readString(key, L"QuietUninstallString", quiet);
        readString(key, L"InstallLocation", folder);
        if (quiet != L"\"" + uninstaller + L"\" /VERYSILENT")
            return refused(found, ExitUninstallerNotTrusted,
                           L"QuietUninstallString " + quiet + L" is not the uninstaller of UninstallString " +
                               uninstaller + L" with /VERYSILENT");
        // A full path already: nothing relative to whatever folder this runs in.
        if (uninstaller.size() < 3 || !sameFileName(fullPathOf(uninstaller), uninstaller) ||
            !sameFileName(nameOf(uninstaller), UninstallerName))
            return refused(found, ExitUninstallerNotTrusted,
                           L"UninstallString " + uninstaller + L" is not the full path of an " + UninstallerName);
        if (!folder.empty() && !sameFileName(parentOf(uninstaller), folder))
            return refused(found, ExitUninstallerNotTrusted,
                           L"UninstallString " + uninstaller + L" is not in InstallLocation " + folder);
        if (nameAt(uninstaller) != NameAtPath::File)
            return refused(found, ExitUninstallerNotTrusted, L"no uninstaller file at " + uninstaller);
        found.path = uninstaller;
        return found;
    } catch (...) {
        return refused(found, ExitUninstallerNotTrusted,
                       L"the uninstall key or the uninstaller's folder cannot be read, or a link lies on the way");
    }
}

int runRegisteredUninstaller(const CommandLineOptions& options, const std::function<void(const std::wstring&)>& log)
{
    const RegisteredUninstaller found = registeredUninstaller();
    log(L"Uninstall key: " + found.key);
    if (found.path.empty()) {
        log(L"Nothing uninstalled: " + found.why);
        return found.refusal;
    }
    std::wstring commandLine = L"\"" + found.path + L"\" /VERYSILENT";
    if (options.log) commandLine += options.logFile.empty() ? L" /LOG" : L" \"/LOG=" + options.logFile + L"\"";
    log(L"Uninstallation: " + commandLine);

    // Held against writers until the process runs: what starts is what was
    // judged. Started from the system folder: a current folder inside the
    // installation would keep it from being removed.
    CheckedHandle file;
    try {
        file = openChecked(found.path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    } catch (...) {
    }
    if (!file || file.isFolder()) {
        log(L"Nothing uninstalled: the uninstaller cannot be opened");
        return ExitUninstallerNotTrusted;
    }
    const std::wstring folder = systemFolder();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(found.path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
        const DWORD error = ::GetLastError();
        log(L"The uninstaller cannot be started (error " + std::to_wstring(error) + L")");
        return error == 740 /* ERROR_ELEVATION_REQUIRED */ ? ExitNotAdministrator : ExitFailedRolledBack;
    }
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    file.handle.reset();
    ::WaitForSingleObject(processHandle.get(), INFINITE);
    DWORD code = static_cast<DWORD>(ExitFailedRolledBack);
    if (!::GetExitCodeProcess(processHandle.get(), &code)) code = static_cast<DWORD>(ExitFailedRolledBack);
    log(L"The uninstaller ended with " + std::to_wstring(static_cast<int>(code)));
    return static_cast<int>(code);
}

}  // namespace qv
