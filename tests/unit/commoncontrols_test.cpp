// The common-controls version check of the application initialisation. The
// same source builds twice: this executable without a manifest, and
// commoncontrols_v6_test with the installer's manifest (tests/startup.cmake).
#include "app/CommonControls.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

#ifdef QV_WITH_MANIFEST
TEST(CommonControlsVersion, TheManifestsVersion6AssemblyIsAccepted)
{
    // Under Wine, DllGetVersion says 5.81 even here; the bound assembly's
    // version (6.0) is what the check reads.
    EXPECT_GE(qv::commonControlsVersion(), 0x60000u);
    EXPECT_LT(qv::commonControlsVersion(), 0x70000u);
}
#else
TEST(CommonControlsVersion, WithoutTheManifestTheSystemsOldVersionIsReported)
{
    DWORD version = qv::commonControlsVersion();
    EXPECT_NE(version, 0u);
    EXPECT_LT(version, 0x60000u) << "no activation context binds version 6 for this program";
    if (qv::test::runningUnderWine()) {
        EXPECT_EQ(version, (5u << 16) | 81u);
    }
}
#endif

}  // namespace
