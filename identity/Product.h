#pragma once
// The product this installer carries: its constants, its names in the current
// language, the installer's title and application identifier, and where an
// earlier installation of the same product left its record and its log.

#include <cstdint>
#include <string>

namespace qv {

inline constexpr std::uint32_t QuorvexProductCode = 518;   // family 2, major version 6
inline constexpr wchar_t ProductNameFrench[] = L"Quorvex";  // also the base of every name
inline constexpr wchar_t ProductNameOther[] = L"Trimora";   // every language but French
inline constexpr wchar_t ProductVersionText[] = L"6.04";
inline constexpr std::uint64_t ProductFileVersion = 0x0006000400000002ull;  // 6.4.0.2
inline constexpr wchar_t ProductFileVersionText[] = L"6.4.0.2";
inline constexpr wchar_t MakerKeyPath[] = L"Software\\Orvane Systems";
inline constexpr wchar_t UninstallKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// Family × 256 + major version of the product this installer carries; the
// application object assigns it again when it is constructed.
extern std::uint32_t productCode;

// The identifier of the installer's product line, which names the global
// synchronisation objects; determined by the application initialisation
// (determineApplicationId) before the application object exists.
std::wstring& applicationId();

// String 1000 ("Installer"), " – " and the product label with its version,
// in the current language: Installer – Trimora 6.04.
std::wstring buildAppTitle();

// The language-independent name of a product code ("Quorvex 6"), which names
// the uninstall key and the installation record. Throws std::logic_error
// ("logic error") for a code that matches no product.
std::wstring productKeyName(std::uint32_t code);

// Outside French, the first "Quorvex" in the text becomes "Trimora".
void localizeProductName(std::wstring& text);

// "Quorvex" in the current language, with " 6.04" unless nameOnly.
std::wstring productLabel(bool nameOnly);

// The last folder of the default folders: Trimora 6, in French Quorvex 6.
std::wstring productFolderName();

// The name of the installation record's value under the maker's key:
// "<key name> Path" ("Quorvex 6 Path").
std::wstring installationRecordValueName();

// The installation record (the maker's key, value "<key name> Path") as it
// is now: the installed program's path when it names an existing file or
// folder, else empty. Never throws.
std::wstring findInstalledProgram();

// findInstalledProgram, asked once and kept for the rest of the process.
const std::wstring& installedProgramPath();

// The installation that the other edition of this product made: its
// uninstall key in the other registry view (sys/Registry.h openKeyInOtherView)
// or its installation record there. found is false when there is none, and
// when the registry cannot be read.
struct OtherEditionInstallation {
    bool found = false;
    std::wstring version;  // DisplayVersion, when given
    std::wstring folder;   // InstallLocation, when given
};
OtherEditionInstallation otherEditionInstallation() noexcept;

// "64-bit" or "32-bit": this installer's edition, or the other one.
const wchar_t* editionText(bool other = false) noexcept;

// The earlier installation's Uninstall.ulog: beside the uninstaller that the
// uninstall key names, else beside this installer, else beside the installed
// program; empty when none exists.
std::wstring earlierLogPath();

// The installer's ApplicationId version string, else its ProductName, else
// the stem of its file name.
std::wstring determineApplicationId();

}  // namespace qv
