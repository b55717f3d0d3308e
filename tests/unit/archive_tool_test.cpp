// qvarchive, the packing tool, run as a separate process: what it packs is
// the layout the extractor reads, and its exit codes tell sound from damaged.

#include "engine/Archive.h"
#include "support/ArchiveTestSupport.h"
#include "sys/Handles.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <boost/filesystem/operations.hpp>

#include <fstream>
#include <sstream>

namespace qv {
namespace {

std::wstring toolPath()
{
    std::string narrow = QV_ARCHIVE_TOOL;
    return std::wstring(narrow.begin(), narrow.end());
}

// Runs the tool and returns its exit code, its output in *out.
DWORD runTool(const std::wstring& arguments, std::string* out = nullptr)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return 0xFFFFFFFF;
    UniqueHandle reader(readEnd), writer(writeEnd);
    ::SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
    std::wstring command = L"\"" + toolPath() + L"\" " + arguments;
    STARTUPINFOW si{sizeof si};
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = writer.get();
    si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        return 0xFFFFFFFF;
    UniqueHandle process(pi.hProcess), thread(pi.hThread);
    writer.reset();
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(reader.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    if (out) *out = text;
    return code;
}

std::wstring quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

class ArchiveTool : public testing::Test {
protected:
    test::TempFolder dir;

    void writeList(const std::string& utf8) { test::writeFileBytes(dir / L"list.txt", utf8); }
};

TEST_F(ArchiveTool, PacksTheListIntoOneBzip2StreamTheExtractorReads)
{
    boost::filesystem::create_directories(dir / L"src");
    test::writeFileBytes(dir / L"src\\Program.exe", std::string(70000, 'p') + "end");
    test::writeFileBytes(dir / L"src\\Empty.dat", "");
    test::writeFileBytes(dir / L"src\\Caf\u00e9.qvs", "sample");
    writeList("# comment line\r\n"
              "src/Program.exe|<InstallPath>|1\r\n"
              "src/Empty.dat|<InstallPath>\\Lang|0\r\n"
              "\r\n"
              "src/Caf\xC3\xA9.qvs | <SamplePath> | 4\r\n");
    std::string output;
    ASSERT_EQ(runTool(L"pack " + quoted(dir / L"out.bz2") + L" " + quoted(dir / L"list.txt"), &output), 0u)
        << output;
    const std::string packed = test::readFileBytes(dir / L"out.bz2");
    EXPECT_EQ(packed.substr(0, 4), "BZh9");

    test::NotificationLog log;
    std::istringstream in(packed);
    const std::wstring install = dir / L"Install", samples = dir / L"Samples";
    ASSERT_TRUE(extractArchive(in, install, samples, L"", log.callback()));
    EXPECT_EQ(test::readFileBytes(install + L"\\Program.exe"), std::string(70000, 'p') + "end");
    EXPECT_EQ(test::readFileBytes(install + L"\\Lang\\Empty.dat"), "");
    EXPECT_EQ(test::readFileBytes(samples + L"\\Caf\u00e9.qvs"), "sample");

    ASSERT_EQ(runTool(L"list " + quoted(dir / L"out.bz2"), &output), 0u) << output;
    EXPECT_NE(output.find("<SamplePath>  Caf\xC3\xA9.qvs"), std::string::npos) << output;
    EXPECT_NE(output.find("3 entries, 70009 bytes of data"), std::string::npos) << output;
    EXPECT_EQ(runTool(L"verify " + quoted(dir / L"out.bz2")), 0u);
}

TEST_F(ArchiveTool, VerifyRejectsDamagedArchives)
{
    writeList("list.txt|<InstallPath>|3\n");
    ASSERT_EQ(runTool(L"pack " + quoted(dir / L"out.bz2") + L" " + quoted(dir / L"list.txt")), 0u);
    std::string packed = test::readFileBytes(dir / L"out.bz2");
    packed[packed.size() / 2] ^= 0x10;
    test::writeFileBytes(dir / L"bad.bz2", packed);
    std::string output;
    EXPECT_EQ(runTool(L"verify " + quoted(dir / L"bad.bz2"), &output), 1u);
    EXPECT_FALSE(output.empty());
    EXPECT_NE(runTool(L"verify " + quoted(dir / L"missing.bz2")), 0u);
}

TEST_F(ArchiveTool, ReadsThePayloadResourceOfAnExecutable)
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::string output;
    EXPECT_EQ(runTool(L"verify " + quoted(self), &output), 0u) << output;
    ASSERT_EQ(runTool(L"list " + quoted(self), &output), 0u) << output;
    EXPECT_NE(output.find("6 entries"), std::string::npos) << output;
    // An executable without the resource.
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_NE(runTool(L"list " + quoted(std::wstring(system) + L"\\notepad.exe")), 0u);
}

TEST_F(ArchiveTool, RefusesMalformedListsWithoutLeavingAnOutput)
{
    const char* lists[] = {"list.txt|<InstallPath>|9\n", "list.txt|<InstallPath>\n", "missing.txt|<InstallPath>|0\n",
                           "\xFF\xFE|<InstallPath>|0\n"};
    for (const char* list : lists) {
        writeList(list);
        std::string output;
        EXPECT_EQ(runTool(L"pack " + quoted(dir / L"out.bz2") + L" " + quoted(dir / L"list.txt"), &output), 1u)
            << list;
        EXPECT_FALSE(output.empty()) << list;
        EXPECT_FALSE(test::fileExists(dir / L"out.bz2")) << list;
    }
    EXPECT_EQ(runTool(L"unknown"), 2u);
}

}  // namespace
}  // namespace qv
