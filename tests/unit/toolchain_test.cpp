#include <gtest/gtest.h>
#include <windows.h>

#include <boost/filesystem.hpp>
#include <boost/format.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

// The foundation works: Boost's compiled libraries and the system DLLs link
// statically and run under the emulator.
TEST(Toolchain, BoostAndSystemWork)
{
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    EXPECT_TRUE(boost::filesystem::is_directory(windows));
    EXPECT_EQ((boost::wformat(L"%|1$016x|") % 0x0006000300000000ull).str(), L"0006000300000000");
    auto a = boost::uuids::random_generator()();
    auto b = boost::uuids::random_generator()();
    EXPECT_NE(a, b);
}
