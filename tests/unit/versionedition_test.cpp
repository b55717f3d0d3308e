#include "lang/Languages.h"
#include "identity/Probes.h"
#include "identity/VersionLabel.h"
#include "sys/VersionInfo.h"

#include <gtest/gtest.h>

using namespace qv;
using qv::test::probePath;

namespace {

// This test executable carries the version resource of a German edition:
// its SpecialBuild is the edition name.
TEST(GermanEdition, GermanUsersSeeTheEditionName)
{
    ASSERT_EQ(VersionInfo::ofSelf().stringValue(L"SpecialBuild"), GermanEditionName);
    VersionInfo installed = VersionInfo::ofFile(probePath(L"6.5.0.0"));

    setLanguage(2);
    EXPECT_EQ(displayLabel(installed), L"Morvenda 6.05");
    EXPECT_EQ(displayName(VersionInfo::ofSelf()), L"Installeur Morvenda");
    setLanguage(1);
    EXPECT_EQ(displayLabel(installed), L"Trimora 6.05");
    setLanguage(0);
    EXPECT_EQ(displayLabel(installed), L"Quorvex 6.05");
}

}  // namespace
