// A process of the product line for the running-instance tests. It runs its
// arguments as steps, in order:
//   register        adds this process to the count (InstanceCounter::forProcess)
//   count           runningCount(); the last count is the exit code of "exit"
//   acquire         takes the global installer mutex; if that fails the
//                   process ends at once with exit code 10
//   release         gives the mutex up
//   signal:<name>   sets the named event <name>
//   wait:<name>     waits for the named event <name>
//   sleep:<ms>      sleeps that many milliseconds
//   exit            returns from wmain: static objects are destroyed
//   die             TerminateProcess on itself: nothing is cleaned up
// The first argument is the application identifier.

#include "identity/InstanceObjects.h"
#include "sys/Handles.h"

#include <windows.h>

#include <cwchar>
#include <memory>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) return 2;
    const std::wstring applicationId = argv[1];
    std::unique_ptr<qv::NamedMutex> mutex;
    int lastCount = 0;
    for (int i = 2; i < argc; ++i) {
        const std::wstring step = argv[i];
        if (step == L"register") {
            qv::InstanceCounter::forProcess(applicationId);
        } else if (step == L"count") {
            lastCount = static_cast<int>(qv::runningCount());
        } else if (step == L"acquire") {
            if (!mutex) mutex = std::make_unique<qv::NamedMutex>(qv::instanceMutexName(applicationId), false, true);
            if (!mutex->tryAcquire()) return 10;
        } else if (step == L"release") {
            if (mutex) mutex->release();
        } else if (step.rfind(L"sleep:", 0) == 0) {
            ::Sleep(static_cast<DWORD>(std::wcstoul(step.c_str() + 6, nullptr, 10)));
        } else if (step.rfind(L"signal:", 0) == 0) {
            qv::UniqueHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, step.substr(7).c_str()));
            if (!event || !::SetEvent(event.get())) return 3;
        } else if (step.rfind(L"wait:", 0) == 0) {
            qv::UniqueHandle event(::OpenEventW(SYNCHRONIZE, FALSE, step.substr(5).c_str()));
            if (!event || ::WaitForSingleObject(event.get(), INFINITE) != WAIT_OBJECT_0) return 4;
        } else if (step == L"exit") {
            return lastCount;
        } else if (step == L"die") {
            ::TerminateProcess(::GetCurrentProcess(), 99);
        } else {
            return 5;
        }
    }
    return lastCount;
}
