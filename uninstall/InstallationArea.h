#pragma once
// Classes in this file:
//   InstallationArea   where an installation of this product can have put
//                      anything: which entries of an Uninstall.ulog it may
//                      act on
//   shortcutTarget     the target of a shell link file, read without
//                      following links
//
// Uninstall.ulog lies in the installation folder, which a user may be able
// to write (a folder outside the program-files folder that existed before).
// Its lines are therefore input from anybody: the installer (merge, shortcut
// clean-up) and the uninstaller act only on entries that this installation
// can own, and leave the others alone.
//
// What an installation can own, all paths taken as Windows resolves them:
//   - files and folders below the installation folder; the folders above it
//     that an installation creates (below the nearest system folder or the
//     drive's root);
//   - below the shared data folders the folder macros give this product
//     (<CommonData> and <UserData>, "Orvane Systems\Quorvex"), and the
//     folders between them and their macro's folder;
//   - the sample folder: a folder directly on the all-users desktop (the
//     user's when there is none) whose name holds the product's name, as
//     every language's "%1 Examples" does, and what lies below it;
//   - shortcuts (.lnk files) whose target lies below the installation
//     folder, and the folders that hold them (with the folders above them,
//     below the nearest system folder);
//   - the uninstall key and the HKEY_CLASSES_ROOT line, which name no path.
// Paths in another form (relative, "\\?\", devices, alternate streams) are
// never owned.

#include "sys/PathIdentity.h"  // resolvedPlainPath, isSameOrBelow
#include "uninstall/UninstallLog.h"

#include <string>
#include <vector>

namespace qv {

class InstallationArea {
public:
    // The installation folders (the uninstaller's own folder; the
    // installer's installation folder). The data, desktop and system folders
    // are looked up here.
    explicit InstallationArea(std::vector<std::wstring> installFolders);

    // A folder that holds (or is to hold) this installation's shortcuts.
    void addShortcutFolder(const std::wstring& folder);

    // Whether the entry may be acted on. Shortcut entries are read (their
    // target) here; nothing else touches the file system but the path
    // functions. Entries without a path name nothing and count as owned.
    bool owns(const LogEntry& entry) const;
    // Whether path is a place for one of this installation's shortcuts: a
    // .lnk file directly in a shortcut folder or on the desktop where the
    // sample folder goes. Nothing is read: for a shortcut that is not there
    // (yet, or any more).
    bool isShortcutPlace(const std::wstring& path) const;

    const std::vector<std::wstring>& installFolders() const noexcept { return installFolders_; }

private:
    bool ownsFile(const std::wstring& path) const;
    bool ownsFolder(const std::wstring& path) const;
    bool ownsShortcut(const std::wstring& path) const;
    bool isSampleFolder(const std::wstring& folder) const;
    // folder itself, or one of the folders between it and the nearest
    // system folder (or root) above it.
    bool isFolderOrCreatedAbove(const std::wstring& candidate, const std::wstring& folder) const;

    std::vector<std::wstring> installFolders_;
    std::vector<std::wstring> dataFolders_;
    std::vector<std::wstring> dataBases_;   // the macro's folder of each data folder
    std::vector<std::wstring> desktops_;    // where the sample folder may lie
    std::vector<std::wstring> shortcutFolders_;
    std::vector<std::wstring> systemFolders_;  // never created by an installation
};

// The path a shell link file points at; empty when the file is no link, is
// reached through a link, or cannot be read.
std::wstring shortcutTarget(const std::wstring& linkFile);

}  // namespace qv
