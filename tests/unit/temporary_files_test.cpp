#include <gtest/gtest.h>
#include <windows.h>

#include "engine/TemporaryFiles.h"
#include "sys/Handles.h"

#include <optional>
#include <regex>
#include <string>

namespace {

using qv::TemporaryFiles;

bool exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void writeFile(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
{
    qv::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      attributes, nullptr));
    ASSERT_TRUE(file) << ::GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), "data", 4, &written, nullptr));
}

std::wstring systemTempPath()
{
    wchar_t path[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, path);
    return path;
}

std::wstring makeFolderOrFail()
{
    std::wstring folder, error;
    EXPECT_TRUE(qv::makeTempFolder(folder, error)) << error;
    return folder;
}

TEST(MakeTempFolder, NamesAFreshRandomFolderBelowTheUserTemporaryFolderWithoutCreatingIt)
{
    const std::wstring first = makeFolderOrFail();
    const std::wstring second = makeFolderOrFail();
    const std::wregex form(L"orvane_\\{[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}\\}");
    const std::wstring temp = systemTempPath();
    for (const std::wstring& folder : {first, second}) {
        ASSERT_EQ(folder.compare(0, temp.size(), temp), 0) << folder;
        const std::wstring name = folder.substr(temp.size());
        EXPECT_TRUE(std::regex_match(name, form)) << name;
        EXPECT_FALSE(exists(folder));
    }
    EXPECT_NE(first, second);
}

class TemporaryFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = makeFolderOrFail();
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    }
    std::wstring folder;
};

TEST_F(TemporaryFilesTest, DeletesListedFilesReadOnlyIncludedAndTheEmptyFolder)
{
    const std::wstring plain = folder + L"\\setup.dat";
    const std::wstring readOnly = folder + L"\\locked.bin";
    writeFile(plain);
    writeFile(readOnly, FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(::GetFileAttributesW(readOnly.c_str()) & FILE_ATTRIBUTE_READONLY);
    {
        TemporaryFiles list(folder);
        EXPECT_EQ(TemporaryFiles::current(), &list);
        TemporaryFiles::current()->add(plain);
        TemporaryFiles::current()->add(readOnly);
        TemporaryFiles::current()->add(folder + L"\\never-written.tmp");  // no error
    }
    EXPECT_EQ(TemporaryFiles::current(), nullptr);
    EXPECT_FALSE(exists(plain));
    EXPECT_FALSE(exists(readOnly));
    EXPECT_FALSE(exists(folder));
}

TEST_F(TemporaryFilesTest, KeepsUnlistedFilesAndTheFolderHoldingThem)
{
    const std::wstring listed = folder + L"\\setup.dat";
    const std::wstring installed = folder + L"\\journalled.dat";
    writeFile(listed);
    writeFile(installed);
    TemporaryFiles list(folder);
    list.add(listed);
    list.cleanUp();
    EXPECT_EQ(TemporaryFiles::current(), nullptr);
    EXPECT_TRUE(list.files().empty());
    EXPECT_FALSE(exists(listed));
    EXPECT_TRUE(exists(installed));
    EXPECT_TRUE(exists(folder));
}

TEST(TemporaryFiles, RunThatWritesNothingThereNeverCreatesTheFolder)
{
    const std::wstring folder = makeFolderOrFail();
    {
        TemporaryFiles list(folder);
        list.cleanUp();
        list.cleanUp();  // the destructor runs it once more
    }
    EXPECT_FALSE(exists(folder));
    EXPECT_EQ(TemporaryFiles::current(), nullptr);
}

// GetTempPathW reads TMP (then TEMP) of the process environment; the
// variables are set for this process only and put back afterwards.
class TempPathLength : public ::testing::TestWithParam<std::tuple<size_t, const wchar_t*>> {
protected:
    void SetUp() override
    {
        saveVariable(L"TMP", savedTmp);
        saveVariable(L"TEMP", savedTemp);
    }
    void TearDown() override
    {
        ::SetEnvironmentVariableW(L"TMP", savedTmp ? savedTmp->c_str() : nullptr);
        ::SetEnvironmentVariableW(L"TEMP", savedTemp ? savedTemp->c_str() : nullptr);
    }
    static void saveVariable(const wchar_t* name, std::optional<std::wstring>& saved)
    {
        wchar_t value[32767];
        if (::GetEnvironmentVariableW(name, value, 32767)) saved = value;
    }
    // A temporary path whose form with trailing separator has `length` characters.
    static std::wstring pathOfLength(size_t length)
    {
        std::wstring path = L"C:\\tmp";
        while (path.size() + 1 < length) {
            const size_t room = length - 1 - path.size();
            if (room >= 2) {
                path += L'\\';
                path += std::wstring(std::min<size_t>(40, room - 1), L'x');
            } else {
                path += L'x';
            }
        }
        return path;
    }
    std::optional<std::wstring> savedTmp, savedTemp;
};

TEST_P(TempPathLength, AcceptsOnlyFoldersWhosePathFitsIn259Characters)
{
    const auto [length, expected] = GetParam();
    const std::wstring temp = pathOfLength(length);
    ASSERT_EQ(temp.size() + 1, length);
    ASSERT_TRUE(::SetEnvironmentVariableW(L"TMP", temp.c_str()));
    ASSERT_TRUE(::SetEnvironmentVariableW(L"TEMP", temp.c_str()));

    std::wstring folder = L"unchanged", error;
    const bool made = qv::makeTempFolder(folder, error);
    if (!expected) {
        ASSERT_TRUE(made) << error;
        EXPECT_EQ(folder.substr(0, temp.size() + 1), temp + L"\\");
        EXPECT_EQ(folder.size(), length + 45);
        EXPECT_LE(folder.size(), 259u);
        return;
    }
    EXPECT_FALSE(made);
    EXPECT_EQ(folder, L"unchanged");
    EXPECT_TRUE(std::regex_match(error, std::wregex(expected))) << error;
}

// 45 characters of folder name follow the temporary path (which ends in a
// separator): 214 is the longest that fits, up to 246 the system's answer is
// taken but the name would overflow, beyond that the path is refused at once.
// Beyond MAX_PATH Windows reports the needed size; Wine 8 fails with 0xce.
INSTANTIATE_TEST_SUITE_P(
    Lengths, TempPathLength,
    ::testing::Values(std::make_tuple(size_t{20}, nullptr),
                      std::make_tuple(size_t{214}, nullptr),
                      std::make_tuple(size_t{215}, L"000000ce \\(PathAppend\\)"),
                      std::make_tuple(size_t{246}, L"000000ce \\(PathAppend\\)"),
                      std::make_tuple(size_t{247}, L"00000000 \\(GetTempPath\\)"),
                      std::make_tuple(size_t{300}, L"[0-9a-f]{8} \\(GetTempPath\\)")));

}  // namespace
