// Stands in for the installed program in the install-sequence tests. Run
// with " /Register /Background" it registers a document type under
// HKEY_CLASSES_ROOT, the way the real program does, and exits with -10.
// What it was given (command line, working folder, show command, whether
// the installers' mutex was free) goes to HKCU\Software\QvSequenceTest,
// which the tests read and their snapshots do not cover, with the path of
// the program that ran. Run with " /Unregister" it records that it ran (the
// uninstaller's tests plant it where a program must not be started) and
// removes the document type it registers, as the real program does.
// The environment variable QV_REGISTRAR_EXIT, when set, replaces the exit
// code.

#include <windows.h>

#include <cwchar>
#include <string>

namespace {

void store(HKEY key, const wchar_t* name, const std::wstring& value)
{
    ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void store(HKEY key, const wchar_t* name, DWORD value)
{
    ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void setDefault(const wchar_t* path, const std::wstring& value)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    store(key, L"", value);
    ::RegCloseKey(key);
}

}  // namespace

int wmain()
{
    const std::wstring commandLine = ::GetCommandLineW();
    wchar_t program[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, program, MAX_PATH);
    if (commandLine.find(L" /Unregister") != std::wstring::npos) {
        HKEY record = nullptr;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\QvSequenceTest", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &record, nullptr) == ERROR_SUCCESS) {
            store(record, L"Unregistered", program);
            ::RegCloseKey(record);
        }
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L".qvseq");
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"QvSequence.Document");
        return 0;
    }
    if (commandLine.find(L" /Register /Background") == std::wstring::npos) return 1;

    HKEY record = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\QvSequenceTest", 0, nullptr, 0, KEY_ALL_ACCESS,
                          nullptr, &record, nullptr) == ERROR_SUCCESS) {
        store(record, L"CommandLine", commandLine);
        store(record, L"Program", program);
        wchar_t folder[MAX_PATH] = {};
        ::GetCurrentDirectoryW(MAX_PATH, folder);
        store(record, L"WorkingFolder", folder);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        ::GetStartupInfoW(&startup);
        store(record, L"ShowCommand",
              (startup.dwFlags & STARTF_USESHOWWINDOW) ? DWORD(startup.wShowWindow) : DWORD(0xFFFF));
        // The installer lends its mutex for this run: it must be free now.
        DWORD mutexFree = 2;  // no such mutex
        wchar_t name[256] = {};
        if (::GetEnvironmentVariableW(L"QV_REGISTRAR_MUTEX", name, 256)) {
            HANDLE mutex = ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
            if (mutex) {
                DWORD wait = ::WaitForSingleObject(mutex, 0);
                mutexFree = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
                if (mutexFree) ::ReleaseMutex(mutex);
                ::CloseHandle(mutex);
            }
        }
        store(record, L"MutexFree", mutexFree);
        DWORD runs = 0, size = sizeof runs;
        ::RegQueryValueExW(record, L"Runs", nullptr, nullptr, reinterpret_cast<BYTE*>(&runs), &size);
        store(record, L"Runs", runs + 1);
        ::RegCloseKey(record);
    }

    setDefault(L".qvseq", L"QvSequence.Document");
    setDefault(L"QvSequence.Document", L"Sequence test document");
    setDefault(L"QvSequence.Document\\shell\\open\\command", L"\"" + std::wstring(program) + L"\" \"%1\"");

    wchar_t code[32] = {};
    if (::GetEnvironmentVariableW(L"QV_REGISTRAR_EXIT", code, 32)) return static_cast<int>(std::wcstol(code, nullptr, 10));
    return -10;
}
