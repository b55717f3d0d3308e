#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>

#include "identity/InstanceObjects.h"
#include "sys/Handles.h"

#include <string>
#include <vector>

// These tests start real processes (tests/helpers/instance_helper.cpp) that
// register in the count, hold the mutex or die holding it, and watch the
// kernel objects from this process.

namespace {

using qv::UniqueHandle;

// A fresh application identifier per test, so that no test sees another's objects.
std::wstring freshApplicationId()
{
    static int serial = 0;
    return L"QvTest" + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(++serial);
}

// The names as peers spell them.
std::wstring countName(const std::wstring& id)
{
    return L"Global\\" + id + L".{a3526b56-ca7c-4e16-8a26-da7758a378fd}";
}
std::wstring mutexName(const std::wstring& id)
{
    return L"Global\\" + id + L".{5ead623c-dfcd-474d-8e3c-e6978cac039e}";
}

std::wstring helperPath()
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"instance_helper.exe";
}

// A manual-reset event the helper opens by name.
struct Event {
    explicit Event(const std::wstring& id, const wchar_t* what) : name(L"Local\\" + id + L"-" + what)
    {
        handle.reset(::CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
        EXPECT_TRUE(handle);
    }
    std::wstring name;
    UniqueHandle handle;
    std::wstring signal() const { return L"signal:" + name; }
    std::wstring wait() const { return L"wait:" + name; }
};

class Helper {
public:
    Helper(const std::wstring& id, const std::vector<std::wstring>& steps)
    {
        std::wstring commandLine = L"\"" + helperPath() + L"\" " + id;
        for (const std::wstring& step : steps) commandLine += L" " + step;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        EXPECT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                     nullptr, &startup, &info))
            << ::GetLastError();
        process_.reset(info.hProcess);
        UniqueHandle thread(info.hThread);
    }
    ~Helper()
    {
        if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT)
            ::TerminateProcess(process_.get(), 1);
    }
    // True once `event` is set; false if the helper ended before.
    bool reached(const Event& event) const
    {
        const HANDLE both[] = {event.handle.get(), process_.get()};
        return ::WaitForMultipleObjects(2, both, FALSE, INFINITE) == WAIT_OBJECT_0;
    }
    DWORD exitCode() const
    {
        ::WaitForSingleObject(process_.get(), INFINITE);
        DWORD code = 0;
        ::GetExitCodeProcess(process_.get(), &code);
        return code;
    }

private:
    UniqueHandle process_;
};

DWORD run(const std::wstring& id, const std::vector<std::wstring>& steps)
{
    return Helper(id, steps).exitCode();
}

// Reads a semaphore's count the only way there is: add one unit and take it back.
LONG countOf(HANDLE semaphore)
{
    LONG previous = -1;
    EXPECT_TRUE(::ReleaseSemaphore(semaphore, 1, &previous));
    EXPECT_EQ(::WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
    return previous;
}

// Holds the count open from this process (which does not register itself),
// so that it outlives the helpers and can be read after they end.
class InstanceCount : public ::testing::Test {
protected:
    void SetUp() override
    {
        semaphore.reset(::CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, countName(id).c_str()));
        ASSERT_TRUE(semaphore);
    }
    const std::wstring id = freshApplicationId();
    UniqueHandle semaphore;
};

TEST_F(InstanceCount, ProcessAloneCountsOneLeavesOneAndGivesItsUnitBackAtExit)
{
    Event ready(id, L"ready"), finish(id, L"finish");
    Helper alone(id, {L"register", L"count", ready.signal(), finish.wait(), L"exit"});
    ASSERT_TRUE(alone.reached(ready));
    EXPECT_EQ(countOf(semaphore.get()), 1);
    ::SetEvent(finish.handle.get());
    EXPECT_EQ(alone.exitCode(), 1u);  // its runningCount
    EXPECT_EQ(countOf(semaphore.get()), 0);
}

TEST_F(InstanceCount, SecondRegisteredProcessMakesTwoAndBothLeaveNothingBehind)
{
    Event ready(id, L"ready"), finish(id, L"finish");
    Helper program(id, {L"register", ready.signal(), finish.wait(), L"exit"});
    ASSERT_TRUE(program.reached(ready));
    EXPECT_EQ(run(id, {L"register", L"count", L"exit"}), 2u);
    EXPECT_EQ(countOf(semaphore.get()), 1);
    ::SetEvent(finish.handle.get());
    EXPECT_EQ(program.exitCode(), 0u);
    EXPECT_EQ(countOf(semaphore.get()), 0);
}

TEST(InstanceCounter, WithoutItsSemaphoreRegistersNothingAndCountsZero)
{
    // A backslash is not allowed in an object name: creation fails.
    qv::InstanceCounter counter(L"No\\Such");
    EXPECT_EQ(counter.handle(), nullptr);
    EXPECT_EQ(counter.held(), 0);
    EXPECT_EQ(counter.runningCount(), 0u);
}

TEST(InstanceMutex, HeldByAnotherProcessCannotBeTakenUntilReleased)
{
    const std::wstring id = freshApplicationId();
    Event held(id, L"held"), go(id, L"go"), released(id, L"released"), end(id, L"end");
    Helper first(id, {L"acquire", held.signal(), go.wait(), L"release", released.signal(), end.wait(), L"exit"});
    ASSERT_TRUE(first.reached(held));
    EXPECT_EQ(run(id, {L"acquire", L"exit"}), 10u);
    ::SetEvent(go.handle.get());
    ASSERT_TRUE(first.reached(released));
    EXPECT_EQ(run(id, {L"acquire", L"exit"}), 0u);
    ::SetEvent(end.handle.get());
    EXPECT_EQ(first.exitCode(), 0u);
}

TEST(InstanceMutex, LeftByAProcessThatDiedIsTakenOver)
{
    const std::wstring id = freshApplicationId();
    // This process keeps the mutex in existence across the helper's death.
    qv::NamedMutex mine(qv::instanceMutexName(id), false, true);
    ASSERT_NE(mine.handle(), nullptr);
    Event held(id, L"held"), die(id, L"die");
    Helper dying(id, {L"acquire", held.signal(), die.wait(), L"die"});
    ASSERT_TRUE(dying.reached(held));
    EXPECT_FALSE(mine.tryAcquire());
    ::SetEvent(die.handle.get());
    EXPECT_EQ(dying.exitCode(), 99u);
    EXPECT_TRUE(mine.tryAcquire());  // abandoned: taken all the same
    EXPECT_TRUE(mine.owned());
    EXPECT_EQ(run(id, {L"acquire", L"exit"}), 10u);
    mine.release();
    EXPECT_FALSE(mine.owned());
    EXPECT_EQ(run(id, {L"acquire", L"exit"}), 0u);
}

DWORD WINAPI tryTakeMutex(void* mutex)
{
    return ::WaitForSingleObject(static_cast<HANDLE>(mutex), 0);
}

TEST(NamedMutex, InitialOwnerOfAnExistingMutexWaitsAndOwnsIt)
{
    const std::wstring name = L"Local\\" + freshApplicationId();
    UniqueHandle existing(::CreateMutexW(nullptr, FALSE, name.c_str()));
    ASSERT_TRUE(existing);
    {
        qv::NamedMutex holder(name, true, false);
        EXPECT_TRUE(holder.owned());
        // Owned by this thread: another thread cannot take it.
        DWORD otherThread = 0;
        UniqueHandle thread(::CreateThread(nullptr, 0, &tryTakeMutex, existing.get(), 0, nullptr));
        ::WaitForSingleObject(thread.get(), INFINITE);
        ::GetExitCodeThread(thread.get(), &otherThread);
        EXPECT_EQ(otherThread, WAIT_TIMEOUT);
    }
    // Released by the holder's destruction.
    EXPECT_EQ(::WaitForSingleObject(existing.get(), 0), WAIT_OBJECT_0);
    ::ReleaseMutex(existing.get());
}

TEST(NamedMutex, ThatCannotBeCreatedIsNeverAcquired)
{
    qv::NamedMutex holder(L"No\\Such\\Mutex", true, false);
    EXPECT_EQ(holder.handle(), nullptr);
    EXPECT_FALSE(holder.owned());
    EXPECT_FALSE(holder.tryAcquire());
}

TEST(CreateGlobalObjects, ReportAlreadyExistsAfterReleasingTheirDescriptor)
{
    const std::wstring id = freshApplicationId();
    UniqueHandle first = qv::createGlobalMutex(false, qv::instanceMutexName(id));
    ASSERT_TRUE(first);
    UniqueHandle second = qv::createGlobalMutex(false, qv::instanceMutexName(id));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(second);

    UniqueHandle count = qv::createGlobalSemaphore(0, 0x7FFFFFFF, qv::instanceCountName(id));
    ASSERT_TRUE(count);
    UniqueHandle again = qv::createGlobalSemaphore(0, 0x7FFFFFFF, qv::instanceCountName(id));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

struct DaclCase {
    const char* object;
    std::wstring (*name)(const std::wstring&);
    DWORD fullAccess;
};

void PrintTo(const DaclCase& c, std::ostream* os)
{
    *os << c.object;
}

class GlobalObjectDacl : public ::testing::TestWithParam<DaclCase> {};

// A helper process creates both objects; this process opens them by the
// names peers use and reads their DACL. Wine keeps the descriptor a process
// gives a named kernel object, so this reads what was set, not a default.
TEST_P(GlobalObjectDacl, HoldsOneEveryoneEntryWithTheObjectsFullAccess)
{
    const DaclCase c = GetParam();
    const std::wstring id = freshApplicationId();
    Event ready(id, L"ready"), finish(id, L"finish");
    Helper creator(id, {L"register", L"acquire", ready.signal(), finish.wait(), L"exit"});
    ASSERT_TRUE(creator.reached(ready));

    UniqueHandle object(c.fullAccess == MUTEX_ALL_ACCESS
                            ? ::OpenMutexW(READ_CONTROL, FALSE, c.name(id).c_str())
                            : ::OpenSemaphoreW(READ_CONTROL, FALSE, c.name(id).c_str()));
    ASSERT_TRUE(object) << ::GetLastError();
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetSecurityInfo(object.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                &dacl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    qv::UniqueLocal owner(descriptor);
    ASSERT_NE(dacl, nullptr);
    ASSERT_EQ(dacl->AceCount, 1);
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, 0, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags, 0);  // nothing to inherit
    EXPECT_EQ(ace->Mask, c.fullAccess);
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof everyone;
    ASSERT_TRUE(::CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size));
    EXPECT_TRUE(::EqualSid(&ace->SidStart, everyone));

    ::SetEvent(finish.handle.get());
    EXPECT_EQ(creator.exitCode(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Objects, GlobalObjectDacl,
                         ::testing::Values(DaclCase{"mutex", &mutexName, MUTEX_ALL_ACCESS},
                                           DaclCase{"semaphore", &countName, SEMAPHORE_ALL_ACCESS}),
                         [](const ::testing::TestParamInfo<DaclCase>& info) {
                             return std::string(info.param.object);
                         });

}  // namespace
