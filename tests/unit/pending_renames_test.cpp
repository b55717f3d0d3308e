// cancelPendingDeletionsBelow against the real registry's Session Manager
// values: pairs as MoveFileExW writes them, beside pairs of other programs
// and data no program should have left, which must all stay to the byte.

#include "support/RunLogLines.h"
#include "support/TestFiles.h"
#include "sys/Handles.h"
#include "sys/LogFile.h"
#include "sys/PendingRenames.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <initializer_list>
#include <optional>
#include <string>

namespace qv {
namespace {

constexpr wchar_t sessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* pendingValues[] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};
const std::wstring folder = L"C:\\Program Files\\Orvane Systems\\Trimora 6";

// Each string followed by its NUL, as REG_MULTI_SZ holds them.
std::wstring strings(std::initializer_list<std::wstring> parts)
{
    std::wstring data;
    for (const std::wstring& part : parts) data += part + L'\0';
    return data;
}
std::wstring deletion(const std::wstring& path)
{
    return strings({L"\\??\\" + path, L""});
}
std::wstring replacement(const std::wstring& from, const std::wstring& to)
{
    return strings({L"\\??\\" + from, L"!\\??\\" + to});
}
const std::wstring listEnd(1, L'\0');

void plant(const wchar_t* name, const std::wstring& data, DWORD type = REG_MULTI_SZ)
{
    UniqueKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, sessionManager, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key.get(), name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                               static_cast<DWORD>(data.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

// The value's data as stored; nothing when there is no such value.
std::optional<std::wstring> valueOf(const wchar_t* name, DWORD expectedType = REG_MULTI_SZ)
{
    UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, sessionManager, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    std::wstring data(size / sizeof(wchar_t), L'\0');
    if (::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    EXPECT_EQ(type, expectedType);
    data.resize(size / sizeof(wchar_t));
    return data;
}

void clearValues()
{
    UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, sessionManager, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return;
    for (const wchar_t* name : pendingValues) ::RegDeleteValueW(key.get(), name);
}

std::string shown(const std::optional<std::wstring>& data)
{
    if (!data) return "(no value)";
    std::string text;
    for (wchar_t c : *data) text += c == L'\0' ? '|' : c < 0x80 ? static_cast<char>(c) : '?';
    return text;
}

struct Case {
    const char* name;
    std::wstring folder;
    std::wstring before;
    std::optional<std::wstring> after;  // nothing: the value is deleted
};

class CancelledDeletions : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override { clearValues(); }
    void TearDown() override { clearValues(); }
};

TEST_P(CancelledDeletions, LeaveEveryOtherPairAsItWas)
{
    const Case& c = GetParam();
    for (const wchar_t* name : pendingValues) plant(name, c.before);
    cancelPendingDeletionsBelow(c.folder, nullptr);
    for (const wchar_t* name : pendingValues) EXPECT_EQ(shown(valueOf(name)), shown(c.after)) << name;
}

const std::wstring uninstaller = folder + L"\\Uninstall.exe";
const std::wstring maker = L"C:\\Program Files\\Orvane Systems";

INSTANTIATE_TEST_SUITE_P(
    Values, CancelledDeletions,
    ::testing::Values(
        // What the uninstaller's fallback leaves: itself, then its folders
        // deepest first. The maker's folder lies above the installation.
        Case{"UninstallersOwn", folder, deletion(uninstaller) + deletion(folder) + listEnd, std::nullopt},
        Case{"AmongOthers", folder,
             deletion(L"C:\\Windows\\Temp\\old.tmp") + deletion(uninstaller) +
                 replacement(folder + L"\\Lang\\Trimora_en.dll", L"C:\\Elsewhere\\Trimora_en.dll") +
                 deletion(maker + L"\\Trimora 6 Old\\Trimora.exe") + deletion(folder) + deletion(maker) + listEnd,
             deletion(L"C:\\Windows\\Temp\\old.tmp") +
                 replacement(folder + L"\\Lang\\Trimora_en.dll", L"C:\\Elsewhere\\Trimora_en.dll") +
                 deletion(maker + L"\\Trimora 6 Old\\Trimora.exe") + deletion(maker) + listEnd},
        // Other spellings of the same folder: letter case, a separator at
        // the end, a dot element; a network folder in its NT form.
        Case{"OtherSpellings", folder,
             deletion(L"c:\\PROGRAM FILES\\orvane systems\\trimora 6\\lang") + deletion(folder + L"\\") +
                 deletion(folder + L"\\.\\Trimora.exe") + listEnd,
             std::nullopt},
        Case{"NetworkFolder", L"\\\\server\\share\\Trimora",
             strings({L"\\??\\UNC\\server\\share\\Trimora\\Uninstall.exe", L""}) +
                 strings({L"\\??\\UNC\\server\\share\\Other\\Uninstall.exe", L""}) + listEnd,
             strings({L"\\??\\UNC\\server\\share\\Other\\Uninstall.exe", L""}) + listEnd},
        // No closing NUL, as some programs leave the list.
        Case{"WithoutListEnd", folder, deletion(L"C:\\Windows\\Temp\\old.tmp") + deletion(uninstaller),
             deletion(L"C:\\Windows\\Temp\\old.tmp")},
        // Pairs are read from the first string on: a source without its
        // target, a device path and a source without "\??\" are no
        // deletion of the folder's. (A last string without its NUL cannot
        // be planted: the registry call takes in the NUL that follows the
        // data, as Windows does.)
        Case{"DamagedTails", folder, deletion(uninstaller) + strings({L"\\??\\" + folder + L"\\Trimora.exe"}),
             strings({L"\\??\\" + folder + L"\\Trimora.exe"})},
        Case{"OtherForms", folder,
             strings({L"\\Device\\HarddiskVolume1\\Program Files\\Orvane Systems\\Trimora 6", L""}) +
                 strings({folder, L""}) + listEnd,
             strings({L"\\Device\\HarddiskVolume1\\Program Files\\Orvane Systems\\Trimora 6", L""}) +
                 strings({folder, L""}) + listEnd},
        Case{"NothingToCancel", folder, deletion(maker) + listEnd, deletion(maker) + listEnd}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

class PendingDeletions : public ::testing::Test {
protected:
    void SetUp() override { clearValues(); }
    void TearDown() override { clearValues(); }
};

TEST_F(PendingDeletions, ValueOfAnotherTypeIsLeftAlone)
{
    const std::wstring data = deletion(uninstaller) + listEnd;
    plant(pendingValues[0], data, REG_BINARY);
    cancelPendingDeletionsBelow(folder, nullptr);
    EXPECT_EQ(shown(valueOf(pendingValues[0], REG_BINARY)), shown(data));
}

TEST_F(PendingDeletions, ShortNamesCountAsTheirLongOnes)
{
    const std::wstring longFolder = L"C:\\Trimora Installation Folder";
    const std::wstring program = longFolder + L"\\Trimora Program.exe";
    test::makeFolders(longFolder);
    test::writeText(program, "new");
    wchar_t shortName[MAX_PATH] = {};
    ASSERT_GT(::GetShortPathNameW(program.c_str(), shortName, MAX_PATH), 0u);
    const std::wstring shortProgram = shortName;
    ASSERT_GT(::GetShortPathNameW(longFolder.c_str(), shortName, MAX_PATH), 0u);
    const std::wstring shortFolder = shortName;
    ASSERT_NE(shortProgram, program) << "the file system gives no short names";

    // A deletion spelled short, a folder asked for in its long name; and
    // the other way round.
    plant(pendingValues[0], deletion(shortProgram) + listEnd);
    cancelPendingDeletionsBelow(longFolder, nullptr);
    EXPECT_EQ(valueOf(pendingValues[0]), std::nullopt);

    plant(pendingValues[0], deletion(program) + listEnd);
    cancelPendingDeletionsBelow(shortFolder, nullptr);
    EXPECT_EQ(valueOf(pendingValues[0]), std::nullopt);
}

TEST_F(PendingDeletions, CancelledDeletionsAreNamedInTheLog)
{
    plant(pendingValues[0], deletion(uninstaller) + deletion(maker) + deletion(folder) + listEnd);
    const std::wstring logPath = L"C:\\pending.log";
    {
        DWORD error = 0;
        std::unique_ptr<LogFile> log = LogFile::openNamed(logPath, error);
        ASSERT_TRUE(log);
        cancelPendingDeletionsBelow(folder, log.get());
    }
    EXPECT_THAT(test::runLogLines(logPath),
                ::testing::ElementsAre(L"Cancelled the deletion Windows had scheduled for its next start: " + uninstaller,
                                       L"Cancelled the deletion Windows had scheduled for its next start: " + folder));
}

}  // namespace
}  // namespace qv
