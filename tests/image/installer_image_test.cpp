// The built files of an edition, checked without running any of them: the
// headers and imports read from their bytes, the resources and the payload
// read from the installer loaded as a data file. So an edition whose
// programs cannot run on the build machine (the 32-bit one where no 32-bit
// program starts) is checked by the other edition's build of this test.
//
// Which build tree and edition: QV_IMAGE_BUILD (a Windows path) and
// QV_IMAGE_EDITION (x86 or x64) when set, else this test's own.

#include "engine/Archive.h"
#include "engine/ArchiveFormat.h"
#include "support/PeImage.h"
#include "support/TestFiles.h"
#include "sys/Handles.h"
#include "sys/VersionInfo.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace qv::test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

std::wstring fromEnvironment(const wchar_t* name, const wchar_t* fallback)
{
    const wchar_t* value = _wgetenv(name);
    std::wstring text = value && *value ? value : fallback;
    std::replace(text.begin(), text.end(), L'/', L'\\');
    return text;
}

struct Edition {
    std::wstring build = fromEnvironment(L"QV_IMAGE_BUILD", QV_OWN_BUILD);
    std::wstring name = fromEnvironment(L"QV_IMAGE_EDITION", QV_OWN_EDITION);

    bool x64() const { return name == L"x64"; }
    WORD machine() const { return x64() ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386; }
    std::string manifestArchitecture() const { return x64() ? "amd64" : "x86"; }
    std::wstring installer() const { return build + L"\\installer\\InstallQuorvex6.04.exe"; }
    std::wstring staged(const std::wstring& name) const { return build + L"\\product-payload\\" + name; }
};

const Edition& edition()
{
    static const Edition e;
    return e;
}

const wchar_t* const Languages[] = {L"en", L"de", L"es", L"it", L"pt", L"nl", L"pl",
                                    L"el", L"tr", L"bg", L"ro", L"zh", L"hu"};

// Every executable file the edition ships: the installer, and the product's
// programs and language libraries that its payload carries.
std::vector<std::wstring> shippedExecutables()
{
    std::vector<std::wstring> files = {edition().installer(), edition().staged(L"Trimora.exe"),
                                       edition().staged(L"Uninstall.exe")};
    for (const wchar_t* code : Languages) files.push_back(edition().staged(L"Lang\\Trimora_" + std::wstring(code) + L".dll"));
    return files;
}

TEST(EditionFiles, EveryShippedExecutableIsBuiltForTheEditionAndSigned)
{
    ASSERT_TRUE(edition().name == L"x86" || edition().x64()) << "unknown edition";
    for (const std::wstring& path : shippedExecutables()) {
        SCOPED_TRACE(::testing::Message() << std::string(path.begin(), path.end()));
        const PeImage image(path);
        EXPECT_EQ(image.machine(), edition().machine());
        EXPECT_EQ(image.isPe32Plus(), edition().x64());
        // Mapped from the file, not copied into private memory.
        EXPECT_EQ(image.fileAlignment(), 4096u);
        EXPECT_EQ(image.sectionAlignment(), 4096u);
        const WORD hardening = IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE | IMAGE_DLLCHARACTERISTICS_NX_COMPAT;
        EXPECT_EQ(image.dllCharacteristics() & hardening, hardening);
        EXPECT_GT(image.signatureSize(), 0u);
    }
    EXPECT_EQ(PeImage(edition().installer()).subsystem(), IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_EQ(PeImage(edition().staged(L"Trimora.exe")).subsystem(), IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_EQ(PeImage(edition().staged(L"Uninstall.exe")).subsystem(), IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

// The system's KnownDLLs (and msvcrt.dll, one of them too): never looked for
// beside the program that imports them.
const std::vector<std::string> KnownDlls = {"advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll",
                                            "kernel32.dll", "msvcrt.dll",  "ole32.dll",   "oleaut32.dll",
                                            "shell32.dll",  "shlwapi.dll", "user32.dll"};

TEST(EditionFiles, InstallerBindsVersionAndBcryptOnlyAtTheirFirstCall)
{
    // A load-time import that is no KnownDLL would be looked for beside the
    // installer (a download folder) before any of its code runs; version.dll
    // and bcrypt.dll are bound at their first call, once the installer has
    // limited the search to the system folder.
    const PeImage installer(edition().installer());
    const std::vector<PeImport> imports = installer.imports();
    ASSERT_FALSE(imports.empty());
    for (const PeImport& import : imports) EXPECT_THAT(KnownDlls, Contains(import.dll)) << "a load-time import";

    const std::vector<PeImport> delayed = installer.delayImports();
    ASSERT_EQ(delayed.size(), 2u);
    for (const PeImport& import : delayed) {
        if (import.dll == "version.dll")
            EXPECT_THAT(import.functions,
                        UnorderedElementsAre("GetFileVersionInfoSizeW", "GetFileVersionInfoW", "VerQueryValueW"));
        else if (import.dll == "bcrypt.dll")
            EXPECT_THAT(import.functions, UnorderedElementsAre("BCryptOpenAlgorithmProvider", "BCryptGenRandom",
                                                               "BCryptCloseAlgorithmProvider"));
        else
            ADD_FAILURE() << "unexpected delay-load import " << import.dll;
    }
}

TEST(EditionFiles, UninstallerBindsVersionAndBcryptOnlyAtTheirFirstCall)
{
    // The installer and the recovery start the uninstaller as administrator
    // from the installation folder: a bcrypt.dll or version.dll put beside
    // it must never be loaded. Both are bound at their first call, after
    // the uninstaller has limited the search to the system folder.
    const PeImage uninstaller(edition().staged(L"Uninstall.exe"));
    const std::vector<PeImport> imports = uninstaller.imports();
    ASSERT_FALSE(imports.empty());
    for (const PeImport& import : imports) EXPECT_THAT(KnownDlls, Contains(import.dll)) << "a load-time import";

    std::vector<std::string> delayed;
    for (const PeImport& import : uninstaller.delayImports()) delayed.push_back(import.dll);
    EXPECT_THAT(delayed, UnorderedElementsAre("version.dll", "bcrypt.dll"));
}

TEST(EditionFiles, LanguageLibrariesImportNothing)
{
    for (const wchar_t* code : Languages) {
        const PeImage library(edition().staged(L"Lang\\Trimora_" + std::wstring(code) + L".dll"));
        EXPECT_TRUE(library.imports().empty()) << std::string(code, code + 2);
        EXPECT_TRUE(library.delayImports().empty()) << std::string(code, code + 2);
    }
}

// A module's resource, read from the file loaded as data: nothing of it runs,
// whatever processor it was built for.
class DataModule {
public:
    explicit DataModule(const std::wstring& path)
        : module_(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE))
    {
    }
    bool loaded() const { return module_.get() != nullptr; }
    std::string resource(unsigned type, unsigned id) const
    {
        return std::string(qv::resourceBytes(module_.get(), type, id));
    }

private:
    qv::UniqueModule module_;
};

std::vector<std::string> manifestArchitectures(const std::string& manifest)
{
    std::vector<std::string> found;
    const std::string key = "processorArchitecture=\"";
    for (auto at = manifest.find(key); at != std::string::npos; at = manifest.find(key, at + 1)) {
        const auto start = at + key.size();
        found.push_back(manifest.substr(start, manifest.find('"', start) - start));
    }
    return found;
}

TEST(EditionFiles, ManifestsNameTheEditionsProcessor)
{
    // An x64 program whose manifest asks for the x86 common controls gets
    // version 5, and the installer stops with its initialisation error.
    const std::string arch = edition().manifestArchitecture();
    for (const std::wstring& path :
         {edition().installer(), edition().staged(L"Trimora.exe"), edition().staged(L"Uninstall.exe")}) {
        SCOPED_TRACE(::testing::Message() << std::string(path.begin(), path.end()));
        DataModule module(path);
        ASSERT_TRUE(module.loaded()) << ::GetLastError();
        const std::string manifest = module.resource(24, 1);  // RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID
        ASSERT_FALSE(manifest.empty());
        // The program's own identity first, then the common controls': for
        // this processor or for any ("*").
        const std::vector<std::string> architectures = manifestArchitectures(manifest);
        ASSERT_EQ(architectures.size(), 2u);
        EXPECT_EQ(architectures[0], arch);
        EXPECT_TRUE(architectures[1] == arch || architectures[1] == "*") << architectures[1];
    }
    DataModule installer(edition().installer());
    const std::string manifest = installer.resource(24, 1);
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    EXPECT_THAT(manifestArchitectures(manifest), ElementsAre(arch, arch));
}

TEST(EditionFiles, VersionResourcesAreTheSameInBothEditions)
{
    const qv::VersionInfo installer = qv::VersionInfo::ofFile(edition().installer());
    EXPECT_EQ(installer.fileVersion(), 0x0002000400010001ull);
    EXPECT_EQ(installer.stringValue(L"FileDescription"), L"Installeur Quorvex 6.04");
    EXPECT_EQ(installer.stringValue(L"OriginalFilename"), L"InstallQuorvex6.04.exe");
    for (const wchar_t* program : {L"Trimora.exe", L"Uninstall.exe"}) {
        const qv::VersionInfo info = qv::VersionInfo::ofFile(edition().staged(program));
        EXPECT_EQ(info.fileVersion(), 0x0006000400000002ull);
        EXPECT_EQ(info.stringValue(L"OriginalFilename"), program);
        EXPECT_EQ(info.productName(), L"Quorvex");
    }
}

// The sources of the payload list beside the staged product, in its order.
std::vector<std::wstring> listedSources()
{
    std::ifstream list(std::filesystem::path(edition().staged(L"payload.list")));
    std::vector<std::wstring> sources;
    for (std::string line; std::getline(list, line);) {
        if (line.empty() || line[0] == '#') continue;
        const std::string source = line.substr(0, line.find('|'));
        std::wstring name(source.begin(), source.end());  // the product's names are ASCII
        std::replace(name.begin(), name.end(), L'/', L'\\');
        sources.push_back(name);
    }
    return sources;
}

TEST(EditionFiles, InstallersPayloadIsSoundAndCarriesThisEditionsProduct)
{
    DataModule installer(edition().installer());
    ASSERT_TRUE(installer.loaded()) << ::GetLastError();
    const std::string packed = installer.resource(qv::payloadResourceType, qv::payloadResourceId);
    ASSERT_FALSE(packed.empty());

    std::istringstream stream(packed);
    std::string raw;
    qv::decompressChunks(stream, [&](const char* p, std::streamsize n) { raw.append(p, static_cast<std::size_t>(n)); });
    ASSERT_GE(raw.size(), qv::archivePrefixSize);
    const std::uint64_t headerSize = qv::readHeaderSize(raw.data());
    const std::vector<qv::ArchiveEntry> entries = qv::parseHeader(std::string_view(raw).substr(0, headerSize));
    ASSERT_EQ(qv::archiveTotal(headerSize, entries), raw.size());

    // Entry by entry the staged file's bytes: the program, the uninstaller
    // and the libraries built for this edition (previous test).
    const std::vector<std::wstring> sources = listedSources();
    ASSERT_EQ(entries.size(), sources.size());
    std::size_t offset = static_cast<std::size_t>(headerSize);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(::testing::Message() << "entry " << i);
        const std::vector<char> staged = readBytes(edition().staged(sources[i]));
        ASSERT_EQ(entries[i].size, staged.size());
        EXPECT_TRUE(std::equal(staged.begin(), staged.end(), raw.begin() + offset));
        offset += static_cast<std::size_t>(entries[i].size);
    }
}

}  // namespace
