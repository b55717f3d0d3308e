#pragma once
// Classes in this file:
//   FileIdentity     a file or folder as the file system knows it: volume
//                    serial number and file index
//   MarkerContent    what a recovery marker says
//   RecoveryMarker   the marker that tells every later start of the
//                    installer where the journal of an unfinished run lies
//
// The run's journal lies in the private folder of the administrator who
// started it, below that administrator's temporary folder; another
// administrator starting the installer next must find it too. The marker is
// a value under the maker's key in HKEY_LOCAL_MACHINE, which only
// administrators can write: REG_SZ "<key name> Unfinished Run" (Quorvex 6
// Unfinished Run) holding
//   1|<c or ->|<volume serial, 8 hex>|<folder index, 16 hex>|<journal index, 16 hex>|<journal path>
// c when the run created the maker's key for it (the key then goes with the
// marker when nothing else is in it). The identities let the next start
// tell the folder and file the run made from any other put under their
// names since: a temporary folder may be one users can write, and once the
// run's process is gone nothing pins its folder any more.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace qv {

struct FileIdentity {
    DWORD volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& info) noexcept;

struct MarkerContent {
    bool makerKeyCreated = false;
    FileIdentity folder;
    FileIdentity journal;
    std::wstring journalPath;
    bool operator==(const MarkerContent&) const = default;
};

class RecoveryMarker {
public:
    // The value's name: "Quorvex 6 Unfinished Run".
    static std::wstring valueName();

    // Writes the marker (creating the maker's key when missing, which
    // content.makerKeyCreated then says) and flushes the key to the disk.
    // False when it cannot be written.
    static bool set(MarkerContent& content) noexcept;

    enum class State { None, Found, Unreadable, Newer };
    // The marker as it is now. Newer: the text of a later version of this
    // format ("<version above 1>|..."), which a newer installer wrote and is
    // that installer's to act on. Unreadable: a value that is not the text
    // above (wrong type, size or form); raw then holds what could be read of
    // it, for the log.
    static State read(MarkerContent& content, std::wstring& raw) noexcept;

    // Removes the marker, then the maker's key when the marker created it
    // and nothing else is left in it; flushes. Never throws.
    static void clear(bool makerKeyCreated) noexcept;

    static std::wstring format(const MarkerContent& content);
    static std::optional<MarkerContent> parse(const std::wstring& text);
};

}  // namespace qv
