#include "engine/ArchiveFormat.h"

#include "engine/CompressError.h"

#include <limits>
#include <stdexcept>
#include <system_error>

namespace qv {
namespace {

[[noreturn]] void malformed()
{
    throw std::system_error(make_error_code(CompressError::Unexpected));
}

void putU32(std::string& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void putU64(std::string& out, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void putString(std::string& out, const std::wstring& s)
{
    if (s.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("archive string too long");
    putU32(out, static_cast<std::uint32_t>(s.size()));
    for (wchar_t c : s) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
}

std::uint64_t getLE(const char* p, int bytes)
{
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
    return v;
}

// Walks the header; every read first checks what is left.
class Reader {
public:
    explicit Reader(std::string_view data) : data_(data) {}

    std::size_t left() const noexcept { return data_.size() - pos_; }

    std::uint32_t u32() { return static_cast<std::uint32_t>(get(4)); }
    std::uint64_t u64() { return get(8); }

    std::wstring string()
    {
        std::uint32_t length = u32();
        if (length > left() / 2) malformed();
        std::wstring s(length, L'\0');
        for (std::uint32_t i = 0; i < length; ++i)
            s[i] = static_cast<wchar_t>(get(2));
        return s;
    }

private:
    std::uint64_t get(int bytes)
    {
        if (left() < static_cast<std::size_t>(bytes)) malformed();
        std::uint64_t v = getLE(data_.data() + pos_, bytes);
        pos_ += bytes;
        return v;
    }

    std::string_view data_;
    std::size_t pos_ = 0;
};

}  // namespace

std::string serializeHeader(const std::vector<ArchiveEntry>& entries)
{
    if (entries.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("too many archive entries");
    std::string out;
    putU64(out, 0);  // filled in below
    putU32(out, static_cast<std::uint32_t>(entries.size()));
    for (const ArchiveEntry& e : entries) {
        putString(out, e.source);
        putString(out, e.destination);
        putU32(out, e.kind);
        putU64(out, e.size);
        putU32(out, e.crc);
    }
    if (out.size() > maxHeaderSize) throw std::length_error("archive header too long");
    std::string size;
    putU64(size, out.size());
    out.replace(0, 8, size);
    return out;
}

std::uint64_t readHeaderSize(const char* first8Bytes)
{
    std::uint64_t size = getLE(first8Bytes, 8);
    if (size < archivePrefixSize || size > maxHeaderSize) malformed();
    return size;
}

std::vector<ArchiveEntry> parseHeader(std::string_view header)
{
    if (header.size() < archivePrefixSize || readHeaderSize(header.data()) != header.size())
        malformed();
    Reader in(header.substr(8));
    std::uint32_t count = in.u32();
    // A damaged count must not make us reserve billions of entries.
    if (count > in.left() / minimumEntrySize) malformed();
    std::vector<ArchiveEntry> entries;
    entries.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        ArchiveEntry e;
        e.source = in.string();
        e.destination = in.string();
        e.kind = in.u32();
        e.size = in.u64();
        e.crc = in.u32();
        entries.push_back(std::move(e));
    }
    if (in.left() != 0) malformed();  // the size field announces more than the table
    return entries;
}

std::uint64_t archiveTotal(std::uint64_t headerSize, const std::vector<ArchiveEntry>& entries)
{
    std::uint64_t total = headerSize;
    for (const ArchiveEntry& e : entries) {
        if (e.size > std::numeric_limits<std::uint64_t>::max() - total) malformed();
        total += e.size;
    }
    return total;
}

}  // namespace qv
