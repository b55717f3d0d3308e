#include "engine/ArchiveFormat.h"

#include "engine/CompressError.h"

#include <algorithm>
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

std::size_t HeaderCollector::take(const char* p, std::size_t n)
{
    std::size_t taken = 0;
    while (taken < n && !complete()) {
        const std::uint64_t wanted = size_ == 0 ? 8 - bytes_.size() : size_ - bytes_.size();
        const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, n - taken));
        bytes_.append(p + taken, part);
        taken += part;
        if (size_ == 0 && bytes_.size() == 8) size_ = readHeaderSize(bytes_.data());
    }
    return taken;
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

namespace {

bool equalsAscii(std::wstring_view text, std::wstring_view upper) noexcept
{
    if (text.size() != upper.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i] >= L'a' && text[i] <= L'z' ? text[i] - (L'a' - L'A') : text[i];
        if (c != upper[i]) return false;
    }
    return true;
}

bool isNameCharacter(wchar_t c) noexcept
{
    return c >= 32 && std::wstring_view(L"<>:\"|?*\\/").find(c) == std::wstring_view::npos;
}

// A name element of a file or folder, by the rules of checkEntryNames.
bool isPlainName(std::wstring_view element) noexcept
{
    if (element.empty() || element == L"." || element == L"..") return false;
    if (element.back() == L'.' || element.back() == L' ') return false;
    for (wchar_t c : element)
        if (!isNameCharacter(c)) return false;
    return !isDeviceName(element);
}

// Where the elements of a destination begin: after its macro, its drive
// ("C:") or its network root ("\\server\share"); 0 for a relative one.
std::size_t firstElementAfterRoot(std::wstring_view destination) noexcept
{
    const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (destination.size() >= 2 && separator(destination[0]) && separator(destination[1])) {
        std::size_t pos = 2, parts = 0;
        while (pos < destination.size() && parts < 2) {
            while (pos < destination.size() && !separator(destination[pos])) ++pos;
            ++parts;
            if (parts < 2 && pos < destination.size()) ++pos;
        }
        return pos;
    }
    std::size_t end = 0;
    while (end < destination.size() && !separator(destination[end])) ++end;
    const std::wstring_view first = destination.substr(0, end);
    if (first.size() >= 2 && first.front() == L'<' && first.back() == L'>') return end;
    if (first.size() == 2 && first[1] == L':') return end;
    return 0;
}

}  // namespace

bool isDeviceName(std::wstring_view element) noexcept
{
    // What Windows looks at: the part before the first dot, without the
    // blanks and dots that end it.
    std::wstring_view base = element.substr(0, element.find(L'.'));
    while (!base.empty() && (base.back() == L' ' || base.back() == L'.')) base.remove_suffix(1);
    for (std::wstring_view device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (equalsAscii(base, device)) return true;
    if (base.size() == 4 && (equalsAscii(base.substr(0, 3), L"COM") || equalsAscii(base.substr(0, 3), L"LPT"))) {
        const wchar_t digit = base[3];
        return (digit >= L'1' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
    }
    return false;
}

void checkEntryNames(const ArchiveEntry& entry)
{
    // The file name: the source's last element.
    const std::wstring_view source = entry.source;
    const std::size_t slash = source.find_last_of(L"\\/");
    const std::wstring_view name = slash == std::wstring_view::npos ? source : source.substr(slash + 1);
    if (!isPlainName(name)) malformed();

    const std::wstring_view destination = entry.destination;
    std::size_t pos = firstElementAfterRoot(destination);
    while (pos <= destination.size()) {
        std::size_t end = destination.find_first_of(L"\\/", pos);
        if (end == std::wstring_view::npos) end = destination.size();
        const std::wstring_view element = destination.substr(pos, end - pos);
        // Separators in a row and "." stay in the same folder.
        if (!element.empty() && element != L"." && !isPlainName(element)) malformed();
        pos = end + 1;
    }
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
