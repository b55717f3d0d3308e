#include "engine/ArchiveExtractor.h"

#include "engine/CompressError.h"
#include "sys/Crc32.h"
#include "sys/HResultError.h"
#include "sys/PathGuard.h"
#include "sys/PathIdentity.h"

#include <windows.h>

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include <algorithm>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

namespace qv {
namespace {

namespace fs = boost::filesystem;

[[noreturn]] void fail(CompressError code)
{
    throw std::system_error(make_error_code(code));
}

// Paths compared as the file system compares names: letter case ignored.
struct IgnoringCase {
    bool operator()(const std::wstring& a, const std::wstring& b) const noexcept
    {
        return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                      TRUE) == CSTR_LESS_THAN;
    }
};

// The file name the entry is written under: the source's last element.
std::wstring targetName(const std::wstring& source)
{
    return fs::path(source).filename().wstring();
}

}  // namespace

void resolveTargets(std::vector<ArchiveEntry>& entries, FolderMacros& folders)
{
    std::set<std::wstring, IgnoringCase> targets;
    for (ArchiveEntry& e : entries) {
        checkEntryNames(e);
        fs::path folder(folders.resolve(e.destination));
        e.destination = (folder / targetName(e.source)).wstring();
        // As the system would open it: "." elements and the spelling of
        // separators make no other file.
        const std::wstring full = fullPathOf(e.destination);
        if (full.empty() || !targets.insert(full).second) fail(CompressError::Unexpected);
    }
    for (ArchiveEntry& e : entries)
        e.inSharedFolder = std::any_of(folders.sharedFolders().begin(), folders.sharedFolders().end(),
                                       [&](const SharedFolder& shared) {
                                           return isSameOrBelow(parentOf(e.destination), shared.path);
                                       });
    // A file where another entry needs a folder can never be written.
    for (const std::wstring& target : targets)
        for (std::wstring folder = parentOf(target); !folder.empty(); folder = parentOf(folder))
            if (targets.count(folder)) fail(CompressError::Unexpected);
}

ArchiveExtractor::ArchiveExtractor(std::wstring installPath, std::wstring samplePath,
                                   std::wstring tempPath, ExtractionCallback callback, StagingCallback staging)
    : installPath_(std::move(installPath)),
      samplePath_(std::move(samplePath)),
      tempPath_(std::move(tempPath)),
      callback_(std::move(callback)),
      staging_(std::move(staging)),
      folders_(installPath_, samplePath_, tempPath_)
{
}

result ArchiveExtractor::answer(notification n)
{
    result r = callback_(std::move(n));
    if (r == result::Cancel) fail(CompressError::Interrupted);
    return r;
}

std::streamsize ArchiveExtractor::write(const char* p, std::streamsize n)
{
    if (failed_) return n;
    try {
        return currentIndex_ == 0 ? writeHeader(p, n) : writeFile(p, n);
    } catch (...) {
        failed_ = true;
        throw;
    }
}

std::streamsize ArchiveExtractor::writeHeader(const char* p, std::streamsize n)
{
    if (header_.size() < 8) {
        std::size_t take = std::min<std::size_t>(8 - header_.size(), n);
        header_.append(p, take);
        if (header_.size() == 8) headerSize_ = readHeaderSize(header_.data());
        return static_cast<std::streamsize>(take);
    }
    std::size_t take = static_cast<std::size_t>(
        std::min<std::uint64_t>(headerSize_ - header_.size(), static_cast<std::uint64_t>(n)));
    header_.append(p, take);
    if (header_.size() == headerSize_) parseCollectedHeader();
    return static_cast<std::streamsize>(take);
}

void ArchiveExtractor::parseCollectedHeader()
{
    entries_ = parseHeader(header_);
    // Every destination is resolved and checked before the first file is
    // written, so a folder that cannot be found or an entry that cannot be
    // trusted fails the extraction while nothing exists.
    resolveTargets(entries_, folders_);
    bytesTotal_ = archiveTotal(headerSize_, entries_);
    bytesDone_ = headerSize_;
    std::string().swap(header_);
    answer(Progress{bytesDone_, bytesTotal_});
    currentIndex_ = 1;
}

std::streamsize ArchiveExtractor::writeFile(const char* p, std::streamsize n)
{
    if (currentIndex_ - 1 >= entries_.size()) fail(CompressError::Unexpected);  // data beyond the last entry
    ArchiveEntry& e = entries_[currentIndex_ - 1];
    if (!started_) {
        result r = answer(FileBegin{e});
        remaining_ = e.size;
        started_ = true;
        skipping_ = r == result::Skip;
        if (!skipping_) {
            writing_ = true;
            openOutput(e.destination);
        }
    }
    std::uint64_t m = std::min<std::uint64_t>(remaining_, static_cast<std::uint64_t>(n));
    if (!skipping_) output_->write(p, m);
    remaining_ -= m;
    bytesDone_ += m;
    answer(Progress{bytesDone_, bytesTotal_});
    if (remaining_ == 0 && !skipping_) {
        // Flushed and read back from the disk; a mismatching file never
        // takes its name.
        output_->flush();
        if (crcOfOpenFile(output_->handle()) != e.crc) fail(CompressError::InvalidChecksum);
        output_->commit();
        output_.reset();
        writing_ = false;
        answer(FileEnd{e});
    }
    if (remaining_ == 0) {
        started_ = false;
        skipping_ = false;
        ++currentIndex_;
    }
    return static_cast<std::streamsize>(m);
}

void ArchiveExtractor::finish()
{
    if (failed_) return;
    try {
        // An empty entry is begun by the byte of a later one; those at the
        // end of the table get no such byte, so they are written here.
        while (currentIndex_ >= 1 && !started_ && currentIndex_ - 1 < entries_.size() &&
               entries_[currentIndex_ - 1].size == 0)
            writeFile(nullptr, 0);
        if (bytesTotal_ == 0 || bytesDone_ != bytesTotal_) fail(CompressError::Unexpected);
    } catch (...) {
        failed_ = true;
        throw;
    }
}

std::wstring ArchiveExtractor::unfinishedTarget() const
{
    if (writing_ && currentIndex_ >= 1 && currentIndex_ - 1 < entries_.size())
        return entries_[currentIndex_ - 1].destination;
    return {};
}

void ArchiveExtractor::openOutput(const std::wstring& target)
{
    // Missing folders (the journal made those of journalled files) are made
    // from the top down, none through a link.
    std::vector<fs::path> missing;
    boost::system::error_code ignored;
    for (fs::path folder = fs::path(target).parent_path(); !folder.empty() && !fs::exists(folder, ignored);
         folder = folder.parent_path())
        missing.push_back(folder);
    for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder)
        if (!createFolderChecked(folder->wstring())) {
            const DWORD error = ::GetLastError();
            // A refusal fails as a refused grant does (code 7).
            if (error == errorLinkRefused) throwHResult(HRESULT_FROM_WIN32(error));
            throw std::system_error(static_cast<int>(error ? error : ERROR_PATH_NOT_FOUND), std::system_category());
        }
    folders_.grantPendingFolders(target);
    // Written under a temporary name of its own, never into the target: a
    // file that is not complete and verified never stands under its name.
    output_ = std::make_unique<StagedFile>(target, staging_);
}

std::error_code verifyArchiveContents(std::istream& source, const std::wstring& installPath,
                                      const std::wstring& samplePath, const std::wstring& tempPath)
{
    const std::error_code unsound = make_error_code(CompressError::Unknown);
    const std::error_code malformed = make_error_code(CompressError::Unexpected);
    // An empty resource is no archive.
    if (!source.good() || source.rdbuf()->sgetc() == std::istream::traits_type::eof()) return unsound;

    // The header is collected as the extraction collects it (its size is
    // bounded before a byte of it is kept); everything after it is counted.
    HeaderCollector header;
    std::uint64_t decompressed = 0;
    bool broken = false;
    try {
        decompressChunks(source, [&](const char* p, std::streamsize n) {
            decompressed += static_cast<std::uint64_t>(n);
            if (broken || header.complete()) return;
            try {
                header.take(p, static_cast<std::size_t>(n));
            } catch (const std::system_error&) {
                broken = true;
            }
        });
    } catch (...) {
        return unsound;
    }
    if (!source.good() || source.rdbuf()->sgetc() != std::istream::traits_type::eof()) return unsound;
    if (broken || !header.complete()) return malformed;
    try {
        std::vector<ArchiveEntry> entries = parseHeader(header.bytes());
        if (decompressed != archiveTotal(header.size(), entries)) return malformed;
        FolderMacros folders(installPath, samplePath, tempPath);
        resolveTargets(entries, folders);
    } catch (const std::system_error& e) {
        return e.code();
    } catch (...) {
        return malformed;
    }
    return {};
}

bool extractArchive(std::istream& source, const std::wstring& installPath,
                    const std::wstring& samplePath, const std::wstring& tempPath,
                    const ExtractionCallback& callback, const StagingCallback& staging)
{
    std::unique_ptr<ArchiveExtractor> extractor;
    try {
        callback(Started{});
        extractor = std::make_unique<ArchiveExtractor>(installPath, samplePath, tempPath, callback, staging);
        std::uint64_t compressed = decompressChunks(source, [&](const char* p, std::streamsize n) {
            while (n > 0) {
                std::streamsize used = extractor->write(p, n);
                p += used;
                n -= used;
            }
        });
        extractor->finish();
        callback(Finished{compressed, extractor->bytesTotal()});
        return true;
    } catch (...) {
        auto [code, path] = toErrorCode(std::current_exception(),
                                        extractor ? extractor->unfinishedTarget() : std::wstring());
        // The file being written goes (it never had its name) before the
        // caller hears of the failure.
        extractor.reset();
        callback(Failed{code, std::move(path)});
        return false;
    }
}

}  // namespace qv
