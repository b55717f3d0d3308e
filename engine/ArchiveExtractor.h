#pragma once
// Classes in this file:
//   ArchiveExtractor  the sink of the decompressed archive: collects and
//                     parses the header, then writes, verifies and reports
//                     each file in turn
//   resolveTargets    turns the entries' destinations into target files and
//                     refuses targets that cannot be trusted

#include "engine/Archive.h"
#include "engine/FolderMacros.h"
#include "sys/StagedFile.h"

#include <cstdint>
#include <ios>
#include <memory>
#include <string>
#include <vector>

namespace qv {

class ArchiveExtractor {
public:
    ArchiveExtractor(std::wstring installPath, std::wstring samplePath, std::wstring tempPath,
                     ExtractionCallback callback, StagingCallback staging = {});
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
    std::string header_;                  // the header bytes, released once parsed
    std::unique_ptr<StagedFile> output_;  // the file being written, under its temporary name
    ExtractionCallback callback_;
    StagingCallback staging_;
    std::uint32_t currentIndex_ = 0;  // 0: header; k: entry k - 1
    std::uint64_t remaining_ = 0;
    bool started_ = false;
    bool skipping_ = false;
    bool writing_ = false;  // begun and not yet verified
    bool failed_ = false;
    FolderMacros folders_;  // resolves destinations, owns the shared folders
};

// Replaces every entry's destination by its target file: the folder the
// macros resolve (folders registers the shared ones), with the source's file
// name. Throws code 7 (compress_category) when an entry's names break
// checkEntryNames, when two entries reach the same file, or when one
// entry's file would stand where another entry's folder is (compared as the
// file system compares: full paths, letter case ignored); a folder lookup
// that finds nothing throws its own code 7.
void resolveTargets(std::vector<ArchiveEntry>& entries, FolderMacros& folders);

}  // namespace qv
