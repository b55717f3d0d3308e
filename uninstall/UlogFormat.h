#pragma once
// Functions in this file:
//   uninstallKeyLogPath, kClassesRootLogPath
//                    the texts that stand for the registry entries
//   splitUlogLines   the file's bytes as text lines, up to the first damage
//   parseUlogEntry   one entry line as a record
//   parseUlog        the header and the entries of a whole file
//   fitsUlogReader   whether the reader takes a line back whole
//   formatUlogEntry  one record as its line
//   formatUlog       every line of a file: the header, then the entries
//   ulogFileBytes    the lines as the bytes of the file
// Classes in this file:
//   UlogContents     what the reader takes from a file
//   UlogHeader       what the writer puts above the entries
//
// The text of Uninstall.ulog, apart from the file that holds it, so that it
// can be tested and fuzzed without one. Uninstallers of earlier and later
// versions read and write the same text: every byte written here is part of
// what they expect, and what they may have written is read here. The
// journal (UninstallLog.h) reads and writes the file through these.
//
// The file: UTF-16 little-endian with a byte-order mark (an ANSI file of an
// earlier writer is read too), lines ended by CR LF:
//   // Uninstall Log File v1
//   // ############ WARNING: Do not delete or modify this file. ############
//   // Install <label>[ -- Update (<earlier label>)]
//   // Install Path : <folder>
//   // Shortcut Path : <folder>
//   // <as many hyphens as the line above holds characters after "// ">
//   <index>:<kind * 256 + payload kind, 4 hex digits>:<0|1> -- <path>
//   ...

#include "uninstall/LogEntry.h"

#include <cstddef>
#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// A line read back is at most this many bytes, its line end included (and
// the byte-order mark on the first line). The writer never writes a longer
// one; a longer line is treated as damage and ends reading.
inline constexpr std::size_t kUlogMaxLineBytes = 1022;

// The text that stands for the registry entries in the log file.
std::wstring uninstallKeyLogPath();
inline constexpr wchar_t kClassesRootLogPath[] = L"HKEY_CLASSES_ROOT\\...";

// --- reading ------------------------------------------------------------------

// Splits the file's bytes into text lines, each with its line end: UTF-16
// after a byte-order mark, else the thread's ANSI code page. A line that is
// longer than the limit, or that the bytes cut off before its line end, ends
// the list: what follows cannot be trusted.
std::vector<std::wstring> splitUlogLines(const std::vector<char>& bytes);

// "index:code:flag -- path"; nothing when any item is missing or wrong. The
// path of a registry entry is not kept: its text is the writer's own.
std::optional<LogEntry> parseUlogEntry(std::wstring_view line);

struct UlogContents {
    // Each header item as its line gives it; nothing when the reading
    // ended before the line. The folders are the file's text: whether they
    // still exist is the caller's question.
    std::optional<std::wstring> label;  // without the update note
    std::optional<std::wstring> installFolder;
    std::optional<std::wstring> shortcutFolder;
    // The entries before the first damage.
    std::list<LogEntry> entries;
};

// A missing or damaged file yields less, never an error: reading ends at
// the first line that is not what it should be (a first line that is no
// "v1" header, a header line without its label, an entry line that cannot
// be parsed), and what came before is kept.
UlogContents parseUlog(const std::vector<char>& bytes);

// --- writing ------------------------------------------------------------------

// Whether the reader takes the line (with its line end) back whole: the
// first line also carries the byte-order mark.
bool fitsUlogReader(const std::wstring& line, bool firstLine);

// The entry's line, line end included, under the given index.
std::wstring formatUlogEntry(std::size_t index, const LogEntry& entry);

struct UlogHeader {
    std::wstring label;         // the product label of this installation
    std::wstring earlierLabel;  // of the installation it updates; empty: none
    std::wstring installFolder;
    std::wstring shortcutFolder;
};

// Every line of the file, line ends included, none longer than its reader
// takes: a header item too long is shortened, an entry too long is left out
// (its index goes to the next one).
std::vector<std::wstring> formatUlog(const UlogHeader& header, const std::list<LogEntry>& entries);

// The bytes of the file: the byte-order mark, then the lines in UTF-16.
std::vector<char> ulogFileBytes(const std::vector<std::wstring>& lines);

}  // namespace qv
