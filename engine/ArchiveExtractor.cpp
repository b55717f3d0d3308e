#include "engine/ArchiveExtractor.h"

#include "engine/CompressError.h"
#include "engine/Crc32.h"
#include "sys/HResultError.h"
#include "sys/PathGuard.h"

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include <algorithm>
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

[[noreturn]] void failWithLastError()
{
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category());
}

bool isMissing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Clears the read-only attribute of an existing target, through a handle
// opened without following links: a link there, or on its way, is refused
// rather than have its target made writable. Returns false when there is no
// such file.
bool makeWritableIfExists(const std::wstring& path)
{
    CheckedHandle file = openChecked(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    if (!file) {
        if (isMissing(::GetLastError())) return false;
        failWithLastError();
    }
    FILE_BASIC_INFO info{};
    if (!::GetFileInformationByHandleEx(file.handle.get(), FileBasicInfo, &info, sizeof info))
        failWithLastError();
    if (!file.isFolder() && (info.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
        info.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
        if (info.FileAttributes == 0) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        // Zero times mean "leave unchanged".
        info.CreationTime.QuadPart = info.LastAccessTime.QuadPart = 0;
        info.LastWriteTime.QuadPart = info.ChangeTime.QuadPart = 0;
        if (!::SetFileInformationByHandle(file.handle.get(), FileBasicInfo, &info, sizeof info))
            failWithLastError();
    }
    return true;
}

void writeAll(HANDLE file, const char* p, std::uint64_t n)
{
    while (n > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<std::uint64_t>(n, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file, p, chunk, &written, nullptr)) failWithLastError();
        if (written == 0) throw std::system_error(ERROR_WRITE_FAULT, std::system_category());
        p += written;
        n -= written;
    }
}

// The file name the entry is written under: the source's last element.
// Names that are no file name (empty, ".", "..", a drive) would land beside
// or on the folder itself.
std::wstring targetName(const std::wstring& source)
{
    std::wstring name = fs::path(source).filename().wstring();
    if (name.empty() || name == L"." || name == L".." || name.find(L':') != std::wstring::npos)
        fail(CompressError::Unexpected);
    return name;
}

}  // namespace

ArchiveExtractor::ArchiveExtractor(std::wstring installPath, std::wstring samplePath,
                                   std::wstring tempPath, ExtractionCallback callback)
    : installPath_(std::move(installPath)),
      samplePath_(std::move(samplePath)),
      tempPath_(std::move(tempPath)),
      callback_(std::move(callback)),
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
    // Every destination is resolved before the first file is written, so a
    // folder that cannot be found fails the extraction while nothing exists.
    for (ArchiveEntry& e : entries_) {
        fs::path folder(folders_.resolve(e.destination));
        e.destination = (folder / targetName(e.source)).wstring();
    }
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
    if (!skipping_) writeAll(output_.get(), p, m);
    remaining_ -= m;
    bytesDone_ += m;
    answer(Progress{bytesDone_, bytesTotal_});
    if (remaining_ == 0 && !skipping_) {
        output_.reset();
        if (fileCrc(e.destination) != e.crc) fail(CompressError::InvalidChecksum);
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
    if (!makeWritableIfExists(target)) {
        // Missing folders (the journal made those of journalled files) are
        // made from the top down, none through a link.
        std::vector<fs::path> missing;
        for (fs::path folder = fs::path(target).parent_path(); !folder.empty() && !fs::exists(folder);
             folder = folder.parent_path())
            missing.push_back(folder);
        for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder)
            if (!createFolderChecked(folder->wstring())) {
                const DWORD error = ::GetLastError();
                // A refusal fails as a refused grant does (code 7).
                if (error == errorLinkRefused) throwHResult(HRESULT_FROM_WIN32(error));
                throw std::system_error(static_cast<int>(error ? error : ERROR_PATH_NOT_FOUND), std::system_category());
            }
    }
    folders_.grantPendingFolders(target);
    // Other readers may look, no other writer may interfere. OPEN_ALWAYS and
    // truncation rather than CREATE_ALWAYS, which refuses an existing hidden
    // or system file; truncated only once the handle is known to hold the
    // target itself, not a file that a link (or a folder swapped for one
    // since the checks above) leads to.
    CheckedHandle file = openChecked(target, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
    if (!file) failWithLastError();
    // A folder in the file's place is no file to write.
    if (file.isFolder()) throw std::system_error(ERROR_ACCESS_DENIED, std::system_category());
    if (!::SetEndOfFile(file.handle.get())) failWithLastError();
    output_ = std::move(file.handle);
}

bool extractArchive(std::istream& source, const std::wstring& installPath,
                    const std::wstring& samplePath, const std::wstring& tempPath,
                    const ExtractionCallback& callback)
{
    std::unique_ptr<ArchiveExtractor> extractor;
    try {
        callback(Started{});
        extractor = std::make_unique<ArchiveExtractor>(installPath, samplePath, tempPath, callback);
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
        // Close the file being written before the caller hears of the
        // failure: its rollback must be able to delete it.
        extractor.reset();
        callback(Failed{code, std::move(path)});
        return false;
    }
}

}  // namespace qv
