// EstimatedSize of the uninstall key: the files the installation holds,
// counted once each, as they are on disk when the key is written.
#include "uninstall/UninstallKey.h"
#include "uninstall/UninstallLog.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace qv {
namespace {

const std::wstring kRoot = L"C:\\qvsize";

TEST(InstalledSize, CountsThisRunAndWhatTheEarlierInstallationKeeps)
{
    test::makeFolders(kRoot);
    test::writeText(kRoot + L"\\kept.dat", std::string(3000, 'k'));
    test::writeText(kRoot + L"\\failed.dat", std::string(500, 'f'));
    test::writeText(kRoot + L"\\again.dll", std::string(1000, 'o'));
    // An update: the earlier log lists a file this run writes again (in
    // another letter case), one it keeps, one that is gone and one that was
    // never done.
    const std::wstring header = L"// Shortcut Path : ";
    test::writeUtf16Lines(kRoot + L"\\Uninstall.ulog",
                          {L"// Uninstall Log File v1", L"// ############ WARNING ############",
                           L"// Install Trimora 6.03", L"// Install Path : " + kRoot, header,
                           L"// " + std::wstring(header.size() - 3, L'-'),
                           L"0000:0100:1 -- " + kRoot + L"\\AGAIN.DLL", L"0001:0103:1 -- " + kRoot + L"\\kept.dat",
                           L"0002:0100:1 -- " + kRoot + L"\\gone.dll", L"0003:0100:0 -- " + kRoot + L"\\failed.dat"});
    UninstallLog log;
    log.read((kRoot + L"\\Uninstall.ulog").c_str());
    ASSERT_EQ(log.previousEntries().size(), 4u);

    // This run writes again.dll anew (2000 bytes) and a new one-byte file.
    log.recordFile(kRoot + L"\\again.dll", 0, false);
    test::writeText(kRoot + L"\\again.dll", std::string(2000, 'n'));
    log.confirm(true);
    log.recordFile(kRoot + L"\\new.dll", 0, false);
    test::writeText(kRoot + L"\\new.dll", "1");
    log.confirm(true);

    // 2000 + 3000 + 1 bytes: 5001, rounded up to 5 KiB.
    EXPECT_EQ(installedSizeKiB(log), 5u);
    log.rollback();
}

TEST(InstalledSize, NothingInstalledIsZero)
{
    UninstallLog log;
    EXPECT_EQ(installedSizeKiB(log), 0u);
}

}  // namespace
}  // namespace qv
