// The Uninstall.ulog file: the writer (commit, with the merge of an earlier
// log) and the reader.

#include "uninstall/UninstallLog.h"

#include "identity/Product.h"
#include "sys/HResultError.h"
#include "sys/Handles.h"
#include "sys/PathGuard.h"
#include "sys/PathIdentity.h"
#include "sys/StagedFile.h"
#include "uninstall/RecoveryJournal.h"

#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <optional>
#include <string_view>
#include <vector>

namespace qv {
namespace {


// A line read back is at most this many bytes, its line end included (and the
// byte-order mark on the first line). The writer never writes a longer one; a
// longer line is treated as damage and ends reading.
constexpr std::size_t kMaxLineBytes = 1022;

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

bool isExistingFolder(const std::wstring& path)
{
    if (path.empty()) return false;
    boost::system::error_code ec;
    return boost::filesystem::is_directory(path, ec) && !ec;
}

// ---------------------------------------------------------------------------
// Writing

std::wstring entryLine(std::size_t index, const LogEntry& entry)
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

// Whether the reader takes the line (with its line end) back whole: the
// first line also carries the byte-order mark.
bool fitsReader(const std::wstring& line, bool firstLine)
{
    return line.size() * sizeof(wchar_t) + (firstLine ? sizeof(wchar_t) : 0) <= kMaxLineBytes;
}

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
    return fitsReader(commentLine(text), false) ? text : label;
}

// ---------------------------------------------------------------------------
// Reading

// Splits the file's bytes into text lines, each with its line end. A line
// that is longer than the limit, or that the file cuts off before its line
// end, ends the list: what follows cannot be trusted.
std::vector<std::wstring> splitLines(const std::vector<char>& bytes)
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
        if (!complete || lineBytes > kMaxLineBytes) break;

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

// "index:code:flag -- path"; nothing when any item is missing or wrong.
std::optional<LogEntry> parseEntry(std::wstring_view line)
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

// The text after the label, trimmed; nothing when the label is missing.
std::optional<std::wstring> afterLabel(std::wstring_view line, std::wstring_view label)
{
    const auto at = line.find(label);
    if (at == std::wstring_view::npos) return std::nullopt;
    return std::wstring(trim(line.substr(at + label.size())));
}

// The reader's memory bound: a thousand lines of the longest kind, many times
// what an installation writes. A larger (or endless) file is read this far,
// and what follows counts as damage.
constexpr DWORD kMaxLogBytes = 1024 * 1024;

bool readWholeFile(const wchar_t* path, std::vector<char>& bytes)
{
    CheckedHandle file;
    try {
        // Not through a link, and never a device or pipe that would not end.
        file = openChecked(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, SeveralNames);
    } catch (...) {
        return false;
    }
    if (!file || file.isFolder() || ::GetFileType(file.handle.get()) != FILE_TYPE_DISK) return false;
    char chunk[4096];
    while (bytes.size() < kMaxLogBytes) {
        DWORD got = 0;
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(sizeof chunk, kMaxLogBytes - bytes.size()));
        // A read error ends reading; what came before is still used.
        if (!::ReadFile(file.handle.get(), chunk, wanted, &got, nullptr) || got == 0) break;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return true;
}

}  // namespace

std::wstring uninstallKeyLogPath()
{
    return L"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
           productKeyName(productCode);
}

std::list<LogEntry> UninstallLog::mergedEntries() const
{
    // A change of a kept file's security alone is nothing the log names.
    std::list<LogEntry> merged;
    std::copy_if(newEntries_.begin(), newEntries_.end(), std::back_inserter(merged),
                 [](const LogEntry& entry) { return !entry.securityOnly; });
    // Without an earlier log there is nothing to merge, and no path's
    // identity (a file-system query each) to work out.
    if (previousEntries_.empty()) return merged;
    // Each path's identity is worked out once: a pairwise samePath would ask
    // the file system for every earlier entry against every new one.
    const auto comparesPaths = [](std::int32_t kind) { return kind == CreatedFolder || kind == InstalledFile; };
    struct Current {
        const LogEntry* entry;
        std::optional<PathIdentity> identity;
    };
    std::list<Current> current;
    for (const LogEntry& entry : merged)
        current.push_back({&entry, comparesPaths(entry.kind) ? std::optional(PathIdentity(entry.path)) : std::nullopt});

    for (auto previous = previousEntries_.rbegin(); previous != previousEntries_.rend(); ++previous) {
        const LogEntry& earlier = *previous;
        // A line this installation cannot own is carried over as it stands:
        // its path is not even looked at (it might name a network share).
        if (earlier.foreign) {
            merged.push_front(earlier);
            continue;
        }
        std::optional<PathIdentity> identity;
        if (comparesPaths(earlier.kind)) identity.emplace(earlier.path);
        bool matched = false;
        for (const Current& candidate : current) {
            if (candidate.entry->kind != earlier.kind) continue;
            if (identity && !identity->sameAs(*candidate.identity)) continue;
            matched = true;
            break;
        }
        if (matched) continue;
        merged.push_front(earlier);
        // Earlier entries that match each other: only the last one survives.
        current.push_front({&merged.front(), std::move(identity)});
    }
    return merged;
}

std::vector<std::wstring> UninstallLog::fileLines(const std::wstring& installFolder,
                                                 const std::wstring& shortcutFolder,
                                                 const std::list<LogEntry>& entries) const
{
    std::vector<std::wstring> lines;
    lines.push_back(commentLine(L"Uninstall Log File v1"));
    lines.push_back(commentLine(L"############ WARNING: Do not delete or modify this file. ############"));
    std::wstring install = L"Install " + productLabel(false);
    if (!previousLabel_.empty()) {
        // An earlier label read from an ANSI log may be longer than the line
        // can hold in UTF-16: as much of it as fits.
        std::wstring earlier = previousLabel_;
        while (!earlier.empty() && !fitsReader(commentLine(install + L" -- Update (" + earlier + L")"), false))
            earlier.pop_back();
        install += L" -- Update (" + earlier + L")";
    }
    lines.push_back(commentLine(install));
    lines.push_back(commentLine(labelledFolder(L"Install Path : ", installFolder)));
    const std::wstring shortcutLine = labelledFolder(L"Shortcut Path : ", shortcutFolder);
    lines.push_back(commentLine(shortcutLine));
    lines.push_back(commentLine(std::wstring(shortcutLine.size(), L'-')));

    std::size_t index = 0;
    for (const LogEntry& entry : entries) {
        // An earlier entry whose line its reader could not take back (read
        // from an ANSI log, where a character is one byte, and longer than a
        // path of ours can be) would end the reading there, and every entry
        // after it would be lost: it is not carried over.
        std::wstring line = entryLine(index, entry);
        if (!fitsReader(line, false)) continue;
        lines.push_back(std::move(line));
        ++index;
    }
    return lines;
}

bool UninstallLog::commit(const std::wstring& logPath, const std::wstring& installFolder,
                          const std::wstring& shortcutFolder)
{
    // The merge works on a copy: should the log not reach its place, a
    // rollback undoes this run's entries alone, never the earlier ones.
    std::list<LogEntry> merged;
    std::vector<std::wstring> lines;
    try {
        merged = mergedEntries();
        lines = fileLines(installFolder, shortcutFolder, merged);
        // The earlier log is replaced like every file of the run: moved to a
        // backup first, so that a rollback puts it back. A folder in its
        // place, or a journal that cannot say so, fails here. A log written
        // outside a run (no run folder) has no rollback to serve.
        if (runFolder_) recordFile(logPath, -1, false);
    } catch (...) {
        setLastErrorFromException();
        return false;
    }

    // Written whole under a temporary name beside the log, then moved into
    // its place: a process that ends meanwhile leaves no log cut off, and
    // the recovery puts the earlier one back.
    try {
        StagedFile staged(logPath, [this](const std::wstring& target, const std::wstring& staging) {
            JournalRecord announced(JournalRecordType::Staging, target);
            announced.other = staging;
            writeAhead(announced);
        });
        static const wchar_t bom = 0xFEFF;
        staged.write(&bom, sizeof bom);
        for (const std::wstring& line : lines) staged.write(line.data(), line.size() * sizeof(wchar_t));
        staged.flush();
        staged.commit(kUninstallLogAttributes);
    } catch (...) {
        setLastErrorFromException();
        const DWORD error = ::GetLastError();
        if (runFolder_) confirm(false);
        ::SetLastError(error);
        return false;
    }
    if (runFolder_) confirm(true);

    // The point from which the run goes forward: every change is made and
    // the log is in place. Should the process end now, the next start
    // deletes the backups rather than undo a complete installation. A
    // journal that cannot say so fails the run, which is then undone.
    try {
        writeAhead(JournalRecord(JournalRecordType::Committed, logPath));
    } catch (...) {
        setLastErrorFromException();
        return false;
    }

    // The installation is final now: the backups are no longer needed.
    for (LogEntry& entry : newEntries_) {
        if (entry.backupPath.empty()) continue;
        deleteRunFile(entry.backupPath);
        entry.backupPath.clear();
    }
    for (LogEntry& entry : merged) entry.backupPath.clear();
    newEntries_ = std::move(merged);
    previousEntries_.clear();
    pending_ = false;
    return true;
}

void UninstallLog::read(const wchar_t* logPath)
{
    installFolder_.clear();
    shortcutFolder_.clear();
    if (!logPath) return;

    std::vector<char> bytes;
    if (!readWholeFile(logPath, bytes)) return;

    bool versionOne = false;
    int number = 0;
    for (const std::wstring& raw : splitLines(bytes)) {
        const int lineNumber = number++;
        const std::wstring_view line = trimRight(raw);
        if (line.size() >= 2 && line[0] == L'/' && line[1] == L'/') {
            std::size_t slashes = 0;
            while (slashes < line.size() && line[slashes] == L'/') ++slashes;
            const std::wstring_view text = trimLeft(line.substr(slashes));
            if (lineNumber == 0) {
                constexpr std::wstring_view tag = L"Uninstall Log File v";
                const auto at = text.find(tag);
                if (at == std::wstring_view::npos) return;
                Cursor version(text.substr(at + tag.size()));
                const auto value = version.integer(10);
                if (!value || *value != 1) return;
                versionOne = true;
            } else if (lineNumber == 2) {
                constexpr std::wstring_view tag = L"Install";
                const auto at = text.find(tag);
                if (at == std::wstring_view::npos) return;
                std::wstring_view label = text.substr(at + tag.size());
                label = label.substr(0, label.find(L"--"));
                previousLabel_ = std::wstring(trim(label));
            } else if (lineNumber == 3 || lineNumber == 4) {
                const auto folder = afterLabel(text, lineNumber == 3 ? L"Install Path :" : L"Shortcut Path :");
                if (!folder) return;
                if (isExistingFolder(*folder)) (lineNumber == 3 ? installFolder_ : shortcutFolder_) = *folder;
            }
            continue;
        }
        if (!versionOne) return;
        auto entry = parseEntry(line);
        if (!entry) return;
        previousEntries_.push_back(std::move(*entry));
    }
}

}  // namespace qv
