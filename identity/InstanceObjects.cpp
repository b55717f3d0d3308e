#include "identity/InstanceObjects.h"

#include "sys/Security.h"

#include <atomic>
#include <exception>

namespace qv {

namespace {

std::atomic<InstanceCounter*> processCounter{nullptr};

// Creates a named object whose DACL lets Everyone use it fully, through
// create(SECURITY_ATTRIBUTES*, full name). The last error of that call
// survives the release of the descriptor and the list.
template <class Create>
UniqueHandle createWithEveryoneAccess(const std::wstring& name, DWORD fullAccess, Create create)
{
    const std::wstring fullName = L"Global\\" + name;
    UniqueHandle handle;
    DWORD error = ERROR_CAN_NOT_COMPLETE;
    try {
        AclBuffer acl = singleAceAcl(WellKnownSid::Everyone, fullAccess);
        std::unique_ptr<SECURITY_DESCRIPTOR> descriptor = newSecurityDescriptor();
        setDescriptorDacl(descriptor.get(), aclPointer(acl));
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
        handle.reset(create(&attributes, fullName.c_str()));
        error = ::GetLastError();
    } catch (const std::exception&) {
        // Without the descriptor nothing is created.
        handle.reset();
        error = ERROR_CAN_NOT_COMPLETE;
    }
    ::SetLastError(error);
    return handle;
}

bool waitSucceeded(DWORD wait) noexcept
{
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

// NtQueryMutant's MutantBasicInformation (class 0): a count of 1 is a free
// mutex, 0 or less one that is owned, ownedByCaller when this thread owns it.
struct MutantBasicInformation {
    LONG currentCount;
    BOOLEAN ownedByCaller;
    BOOLEAN abandonedState;
};
using NtQueryMutantFunction = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
constexpr DWORD mutantQueryState = 0x0001;

}  // namespace

bool globalMutexHeldElsewhere(const std::wstring& name)
{
    const std::wstring fullName = L"Global\\" + name;
    UniqueHandle mutex(::OpenMutexW(SYNCHRONIZE | mutantQueryState, FALSE, fullName.c_str()));
    if (!mutex) return false;
    // ntdll has answered this since the first Windows NT (and does under
    // Wine); the ordinary functions can only tell by taking the mutex.
    const auto query = reinterpret_cast<NtQueryMutantFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryMutant")));
    MutantBasicInformation state{};
    if (query && query(mutex.get(), 0, &state, sizeof state, nullptr) >= 0)
        return state.currentCount <= 0 && !state.ownedByCaller;
    // Without the query: taken and given back at once.
    const DWORD wait = ::WaitForSingleObject(mutex.get(), 0);
    if (!waitSucceeded(wait)) return wait == WAIT_TIMEOUT;
    ::ReleaseMutex(mutex.get());
    return false;
}

UniqueHandle createGlobalMutex(bool initialOwner, const std::wstring& name)
{
    return createWithEveryoneAccess(name, MUTEX_ALL_ACCESS,
                                    [initialOwner](SECURITY_ATTRIBUTES* attributes, const wchar_t* fullName) {
                                        return ::CreateMutexW(attributes, initialOwner, fullName);
                                    });
}

UniqueHandle createGlobalSemaphore(LONG initialCount, LONG maximumCount, const std::wstring& name)
{
    return createWithEveryoneAccess(
        name, SEMAPHORE_ALL_ACCESS,
        [initialCount, maximumCount](SECURITY_ATTRIBUTES* attributes, const wchar_t* fullName) {
            return ::CreateSemaphoreW(attributes, initialCount, maximumCount, fullName);
        });
}

NamedMutex::NamedMutex(const std::wstring& name, bool initialOwner, bool global)
{
    handle_ = global ? createGlobalMutex(initialOwner, name)
                     : UniqueHandle(::CreateMutexW(nullptr, initialOwner, name.c_str()));
    // An existing mutex is opened, not granted: wait for it as asked.
    if (handle_ && initialOwner && ::GetLastError() == ERROR_ALREADY_EXISTS)
        owned_ = waitSucceeded(::WaitForSingleObject(handle_.get(), INFINITE));
    else
        owned_ = handle_ && initialOwner;
}

NamedMutex::~NamedMutex()
{
    if (owned_) ::ReleaseMutex(handle_.get());
}

bool NamedMutex::tryAcquire()
{
    owned_ = handle_ && waitSucceeded(::WaitForSingleObject(handle_.get(), 0));
    return owned_;
}

void NamedMutex::release()
{
    ::ReleaseMutex(handle_.get());
    owned_ = false;
}

InstanceCounter::InstanceCounter(const std::wstring& applicationId)
    : handle_(createGlobalSemaphore(0, 0x7FFFFFFF, instanceCountName(applicationId)))
{
    if (handle_ && ::ReleaseSemaphore(handle_.get(), 1, nullptr)) held_ = 1;
}

InstanceCounter::~InstanceCounter()
{
    InstanceCounter* self = this;
    processCounter.compare_exchange_strong(self, nullptr);
    withdraw();
}

void InstanceCounter::withdraw() noexcept
{
    if (held_ > 0) {
        LONG taken = 0;
        while (taken < held_ && ::WaitForSingleObject(handle_.get(), 0) == WAIT_OBJECT_0) ++taken;
        if (taken == held_)
            held_ = 0;
        else if (taken > 0)
            ::ReleaseSemaphore(handle_.get(), taken, nullptr);  // all or nothing
    } else if (held_ < 0) {
        if (::ReleaseSemaphore(handle_.get(), -held_, nullptr)) held_ = 0;
    }
}

InstanceCounter& InstanceCounter::forProcess(const std::wstring& applicationId)
{
    // Thread-safe on first use; destroyed with the other static objects at
    // process end, which gives the unit back.
    static InstanceCounter counter(applicationId);
    processCounter = &counter;
    return counter;
}

std::uint32_t InstanceCounter::runningCount() const
{
    // A semaphore's count can only be read by changing it: add one unit,
    // note the count before, and take the unit back at once.
    LONG previous = 0;
    if (!handle_ || !::ReleaseSemaphore(handle_.get(), 1, &previous)) return 0;
    ::WaitForSingleObject(handle_.get(), 0);
    return static_cast<std::uint32_t>(previous);
}

std::uint32_t runningCount()
{
    InstanceCounter* counter = processCounter;
    return counter ? counter->runningCount() : 0;
}

}  // namespace qv
