#include "sys/Registry.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>

#include <cstring>
#include <string>
#include <system_error>
#include <vector>

using namespace qv;

namespace {

constexpr wchar_t ScratchPath[] = L"Software\\Orvane Systems Tests\\Registry";

// A throwaway key below HKCU, cleared before and after each test.
class RegistryLayer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, ScratchPath);
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, ScratchPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    raw_.put(), nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        raw_.reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, ScratchPath);
    }

    void setRaw(const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        ASSERT_EQ(::RegSetValueExW(raw_.get(), name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }

    RegistryKey scratch() const { return openKey(HKEY_CURRENT_USER, ScratchPath); }

    UniqueKey raw_;
};

struct StringCase {
    const char* what;
    DWORD type;
    std::vector<BYTE> data;
    bool expected;
    std::wstring text;  // after the call; "untouched" when expected is false
};

std::vector<BYTE> bytesOf(const std::wstring& text, bool withNul)
{
    std::vector<BYTE> bytes((text.size() + (withNul ? 1 : 0)) * 2);
    std::memcpy(bytes.data(), text.c_str(), bytes.size());
    return bytes;
}

class ReadStringCases : public RegistryLayer, public ::testing::WithParamInterface<StringCase> {};

TEST_P(ReadStringCases, AnswersAsStored)
{
    const StringCase& c = GetParam();
    // The character after the stored bytes is the test's own, and no NUL:
    // given a string whose next character in memory is a NUL, the system
    // stores that terminator too.
    std::vector<BYTE> buffer = c.data;
    buffer.insert(buffer.end(), {'?', 0});
    setRaw(L"Value", c.type, buffer.data(), static_cast<DWORD>(c.data.size()));
    std::wstring text = L"untouched";
    EXPECT_EQ(readString(scratch(), L"Value", text), c.expected);
    EXPECT_EQ(text, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Registry, ReadStringCases,
    ::testing::Values(
        StringCase{"text", REG_SZ, bytesOf(L"C:\\Program Files\\Trimora 6", true), true, L"C:\\Program Files\\Trimora 6"},
        StringCase{"expandable text stays unexpanded", REG_EXPAND_SZ, bytesOf(L"%TEMP%\\x", true), true, L"%TEMP%\\x"},
        StringCase{"empty value of size 0", REG_SZ, {}, true, L""},
        StringCase{"lone NUL", REG_SZ, bytesOf(L"", true), true, L""},
        StringCase{"no terminating NUL", REG_SZ, bytesOf(L"abc", false), false, L"untouched"},
        StringCase{"odd size", REG_SZ, {'a', 0, 0}, false, L"untouched"},
        StringCase{"number", REG_DWORD, {1, 0, 0, 0}, false, L"untouched"},
        StringCase{"binary", REG_BINARY, bytesOf(L"abc", true), false, L"untouched"},
        StringCase{"multi-string", REG_MULTI_SZ, bytesOf(std::wstring(L"a\0b\0", 4), true), false, L"untouched"}),
    [](const auto& info) {
        std::string name = info.param.what;
        for (char& ch : name)
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

TEST_F(RegistryLayer, MissingKeyIsANullKeyAndMissingValueIsFalse)
{
    RegistryKey missing = openKey(HKEY_CURRENT_USER, std::wstring(ScratchPath) + L"\\Nothing\\Here");
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.get(), nullptr);

    std::wstring text = L"untouched";
    EXPECT_FALSE(readString(scratch(), L"Absent", text));
    EXPECT_EQ(text, L"untouched");
    DWORD number = 0;
    EXPECT_FALSE(readBinary(scratch(), L"Absent", &number, sizeof(number)));
}

TEST_F(RegistryLayer, CreatedKeyOpensThroughAParentKey)
{
    RegistryKey parent = scratch();
    ASSERT_TRUE(parent);
    {
        RegistryKey created = createKey(parent, L"Sub\\Key");
        ASSERT_TRUE(created);
        writeString(created, L"Name", L"Trimora 6.04");
    }
    RegistryKey reopened = openKey(parent, L"Sub\\Key");
    ASSERT_TRUE(reopened);
    std::wstring text;
    EXPECT_TRUE(readString(reopened, L"Name", text));
    EXPECT_EQ(text, L"Trimora 6.04");
    // Creating an existing key opens it.
    EXPECT_TRUE(createKey(HKEY_CURRENT_USER, std::wstring(ScratchPath) + L"\\Sub\\Key"));
}

TEST_F(RegistryLayer, WriteStringStoresTheTerminatingNul)
{
    RegistryKey key = scratch();
    writeString(key, L"Text", L"abc");
    writeString(key, L"Null", nullptr, 0);
    // Only the first three characters count, whatever follows them.
    writeString(key, L"Part", L"abcdef", 3);

    BYTE data[32] = {};
    DWORD type = 0, size = sizeof(data);
    ASSERT_EQ(::RegQueryValueExW(raw_.get(), L"Text", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    ASSERT_EQ(size, 8u);
    EXPECT_EQ(std::memcmp(data, L"abc", 8), 0);

    size = sizeof(data);
    ASSERT_EQ(::RegQueryValueExW(raw_.get(), L"Null", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 0u);

    size = sizeof(data);
    ASSERT_EQ(::RegQueryValueExW(raw_.get(), L"Part", nullptr, &type, data, &size), ERROR_SUCCESS);
    ASSERT_EQ(size, 8u);
    EXPECT_EQ(std::memcmp(data, L"abc", 8), 0);
}

TEST_F(RegistryLayer, ReadBinaryWantsTheTypeAndTheExactSize)
{
    const BYTE stored[6] = {1, 2, 3, 4, 5, 6};
    setRaw(L"Blob", REG_BINARY, stored, sizeof(stored));
    DWORD four = 7;
    setRaw(L"Number", REG_DWORD, &four, sizeof(four));

    BYTE buffer[6] = {};
    EXPECT_TRUE(readBinary(scratch(), L"Blob", buffer, sizeof(buffer)));
    EXPECT_EQ(std::memcmp(buffer, stored, sizeof(stored)), 0);

    BYTE small[4] = {9, 9, 9, 9};
    EXPECT_FALSE(readBinary(scratch(), L"Blob", small, sizeof(small)));
    EXPECT_EQ(small[0], 9);
    DWORD number = 0;
    EXPECT_FALSE(readBinary(scratch(), L"Number", &number, sizeof(number)));
    EXPECT_EQ(number, 0u);
}

std::error_code codeOf(const std::system_error& error)
{
    return error.code();
}

TEST_F(RegistryLayer, AccessDeniedOnAValueThrowsTheWin32Code)
{
    setRaw(L"Value", REG_SZ, L"x", 4);
    // A handle without the right to query values or to set them.
    HKEY writeOnly = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, ScratchPath, 0, KEY_SET_VALUE, &writeOnly), ERROR_SUCCESS);
    HKEY readOnly = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, ScratchPath, 0, KEY_QUERY_VALUE, &readOnly), ERROR_SUCCESS);
    RegistryKey cannotRead(writeOnly), cannotWrite(readOnly);

    std::wstring text;
    try {
        readString(cannotRead, L"Value", text);
        ADD_FAILURE() << "readString did not throw";
    } catch (const std::system_error& error) {
        EXPECT_EQ(codeOf(error), std::error_code(ERROR_ACCESS_DENIED, std::system_category()));
    }
    BYTE buffer[4];
    EXPECT_THROW(readBinary(cannotRead, L"Value", buffer, 4), std::system_error);
    try {
        writeString(cannotWrite, L"Value", L"y");
        ADD_FAILURE() << "writeString did not throw";
    } catch (const std::system_error& error) {
        EXPECT_EQ(codeOf(error), std::error_code(ERROR_ACCESS_DENIED, std::system_category()));
    }
    // The value is still there: the failures were not taken for "missing".
    EXPECT_TRUE(readString(scratch(), L"Value", text));
    EXPECT_EQ(text, L"x");
}

// A key whose DACL grants nothing to anybody. On Windows its owner still
// opens it with MAXIMUM_ALLOWED (READ_CONTROL and WRITE_DAC are implied), so
// the failure shows when a value is read through that handle.
TEST_F(RegistryLayer, KeyWithAnEmptyDaclRefusesItsValues)
{
    UniqueKey locked;
    ASSERT_EQ(::RegCreateKeyExW(raw_.get(), L"Locked", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, locked.put(),
                                nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(locked.get(), L"Value", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4),
              ERROR_SUCCESS);
    ACL emptyDacl;
    ASSERT_TRUE(::InitializeAcl(&emptyDacl, sizeof(emptyDacl), ACL_REVISION));
    SECURITY_DESCRIPTOR sd;
    ASSERT_TRUE(::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(::SetSecurityDescriptorDacl(&sd, TRUE, &emptyDacl, FALSE));
    ASSERT_EQ(::RegSetKeySecurity(locked.get(), DACL_SECURITY_INFORMATION, &sd), ERROR_SUCCESS);
    locked.reset();

    auto restore = scopeExit([&] {
        // Give the key back its access so that TearDown can delete it.
        HKEY key = nullptr;
        if (::RegOpenKeyExW(raw_.get(), L"Locked", 0, WRITE_DAC, &key) == ERROR_SUCCESS) {
            SECURITY_DESCRIPTOR open;
            ::InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
            ::SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
            ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &open);
            ::RegCloseKey(key);
        }
    });

    try {
        RegistryKey key = openKey(scratch(), L"Locked");
        ASSERT_TRUE(key) << "a refused key must throw, not look missing";
        std::wstring text;
        readString(key, L"Value", text);
        ADD_FAILURE() << "reading through a key without query rights did not throw";
    } catch (const std::system_error& error) {
        EXPECT_EQ(codeOf(error), std::error_code(ERROR_ACCESS_DENIED, std::system_category()));
    }
}

TEST_F(RegistryLayer, OtherFailuresThrowToo)
{
    // A closed parent is no answer about the key.
    EXPECT_THROW(openKey(RegistryKey(), L"Anything"), std::system_error);
    EXPECT_THROW(createKey(RegistryKey(), L"Anything"), std::system_error);
}

}  // namespace
