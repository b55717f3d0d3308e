#pragma once
// The names the installed product uses in the registry and on disk. The
// installer writes the uninstall key and the installation record under the
// same names; the program and the uninstaller only read and remove them.

namespace qv::product {

// HKEY_LOCAL_MACHINE, opened without a view flag like the installer does:
// a 32-bit product on 64-bit Windows lives in the 32-bit view.
inline constexpr wchar_t kUninstallParentKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr wchar_t kUninstallKeyName[] = L"Quorvex 6";
inline constexpr wchar_t kMakerKey[] = L"Software\\Orvane Systems";
inline constexpr wchar_t kInstallRecordValue[] = L"Quorvex 6 Path";

// The program's own key below the maker's key, where a registration run
// after an update keeps the version it updated from.
inline constexpr wchar_t kProductKeyName[] = L"Quorvex 6";
inline constexpr wchar_t kUpdatedFromValue[] = L"UpdatedFrom";

// The program's document type under HKEY_CLASSES_ROOT.
inline constexpr wchar_t kDocumentExtension[] = L".qvn";
inline constexpr wchar_t kDocumentProgId[] = L"Orvane.QuorvexNotebook.6";
// First line of every notebook file.
inline constexpr char kNotebookSignature[] = "Trimora Notebook 1";

// The product line's identifier: names the running count that the installer
// reads to learn whether the program is running.
inline constexpr wchar_t kApplicationId[] = L"Quorvex6";

inline constexpr wchar_t kProductVersionText[] = L"6.04";
inline constexpr wchar_t kLogFileName[] = L"Uninstall.ulog";

}  // namespace qv::product
