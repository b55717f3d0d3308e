#include "product/uninstaller/SelfDeletion.h"

#include "engine/TemporaryFiles.h"
#include "identity/InstanceObjects.h"
#include "product/common/ProductNames.h"
#include "sys/Handles.h"
#include "sys/PathGuard.h"
#include "sys/RunFolder.h"
#include "uninstall/RunFolderName.h"
#include "sys/PathText.h"
#include "sys/ModulePath.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

namespace qv::product {

namespace {

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

}  // namespace

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
    std::wstring line = quotedPath(copy) + L" /cleanup:" + std::to_wstring(reinterpret_cast<std::uintptr_t>(me)) +
                        L" " + quotedPath(selfPath);
    for (const std::wstring& f : folders) line += L" " + quotedPath(f);
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

bool removeAtNextStart(const std::wstring& selfPath, const std::vector<std::wstring>& folders)
{
    // Without the clean-up copy, Windows removes them at the next start
    // (administrators only; folders only when empty by then).
    ::SetFileAttributesW(selfPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    const bool scheduled = ::MoveFileExW(selfPath.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    for (const std::wstring& folder : folders) ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return scheduled;
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
    const std::wstring system = systemFolder();
    if (system.empty()) return false;
    const std::wstring interpreter = system + L"\\cmd.exe";

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
    const std::wstring ping = quotedPath(system + L"\\PING.EXE");
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
