#pragma once
// The product this installer carries: its constants, its names in the current
// language, the installer's application identifier, and the detection of an
// earlier installation of the same product.

#include "app/SessionState.h"

#include <cstdint>
#include <string>

namespace qv {

class CInstallApp;

inline constexpr std::uint32_t QuorvexProductCode = 518;   // family 2, major version 6
inline constexpr wchar_t ProductNameFrench[] = L"Quorvex";  // also the base of every name
inline constexpr wchar_t ProductNameOther[] = L"Trimora";   // every language but French
inline constexpr wchar_t ProductVersionText[] = L"6.04";
inline constexpr std::uint64_t ProductFileVersion = 0x0006000400000002ull;  // 6.4.0.2
inline constexpr wchar_t ProductFileVersionText[] = L"6.4.0.2";
inline constexpr wchar_t MakerKeyPath[] = L"Software\\Orvane Systems";
inline constexpr wchar_t UninstallKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

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

// The installation record (the maker's key, value "<key name> Path") as it
// is now: the installed program's path when it names an existing file or
// folder, else empty. Never throws.
std::wstring findInstalledProgram();

// findInstalledProgram, asked once and kept for the rest of the process.
const std::wstring& installedProgramPath();

// The earlier installation's Uninstall.ulog: beside the uninstaller that the
// uninstall key names, else beside this installer, else beside the installed
// program; empty when none exists.
std::wstring earlierLogPath();

// Sets installState, previousVersionText and previousVersion of the session
// from the program at programPath (empty: nothing installed).
void detectInstallation(CInstallApp& app, const std::wstring& programPath);
// The same for installedProgramPath.
void detectInstallation(CInstallApp& app);

// The installer's ApplicationId version string, else its ProductName, else
// the stem of its file name.
std::wstring determineApplicationId();

}  // namespace qv
