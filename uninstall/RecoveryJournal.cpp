#include "uninstall/RecoveryJournal.h"

#include "sys/PathGuard.h"
#include "sys/RunFolder.h"

#include <cstring>
#include <cwchar>
#include <system_error>

namespace qv {
namespace {

constexpr char kMagic[4] = {'Q', 'V', 'R', 'J'};
constexpr std::uint32_t kVersion = 1;
// No record is larger: a journal's largest holds the uninstall key's
// content (sys/KeyContent.h keeps at most 64 KiB of it).
constexpr std::uint32_t kMaxPayload = 256 * 1024;
constexpr std::uint32_t kMaxStringUnits = 32767;

// Enough to tell a record the process could not finish writing (a torn
// write at a power loss) from a whole one; nobody but an administrator can
// write the file.
std::uint32_t fnv1a(const char* data, std::size_t size) noexcept
{
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= static_cast<unsigned char>(data[i]);
        hash *= 16777619u;
    }
    return hash;
}

void putU32(std::string& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void putString(std::string& out, const std::wstring& s)
{
    if (s.size() > kMaxStringUnits) throw std::system_error(ERROR_FILENAME_EXCED_RANGE, std::system_category());
    putU32(out, static_cast<std::uint32_t>(s.size()));
    for (wchar_t c : s) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
}

bool knownType(std::uint8_t type) noexcept
{
    return type >= static_cast<std::uint8_t>(JournalRecordType::RunStarted) &&
           type <= static_cast<std::uint8_t>(JournalRecordType::Committed);
}

// Walks one payload; every read checks what is left first.
class PayloadReader {
public:
    PayloadReader(const char* data, std::size_t size) : data_(data), size_(size) {}

    bool u8(std::uint8_t& v)
    {
        if (size_ - pos_ < 1) return false;
        v = static_cast<std::uint8_t>(data_[pos_++]);
        return true;
    }
    bool u32(std::uint32_t& v)
    {
        if (size_ - pos_ < 4) return false;
        v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data_[pos_ + i]);
        pos_ += 4;
        return true;
    }
    bool string(std::wstring& s)
    {
        std::uint32_t units = 0;
        if (!u32(units) || units > kMaxStringUnits || units > (size_ - pos_) / 2) return false;
        s.resize(units);
        for (std::uint32_t i = 0; i < units; ++i)
            s[i] = static_cast<wchar_t>(static_cast<unsigned char>(data_[pos_ + 2 * i]) |
                                        static_cast<unsigned char>(data_[pos_ + 2 * i + 1]) << 8);
        pos_ += 2 * units;
        return true;
    }
    bool bytes(std::vector<BYTE>& b)
    {
        std::uint32_t count = 0;
        if (!u32(count) || count > size_ - pos_) return false;
        b.assign(data_ + pos_, data_ + pos_ + count);
        pos_ += count;
        return true;
    }
    bool atEnd() const noexcept { return pos_ == size_; }

private:
    const char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace

std::string journalHeader()
{
    std::string header(kMagic, sizeof kMagic);
    putU32(header, kVersion);
    return header;
}

std::string serializeJournalRecord(const JournalRecord& record)
{
    std::string payload;
    payload.push_back(static_cast<char>(record.type));
    payload.push_back(static_cast<char>(record.flags));
    putU32(payload, record.number);
    putString(payload, record.path);
    putString(payload, record.other);
    putString(payload, record.third);
    putU32(payload, static_cast<std::uint32_t>(record.data.size()));
    payload.append(reinterpret_cast<const char*>(record.data.data()), record.data.size());
    if (payload.size() > kMaxPayload) throw std::system_error(ERROR_BUFFER_OVERFLOW, std::system_category());

    std::string out;
    putU32(out, static_cast<std::uint32_t>(payload.size()));
    putU32(out, fnv1a(payload.data(), payload.size()));
    return out + payload;
}

std::vector<JournalRecord> parseJournalRecords(const std::vector<char>& bytes)
{
    std::vector<JournalRecord> records;
    const std::string header = journalHeader();
    if (bytes.size() < header.size() || std::memcmp(bytes.data(), header.data(), header.size()) != 0) return records;
    std::size_t pos = header.size();
    while (bytes.size() - pos >= 8) {
        PayloadReader frame(bytes.data() + pos, 8);
        std::uint32_t length = 0, checksum = 0;
        frame.u32(length);
        frame.u32(checksum);
        if (length > kMaxPayload || length > bytes.size() - pos - 8) break;
        const char* payload = bytes.data() + pos + 8;
        if (fnv1a(payload, length) != checksum) break;

        PayloadReader in(payload, length);
        JournalRecord record;
        std::uint8_t type = 0;
        if (!in.u8(type) || !knownType(type) || !in.u8(record.flags) || !in.u32(record.number) ||
            !in.string(record.path) || !in.string(record.other) || !in.string(record.third) ||
            !in.bytes(record.data) || !in.atEnd())
            break;
        record.type = static_cast<JournalRecordType>(type);
        records.push_back(std::move(record));
        pos += 8 + length;
    }
    return records;
}

std::wstring earlierFileText(DWORD volume, std::uint64_t index)
{
    wchar_t text[32];
    std::swprintf(text, 32, L"%08x|%016llx", static_cast<unsigned>(volume), static_cast<unsigned long long>(index));
    return text;
}

bool parseEarlierFileText(const std::wstring& text, DWORD& volume, std::uint64_t& index)
{
    if (text.size() != 25 || text[8] != L'|') return false;
    auto hex = [](const std::wstring& digits, std::uint64_t& value) {
        value = 0;
        for (wchar_t c : digits) {
            const int digit = c >= L'0' && c <= L'9' ? c - L'0' : c >= L'a' && c <= L'f' ? c - L'a' + 10 : -1;
            if (digit < 0) return false;
            value = value << 4 | static_cast<std::uint64_t>(digit);
        }
        return true;
    };
    std::uint64_t serial = 0;
    if (!hex(text.substr(0, 8), serial) || !hex(text.substr(9), index)) return false;
    volume = static_cast<DWORD>(serial);
    return true;
}

std::unique_ptr<RecoveryJournal> RecoveryJournal::create(const RunFolder& folder)
{
    try {
        const std::wstring path = folder.path() + L"\\" + kRecoveryJournalName;
        CheckedHandle file = openChecked(path, GENERIC_WRITE | DELETE, FILE_SHARE_READ, CREATE_NEW);
        if (!file) return nullptr;
        std::unique_ptr<RecoveryJournal> journal(new RecoveryJournal(std::move(file.handle), path, file.info));
        const std::string header = journalHeader();
        DWORD written = 0;
        if (!::WriteFile(journal->file_.get(), header.data(), static_cast<DWORD>(header.size()), &written, nullptr) ||
            written != header.size() || !::FlushFileBuffers(journal->file_.get())) {
            journal->discard();
            return nullptr;
        }
        journal->written_ = header.size();
        return journal;
    } catch (...) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
}

RecoveryJournal::RecoveryJournal(UniqueFile file, std::wstring path, const BY_HANDLE_FILE_INFORMATION& identity)
    : file_(std::move(file)), path_(std::move(path)), identity_(identity)
{
}

RecoveryJournal::~RecoveryJournal() = default;

void RecoveryJournal::append(const JournalRecord& record)
{
    if (!file_ || broken_) throw std::system_error(ERROR_INVALID_HANDLE, std::system_category());
    const std::string bytes = serializeJournalRecord(record);
    // A reader takes no more: a record beyond would be lost to it.
    if (written_ + bytes.size() > kMaxJournalBytes) {
        broken_ = true;
        throw std::system_error(ERROR_BUFFER_OVERFLOW, std::system_category());
    }
    DWORD written = 0;
    // On the disk before the change it announces is made.
    if (!::WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !::FlushFileBuffers(file_.get())) {
        const DWORD error = ::GetLastError();
        // A record written in part ends the journal for its reader, and
        // every later one with it: after a failure nothing more is taken.
        broken_ = true;
        throw std::system_error(static_cast<int>(error ? error : ERROR_WRITE_FAULT), std::system_category());
    }
    written_ += bytes.size();
}

void RecoveryJournal::discard() noexcept
{
    if (!file_) return;
    markForDeletion(file_.get());
    file_.reset();
}

void RecoveryJournal::keep() noexcept
{
    file_.reset();
}

}  // namespace qv
