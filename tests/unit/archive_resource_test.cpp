// The payload resource (type 260, id 134) that this test executable carries
// through qv_payload, read in place and extracted as the installer does.

#include "engine/Archive.h"
#include "engine/CompressError.h"
#include "support/ArchiveTestSupport.h"
#include "sys/Handles.h"

#include <gtest/gtest.h>
#include <psapi.h>
#include <shlobj.h>
#include <windows.h>

#include <boost/filesystem/operations.hpp>

namespace qv {
namespace {

std::string readAll(std::istream& in)
{
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(PayloadResource, IsReadWhereTheLoaderMappedIt)
{
    std::string_view bytes = resourceBytes(::GetModuleHandleW(nullptr), 260, 134);
    ASSERT_GT(bytes.size(), 4u);
    EXPECT_EQ(bytes.substr(0, 4), "BZh9");
    MODULEINFO image{};
    ASSERT_TRUE(::GetModuleInformation(::GetCurrentProcess(), ::GetModuleHandleW(nullptr), &image, sizeof image));
    auto base = static_cast<const char*>(image.lpBaseOfDll);
    EXPECT_GE(bytes.data(), base);
    EXPECT_LE(bytes.data() + bytes.size(), base + image.SizeOfImage);

    std::unique_ptr<std::istream> stream = loadResourceStream();
    EXPECT_EQ(readAll(*stream), std::string(bytes));
}

TEST(PayloadResource, FirstModuleWithoutItFallsBackToTheExecutable)
{
    std::unique_ptr<std::istream> stream = loadResourceStream(::GetModuleHandleW(L"kernel32.dll"));
    EXPECT_EQ(readAll(*stream).substr(0, 4), "BZh9");
}

TEST(PayloadResource, ModuleLoadedAsDataFileIsSearched)
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    UniqueModule module(::LoadLibraryExW(self, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module);
    EXPECT_EQ(resourceBytes(module.get(), 260, 134), resourceBytes(::GetModuleHandleW(nullptr), 260, 134));
}

TEST(PayloadResource, MissingResourceGivesAnEmptyStreamAndCode7)
{
    std::unique_ptr<std::istream> stream = loadResourceStream(nullptr, 260, 999);
    EXPECT_EQ(stream->peek(), std::istream::traits_type::eof());
    stream = loadResourceStream(nullptr, 261, 134);  // same id, other type
    EXPECT_FALSE(verifyArchive(*stream));
    test::NotificationLog log;
    EXPECT_FALSE(extractArchive(*stream, L"C:\\unused", L"", L"", log.callback()));
    EXPECT_EQ(log.all.back().code, std::error_code(7, compress_category()));
}

TEST(PayloadResource, VerifiesRewindsAndExtracts)
{
    test::TempFolder root;
    const std::wstring install = root / L"Install", samples = root / L"Samples";
    std::unique_ptr<std::istream> stream = loadResourceStream();
    ASSERT_TRUE(verifyArchive(*stream));
    stream->clear();
    stream->seekg(0);
    ASSERT_TRUE(stream->good());

    test::NotificationLog log;
    ASSERT_TRUE(extractArchive(*stream, install, samples, L"", log.callback()));
    EXPECT_EQ(log.all.back().a, resourceBytes(::GetModuleHandleW(nullptr), 260, 134).size());

    wchar_t common[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, common);
    std::vector<std::wstring> begun;
    for (const test::Recorded& r : log.of(2)) begun.push_back(r.path);
    const std::vector<std::wstring> expected = {
        install + L"\\Lang\\QvLang_en.dll", install + L"\\Lang\\QvLang_fr.dll", install + L"\\Quorvex.exe",
        install + L"\\Uninstall.exe", std::wstring(common) + L"\\Orvane Systems\\Quorvex\\Settings.qvd",
        samples + L"\\Example.qvs"};
    EXPECT_EQ(begun, expected);
    for (const std::wstring& path : expected) EXPECT_TRUE(test::fileExists(path)) << path.c_str();
    EXPECT_EQ(test::readFileBytes(expected[1]), "");  // the empty second entry
    EXPECT_NE(test::readFileBytes(expected[2]), "");

    boost::system::error_code ignored;
    boost::filesystem::remove_all(std::wstring(common) + L"\\Orvane Systems", ignored);
}

}  // namespace
}  // namespace qv
