#include "identity/Product.h"

#include "lang/LocalizedStrings.h"
#include "lang/Languages.h"
#include "sys/ModulePath.h"
#include "sys/Registry.h"
#include "resources/resource.h"
#include "sys/VersionInfo.h"

#include <boost/algorithm/string/replace.hpp>
#include <boost/filesystem.hpp>

#include <stdexcept>
#include <system_error>

namespace qv {

namespace {

namespace fs = boost::filesystem;

constexpr wchar_t LogFileName[] = L"Uninstall.ulog";

struct ProductRange {
    std::uint32_t first, last;  // codes matched, inclusive
    const wchar_t* keyName;
};

// Family × 256 + major version. Within a family's range a version without a
// row of its own takes the nearest row below it (or the family's first).
constexpr ProductRange productRanges[] = {
    {1, 257, L"Calvane 1"},       {258, 258, L"Calvane 2"},   {259, 259, L"Calvane 3"},
    {517, 517, L"Quorvex 5"},     {518, 518, L"Quorvex 6"},
    {774, 774, L"Dessora 6"},     {775, 1023, L"Dessora 7"},
    {1024, 1025, L"Fenlux 1"},    {1026, 1279, L"Fenlux 2"},
    {1280, 1281, L"Maritel 1"},   {1282, 1282, L"Maritel 2"},
    {1284, 1535, L"Maritel 4"},
};

// The status of the path can be had and the object is there, a link's
// target included: a record or log that names a dangling link names
// nothing installed (sys/PathText.h's pathExists would count the link).
bool targetExists(const fs::path& path)
{
    boost::system::error_code error;
    fs::file_status status = fs::status(path, error);
    return !error && fs::exists(status);
}

}  // namespace

std::uint32_t productCode = QuorvexProductCode;

std::wstring& applicationId()
{
    // Function-local, so that the application initialisation can set it from
    // any static initialiser.
    static std::wstring id;
    return id;
}

std::wstring buildAppTitle()
{
    return loadLocalizedString(IDS_APP_TITLE) + L" \u2013 " + productLabel(false);
}

std::wstring productKeyName(std::uint32_t code)
{
    for (const ProductRange& range : productRanges)
        if (code >= range.first && code <= range.last) return range.keyName;
    throw std::logic_error("logic error");
}

void localizeProductName(std::wstring& text)
{
    if (currentLanguage().languageIndex != FrenchLanguage)
        boost::algorithm::replace_first(text, ProductNameFrench, ProductNameOther);
}

std::wstring productLabel(bool nameOnly)
{
    std::wstring label = ProductNameFrench;
    localizeProductName(label);
    if (!nameOnly) label += std::wstring(L" ") + ProductVersionText;
    return label;
}

std::wstring productFolderName()
{
    std::wstring name = productKeyName(productCode);
    localizeProductName(name);
    return name;
}

std::wstring installationRecordValueName()
{
    return productKeyName(productCode) + L" Path";
}

std::wstring findInstalledProgram()
{
    try {
        RegistryKey maker = openKey(HKEY_LOCAL_MACHINE, MakerKeyPath);
        if (!maker) return {};
        std::wstring path;
        if (!readString(maker, installationRecordValueName(), path)) return {};
        if (path.empty() || !targetExists(path)) return {};
        return path;
    } catch (const std::system_error&) {
        return {};  // access denied and the like: as if nothing were installed
    }
}

const std::wstring& installedProgramPath()
{
    static const std::wstring path = findInstalledProgram();
    return path;
}

OtherEditionInstallation otherEditionInstallation() noexcept
{
    OtherEditionInstallation other;
    try {
        if (RegistryKey key = openKeyInOtherView(HKEY_LOCAL_MACHINE, UninstallKeyPath + productKeyName(productCode))) {
            other.found = true;
            readString(key, L"DisplayVersion", other.version);
            readString(key, L"InstallLocation", other.folder);
        }
        if (RegistryKey maker = openKeyInOtherView(HKEY_LOCAL_MACHINE, MakerKeyPath)) {
            std::wstring program;
            if (readString(maker, installationRecordValueName(), program) && !program.empty()) other.found = true;
        }
    } catch (...) {
        // Access denied and the like: as if the other edition had left nothing.
    }
    return other;
}

const wchar_t* editionText(bool other) noexcept
{
    return (sizeof(void*) == 8) != other ? L"64-bit" : L"32-bit";
}

std::wstring earlierLogPath()
{
    std::vector<fs::path> candidates;
    try {
        RegistryKey key = openKey(HKEY_LOCAL_MACHINE, UninstallKeyPath + productKeyName(productCode));
        std::wstring uninstaller;
        if (key && readString(key, L"UninstallString", uninstaller))
            candidates.push_back(fs::path(uninstaller).parent_path());
    } catch (const std::system_error&) {
    }
    candidates.push_back(fs::path(modulePath()).parent_path());
    candidates.push_back(fs::path(installedProgramPath()).parent_path());

    for (const fs::path& folder : candidates) {
        // A path without folder would name a log in whatever the current
        // folder happens to be.
        if (folder.empty()) continue;
        fs::path log = folder / LogFileName;
        if (targetExists(log)) return log.wstring();
    }
    return {};
}

std::wstring determineApplicationId()
{
    const VersionInfo& self = VersionInfo::ofSelf();
    std::wstring id = self.stringValue(L"ApplicationId");
    if (id.empty()) id = self.productName();
    if (id.empty()) id = fs::path(modulePath()).stem().wstring();
    return id;
}

}  // namespace qv
