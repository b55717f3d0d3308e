#pragma once
// Classes in this file:
//   TestEntry        one file of an archive built in memory for a test
//   rawArchive       the decompressed archive (header and data) of entries
//   bzip2            compresses bytes as one bzip2 stream (900k blocks)
//   NotificationLog  a recording extraction callback with scripted answers
//   TempFolder       a fresh folder below %TEMP%, removed at the end

#include "engine/Archive.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qv::test {

struct TestEntry {
    std::wstring source;       // its file name is the target's name
    std::wstring destination;  // folder, usually with a macro
    std::string data;
    std::uint32_t kind = 0;
    std::optional<std::uint32_t> crc;  // the data's own crc unless given
};

std::vector<ArchiveEntry> tableOf(const std::vector<TestEntry>& entries);
std::string rawArchive(const std::vector<TestEntry>& entries);
std::string bzip2(const std::string& raw);
std::string readFileBytes(const std::wstring& path);  // throws when unreadable
void writeFileBytes(const std::wstring& path, const std::string& bytes);
bool fileExists(const std::wstring& path);

// What one notification said, kept after the callback returned.
struct Recorded {
    std::size_t index = 0;  // the notification's alternative
    std::wstring path;      // FileBegin/FileEnd: the entry's target; Failed: its path
    std::uint64_t a = 0;    // Progress: done; Finished: compressed
    std::uint64_t b = 0;    // Progress and Finished: total
    std::error_code code;   // Failed
};

class NotificationLog {
public:
    // Answers Continue unless the script says otherwise.
    std::function<result(const notification&)> script;

    ExtractionCallback callback();

    std::vector<Recorded> all;
    std::vector<Recorded> of(std::size_t index) const;
    std::size_t count(std::size_t index) const { return of(index).size(); }
};

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::wstring& path() const noexcept { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

}  // namespace qv::test
