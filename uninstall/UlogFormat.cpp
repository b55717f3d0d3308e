// The text of Uninstall.ulog: lines into records and records into lines,
// without a file (UlogFormat.h).

#include "uninstall/UlogFormat.h"

#include "identity/Product.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace qv {
namespace {

constexpr std::wstring_view kWhiteSpace = L" \t\r\n\v\f";

bool isWhite(wchar_t c) { return kWhiteSpace.find(c) != std::wstring_view::npos; }

std::wstring_view trimLeft(std::wstring_view s)
{
    std::size_t i = 0;
    while (i < s.size() && isWhite(s[i])) ++i;
    return s.substr(i);
}

std::wstring_view trimRight(std::wstring_view s)
{
    std::size_t n = s.size();
    while (n > 0 && isWhite(s[n - 1])) --n;
    return s.substr(0, n);
}

std::wstring_view trim(std::wstring_view s) { return trimRight(trimLeft(s)); }

// ---------------------------------------------------------------------------
// Writing

// A header line of the file: "// ", the text, the line end.
std::wstring commentLine(const std::wstring& text)
{
    return L"// " + text + L"\r\n";
}

// "Label : folder", or the label alone when the line would be longer than
// its reader takes (a folder that long cannot be a folder of ours): a
// header line the reader stops at would lose every entry after it.
std::wstring labelledFolder(const std::wstring& label, const std::wstring& folder)
{
    const std::wstring text = label + folder;
    return fitsUlogReader(commentLine(text), false) ? text : label;
}

// ---------------------------------------------------------------------------
// Reading

class Cursor {
public:
    explicit Cursor(std::wstring_view text) : text_(text) {}

    void skipWhite()
    {
        while (pos_ < text_.size() && isWhite(text_[pos_])) ++pos_;
    }
    bool literal(wchar_t c)
    {
        skipWhite();
        if (pos_ < text_.size() && text_[pos_] == c) { ++pos_; return true; }
        return false;
    }
    // An optionally signed integer in the given base; nothing beyond 2^31.
    std::optional<long long> integer(int base)
    {
        skipWhite();
        bool negative = false;
        if (pos_ < text_.size() && (text_[pos_] == L'-' || text_[pos_] == L'+'))
            negative = text_[pos_++] == L'-';
        long long value = 0;
        std::size_t digits = 0;
        while (pos_ < text_.size()) {
            const int d = digitValue(text_[pos_]);
            if (d < 0 || d >= base) break;
            value = value * base + d;
            if (value > 0x7FFFFFFFLL) return std::nullopt;
            ++pos_;
            ++digits;
        }
        if (digits == 0) return std::nullopt;
        return negative ? -value : value;
    }
    std::optional<wchar_t> character()
    {
        skipWhite();
        if (pos_ >= text_.size()) return std::nullopt;
        return text_[pos_++];
    }
    std::wstring_view word()
    {
        skipWhite();
        const std::size_t start = pos_;
        while (pos_ < text_.size() && !isWhite(text_[pos_])) ++pos_;
        return text_.substr(start, pos_ - start);
    }
    std::wstring_view rest() { return trimLeft(text_.substr(pos_)); }

private:
    static int digitValue(wchar_t c)
    {
        if (c >= L'0' && c <= L'9') return c - L'0';
        if (c >= L'a' && c <= L'f') return c - L'a' + 10;
        if (c >= L'A' && c <= L'F') return c - L'A' + 10;
        return -1;
    }

    std::wstring_view text_;
    std::size_t pos_ = 0;
};

// The text after the label, trimmed; nothing when the label is missing.
std::optional<std::wstring> afterLabel(std::wstring_view line, std::wstring_view label)
{
    const auto at = line.find(label);
    if (at == std::wstring_view::npos) return std::nullopt;
    return std::wstring(trim(line.substr(at + label.size())));
}

}  // namespace

std::wstring uninstallKeyLogPath()
{
    return L"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
           productKeyName(productCode);
}

// --- reading ------------------------------------------------------------------

std::vector<std::wstring> splitUlogLines(const std::vector<char>& bytes)
{
    std::vector<std::wstring> lines;
    const bool utf16 = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                       static_cast<unsigned char>(bytes[1]) == 0xFE;
    std::size_t pos = utf16 ? 2 : 0;
    while (pos < bytes.size()) {
        std::size_t end = pos;
        bool complete = false;
        if (utf16) {
            while (end + 1 < bytes.size()) {
                const wchar_t c = static_cast<wchar_t>(static_cast<unsigned char>(bytes[end]) |
                                                       static_cast<unsigned char>(bytes[end + 1]) << 8);
                end += 2;
                if (c == L'\n') { complete = true; break; }
            }
        } else {
            while (end < bytes.size()) {
                if (bytes[end++] == '\n') { complete = true; break; }
            }
        }
        // The byte-order mark counts towards the first line.
        const std::size_t lineBytes = end - pos + (lines.empty() && utf16 ? 2 : 0);
        if (!complete || lineBytes > kUlogMaxLineBytes) break;

        std::wstring line;
        if (utf16) {
            line.resize((end - pos) / 2);
            std::memcpy(line.data(), bytes.data() + pos, line.size() * sizeof(wchar_t));
        } else if (end > pos) {
            const int count = static_cast<int>(end - pos);
            const int needed = ::MultiByteToWideChar(CP_THREAD_ACP, MB_PRECOMPOSED,
                                                     bytes.data() + pos, count, nullptr, 0);
            line.resize(static_cast<std::size_t>(needed));
            if (needed > 0)
                ::MultiByteToWideChar(CP_THREAD_ACP, MB_PRECOMPOSED, bytes.data() + pos, count,
                                      line.data(), needed);
        }
        lines.push_back(std::move(line));
        pos = end;
    }
    return lines;
}

std::optional<LogEntry> parseUlogEntry(std::wstring_view line)
{
    Cursor in(line);
    const auto index = in.integer(10);
    if (!index || *index < 0 || !in.literal(L':')) return std::nullopt;
    const auto code = in.integer(16);
    if (!code || *code < 0 || *code / 256 >= 7 || !in.literal(L':')) return std::nullopt;
    const auto flag = in.character();
    if (!flag || (*flag != L'0' && *flag != L'1')) return std::nullopt;
    if (in.word() != L"--") return std::nullopt;

    LogEntry entry;
    entry.kind = static_cast<std::int32_t>(*code / 256);
    const int low = static_cast<int>(*code & 0xFF);
    entry.payloadKind = low == 0xFF ? -1 : low;
    entry.done = *flag == L'1';
    if (entry.kind != UninstallKey && entry.kind != ClassesRootKeys)
        entry.path = std::wstring(in.rest());
    return entry;
}

UlogContents parseUlog(const std::vector<char>& bytes)
{
    UlogContents contents;
    bool versionOne = false;
    int number = 0;
    for (const std::wstring& raw : splitUlogLines(bytes)) {
        const int lineNumber = number++;
        const std::wstring_view line = trimRight(raw);
        // Header lines are known by their place; only the first, the label
        // and the two folders are read (the warning and the rule are not).
        if (line.size() >= 2 && line[0] == L'/' && line[1] == L'/') {
            std::size_t slashes = 0;
            while (slashes < line.size() && line[slashes] == L'/') ++slashes;
            const std::wstring_view text = trimLeft(line.substr(slashes));
            if (lineNumber == 0) {
                constexpr std::wstring_view tag = L"Uninstall Log File v";
                const auto at = text.find(tag);
                if (at == std::wstring_view::npos) return contents;
                Cursor version(text.substr(at + tag.size()));
                const auto value = version.integer(10);
                if (!value || *value != 1) return contents;
                versionOne = true;
            } else if (lineNumber == 2) {
                constexpr std::wstring_view tag = L"Install";
                const auto at = text.find(tag);
                if (at == std::wstring_view::npos) return contents;
                std::wstring_view label = text.substr(at + tag.size());
                label = label.substr(0, label.find(L"--"));
                contents.label = std::wstring(trim(label));
            } else if (lineNumber == 3 || lineNumber == 4) {
                auto folder = afterLabel(text, lineNumber == 3 ? L"Install Path :" : L"Shortcut Path :");
                if (!folder) return contents;
                (lineNumber == 3 ? contents.installFolder : contents.shortcutFolder) = std::move(folder);
            }
            continue;
        }
        if (!versionOne) return contents;
        auto entry = parseUlogEntry(line);
        if (!entry) return contents;
        contents.entries.push_back(std::move(*entry));
    }
    return contents;
}

// --- writing ------------------------------------------------------------------

bool fitsUlogReader(const std::wstring& line, bool firstLine)
{
    return line.size() * sizeof(wchar_t) + (firstLine ? sizeof(wchar_t) : 0) <= kUlogMaxLineBytes;
}

std::wstring formatUlogEntry(std::size_t index, const LogEntry& entry)
{
    const unsigned code = static_cast<unsigned>(entry.kind) * 256u +
                          (static_cast<unsigned>(entry.payloadKind) & 0xFFu);
    wchar_t prefix[48];
    std::swprintf(prefix, 48, L"%04u:%04x:%d -- ", static_cast<unsigned>(index), code,
                  entry.done ? 1 : 0);
    std::wstring line = prefix;
    if (entry.kind == UninstallKey)
        line += uninstallKeyLogPath();
    else if (entry.kind == ClassesRootKeys)
        line += kClassesRootLogPath;
    else
        line += entry.path;
    line += L"\r\n";
    return line;
}

std::vector<std::wstring> formatUlog(const UlogHeader& header, const std::list<LogEntry>& entries)
{
    std::vector<std::wstring> lines;
    lines.push_back(commentLine(L"Uninstall Log File v1"));
    lines.push_back(commentLine(L"############ WARNING: Do not delete or modify this file. ############"));
    std::wstring install = L"Install " + header.label;
    if (!header.earlierLabel.empty()) {
        // An earlier label read from an ANSI log may be longer than the line
        // can hold in UTF-16: as much of it as fits.
        std::wstring earlier = header.earlierLabel;
        while (!earlier.empty() && !fitsUlogReader(commentLine(install + L" -- Update (" + earlier + L")"), false))
            earlier.pop_back();
        install += L" -- Update (" + earlier + L")";
    }
    lines.push_back(commentLine(install));
    lines.push_back(commentLine(labelledFolder(L"Install Path : ", header.installFolder)));
    const std::wstring shortcutLine = labelledFolder(L"Shortcut Path : ", header.shortcutFolder);
    lines.push_back(commentLine(shortcutLine));
    lines.push_back(commentLine(std::wstring(shortcutLine.size(), L'-')));

    std::size_t index = 0;
    for (const LogEntry& entry : entries) {
        // An earlier entry whose line its reader could not take back (read
        // from an ANSI log, where a character is one byte, and longer than a
        // path of ours can be) would end the reading there, and every entry
        // after it would be lost: it is not carried over.
        std::wstring line = formatUlogEntry(index, entry);
        if (!fitsUlogReader(line, false)) continue;
        lines.push_back(std::move(line));
        ++index;
    }
    return lines;
}

std::vector<char> ulogFileBytes(const std::vector<std::wstring>& lines)
{
    // wchar_t is 16 bits and little-endian on every Windows we build for:
    // the text's memory is the file's UTF-16.
    static_assert(sizeof(wchar_t) == 2);
    std::wstring text(1, wchar_t(0xFEFF));
    for (const std::wstring& line : lines) text += line;
    std::vector<char> bytes(text.size() * sizeof(wchar_t));
    std::memcpy(bytes.data(), text.data(), bytes.size());
    return bytes;
}

}  // namespace qv
