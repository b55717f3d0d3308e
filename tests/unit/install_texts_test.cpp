// The texts the install log and status line show: step endings, quoting of
// paths with blanks, the progress percentage, error codes, full-width lines.

#include "lang/Languages.h"
#include "engine/CompressError.h"
#include "engine/InstallTexts.h"

#include <gtest/gtest.h>

#include <string>

namespace qv {
namespace {

class InstallTexts : public ::testing::Test {
protected:
    void SetUp() override { setLanguage(EnglishLanguage); }
    void TearDown() override { setLanguage(FrenchLanguage); }
};

TEST_F(InstallTexts, StepEndingsCarryTheLineEnd)
{
    EXPECT_EQ(stepOutcomeText(true), L"OK\r\n");
    EXPECT_EQ(stepOutcomeText(false), L"Failed\r\n");
    setLanguage(FrenchLanguage);
    EXPECT_EQ(stepOutcomeText(false), L"Échec\r\n");
}

TEST_F(InstallTexts, CopyingLineQuotesOnlyPathsWithBlanks)
{
    EXPECT_EQ(copyingFileText(L"C:\\Program Files\\Trimora 6\\Trimora.exe"),
              L"Copying File  \"C:\\Program Files\\Trimora 6\\Trimora.exe\"...");
    EXPECT_EQ(copyingFileText(L"C:\\Apps\\Tool.exe"), L"Copying File  C:\\Apps\\Tool.exe...");
    // A path that would not fit a 260-character buffer with its quotes stays bare.
    const std::wstring longPath = L"C:\\a b\\" + std::wstring(250, L'x');
    EXPECT_EQ(quoteSpaces(longPath), longPath);
    EXPECT_EQ(quoteSpaces(L""), L"");
}

TEST_F(InstallTexts, FailureStatusNamesTheCodeByCategory)
{
    EXPECT_EQ(installFailedText(std::error_code(5, std::system_category())),
              L"Installation failed (Error Code 1:00000005).");
    EXPECT_EQ(installFailedText(std::error_code(28, std::generic_category())),
              L"Installation failed (Error Code 2:0000001C).");
    EXPECT_EQ(installFailedText(make_error_code(CompressError::Unknown)), L"Installation failed (Error Code 4).");
    EXPECT_EQ(installFailedText(std::make_error_code(std::io_errc::stream)), L"Installation failed (Error Code 7).");
    EXPECT_EQ(installFailedText(std::wstring(L"00000000 (GetTempPath)")),
              L"Installation failed (Error Code 00000000 (GetTempPath)).");
}

TEST_F(InstallTexts, ClickNextNamesTheButton)
{
    EXPECT_EQ(clickNextText(), L"Click on 'Next' to continue.");
}

struct PercentCase {
    std::uint64_t done, total;
    int percent;
};

class ProgressPercent : public ::testing::TestWithParam<PercentCase> {};

TEST_P(ProgressPercent, RoundsAndKeeps100ForTheEnd)
{
    EXPECT_EQ(progressPercent(GetParam().done, GetParam().total), GetParam().percent);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProgressPercent,
                         ::testing::Values(PercentCase{999999, 1000000, 99}, PercentCase{1000000, 1000000, 100},
                                           PercentCase{0, 1000, 0}, PercentCase{5, 1000, 1},
                                           PercentCase{4, 1000, 0}, PercentCase{994, 1000, 99},
                                           PercentCase{995, 1000, 99}, PercentCase{12, 12, 100},
                                           PercentCase{1, 0, 0}));

int characters(const std::wstring& s)
{
    return static_cast<int>(s.size());
}

TEST(FullWidthLine, CentresTextBetweenDashes)
{
    // 20 wide, " Options " is 9: 11 dashes, 5 before and 6 after.
    EXPECT_EQ(fullWidthLine(L"Options", 20, characters), L"----- Options ------\r\n");
    EXPECT_EQ(fullWidthLine(L"", 12, characters), L"------------\r\n");
}

TEST(FullWidthLine, TooWideTextGetsNoDashes)
{
    EXPECT_EQ(fullWidthLine(L"A rather long heading", 10, characters), L" A rather long heading \r\n");
    EXPECT_EQ(fullWidthLine(L"", 0, characters), L"\r\n");
}

TEST(FullWidthLine, DashesCountInTheirOwnWidth)
{
    // Dashes 3 units wide, other characters 5: 30 / 3 = 10 dashes; for
    // " x " (15) (25 - 15) / 3 = 3 dashes, 1 before and 2 after.
    auto wideDash = [](const std::wstring& s) { return s == L"-" ? 3 : static_cast<int>(s.size()) * 5; };
    EXPECT_EQ(fullWidthLine(L"", 30, wideDash), L"----------\r\n");
    EXPECT_EQ(fullWidthLine(L"x", 25, wideDash), L"- x --\r\n");
}

}  // namespace
}  // namespace qv
