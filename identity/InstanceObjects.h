#pragma once
// Classes in this file:
//   createGlobalMutex, createGlobalSemaphore   named objects every account may open
//   NamedMutex        holder of one mutex and whether this thread owns it
//   InstanceCounter   this process's unit in the product line's running count
//   runningCount      how many processes of the product line are registered
//   globalMutexHeldElsewhere  whether another process holds a global mutex
//
// The objects live in the Global\ namespace so that installers and installed
// programs in every user session see the same ones; the installed program
// registers under the same count name.

#include "sys/Handles.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace qv {

// Suffixes that turn the application identifier (for example "Quorvex6")
// into the names of the installer mutex and of the instance count. Peers
// depend on them: never change them.
inline constexpr wchar_t instanceMutexSuffix[] = L".{5ead623c-dfcd-474d-8e3c-e6978cac039e}";
inline constexpr wchar_t instanceCountSuffix[] = L".{a3526b56-ca7c-4e16-8a26-da7758a378fd}";

// Object names without the "Global\" prefix.
inline std::wstring instanceMutexName(const std::wstring& applicationId)
{
    return applicationId + instanceMutexSuffix;
}
inline std::wstring instanceCountName(const std::wstring& applicationId)
{
    return applicationId + instanceCountSuffix;
}

// Creates or opens "Global\<name>" with a DACL of one entry that grants
// Everyone the object's full access. On return the thread's last error is
// that of the creation call (ERROR_ALREADY_EXISTS tells an opened object);
// when the security descriptor cannot be built nothing is created, the
// handle is null and the last error is ERROR_CAN_NOT_COMPLETE.
UniqueHandle createGlobalMutex(bool initialOwner, const std::wstring& name);
UniqueHandle createGlobalSemaphore(LONG initialCount, LONG maximumCount, const std::wstring& name);

// Whether "Global\<name>" exists and a thread other than the caller owns it
// (an owner that ended has left it free). Looked at without taking it: even
// a moment's hold would turn away an installer that starts in that moment.
bool globalMutexHeldElsewhere(const std::wstring& name);

class NamedMutex {
public:
    // global: "Global\<name>" through createGlobalMutex; otherwise <name> in
    // the session's namespace with default security. With initialOwner the
    // constructor waits, without time limit, for a mutex that already existed.
    NamedMutex(const std::wstring& name, bool initialOwner, bool global);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Takes the mutex without waiting; a mutex left abandoned by a thread or
    // process that ended counts as taken. False with a null handle.
    bool tryAcquire();
    // Gives the mutex up so that another process may take it.
    void release();

    bool owned() const noexcept { return owned_; }
    HANDLE handle() const noexcept { return handle_.get(); }

private:
    UniqueHandle handle_;
    bool owned_ = false;
};

// The semaphore "Global\<applicationId>.{a3526b56-…}" (count 0 when created,
// maximum 0x7FFFFFFF) in which every running process of the product line
// keeps one unit.
class InstanceCounter {
public:
    // Creates or opens the semaphore and adds this process's unit. A
    // semaphore that cannot be created leaves the counter without a handle:
    // registering and counting then fail quietly.
    explicit InstanceCounter(const std::wstring& applicationId);
    // Takes this process's units back.
    ~InstanceCounter();
    InstanceCounter(const InstanceCounter&) = delete;
    InstanceCounter& operator=(const InstanceCounter&) = delete;

    // The process's counter, created and registered at the first call (the
    // identifier of later calls is not used); it gives its unit back at
    // process end, when static objects are destroyed.
    static InstanceCounter& forProcess(const std::wstring& applicationId);

    // Takes this process's units back before its end: a process that runs
    // the uninstaller and waits for it must not count as the product running.
    void withdraw() noexcept;

    // Number of units in the count, this process's own included; 0 when the
    // count cannot be read. A snapshot: others may come or go at once.
    std::uint32_t runningCount() const;

    // Units this process added (positive) or took (negative).
    LONG held() const noexcept { return held_; }
    HANDLE handle() const noexcept { return handle_.get(); }

private:
    UniqueHandle handle_;
    LONG held_ = 0;
};

// runningCount of the process's counter; 0 before forProcess registered it.
std::uint32_t runningCount();

}  // namespace qv
