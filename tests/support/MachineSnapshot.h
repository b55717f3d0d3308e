#pragma once
// Classes in this file:
//   MachineSnapshot   what an installation can touch on this machine, as it
//                     is at one moment: files (size, CRC-32, attributes,
//                     owner and DACL as the system reads them back) below
//                     the program-files, application-data, Start-menu,
//                     desktop and temporary folders (and any further folders
//                     a test names), and every key and value of
//                     HKEY_LOCAL_MACHINE\Software and HKEY_CLASSES_ROOT
//   diff              the changes from one snapshot to another, one text each
//
// Diff lines: "+file <path>", "-file <path>", "~file <path>" (size, content
// or attributes changed), "+folder", "-folder", "~folder" (attributes),
// "+key", "-key", "+value <key>\<name>", "-value", "~value" (type or data).

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qv::test {

struct FileState {
    bool folder = false;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    bool readable = true;
    unsigned long attributes = 0;
    // Owner and DACL, self-relative, as read back. Wine makes them up from
    // the Unix owner and mode bits, so under Wine this shows a change of
    // those only.
    std::string security;
    bool operator==(const FileState&) const = default;
};

struct ValueState {
    unsigned long type = 0;
    std::string data;
    bool operator==(const ValueState&) const = default;
};

class MachineSnapshot {
public:
    // Takes the snapshot now; extraRoots are walked as well (a link met on
    // the way is recorded, never followed).
    static MachineSnapshot take(const std::vector<std::wstring>& extraRoots = {});

    // Keyed by the path as found (files) or "HKLM\Software\..." / "HKCR\...".
    std::map<std::wstring, FileState> files;
    std::map<std::wstring, bool> keys;
    std::map<std::wstring, ValueState> values;  // "<key>\<name>"; the default value is "<key>\"

    // The folders whose contents a snapshot holds.
    static std::vector<std::wstring> roots();
};

// One file or folder as a snapshot sees it; nothing (folder false, size 0,
// readable false) when it does not exist.
FileState stateOf(const std::wstring& path);

// Changes from before to after. Lines for which ignore answers true are
// left out (for what the system itself changes meanwhile).
std::vector<std::wstring> diff(const MachineSnapshot& before, const MachineSnapshot& after,
                               const std::function<bool(const std::wstring&)>& ignore = {});

}  // namespace qv::test
