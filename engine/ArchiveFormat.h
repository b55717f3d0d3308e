#pragma once
// Classes in this file:
//   EntryKind        what the install sequence does with an archive entry
//   ArchiveEntry     one entry of the archive's table, as held in memory
//   serializeHeader  the header bytes (size, count, table) of a set of entries
//   parseHeader      the bounds-checked reader of those bytes
//   isDeviceName     whether a path element names a device (NUL, CON, COM1 ...)
//   checkEntryNames  the rules an entry's file name and destination obey
//
// The decompressed archive is: header size (u64), entry count (u32), the
// entry table, then the files' data back to back. An entry is: source length
// (u32) and source (UTF-16LE), destination length (u32) and destination
// (UTF-16LE), kind (u32), size (u64), crc (u32). Little-endian, no padding.
// The packing tool, the tests and the extractor all go through this file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

enum class EntryKind : std::uint32_t {
    LanguageLibrary = 0,
    ProgramFile = 1,
    UninstallerFile = 2,
    DataFile = 3,
    SampleFile = 4,
    TemporaryFile = 5,
};

struct ArchiveEntry {
    std::wstring source;       // path on the packing machine; only its file name is used
    std::wstring destination;  // folder (usually with a macro); the target file once resolved
    std::uint32_t kind = 0;    // an EntryKind value
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    // Once resolved: the target lies in or below a folder its macro opens to
    // the Users group, where any user may have put a name first. Not stored.
    bool inSharedFolder = false;
};

// The fixed part before the table: header size and entry count.
inline constexpr std::size_t archivePrefixSize = 12;
// The smallest possible entry: both strings empty.
inline constexpr std::size_t minimumEntrySize = 4 + 4 + 4 + 8 + 4;

// The whole header of an archive with these entries, its first 8 bytes
// holding its own length. Throws std::length_error when a string or the
// header does not fit its length field.
std::string serializeHeader(const std::vector<ArchiveEntry>& entries);

// The largest header the extractor buffers: hundreds of times the product's
// own (about 5 KB), far below what could exhaust the process's memory.
inline constexpr std::uint64_t maxHeaderSize = 4 * 1024 * 1024;

// Reads the 8-byte header size field. Throws code 7 (compress_category)
// when the size cannot be a header: below 12, or above maxHeaderSize, which
// is checked before a single header byte is buffered.
std::uint64_t readHeaderSize(const char* first8Bytes);

// Collects a header from decompressed bytes as they arrive: the size field
// first, bounded by readHeaderSize before a byte more is kept, then the rest
// of the header and nothing after it.
class HeaderCollector {
public:
    // Takes from the n bytes at p what the header still lacks and returns
    // how many it took. Throws as readHeaderSize does.
    std::size_t take(const char* p, std::size_t n);
    bool complete() const noexcept { return size_ != 0 && bytes_.size() == size_; }
    std::uint64_t size() const noexcept { return size_; }
    const std::string& bytes() const noexcept { return bytes_; }

private:
    std::string bytes_;
    std::uint64_t size_ = 0;
};

// Parses a complete header (the bytes from offset 0 to header size). Every
// count and length is checked against the bytes left before it is used, so
// a damaged header never reads or allocates beyond what it holds. The table
// must fill the header exactly. Throws code 7 (compress_category) otherwise.
std::vector<ArchiveEntry> parseHeader(std::string_view header);

// Whether Windows takes the element for a device rather than a file in any
// folder: CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9 (and COM and LPT
// with a superscript 1, 2 or 3, CONIN$ and CONOUT$), in any letter case,
// whatever extension follows and with trailing dots or blanks ("nul.txt",
// "CON .log", "aux.").
bool isDeviceName(std::wstring_view element) noexcept;

// Throws code 7 (compress_category) unless the entry's file name (the last
// element of its source) and every element of its destination after the
// macro or drive are names that reach one file of their own: not empty, not
// "." or ".." (a destination may hold "." elements and a trailing
// separator, never ".."), no device, no character Windows refuses in a name
// or that opens an alternate stream (control characters and < > : " | ? *),
// no trailing dot or blank (which Windows strips, so that two names would
// reach one file).
void checkEntryNames(const ArchiveEntry& entry);

// Header size plus the sizes of all entries: the decompressed length.
// Throws code 7 when the sum does not fit 64 bits.
std::uint64_t archiveTotal(std::uint64_t headerSize, const std::vector<ArchiveEntry>& entries);

}  // namespace qv
