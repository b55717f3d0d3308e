#include "sys/PathIdentity.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <boost/algorithm/string/replace.hpp>
#include <boost/filesystem.hpp>

#include <fstream>

namespace fs = boost::filesystem;

namespace {

struct PathCase {
    const wchar_t* a;
    const wchar_t* b;
    bool same;
};

std::ostream& operator<<(std::ostream& out, const PathCase& c)
{
    return out << fs::path(c.a).string() << " | " << fs::path(c.b).string();
}

// %T% is a folder holding File.txt, a hard link Link.txt to it, Other.txt
// and the folder Sub; %CWD% is the current folder.
class SamePath : public testing::TestWithParam<PathCase> {
protected:
    static void SetUpTestSuite()
    {
        root_ = fs::temp_directory_path() / L"samepath-test";
        fs::remove_all(root_);
        fs::create_directories(root_ / L"Sub");
        std::ofstream(fs::path(root_ / L"File.txt").string()) << "one";
        std::ofstream(fs::path(root_ / L"Other.txt").string()) << "one";
        ASSERT_TRUE(::CreateHardLinkW((root_ / L"Link.txt").c_str(), (root_ / L"File.txt").c_str(),
                                      nullptr))
            << ::GetLastError();
    }
    static void TearDownTestSuite() { fs::remove_all(root_); }

    static std::wstring expand(std::wstring text)
    {
        boost::replace_all(text, L"%T%", root_.native());
        boost::replace_all(text, L"%CWD%", fs::current_path().native());
        return text;
    }

    static fs::path root_;
};
fs::path SamePath::root_;

TEST_P(SamePath, AnswersLikeTheFileSystem)
{
    const PathCase& c = GetParam();
    EXPECT_EQ(qv::samePath(expand(c.a), expand(c.b)), c.same);
    EXPECT_EQ(qv::samePath(expand(c.b), expand(c.a)), c.same) << "not symmetric";
}

INSTANTIATE_TEST_SUITE_P(
    Lexical, SamePath,
    testing::Values(
        // Neither exists: equal after normalisation, ignoring letter case.
        PathCase{L"C:\\A\\B", L"C:\\A\\B", true},
        PathCase{L"C:\\A\\B", L"c:\\a\\.\\b", true},
        PathCase{L"C:\\A\\B", L"C:/A/B", true},
        PathCase{L"C:\\A\\B\\..\\C", L"C:\\A\\C", true},
        PathCase{L"C:\\A\\B\\", L"C:\\A\\B", true},
        PathCase{L"C:\\A", L"C:\\A\\B", false},
        PathCase{L"C:\\A\\B", L"C:\\A\\BB", false},
        PathCase{L"C:\\A\\B", L"D:\\A\\B", false},
        PathCase{L"C:\\\u00C4pfel", L"c:\\\u00E4PFEL", true},
        // Case-insensitive equality needs equal lengths: no "ss" for a sharp s.
        PathCase{L"C:\\Stra\u00DFe", L"C:\\STRASSE", false},
        // A relative path is taken below the current folder.
        PathCase{L"Missing\\Sub", L"%CWD%\\missing\\SUB", true},
        PathCase{L"Missing", L"%CWD%\\Other", false}));

INSTANTIATE_TEST_SUITE_P(
    Existing, SamePath,
    testing::Values(
        PathCase{L"%T%\\File.txt", L"%T%\\FILE.TXT", true},
        PathCase{L"%T%\\File.txt", L"%T%\\Link.txt", true},  // hard links: one file
        PathCase{L"%T%\\File.txt", L"%T%\\Other.txt", false},
        PathCase{L"%T%\\File.txt", L"%T%\\Missing.txt", false},
        PathCase{L"%T%", L"%T%\\Sub\\..", true},
        PathCase{L"%T%", L"%T%\\Sub", false}));

}  // namespace
