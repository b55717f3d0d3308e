#include "product/uninstaller/Uninstaller.h"

#include "app/ErrorMessages.h"
#include "identity/InstanceObjects.h"
#include "identity/Product.h"
#include "uninstall/RunRecovery.h"
#include "engine/TemporaryFiles.h"
#include "product/common/ProductNames.h"
#include "sys/Handles.h"
#include "sys/PathGuard.h"
#include "sys/PathIdentity.h"
#include "sys/RunFolder.h"
#include "uninstall/InstallationArea.h"
#include "sys/PathText.h"

#include <shlobj.h>

#include <algorithm>
#include <initializer_list>
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

std::wstring quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
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

// Letters, digits and "._-{}": nothing the command interpreter reads as
// syntax. The names this program gives its clean-up copy and run folder are
// all of that kind.
bool isPlainName(const std::wstring& name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](wchar_t c) {
        return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'.' ||
               c == L'_' || c == L'-' || c == L'{' || c == L'}';
    });
}

bool isRunFolderName(const std::wstring& name)
{
    return isPlainName(name) && name.compare(0, 8, L"orvane_{") == 0;
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
    if (!loadLog()) return noLog();
    if (!waitUntilNothingRuns())
        return installerRan_ ? UninstallResult::InstallerRunning : UninstallResult::ProductRunning;
    // The recovery may have put an earlier log back: it is read again.
    if (recoverUnfinishedRun() && !loadLog()) return noLog();
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
        ::MessageBoxW(nullptr, (incomplete_ ? partial : done).c_str(), label_.c_str(),
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
        if (silent_ || ::MessageBoxW(nullptr, strings_.format(IDS_UNINSTALL_RUNNING, label_).c_str(),
                                     label_.c_str(), MB_RETRYCANCEL | MB_ICONEXCLAMATION) != IDRETRY) {
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
    return ::MessageBoxW(nullptr, strings_.format(IDS_UNINSTALL_CONFIRM, label_).c_str(), label_.c_str(),
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
    std::wstring line = quoted(programPath_) + L" /Unregister" + (silent_ ? L" /Background" : L"");
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
        // Without the clean-up copy, Windows removes them at the next start
        // (administrators only; folders only when empty by then).
        ::SetFileAttributesW(self_.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (::MoveFileExW(self_.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) restartRequired_ = true;
        else incomplete_ = true;
        for (const std::wstring& folder : foldersAfterExit_)
            ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
}

void Uninstaller::note(const std::wstring& text) const
{
    if (runLog_) runLog_->write(text);
}

void Uninstaller::tell(UINT textId, UINT icon) const
{
    if (!silent_)
        ::MessageBoxW(nullptr, strings_.format(textId, label_).c_str(), label_.c_str(), MB_OK | icon);
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

bool removeAfterExit(const std::wstring& selfPath, const std::vector<std::wstring>& folders)
{
    std::wstring error;
    std::optional<RunFolder> folder = makeRunFolder(error);
    if (!folder) return false;
    const std::wstring placeholder = folder->freshFileName(L"qvu");
    if (placeholder.empty()) return false;
    std::wstring copy = placeholder + L".exe";
    if (!::CopyFileW(selfPath.c_str(), copy.c_str(), TRUE)) return false;
    ::SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);

    HANDLE me = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(), &me, SYNCHRONIZE,
                           TRUE, 0)) {
        ::DeleteFileW(copy.c_str());
        return false;
    }
    UniqueHandle inherited(me);
    std::wstring line = quoted(copy) + L" /cleanup:" + std::to_wstring(reinterpret_cast<std::uintptr_t>(me)) +
                        L" " + quoted(selfPath);
    for (const std::wstring& f : folders) line += L" " + quoted(f);
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    // Working folder: the temporary folder above the run folder, so that
    // the copy holds none of the folders it is to remove, nor its own.
    const std::wstring workFolder = parentOf(folder->path());
    if (!::CreateProcessW(copy.c_str(), buffer.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                          workFolder.c_str(), &si, &pi)) {
        ::DeleteFileW(copy.c_str());
        return false;
    }
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    // The folder stays while the copy lives in it; the copy has both
    // deleted once it has ended (deleteCopyAfterExit).
    return true;
}

int runCleanup(HANDLE waitFor, const std::vector<std::wstring>& paths)
{
    if (waitFor) {
        ::WaitForSingleObject(waitFor, INFINITE);
        ::CloseHandle(waitFor);
    }
    // The uninstaller held the installers' mutex to its end, moments ago;
    // the copy holds it for its deletions. An installer that has it instead
    // is installing into these folders: its files stay.
    NamedMutex installerMutex(instanceMutexName(kApplicationId), false, true);
    const bool installerRuns = !installerMutex.tryAcquire();
    int result = installerRuns ? 1 : 0;
    if (!paths.empty() && !installerRuns) {
        // The image of an ended process may stay mapped for a moment. The
        // folder may be one users can write: a link put in the uninstaller's
        // place goes itself, a link on its way stops the clean-up.
        auto stays = [](RemoveOutcome outcome) {
            return outcome == RemoveOutcome::Failed || outcome == RemoveOutcome::InUse;
        };
        RemoveOutcome removed = RemoveOutcome::Failed;
        for (int attempt = 0; attempt < 50; ++attempt) {
            removed = removeChecked(paths[0], Removable::File);
            if (!stays(removed)) break;
            ::Sleep(100);
        }
        // Held by some other process for five seconds: it goes at the restart.
        if (stays(removed)) ::MoveFileExW(paths[0].c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        if (stays(removed) || removed == RemoveOutcome::Refused) result = 1;
        for (std::size_t i = 1; i < paths.size() && removed != RemoveOutcome::Refused; ++i)
            if (removeChecked(paths[i], Removable::EmptyFolder) == RemoveOutcome::Removed)
                ::SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, paths[i].c_str(), nullptr);
    }
    // The copy itself goes once it has ended; where no interpreter can do
    // that, when Windows starts again, its private folder after it (an
    // empty folder is all that is removed then).
    wchar_t copy[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, copy, MAX_PATH);
    if (length > 0 && length < MAX_PATH && !deleteCopyAfterExit(copy)) {
        ::MoveFileExW(copy, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        const std::wstring folder = parentOf(copy);
        if (isRunFolderName(nameOf(folder))) ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    return result;
}

bool deleteCopyAfterExit(const std::wstring& copyPath)
{
    const std::wstring folder = parentOf(copyPath);
    const std::wstring copyName = nameOf(copyPath), folderName = nameOf(folder);
    if (!isPlainName(copyName) || !isRunFolderName(folderName)) return false;
    wchar_t system[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    const std::wstring systemFolder(system, length);
    const std::wstring interpreter = systemFolder + L"\\cmd.exe";

    // Input: a pipe whose writing end this process alone holds, so that it
    // ends when this process does. Output: a pipe this process reads until
    // the interpreter says it is in the run folder. Errors: nowhere.
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE inputRead = nullptr, inputWrite = nullptr, outputRead = nullptr, outputWrite = nullptr;
    if (!::CreatePipe(&inputRead, &inputWrite, &inheritable, 0)) return false;
    UniqueHandle input(inputRead), untilExit(inputWrite);
    if (!::CreatePipe(&outputRead, &outputWrite, &inheritable, 0)) return false;
    UniqueHandle answer(outputRead), output(outputWrite);
    UniqueFile nowhere(::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                     OPEN_EXISTING, 0, nullptr));
    if (!nowhere || !::SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0) ||
        !::SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0))
        return false;

    // The interpreter inherits these three handles and no other.
    HANDLE inherited[] = {input.get(), output.get(), nowhere.get()};
    SIZE_T listSize = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<BYTE> listBuffer(listSize);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBuffer.data());
    if (listSize == 0 || !::InitializeProcThreadAttributeList(list, 1, 0, &listSize)) return false;
    struct ListOwner {
        LPPROC_THREAD_ATTRIBUTE_LIST list;
        ~ListOwner() { ::DeleteProcThreadAttributeList(list); }
    } listOwner{list};
    if (!::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof inherited,
                                     nullptr, nullptr))
        return false;

    // The interpreter starts in the folder above and changes into the run
    // folder while this program still runs from it, so that the folder it
    // holds is this one (Wine would keep a first working folder open until
    // the end, and the run folder could not be removed). Then it says so and
    // waits: "set /p" reads until the input ends. The system lets go of a
    // program's file a moment after the program has ended (later where
    // another process still holds the ended process), so while the copy is
    // there each further try waits longer: 1, 1, 2, 4, 8 and 16 seconds. The
    // command line has no loop and no "||": each step is a group of its own,
    // the one form that means the same to every version of the interpreter
    // (and to Wine's). ping is named by its full path: the interpreter would
    // look for it in every folder on PATH.
    const std::wstring ping = L"\"" + systemFolder + L"\\PING.EXE\"";
    // command, then once more after each wait (echoes - 1 seconds) for as
    // long as name is still there.
    auto retried = [&](const std::wstring& command, const std::wstring& name, std::initializer_list<int> echoes) {
        std::wstring steps = command;
        for (int count : echoes)
            steps += L" & (if exist " + name + L" (" + ping + L" -n " + std::to_wstring(count) + L" 127.0.0.1 >nul & " +
                     command + L" ))";
        return steps;
    };
    std::wstring script = L"cd " + folderName + L" >nul 2>nul & (if not exist " + copyName +
                          L" exit) & echo pinned & set /p QV_WAIT= & ";
    script += retried(L"del /f /q " + copyName + L" >nul 2>nul", copyName, {2, 2, 3, 5, 9, 17});
    // The folder, once emptied, by its name in the folder above: a name
    // there may be anybody's, and rd without /s removes only an empty folder
    // or a link itself. Until the last handle to the deleted copy is closed
    // the folder still counts as holding it, so that is tried again too.
    script += L" & cd .. & " + retried(L"rd " + folderName + L" >nul 2>nul", folderName + L"\\", {2, 3, 5});
    const std::wstring line = L"\"" + interpreter + L"\" /d /q /s /c \"" + script + L"\"";
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input.get();
    startup.StartupInfo.hStdOutput = output.get();
    startup.StartupInfo.hStdError = nowhere.get();
    startup.lpAttributeList = list;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(interpreter.c_str(), buffer.data(), nullptr, nullptr, TRUE,
                          CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr, parentOf(folder).c_str(),
                          &startup.StartupInfo, &pi))
        return false;
    UniqueHandle process(pi.hProcess), thread(pi.hThread);
    output.reset();  // the interpreter's end alone: it ends with the interpreter

    // Ten seconds for "pinned"; an interpreter that ends or stays silent
    // instead is ended, and the caller falls back.
    std::string said;
    for (const ULONGLONG deadline = ::GetTickCount64() + 10000; ::GetTickCount64() < deadline;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(answer.get(), nullptr, 0, nullptr, &available, nullptr)) break;
        if (available == 0) {
            ::Sleep(20);
            continue;
        }
        char chunk[256];
        DWORD read = 0;
        if (!::ReadFile(answer.get(), chunk, std::min<DWORD>(available, sizeof chunk), &read, nullptr)) break;
        said.append(chunk, read);
        // The writing end of the input stays open until this process ends.
        if (said.find("pinned") != std::string::npos) return untilExit.release() != nullptr;
    }
    ::TerminateProcess(process.get(), 1);
    return false;
}

}  // namespace qv::product
