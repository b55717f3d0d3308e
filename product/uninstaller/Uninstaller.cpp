#include "product/uninstaller/Uninstaller.h"

#include "app/ErrorMessages.h"
#include "identity/InstanceObjects.h"
#include "identity/Product.h"
#include "uninstall/RunRecovery.h"
#include "product/common/ProductNames.h"
#include "product/uninstaller/SelfDeletion.h"
#include "sys/Handles.h"
#include "sys/MessageBoxGate.h"
#include "sys/PathGuard.h"
#include "sys/PathIdentity.h"
#include "uninstall/InstallationArea.h"
#include "sys/PathText.h"

#include <shlobj.h>

#include <algorithm>
#include <utility>

namespace qv::product {

namespace {

bool missing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

std::wstring readString(HKEY key, const wchar_t* name)
{
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t), type = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    return buffer;
}

bool isEmptyKey(HKEY key)
{
    DWORD subkeys = 0, values = 0;
    return ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                              nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

bool isShortcut(const LogEntry& entry)
{
    return entry.kind == ProgramShortcut || entry.kind == UninstallShortcut || entry.kind == DesktopShortcut;
}

bool isEmptyFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    UniqueFindFile find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!find) return false;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") return false;
    } while (::FindNextFileW(find.get(), &found));
    return true;
}

// Whether an entry left alone names something that would have gone, so that
// leaving it counts as not removed. Shared data files stay in any case, and
// so does a folder that holds anything; a path that is no plain local path
// is not looked up (a network path would make this machine log on to the
// server it names) and counts as there.
bool claimsSomething(const LogEntry& entry)
{
    if (entry.path.empty() || entry.kind == UninstallKey || entry.kind == ClassesRootKeys) return false;
    if (entry.kind == InstalledFile && entry.payloadKind == 3) return false;
    const std::wstring path = resolvedPlainPath(entry.path);
    if (path.size() < 3 || path[1] != L':') return true;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (entry.kind == CreatedFolder) return (attributes & FILE_ATTRIBUTE_DIRECTORY) && isEmptyFolder(path);
    return true;
}

// "Trimora 6.04", in the language of the strings.
std::wstring productLabelOf(const ProductStrings& strings)
{
    return strings.get(IDS_PRODUCT_NAME) + L" " + kProductVersionText;
}

constexpr wchar_t notOwned[] = L"not this installation's";
constexpr wchar_t behindLink[] = L"a link on its way";

}  // namespace

Uninstaller::Uninstaller(std::wstring selfPath, bool silent)
    : installerMutex_(instanceMutexName(kApplicationId), false, true),
      self_(std::move(selfPath)),
      folder_(parentOf(self_)),
      logPath_(folder_ + L"\\" + kLogFileName),
      silent_(silent),
      strings_(folder_, installedLanguage()),
      label_(productLabelOf(strings_))
{
}

UninstallResult Uninstaller::run()
{
    // Folders checked for links once; every removal verifies its own
    // handle's place all the same.
    CheckedFolderCache checkedFolders;
    auto noLog = [this] {
        note(L"No readable uninstall log at " + logPath_ + L": nothing removed");
        tell(IDS_UNINSTALL_NO_LOG, MB_ICONERROR);
        return UninstallResult::NoLog;
    };
    // Read first for the label the questions show; what is removed is what
    // the log holds once nothing else runs.
    loadLog();
    if (!waitUntilNothingRuns())
        return installerRan_ ? UninstallResult::InstallerRunning : UninstallResult::ProductRunning;
    // Read again, always: an installer that finished while this one waited
    // for the mutex wrote a new log, and the recovery may put an earlier one
    // back. Only then is there "no log".
    recoverUnfinishedRun();
    if (!loadLog()) return noLog();
    note(L"Uninstall log " + logPath_ + L": " + std::to_wstring(log_.previousEntries().size()) +
         L" entries of " + label_);
    if (!confirm()) {
        note(L"The user declined: nothing removed");
        return UninstallResult::Declined;
    }

    unregisterProgram();
    // The language libraries are about to go: keep the texts in memory.
    std::wstring done = strings_.format(IDS_UNINSTALL_DONE, label_);
    std::wstring partial = strings_.format(IDS_UNINSTALL_PARTIAL, label_);
    strings_.release();

    removeEntries();
    removeInstallationRecord();
    dropUnfinishedRun();
    removeLogAndSelf();
    note(incomplete_          ? L"Removed, but something could not be deleted or was left alone"
         : restartRequired_ ? L"Removed; what is in use goes when Windows starts again"
                            : L"Removed");

    if (!silent_) {
        // The system's own words, in the user's language, say that a restart
        // completes the removal.
        if (!incomplete_ && restartRequired_) done += L"\n\n" + systemErrorText(ERROR_SUCCESS_REBOOT_REQUIRED);
        gatedMessageBox(nullptr, incomplete_ ? partial : done, label_,
                        MB_OK | (incomplete_ ? MB_ICONWARNING : MB_ICONINFORMATION));
    }
    if (incomplete_) return UninstallResult::Incomplete;
    return restartRequired_ ? UninstallResult::RestartRequired : UninstallResult::Removed;
}

bool Uninstaller::loadLog()
{
    log_ = UninstallLog();
    owned_.clear();
    programPath_.clear();
    if (!pathExists(logPath_)) return false;
    log_.read(logPath_.c_str());
    if (log_.previousEntries().empty()) return false;
    if (!log_.previousLabel().empty()) label_ = log_.previousLabel();
    judgeEntries();
    return true;
}

void Uninstaller::judgeEntries()
{
    const auto& entries = log_.previousEntries();
    InstallationArea area({longPathOf(folder_)});
    owned_.assign(entries.size(), false);
    // Shortcuts first: the folders that hold this installation's shortcuts
    // are the Start-menu folders it may have created.
    std::size_t index = 0;
    for (const LogEntry& e : entries) {
        if (isShortcut(e) && area.owns(e)) {
            owned_[index] = true;
            if (!e.path.empty()) area.addShortcutFolder(parentOf(e.path));
        }
        ++index;
    }
    index = 0;
    for (const LogEntry& e : entries) {
        if (!isShortcut(e)) owned_[index] = area.owns(e);
        // Only the program in the uninstaller's own folder is run.
        if (owned_[index] && e.kind == InstalledFile && e.payloadKind == 1 && samePath(parentOf(e.path), folder_))
            programPath_ = e.path;
        ++index;
    }
}

void Uninstaller::skip(const std::wstring& path, const wchar_t* reason)
{
    note(L"Left alone, " + std::wstring(reason) + L": " + path);
    incomplete_ = true;
}

bool Uninstaller::waitUntilNothingRuns()
{
    for (;;) {
        // The mutex first, then the count: a program that starts meanwhile
        // is counted before it looks at the mutex (product/program/Main.cpp),
        // so one of the two sees the other. Once taken, the mutex is kept.
        const bool installerRuns = !installerMutex_.owned() && !installerMutex_.tryAcquire();
        if (!installerRuns && productProcessesRunning() == 0) return true;
        if (silent_ || gatedMessageBox(nullptr, strings_.format(IDS_UNINSTALL_RUNNING, label_), label_,
                                       MB_RETRYCANCEL | MB_ICONEXCLAMATION) != IDRETRY) {
            installerRan_ = installerRuns;
            note(installerRuns ? L"An installer is running: nothing removed"
                               : L"The product is running: nothing removed");
            return false;
        }
    }
}

bool Uninstaller::recoverUnfinishedRun()
{
    // Left to the next installer's start, the recovery of an installation
    // run that did not end would put back files, the uninstall key and the
    // installation record of what is removed here. It may put back the
    // language libraries too, and the key it puts back may name another
    // language: the texts are let go meanwhile and loaded again after.
    strings_.release();
    // The program's own clean-up run does not look at the mutex
    // (product/program/Main.cpp): nothing to lend it.
    if (!recoveryLog_) recoveryLog_.emplace(runLog_, productKeyName(QuorvexProductCode) + L" Recovery");
    RunRecovery recovery([this](const std::wstring& line) { recoveryLog_->write(line); }, {});
    const bool recovered = recovery.recover();
    runLeftUnfinished_ = recovery.unfinished();
    strings_ = ProductStrings(folder_, installedLanguage());
    label_ = productLabelOf(strings_);
    return recovered;
}

void Uninstaller::dropUnfinishedRun()
{
    // What the recovery could not put back (the earlier uninstaller, which
    // is this running program, for one) belongs to what is removed now: a
    // later installer's start must not put the installation back.
    if (!runLeftUnfinished_) return;
    RunRecovery([this](const std::wstring& line) { recoveryLog_->write(line); }, {}).dropUnfinishedRun();
}

bool Uninstaller::confirm()
{
    if (silent_) return true;
    return gatedMessageBox(nullptr, strings_.format(IDS_UNINSTALL_CONFIRM, label_), label_,
                           MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void Uninstaller::unregisterProgram()
{
    if (programPath_.empty()) return;
    // Held open (others may only read) until the process runs: what starts
    // is the file that was checked.
    CheckedHandle program;
    try {
        program = openChecked(programPath_, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    } catch (...) {
        skip(programPath_, behindLink);
        return;
    }
    if (!program) return;
    std::wstring line = quotedPath(programPath_) + L" /Unregister" + (silent_ ? L" /Background" : L"");
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring workFolder = parentOf(programPath_);
    if (!::CreateProcessW(programPath_.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          workFolder.c_str(), &si, &pi)) {
        incomplete_ = true;
        return;
    }
    UniqueHandle process(pi.hProcess), thread(pi.hThread);
    program.handle.reset();
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 1;
    if (!::GetExitCodeProcess(process.get(), &code) || code != 0) incomplete_ = true;
    note(line + L": exit code " + std::to_wstring(static_cast<int>(code)));
}

bool Uninstaller::holdsSelf(const std::wstring& folder) const
{
    // The uninstaller's folder and the folders above it cannot be removed
    // while it runs.
    for (std::wstring f = folder_; !f.empty(); f = parentOf(f)) {
        if (samePath(f, folder)) return true;
        if (f.size() <= 3) break;
    }
    return false;
}

void Uninstaller::removeEntries()
{
    std::vector<std::pair<const LogEntry*, bool>> entries;
    std::size_t index = 0;
    for (const LogEntry& e : log_.previousEntries()) entries.emplace_back(&e, owned_[index++]);
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        const LogEntry& e = *it->first;
        if (!it->second) {
            if (claimsSomething(e)) skip(e.path, notOwned);
            continue;
        }
        switch (e.kind) {
        case CreatedFolder:
            if (holdsSelf(e.path)) foldersAfterExit_.push_back(e.path);
            else removeFolder(e.path);
            break;
        case InstalledFile:
            // Shared data files stay; the uninstaller goes last.
            if (e.payloadKind == 3 && !e.path.empty()) note(L"Kept shared data file " + e.path);
            if (e.payloadKind == 3 || e.path.empty()) break;
            if (samePath(e.path, self_)) break;
            removeFile(e.path);
            break;
        case ProgramShortcut:
        case UninstallShortcut:
        case DesktopShortcut:
            if (!e.path.empty()) removeFile(e.path);
            break;
        case UninstallKey:
            removeUninstallKey();
            break;
        default:  // ClassesRootKeys: the program's /Unregister removed them
            break;
        }
    }
}

void Uninstaller::removeFile(const std::wstring& path)
{
    // A link at the path goes itself, never its target.
    switch (removeChecked(path, Removable::File)) {
    case RemoveOutcome::Removed:
        note(L"Deleted " + path);
        ::SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, path.c_str(), nullptr);
        break;
    case RemoveOutcome::Missing:
        note(L"Already gone: " + path);
        break;
    case RemoveOutcome::Refused:
        skip(path, behindLink);
        break;
    case RemoveOutcome::InUse:
        removeAtRestart(path);
        break;
    case RemoveOutcome::Failed:
        note(L"Could NOT delete " + path);
        incomplete_ = true;
        break;
    }
}

void Uninstaller::removeAtRestart(const std::wstring& path)
{
    // Windows deletes by path at its start, before anybody logs on. Only the
    // installation folder, which administrators alone may change, still
    // leads where it led now; a file in use anywhere else stays.
    if (!isSameOrBelow(path, folder_)) {
        note(L"Could NOT delete " + path + L" (in use)");
        incomplete_ = true;
        return;
    }
    if (!::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        note(L"Could NOT delete " + path + L" (in use), nor have it deleted when Windows starts again");
        incomplete_ = true;
        return;
    }
    note(L"In use: " + path + L" is deleted when Windows starts again");
    removedAtRestart_.push_back(path);
    restartRequired_ = true;
}

bool Uninstaller::holdsFileRemovedAtRestart(const std::wstring& folder) const
{
    return std::any_of(removedAtRestart_.begin(), removedAtRestart_.end(),
                       [&](const std::wstring& file) { return isSameOrBelow(file, folder); });
}

void Uninstaller::removeFolder(const std::wstring& path)
{
    // Only when empty: a folder that holds a kept data file or the user's
    // own files stays, and that is no failure. Nothing below a link is
    // looked into.
    if (path.empty()) return;
    switch (removeChecked(path, Removable::EmptyFolder)) {
    case RemoveOutcome::Removed:
        note(L"Removed folder " + path);
        ::SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, path.c_str(), nullptr);
        break;
    case RemoveOutcome::Refused:
        skip(path, behindLink);
        break;
    case RemoveOutcome::Failed:
    case RemoveOutcome::InUse:
        // Emptied at the restart, it goes then too: the system deletes in
        // the order given, the files in it first.
        if (holdsFileRemovedAtRestart(path) && ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
            note(L"Kept folder " + path + L" until Windows starts again");
        else
            note(L"Kept folder " + path + L" (not empty)");
        break;
    case RemoveOutcome::Missing:
        break;
    }
}

void Uninstaller::removeUninstallKey()
{
    std::wstring name = productKeyName(QuorvexProductCode);
    UniqueKey parent;
    LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallParentKey, 0, KEY_ALL_ACCESS, parent.put());
    if (rc != ERROR_SUCCESS) {
        if (!missing(rc)) incomplete_ = true;
        return;
    }
    {
        UniqueKey key;
        if (::RegOpenKeyExW(parent.get(), name.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
        // Another installation of the product registered itself since: its
        // key is not ours to remove.
        std::wstring uninstaller = readString(key.get(), L"UninstallString");
        if (!uninstaller.empty() && !samePath(uninstaller, self_))
            return note(L"Kept the uninstall key: it names another uninstaller, " + uninstaller);
    }
    rc = ::RegDeleteTreeW(parent.get(), name.c_str());
    if (rc == ERROR_SUCCESS) rc = ::RegDeleteKeyW(parent.get(), name.c_str());
    if (rc != ERROR_SUCCESS && !missing(rc)) incomplete_ = true;
    note((rc == ERROR_SUCCESS || missing(rc) ? L"Deleted the uninstall key, all its values with it: "
                                             : L"Could NOT delete the uninstall key ") +
         std::wstring(kUninstallParentKey) + L"\\" + name);
}

void Uninstaller::removeInstallationRecord()
{
    UniqueKey maker;
    LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, MakerKeyPath, 0, KEY_ALL_ACCESS, maker.put());
    if (rc != ERROR_SUCCESS) {
        if (!missing(rc)) incomplete_ = true;
        return;
    }
    std::wstring value = installationRecordValueName();
    std::wstring recorded = readString(maker.get(), value.c_str());
    // The record of another installation of the product stays.
    if (!recorded.empty() && (programPath_.empty() || !samePath(recorded, programPath_)))
        return note(L"Kept the installation record: it names another program, " + recorded);
    rc = ::RegDeleteValueW(maker.get(), value.c_str());
    if (rc != ERROR_SUCCESS && !missing(rc)) incomplete_ = true;
    note((rc == ERROR_SUCCESS || missing(rc) ? L"Deleted the installation record " : L"Could NOT delete the installation record ") +
         value);
    if (isEmptyKey(maker.get())) {
        maker.reset();
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, MakerKeyPath);
    }
}

void Uninstaller::removeLogAndSelf()
{
    removeFile(logPath_);
    // The created folders come deepest first from the reversed log.
    if (removeAfterExit(self_, foldersAfterExit_)) {
        note(L"A temporary copy deletes the uninstaller " + self_ + L" and its folders once it has ended");
        // A folder that keeps a file in use until the restart goes after it.
        for (const std::wstring& folder : foldersAfterExit_)
            if (holdsFileRemovedAtRestart(folder)) ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    } else {
        note(L"The uninstaller " + self_ + L" and its folders go when Windows starts again");
        if (removeAtNextStart(self_, foldersAfterExit_)) restartRequired_ = true;
        else incomplete_ = true;
    }
}

void Uninstaller::note(const std::wstring& text) const
{
    if (runLog_) runLog_->write(text);
}

void Uninstaller::tell(UINT textId, UINT icon) const
{
    if (!silent_)
        gatedMessageBox(nullptr, strings_.format(textId, label_), label_, MB_OK | icon);
}

std::uint32_t productProcessesRunning()
{
    UniqueHandle count = createGlobalSemaphore(0, 0x7FFFFFFF, instanceCountName(kApplicationId));
    if (!count) return 0;
    // Reading a semaphore's count means adding a unit and taking it back.
    LONG before = 0;
    if (!::ReleaseSemaphore(count.get(), 1, &before)) return 0;
    ::WaitForSingleObject(count.get(), 0);
    return static_cast<std::uint32_t>(before);
}

}  // namespace qv::product
