#pragma once
// Classes in this file:
//   ArchiveExtractor  the sink of the decompressed archive: collects and
//                     parses the header, then writes, verifies and reports
//                     each file in turn

#include "engine/Archive.h"
#include "engine/FolderMacros.h"
#include "sys/Handles.h"

#include <cstdint>
#include <ios>
#include <string>
#include <vector>

namespace qv {

class ArchiveExtractor {
public:
    ArchiveExtractor(std::wstring installPath, std::wstring samplePath, std::wstring tempPath,
                     ExtractionCallback callback);
    ArchiveExtractor(const ArchiveExtractor&) = delete;
    ArchiveExtractor& operator=(const ArchiveExtractor&) = delete;

    // Consumes up to n bytes and returns how many; never crosses the end of
    // the header or of a file, so the caller offers the rest again. Throws
    // on failure; after a failure every call consumes everything at once.
    std::streamsize write(const char* p, std::streamsize n);

    // Once the source is exhausted: handles the empty entries at the end of
    // the table, then checks that exactly the announced bytes arrived.
    void finish();

    // The file whose writing was begun and not completed, or empty.
    std::wstring unfinishedTarget() const;

    const std::vector<ArchiveEntry>& entries() const noexcept { return entries_; }
    std::uint64_t bytesDone() const noexcept { return bytesDone_; }
    std::uint64_t bytesTotal() const noexcept { return bytesTotal_; }

private:
    std::streamsize writeHeader(const char* p, std::streamsize n);
    std::streamsize writeFile(const char* p, std::streamsize n);
    void parseCollectedHeader();
    void openOutput(const std::wstring& target);
    result answer(notification n);  // Cancel raises code 5

    std::wstring installPath_;
    std::wstring samplePath_;
    std::wstring tempPath_;
    std::vector<ArchiveEntry> entries_;
    std::uint64_t headerSize_ = 0;
    std::uint64_t bytesDone_ = 0;
    std::uint64_t bytesTotal_ = 0;
    std::string header_;  // the header bytes, released once parsed
    UniqueFile output_;   // the file being written
    ExtractionCallback callback_;
    std::uint32_t currentIndex_ = 0;  // 0: header; k: entry k - 1
    std::uint64_t remaining_ = 0;
    bool started_ = false;
    bool skipping_ = false;
    bool writing_ = false;  // begun and not yet verified
    bool failed_ = false;
    FolderMacros folders_;  // resolves destinations, owns the shared folders
};

}  // namespace qv
