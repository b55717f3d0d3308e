// The product's payload as the installer carries it: the archive embedded
// as resource 260/134 (linked into this test as into the installer), read
// back entry by entry and compared with the staged product; and the
// language libraries it holds.

#include "ProductTestPaths.h"
#include "engine/Archive.h"
#include "engine/ArchiveFormat.h"
#include "sys/Crc32.h"
#include "product/common/ProductStrings.h"
#include "support/ArchiveTestSupport.h"
#include "sys/Handles.h"
#include "sys/VersionInfo.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using qv::ArchiveEntry;

struct Unpacked {
    std::vector<ArchiveEntry> entries;
    std::uint64_t headerSize = 0;
    std::string raw;
};

Unpacked unpackEmbedded()
{
    Unpacked u;
    auto stream = qv::loadResourceStream();
    qv::decompressChunks(*stream, [&](const char* p, std::streamsize n) { u.raw.append(p, static_cast<std::size_t>(n)); });
    if (u.raw.size() < 8) return u;
    u.headerSize = qv::readHeaderSize(u.raw.data());
    u.entries = qv::parseHeader(std::string_view(u.raw).substr(0, static_cast<std::size_t>(u.headerSize)));
    return u;
}

const Unpacked& payload()
{
    static const Unpacked u = unpackEmbedded();
    return u;
}

std::wstring fileName(const std::wstring& path)
{
    return path.substr(path.find_last_of(L"\\/") + 1);
}

struct Expected {
    const wchar_t* name;
    const wchar_t* destination;
    std::uint32_t kind;
    const wchar_t* staged;  // below the stage folder
};

constexpr wchar_t kLang[] = L"<InstallPath>\\Lang";
constexpr wchar_t kShared[] = L"<CommonData>\\Orvane Systems\\Quorvex";

const Expected expected[] = {
    {L"Trimora.exe", L"<InstallPath>", 1, L"Trimora.exe"},
    {L"Personal.qwl", L"<UserData>\\Orvane Systems\\Quorvex", 3, L"UserData\\Personal.qwl"},
    {L"Uninstall.exe", L"<InstallPath>", 2, L"Uninstall.exe"},
    {L"Trimora_en.dll", kLang, 0, L"Lang\\Trimora_en.dll"},
    {L"Trimora_de.dll", kLang, 0, L"Lang\\Trimora_de.dll"},
    {L"Trimora_es.dll", kLang, 0, L"Lang\\Trimora_es.dll"},
    {L"Trimora_it.dll", kLang, 0, L"Lang\\Trimora_it.dll"},
    {L"Trimora_pt.dll", kLang, 0, L"Lang\\Trimora_pt.dll"},
    {L"Trimora_nl.dll", kLang, 0, L"Lang\\Trimora_nl.dll"},
    {L"Trimora_pl.dll", kLang, 0, L"Lang\\Trimora_pl.dll"},
    {L"Trimora_el.dll", kLang, 0, L"Lang\\Trimora_el.dll"},
    {L"Trimora_tr.dll", kLang, 0, L"Lang\\Trimora_tr.dll"},
    {L"Trimora_bg.dll", kLang, 0, L"Lang\\Trimora_bg.dll"},
    {L"Trimora_ro.dll", kLang, 0, L"Lang\\Trimora_ro.dll"},
    {L"Trimora_zh.dll", kLang, 0, L"Lang\\Trimora_zh.dll"},
    {L"Trimora_hu.dll", kLang, 0, L"Lang\\Trimora_hu.dll"},
    {L"Words_en.qwl", kShared, 3, L"Data\\Words_en.qwl"},
    {L"Words_fr.qwl", kShared, 3, L"Data\\Words_fr.qwl"},
    {L"Words_de.qwl", kShared, 3, L"Data\\Words_de.qwl"},
    {L"Templates.qvt", kShared, 3, L"Data\\Templates.qvt"},
    {L"Replacements.qvr", kShared, 3, L"Data\\Replacements.qvr"},
    {L"Welcome.qvn", L"<SamplePath>", 4, L"Samples\\Welcome.qvn"},
    {L"Meeting Notes.qvn", L"<SamplePath>", 4, L"Samples\\Meeting Notes.qvn"},
    {L"Travel Checklist.qvn", L"<SamplePath>", 4, L"Samples\\Travel Checklist.qvn"},
    {L"Project Plan.qvn", L"<SamplePath>", 4, L"Samples\\Project Plan.qvn"},
    {L"Recipes.qvn", L"<SamplePath>", 4, L"Samples\\Recipes.qvn"},
    {L"Reading List.qvn", L"<SamplePath>", 4, L"Samples\\Reading List.qvn"},
};

TEST(ProductPayload, EmbeddedArchiveIsOneBzip2StreamOfTheWholeLayout)
{
    const Unpacked& u = payload();
    ASSERT_EQ(u.entries.size(), 27u);
    std::uint64_t total = u.headerSize;
    for (const ArchiveEntry& e : u.entries) total += e.size;
    EXPECT_EQ(u.raw.size(), total) << "nothing may follow the last file's data";

    std::string_view bytes = qv::resourceBytes(::GetModuleHandleW(nullptr), 260, 134);
    EXPECT_EQ(bytes.substr(0, 4), "BZh9");
    auto stream = qv::loadResourceStream();
    EXPECT_TRUE(qv::verifyArchive(*stream));
}

TEST(ProductPayload, EntriesHaveTheirKindsDestinationsAndOrder)
{
    const Unpacked& u = payload();
    ASSERT_EQ(u.entries.size(), std::size(expected));
    std::uint32_t perKind[6] = {};
    for (std::size_t i = 0; i < u.entries.size(); ++i) {
        SCOPED_TRACE(i);
        const ArchiveEntry& e = u.entries[i];
        EXPECT_EQ(fileName(e.source), expected[i].name);
        EXPECT_EQ(e.destination, expected[i].destination);
        EXPECT_EQ(e.kind, expected[i].kind);
        ++perKind[e.kind < 6 ? e.kind : 5];
    }
    EXPECT_EQ(perKind[0], 13u);
    EXPECT_EQ(perKind[1], 1u);
    EXPECT_EQ(perKind[2], 1u);
    EXPECT_EQ(perKind[3], 6u);
    EXPECT_EQ(perKind[4], 6u);
    EXPECT_EQ(perKind[5], 0u);
}

TEST(ProductPayload, OnlyTheSecondEntryIsEmptyAndEveryEntryIsTheStagedFile)
{
    const Unpacked& u = payload();
    ASSERT_EQ(u.entries.size(), std::size(expected));
    std::uint64_t offset = u.headerSize;
    for (std::size_t i = 0; i < u.entries.size(); ++i) {
        SCOPED_TRACE(i);
        const ArchiveEntry& e = u.entries[i];
        if (i == 1) {
            EXPECT_EQ(e.size, 0u);
            EXPECT_EQ(e.crc, 0u);
        } else {
            EXPECT_GT(e.size, 0u);
        }
        std::string data = u.raw.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(e.size));
        EXPECT_EQ(qv::Crc32::of(data.data(), data.size()), e.crc);
        EXPECT_EQ(data, qv::test::readFileBytes(std::wstring(QV_PRODUCT_STAGE) + L"\\" + expected[i].staged));
        offset += e.size;
    }
}

// --- the language libraries -------------------------------------------------

struct LanguageCase {
    int index;     // the installer's language index
    LANGID langId;
    const wchar_t* file;
    const wchar_t* untitled;
};

class LanguageLibrary : public ::testing::TestWithParam<LanguageCase> {};

TEST_P(LanguageLibrary, IsResourcesOnlyWithTheStringTableOfItsLanguage)
{
    const LanguageCase& c = GetParam();
    EXPECT_EQ(qv::product::languageLibraryName(c.index), c.file);
    std::wstring path = std::wstring(QV_PRODUCT_STAGE) + L"\\Lang\\" + c.file;

    // No code: no entry point and no imports, so nothing of it can run.
    std::string image = qv::test::readFileBytes(path);
    ASSERT_GT(image.size(), 0x200u);
    std::uint32_t pe = 0;
    std::memcpy(&pe, image.data() + 0x3C, 4);
    ASSERT_LT(pe + 0x80 + 16, image.size());
    std::uint16_t characteristics = 0;
    std::uint32_t entryPoint = 0, importSize = 0;
    std::memcpy(&characteristics, image.data() + pe + 4 + 18, 2);
    std::memcpy(&entryPoint, image.data() + pe + 24 + 16, 4);
    std::memcpy(&importSize, image.data() + pe + 24 + 96 + 8 + 4, 4);
    EXPECT_TRUE(characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(entryPoint, 0u);
    // At most the terminating import descriptor: no DLL is imported.
    EXPECT_LE(importSize, sizeof(IMAGE_IMPORT_DESCRIPTOR));

    qv::UniqueModule module(
        ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module);
    // The string block of IDS_PRODUCT_NAME exists in the library's language.
    EXPECT_NE(::FindResourceExW(module.get(), MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(IDS_PRODUCT_NAME / 16 + 1),
                                c.langId),
              nullptr);
    EXPECT_EQ(qv::product::loadModuleString(module.get(), IDS_PRODUCT_NAME), L"Trimora");
    EXPECT_EQ(qv::product::loadModuleString(module.get(), IDS_UNTITLED), c.untitled);
    for (UINT id = IDS_PRODUCT_NAME; id <= IDS_UNINSTALL_NO_LOG; ++id)
        EXPECT_FALSE(qv::product::loadModuleString(module.get(), id).empty()) << id;
    for (UINT id : {IDS_OPEN_FAILED, IDS_UNINSTALL_CONFIRM, IDS_UNINSTALL_DONE, IDS_UNINSTALL_RUNNING})
        EXPECT_NE(qv::product::loadModuleString(module.get(), id).find(L"%1"), std::wstring::npos) << id;

    qv::VersionInfo version = qv::VersionInfo::ofFile(path);
    EXPECT_EQ(version.fileVersion(), 0x0006000400000002ull);
    EXPECT_EQ(version.productName(), L"Quorvex");
}

INSTANTIATE_TEST_SUITE_P(
    Thirteen, LanguageLibrary,
    ::testing::Values(LanguageCase{1, 0x0409, L"Trimora_en.dll", L"Untitled"},
                      LanguageCase{2, 0x0407, L"Trimora_de.dll", L"Unbenannt"},
                      LanguageCase{3, 0x0C0A, L"Trimora_es.dll", L"Sin título"},
                      LanguageCase{11, 0x0410, L"Trimora_it.dll", L"Senza titolo"},
                      LanguageCase{4, 0x0816, L"Trimora_pt.dll", L"Sem título"},
                      LanguageCase{5, 0x0413, L"Trimora_nl.dll", L"Naamloos"},
                      LanguageCase{15, 0x0415, L"Trimora_pl.dll", L"Bez tytułu"},
                      LanguageCase{14, 0x0408, L"Trimora_el.dll", L"Χωρίς τίτλο"},
                      LanguageCase{7, 0x041F, L"Trimora_tr.dll", L"Adsız"},
                      LanguageCase{8, 0x0402, L"Trimora_bg.dll", L"Без име"},
                      LanguageCase{9, 0x0418, L"Trimora_ro.dll", L"Fără titlu"},
                      LanguageCase{10, 0x0804, L"Trimora_zh.dll", L"无标题"},
                      LanguageCase{19, 0x040E, L"Trimora_hu.dll", L"Névtelen"}));

TEST(LanguageLibraryName, FrenchAndLanguagesWithoutLibraryHaveNone)
{
    for (int index : {0, 6, 12, 13, 16, 17, 18, 20, -1}) EXPECT_EQ(qv::product::languageLibraryName(index), L"") << index;
}

TEST(ProductSamples, EveryNotebookBeginsWithItsSignature)
{
    for (const Expected& e : expected) {
        if (e.kind != 4) continue;
        std::string bytes = qv::test::readFileBytes(std::wstring(QV_PRODUCT_STAGE) + L"\\" + e.staged);
        EXPECT_EQ(bytes.rfind("Trimora Notebook 1\n", 0), 0u) << bytes.substr(0, 20);
    }
}

}  // namespace
