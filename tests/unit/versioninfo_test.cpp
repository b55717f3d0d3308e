#include "lang/Languages.h"
#include "identity/Product.h"
#include "identity/Probes.h"
#include "identity/VersionLabel.h"
#include "sys/VersionInfo.h"

#include <gtest/gtest.h>

using namespace qv;
using qv::test::probePath;

namespace {

// This test executable carries the installer's own version resource.
TEST(OwnVersion, IsTheInstallersResource)
{
    const VersionInfo& self = VersionInfo::ofSelf();
    EXPECT_EQ(&self, &VersionInfo::ofSelf()) << "read once per process";
    ASSERT_TRUE(self.fixed());
    EXPECT_EQ(self.fileVersion(), 0x0002000400010001ull);
    EXPECT_EQ(self.fixed()->dwProductVersionMS, 0x00020004u);
    EXPECT_EQ(self.fixed()->dwProductVersionLS, 0x00010001u);
    EXPECT_EQ(self.translations(), std::vector<std::wstring>{L"040004b0"});

    EXPECT_EQ(self.productName(), L"Install");
    EXPECT_EQ(self.productVersion(), L"2.04a");
    EXPECT_EQ(self.stringValue(L"FileVersion"), L"2.4.1.1");
    EXPECT_EQ(self.stringValue(L"FileDescription"), L"Installeur Quorvex 6.04");
    EXPECT_EQ(self.stringValue(L"InternalName"), L"Install");
    EXPECT_EQ(self.stringValue(L"OriginalFilename"), L"InstallQuorvex6.04.exe");
    EXPECT_EQ(self.stringValue(L"ApplicationId"), L"Quorvex6");
    EXPECT_EQ(self.stringValue(L"CompanyName"), L"Orvane Systems");
    EXPECT_EQ(self.stringValue(L"LegalCopyright").substr(0, 2), L"\u00a9 ");
    EXPECT_EQ(self.stringValue(L"SpecialBuild"), L"");

    EXPECT_EQ(determineApplicationId(), L"Quorvex6");
}

struct LabelCase {
    const wchar_t* probe;
    std::uint32_t language;
    const wchar_t* label;
};

class DisplayLabels : public ::testing::TestWithParam<LabelCase> {};

TEST_P(DisplayLabels, FollowTheLanguageAndTheBuildFlags)
{
    const LabelCase& c = GetParam();
    setLanguage(c.language);
    EXPECT_EQ(displayLabel(VersionInfo::ofFile(probePath(c.probe))), c.label);
}

INSTANTIATE_TEST_SUITE_P(
    VersionInfo, DisplayLabels,
    ::testing::Values(
        LabelCase{L"6.5.0.0", 0, L"Quorvex 6.05"},
        LabelCase{L"6.5.0.0", 1, L"Trimora 6.05"},
        // Without the German edition name in the installer's SpecialBuild.
        LabelCase{L"6.5.0.0", 2, L"Trimora 6.05"},
        // Pre-release, private and debug build: only the last "bêta" loses
        // its accent, and never in French.
        LabelCase{L"flags", 0, L"Quorvex b\u00eata 6.03 b\u00eata \u2013 Private \u2013 Debug"},
        LabelCase{L"flags", 1, L"Trimora b\u00eata 6.03 beta \u2013 Private \u2013 Debug"},
        LabelCase{L"flags", 11, L"Trimora b\u00eata 6.03 beta \u2013 Private \u2013 Debug"},
        // Only a code-page-1252 translation: no strings at all.
        LabelCase{L"ansi", 1, L""},
        LabelCase{L"plain", 1, L""}));

TEST(VersionInfo, ReadsTheFixedInformationAndTheFirstUtf16Translation)
{
    VersionInfo info = VersionInfo::ofFile(probePath(L"6.3.9.9"));
    ASSERT_TRUE(info.fixed());
    EXPECT_EQ(info.fileVersion(), 0x0006000300090009ull);
    EXPECT_EQ(info.translations(), std::vector<std::wstring>{L"040004b0"});
    EXPECT_EQ(info.stringValue(L"CompanyName"), L"Orvane Systems");
    EXPECT_EQ(info.stringValue(L"NoSuchString"), L"");

    VersionInfo flagged = VersionInfo::ofFile(probePath(L"flags"));
    EXPECT_EQ(flagged.translations(), std::vector<std::wstring>{L"040c04b0"});
}

TEST(VersionInfo, AnsiOnlyResourceHasAVersionButNoStrings)
{
    VersionInfo info = VersionInfo::ofFile(probePath(L"ansi"));
    ASSERT_TRUE(info.fixed());
    EXPECT_EQ(info.fileVersion(), 0x0006000100000000ull);
    EXPECT_TRUE(info.translations().empty());
    EXPECT_EQ(info.productName(), L"");
    EXPECT_EQ(info.productVersion(), L"");
}

TEST(VersionInfo, FilesWithoutResourceOrMissingAreEmpty)
{
    for (const std::wstring& path : {probePath(L"plain"), std::wstring(L"C:\\no\\such\\file.exe")}) {
        VersionInfo info = VersionInfo::ofFile(path);
        EXPECT_TRUE(info.empty());
        EXPECT_FALSE(info.fixed());
        EXPECT_EQ(info.fileVersion(), 0u);
        EXPECT_EQ(info.productName(), L"");
    }
}

TEST(VersionInfo, OtherProductLinesKeepTheirName)
{
    setLanguage(1);
    std::uint32_t saved = productCode;
    productCode = 1025;
    std::wstring label = displayLabel(VersionInfo::ofFile(probePath(L"6.5.0.0")));
    productCode = saved;
    EXPECT_EQ(label, L"Quorvex 6.05");
}

}  // namespace
