#pragma once
// Classes in this file:
//   languageLibraryName  file name of the language library of a language index
//   installedLanguage    the language the installer recorded for the product
//   ProductStrings       texts of the program and the uninstaller in that language
//
// The program and the uninstaller carry their French texts themselves; every
// other language comes from a resource-only library in the Lang folder beside
// them, loaded as a data file. A text missing from the chosen library is taken
// from the English one, then from the built-in French table.

#include "product/common/StringIds.h"
#include "sys/Handles.h"

#include <windows.h>

#include <string>

namespace qv::product {

// "Trimora_de.dll" for index 2; empty for French (built in) and for the
// indexes without a library of their own.
std::wstring languageLibraryName(int languageIndex);

// OvLanguage of the product's uninstall key when it is a language with a
// library or French; else the user's interface language when it has one;
// else English (1).
int installedLanguage();

class ProductStrings {
public:
    // programFolder: the folder that holds Lang\ (the program's own folder).
    ProductStrings(const std::wstring& programFolder, int languageIndex);

    std::wstring get(UINT id) const;
    // The text with %1 replaced by the argument.
    std::wstring format(UINT id, const std::wstring& argument) const;
    int languageIndex() const noexcept { return languageIndex_; }
    // Unloads the libraries (the uninstaller deletes them); later lookups
    // use the built-in texts.
    void release() noexcept;

private:
    int languageIndex_;
    UniqueModule chosen_;
    UniqueModule english_;
};

// Reads string id from a module's string table without regard to the
// table's language (a language library holds exactly one). Empty if absent.
std::wstring loadModuleString(HMODULE module, UINT id);

}  // namespace qv::product
