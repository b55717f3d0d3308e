// The run's log file against Wine's real file system: UTF-8 lines with their
// time, a named file appended to and never truncated, and every file that
// is not plainly a file of its own refused untouched.
#include "support/RunLogLines.h"
#include "support/TestFiles.h"
#include "sys/LogFile.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

namespace qv {
namespace {

using test::readBytes;
using test::runLogLines;
using ::testing::ElementsAre;

std::vector<char> bytesOf(const std::string& text)
{
    return std::vector<char>(text.begin(), text.end());
}

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = temporaryFolder() + L"log file test";
        ::CreateDirectoryW(folder.c_str(), nullptr);
        folder += L"\\";
    }

    std::wstring folder;
};

TEST_F(LogFileTest, NewFileHasUtf8LinesOpenedByTheirTime)
{
    const std::wstring path = folder + L"install.log";
    DWORD error = 1;
    {
        auto log = LogFile::openNamed(path, error);
        ASSERT_TRUE(log) << error;
        EXPECT_EQ(error, DWORD(ERROR_SUCCESS));
        EXPECT_EQ(log->path(), path);
        log->write(L"Installation folder: C:\\Outils \u00dcberall\\Trimora \u00f1");
        log->write(L"two\r\nlines");
        log->write(L"");
    }
    EXPECT_THAT(runLogLines(path), ElementsAre(L"Installation folder: C:\\Outils \u00dcberall\\Trimora \u00f1",
                                               L"two", L"lines", L""));
    // The bytes themselves: the mark, then UTF-8.
    const std::vector<char> bytes = readBytes(path);
    ASSERT_GT(bytes.size(), 3u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 3), "\xEF\xBB\xBF");
    EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("\xC3\x9C" "berall"), std::string::npos);
}

TEST_F(LogFileTest, ExistingFileIsAppendedToNeverTruncated)
{
    const std::wstring path = folder + L"deployment.log";
    test::writeText(path, "earlier run\r\n");
    DWORD error = 1;
    {
        auto log = LogFile::openNamed(path, error);
        ASSERT_TRUE(log) << error;
        log->write(L"this run");
    }
    const std::vector<char> bytes = readBytes(path);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.rfind("earlier run\r\n", 0), 0u) << text;
    EXPECT_EQ(text.find("\xEF\xBB\xBF"), std::string::npos) << "no mark in the middle of someone's file";
    EXPECT_EQ(text.substr(text.size() - 10), "this run\r\n");
}

// A second name of a file the log must not touch (a hard link a user made
// to another file), a folder and a device: refused, and nothing written.
TEST_F(LogFileTest, RefusesWhatIsNotAPlainFileOfItsOwn)
{
    const std::wstring victim = folder + L"victim.ini";
    test::writeText(victim, "keep me");
    const std::wstring planted = folder + L"planted.log";
    ASSERT_TRUE(::CreateHardLinkW(planted.c_str(), victim.c_str(), nullptr)) << ::GetLastError();

    DWORD error = 0;
    EXPECT_FALSE(LogFile::openNamed(planted, error));
    EXPECT_EQ(error, DWORD(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(readBytes(victim), bytesOf("keep me"));

    EXPECT_FALSE(LogFile::openNamed(folder + L".", error));
    EXPECT_EQ(error, DWORD(ERROR_DIRECTORY));
    EXPECT_FALSE(LogFile::openNamed(L"NUL", error));
    EXPECT_EQ(error, DWORD(ERROR_NOT_SUPPORTED));
    EXPECT_FALSE(LogFile::openNamed(folder + L"no such folder\\install.log", error));
    EXPECT_EQ(error, DWORD(ERROR_PATH_NOT_FOUND));
}

// Symbolic links planted from the Linux side (tests/logfile.cmake). Wine
// follows a link to a file whatever the open flags and reports it as a plain
// file: what is proved here is the check of where the handle leads. On
// Windows the link itself is opened and refused as a reparse point first.
TEST_F(LogFileTest, RefusesALinkAndNeverCreatesWhatItPointsTo)
{
    std::wstring links = std::wstring(QV_LOG_LINKS_DIR) + L"\\";
    for (wchar_t& c : links)
        if (c == L'/') c = L'\\';
    const std::wstring victim = links + L"victim.txt";
    const std::wstring missing = links + L"missing.txt";
    test::writeText(victim, "keep me");
    ::DeleteFileW(missing.c_str());

    DWORD error = 0;
    EXPECT_FALSE(LogFile::openNamed(links + L"planted.log", error));
    EXPECT_EQ(error, DWORD(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(readBytes(victim), bytesOf("keep me"));

    EXPECT_FALSE(LogFile::openNamed(links + L"dangling.log", error));
    EXPECT_FALSE(test::fileExists(missing)) << "the file a dangling link names was created";
}

// A link to a folder on the way (a junction on Windows) is refused as well:
// the log is neither created nor appended to where it leads. Under Wine,
// which reports a folder link as a reparse point and follows it, this
// proves the check of every folder by its attributes and final path; on
// Windows the junction is refused as a reparse point.
TEST_F(LogFileTest, RefusesALinkOnTheWay)
{
    std::wstring links = std::wstring(QV_LOG_LINKS_DIR) + L"\\";
    for (wchar_t& c : links)
        if (c == L'/') c = L'\\';
    const std::wstring existing = links + L"real-folder\\kept.log";
    test::writeText(existing, "keep me");
    ::DeleteFileW((links + L"real-folder\\install.log").c_str());

    DWORD error = 0;
    EXPECT_FALSE(LogFile::openNamed(links + L"linked-folder\\install.log", error));
    EXPECT_EQ(error, DWORD(ERROR_NOT_SUPPORTED));
    EXPECT_FALSE(test::fileExists(links + L"real-folder\\install.log"));
    EXPECT_FALSE(LogFile::openNamed(links + L"linked-folder\\kept.log", error));
    EXPECT_EQ(error, DWORD(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(readBytes(existing), bytesOf("keep me"));
}

TEST_F(LogFileTest, UniqueFilesAreNewAndUnforeseeable)
{
    DWORD error = 1;
    auto first = LogFile::createUnique(folder, L"Quorvex 6 Installation", error);
    ASSERT_TRUE(first) << error;
    auto second = LogFile::createUnique(folder, L"Quorvex 6 Installation", error);
    ASSERT_TRUE(second) << error;
    EXPECT_NE(first->path(), second->path());

    // <folder>Quorvex 6 Installation yyyy-mm-dd hh.mm.ss xxxxxxxx.log
    const std::wstring prefix = folder + L"Quorvex 6 Installation ";
    for (const std::wstring& path : {first->path(), second->path()}) {
        ASSERT_EQ(path.rfind(prefix, 0), 0u) << testing::PrintToString(path);
        const std::wstring name = path.substr(prefix.size());
        const std::wstring shape = L"dddd-dd-dd dd.dd.dd xxxxxxxx.log";
        ASSERT_EQ(name.size(), shape.size()) << testing::PrintToString(name);
        for (std::size_t i = 0; i < shape.size(); ++i) {
            if (shape[i] == L'd') EXPECT_TRUE(std::iswdigit(name[i])) << testing::PrintToString(name);
            else if (shape[i] == L'x') EXPECT_TRUE(std::iswxdigit(name[i])) << testing::PrintToString(name);
            else EXPECT_EQ(name[i], shape[i]) << testing::PrintToString(name);
        }
    }
    const std::wstring firstPath = first->path();
    first->write(L"first");
    first.reset();
    EXPECT_THAT(runLogLines(firstPath), ElementsAre(L"first"));
}

}  // namespace
}  // namespace qv
