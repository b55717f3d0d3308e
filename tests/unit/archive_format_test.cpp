// The archive's byte layout, its CRC-32, and how failures become the codes
// the install page shows.

#include "engine/Archive.h"
#include "engine/ArchiveFormat.h"
#include "engine/CompressError.h"
#include "sys/Crc32.h"
#include "support/ArchiveTestSupport.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <boost/filesystem/exception.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/system/system_error.hpp>

#include <cerrno>
#include <cstdlib>

namespace qv {
namespace {

using test::TempFolder;

std::error_code compressCode(int value) { return {value, compress_category()}; }

std::error_code parseFailure(const std::string& header)
{
    try {
        parseHeader(header);
    } catch (const std::system_error& e) {
        return e.code();
    }
    return {};
}

std::string le(std::uint64_t v, int bytes)
{
    std::string s;
    for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return s;
}

TEST(ArchiveFormat, HeaderBytesAreLittleEndianWithoutPadding)
{
    ArchiveEntry e;
    e.source = L"a\u00e9";  // é: one UTF-16 unit, low byte first
    e.destination = L"<X>";
    e.kind = 3;
    e.size = 0x0102030405060708ull;
    e.crc = 0xA1B2C3D4u;
    std::string expected = le(12 + 4 + 4 + 4 + 6 + 4 + 8 + 4, 8) + le(1, 4) +  //
                           le(2, 4) + std::string("a\0\xE9\0", 4) +              //
                           le(3, 4) + std::string("<\0X\0>\0", 6) +              //
                           le(3, 4) + le(e.size, 8) + le(e.crc, 4);
    EXPECT_EQ(serializeHeader({e}), expected);
    EXPECT_EQ(serializeHeader({}), le(12, 8) + le(0, 4));
}

TEST(ArchiveFormat, ParserReadsWhatTheSerializerWrote)
{
    std::vector<ArchiveEntry> table(3);
    table[0] = {L"C:\\build\\Quorvex.exe", L"<InstallPath>", 1, 123456789012ull, 0xDEADBEEFu};
    table[1] = {L"", L"", 0, 0, 0};
    table[2] = {L"\u65e5\u672c.txt", L"<CommonData>\\Orvane Systems\\Quorvex", 3, 7, 1};
    std::vector<ArchiveEntry> back = parseHeader(serializeHeader(table));
    ASSERT_EQ(back.size(), table.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(back[i].source, table[i].source);
        EXPECT_EQ(back[i].destination, table[i].destination);
        EXPECT_EQ(back[i].kind, table[i].kind);
        EXPECT_EQ(back[i].size, table[i].size);
        EXPECT_EQ(back[i].crc, table[i].crc);
    }
}

struct MalformedHeader {
    const char* name;
    std::string bytes;
};

class ArchiveFormatMalformed : public testing::TestWithParam<MalformedHeader> {};

TEST_P(ArchiveFormatMalformed, FailsWithCode7)
{
    EXPECT_EQ(parseFailure(GetParam().bytes), compressCode(7));
}

std::string oneEntry() { return serializeHeader({ArchiveEntry{L"f", L"<InstallPath>", 0, 1, 0}}); }

INSTANTIATE_TEST_SUITE_P(
    Cases, ArchiveFormatMalformed,
    testing::Values(
        MalformedHeader{"SizeFieldBelow12", le(11, 8) + le(0, 4)},
        MalformedHeader{"SizeField2To32", le(std::uint64_t{1} << 32, 8) + le(0, 4)},
        MalformedHeader{"SizeFieldDisagreesWithBytes", le(13, 8) + le(0, 4)},
        // The count claims four billion entries in a 12-byte header: refused
        // before anything is reserved (a reservation would throw bad_alloc).
        MalformedHeader{"CountOfFourBillion", le(12, 8) + le(4000000000u, 4)},
        MalformedHeader{"CountBeyondTable", le(12 + 24, 8) + le(2, 4) + std::string(24, '\0')},
        MalformedHeader{"SourceLengthPastHeader", le(12 + 24, 8) + le(1, 4) + le(0x7FFFFFFF, 4) + std::string(20, '\0')},
        MalformedHeader{"DestinationLengthPastHeader", le(12 + 24, 8) + le(1, 4) + le(0, 4) + le(11, 4) + std::string(16, '\0')},
        MalformedHeader{"SizeFieldSmallerThanTable", [] {
                            std::string h = oneEntry();
                            h.resize(h.size() - 1);
                            return le(h.size(), 8) + h.substr(8);
                        }()},
        MalformedHeader{"SizeFieldLargerThanTable", [] {
                            std::string h = oneEntry() + "x";
                            return le(h.size(), 8) + h.substr(8);
                        }()}),
    [](const testing::TestParamInfo<MalformedHeader>& info) { return std::string(info.param.name); });

TEST(ArchiveFormat, TotalThatOverflowsIsMalformed)
{
    std::vector<ArchiveEntry> table(2);
    table[0].size = ~std::uint64_t{0} - 5;
    table[1].size = 10;
    try {
        archiveTotal(12, table);
        FAIL() << "no failure";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), compressCode(7));
    }
}

TEST(Crc32, MatchesTheZlibChecksum)
{
    EXPECT_EQ(Crc32::of("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32::of("", 0), 0u);
    Crc32 split;  // fed in pieces, as the extractor and the tool do
    split.update("1234", 4);
    split.update("56789", 5);
    EXPECT_EQ(split.value(), 0xCBF43926u);
}

TEST(Crc32, FileCrcReadsTheFileOnDisk)
{
    TempFolder dir;
    std::string bytes(10000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    test::writeFileBytes(dir / L"f.bin", bytes);
    EXPECT_EQ(fileCrc(dir / L"f.bin"), Crc32::of(bytes.data(), bytes.size()));
    test::writeFileBytes(dir / L"empty", "");
    EXPECT_EQ(fileCrc(dir / L"empty"), 0u);
}

TEST(Crc32, FileCrcFailuresCarryTheSystemCode)
{
    TempFolder dir;
    auto failureOf = [](const std::wstring& path) -> std::error_code {
        try {
            fileCrc(path);
        } catch (...) {
            return toErrorCode(std::current_exception(), L"").first;
        }
        return {};
    };
    EXPECT_EQ(failureOf(dir / L"missing"), std::error_code(ERROR_FILE_NOT_FOUND, std::system_category()));

    // Another writer holds the file: the read-back denies writers, so the
    // open is a sharing violation.
    test::writeFileBytes(dir / L"busy", "x");
    HANDLE h = ::CreateFileW((dir / L"busy").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(failureOf(dir / L"busy"), std::error_code(ERROR_SHARING_VIOLATION, std::system_category()));
    ::CloseHandle(h);
    EXPECT_EQ(failureOf(dir / L"busy"), std::error_code());
}

// --- toErrorCode ------------------------------------------------------------

class OtherBoostCategory : public boost::system::error_category {
public:
    const char* name() const noexcept override { return "other"; }
    std::string message(int) const override { return "other"; }
};

struct Mapping {
    const char* name;
    std::function<void()> raise;
    unsigned long doserrno;
    int errnoValue;
    std::error_code expected;
    std::wstring expectedText;
};

class ToErrorCode : public testing::TestWithParam<Mapping> {};

TEST_P(ToErrorCode, MapsFirstMatch)
{
    const Mapping& m = GetParam();
    std::exception_ptr failure;
    try {
        m.raise();
    } catch (...) {
        failure = std::current_exception();
    }
    ASSERT_TRUE(failure);
    _doserrno = m.doserrno;
    errno = m.errnoValue;
    auto [code, path] = toErrorCode(failure, L"");
    EXPECT_EQ(code, m.expected);
    EXPECT_EQ(errorCodeText(code), m.expectedText);
    EXPECT_EQ(path, L"");
}

const OtherBoostCategory otherCategory;

INSTANTIATE_TEST_SUITE_P(
    Cases, ToErrorCode,
    testing::Values(
        Mapping{"StreamFailureWithSystemCode", [] { throw std::ios_base::failure("x"); }, 5, 13,
                {5, std::system_category()}, L"1:00000005"},
        Mapping{"StreamFailureWithErrno", [] { throw std::ios_base::failure("x"); }, 0, 13,
                {13, std::generic_category()}, L"2:0000000D"},
        Mapping{"StreamFailureWithoutCause", [] { throw std::ios_base::failure("x"); }, 0, 0,
                std::make_error_code(std::io_errc::stream), L"7"},
        // A stale _doserrno does not turn corrupt data into a system error.
        Mapping{"Bzip2Error", [] { throw boost::iostreams::bzip2_error(-4); }, 5, 13,
                {6, compress_category()}, L"6"},
        Mapping{"CompressCode", [] { throw std::system_error(make_error_code(CompressError::InvalidChecksum)); }, 0,
                0, {3, compress_category()}, L"3"},
        Mapping{"StdSystemError", [] { throw std::system_error(0x80070005, std::system_category()); }, 0, 0,
                {static_cast<int>(0x80070005), std::system_category()}, L"1:80070005"},
        Mapping{"BoostGeneric",
                [] { throw boost::system::system_error(ENOENT, boost::system::generic_category()); }, 0, 0,
                {ENOENT, std::generic_category()}, L"2:00000002"},
        Mapping{"BoostSystem",
                [] { throw boost::system::system_error(ERROR_DISK_FULL, boost::system::system_category()); }, 0, 0,
                {ERROR_DISK_FULL, std::system_category()}, L"1:00000070"},
        Mapping{"BoostOtherCategory", [] { throw boost::system::system_error(3, otherCategory); }, 0, 0,
                {7, compress_category()}, L"7"},
        Mapping{"HresultValue", [] { throw static_cast<long>(0x80070005); }, 0, 0, {7, compress_category()}, L"7"},
        Mapping{"RuntimeError", [] { throw std::runtime_error("x"); }, 0, 0, {7, compress_category()}, L"7"}),
    [](const testing::TestParamInfo<Mapping>& info) { return std::string(info.param.name); });

TEST(ToErrorCode, FileSystemErrorSuppliesThePathWhenNoneIsGiven)
{
    std::exception_ptr failure;
    try {
        throw boost::filesystem::filesystem_error(
            "create_directories", boost::filesystem::path(L"C:\\x\\y"),
            boost::system::error_code(ERROR_ACCESS_DENIED, boost::system::system_category()));
    } catch (...) {
        failure = std::current_exception();
    }
    auto [code, path] = toErrorCode(failure, L"");
    EXPECT_EQ(code, std::error_code(ERROR_ACCESS_DENIED, std::system_category()));
    EXPECT_EQ(path, L"C:\\x\\y");
    EXPECT_EQ(toErrorCode(failure, L"C:\\given").second, L"C:\\given");
}

TEST(CompressCategory, NamesAndMessages)
{
    EXPECT_STREQ(compress_category().name(), "compress");
    EXPECT_EQ(compressCode(3).message(), "invalid checksum");
    EXPECT_EQ(compressCode(4).message(), "unknown error");
    EXPECT_EQ(compressCode(5).message(), "interrupted");
    EXPECT_EQ(compressCode(6).message(), "bzip2 error");
    EXPECT_EQ(compressCode(7).message(), "unexpected error");
    EXPECT_EQ(compressCode(9).message(), "unknown error");
    EXPECT_EQ(&compress_category(), &compress_category());
}

}  // namespace
}  // namespace qv
