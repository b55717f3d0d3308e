// The install sequence when a file it is to replace is held open by another
// process: what the run could not change is left exactly as it was,
// attributes included.

#include "SequenceFixture.h"
#include "support/MachineSnapshot.h"
#include "support/TestFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qv {
namespace {

using test::MachineSnapshot;
using ::testing::IsEmpty;

class Reliability : public Sequence {};

TEST_F(Reliability, ProgramHeldOpenOnAnUpdateStaysAsItWasReadOnlyIncluded)
{
    // Another process reads the earlier program and lets nobody move or
    // write it: it can be neither backed up nor replaced.
    setUpEarlierInstallation("the earlier program", L"Trimora 6.03");
    const std::wstring program = installPath + L"\\Trimora.exe";
    auto app = startApp();
    const MachineSnapshot before = MachineSnapshot::take();
    UniqueFile held(::CreateFileW(program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_FALSE(install(*app, payload));
    held.reset();

    ASSERT_FALSE(display.lines().empty());
    EXPECT_EQ(display.lines().back(), copyingFileText(program) + L"Failed");
    EXPECT_EQ(test::readFileBytes(program), "the earlier program");
    EXPECT_TRUE(attributesOf(program) & FILE_ATTRIBUTE_READONLY);
    EXPECT_THAT(test::diff(before, MachineSnapshot::take()), IsEmpty());
    EXPECT_THAT(backupsLeft(), IsEmpty());
}

}  // namespace
}  // namespace qv
