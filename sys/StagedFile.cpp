#include "sys/StagedFile.h"

#include "sys/HResultError.h"
#include "sys/PathGuard.h"
#include "sys/RandomText.h"

#include <algorithm>
#include <cwctype>
#include <system_error>

namespace qv {
namespace {

constexpr std::size_t kMaxPath = MAX_PATH - 1;  // 259 characters
constexpr wchar_t kStagingPrefix[] = L"~qv";
constexpr std::size_t kPrefixLength = 3;
constexpr std::size_t kMostDigits = 16, kFewestDigits = 8;
constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

[[noreturn]] void failWith(DWORD error)
{
    throw std::system_error(static_cast<int>(error ? error : ERROR_GEN_FAILURE), std::system_category());
}

[[noreturn]] void failWithLastError()
{
    failWith(::GetLastError());
}

bool setAttributes(HANDLE file, DWORD attributes)
{
    FILE_BASIC_INFO basic{};  // zero times: left as they are
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

// The move of StagedFile::commit for an open temporary file that lies in
// folderFinal (its folder as the system reported it when it was checked).
void moveIntoPlace(HANDLE file, const std::wstring& target, const std::wstring& folderFinal, DWORD attributes)
{
    // What stands at the target, seen through a checked handle: a link
    // there or on the way refuses. A file with other names (a hard link
    // planted at the name) loses this name only, its content and
    // attributes, which its other names share, untouched; read-only, it
    // cannot be replaced and stays.
    DWORD restoreAttributes = 0;
    {
        CheckedHandle existing = openChecked(target, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, shareAll,
                                             OPEN_EXISTING, SeveralNames);
        if (existing) {
            // A folder in the file's place is no file to replace: it stays.
            if (existing.isFolder()) failWith(ERROR_ACCESS_DENIED);
            const DWORD current = existing.info.dwFileAttributes;
            if ((current & FILE_ATTRIBUTE_READONLY) && existing.info.nNumberOfLinks > 1) failWith(ERROR_ACCESS_DENIED);
            // Windows refuses to replace a read-only file.
            if (current & FILE_ATTRIBUTE_READONLY) {
                if (!setAttributes(existing.handle.get(), current & ~FILE_ATTRIBUTE_READONLY)) failWithLastError();
                restoreAttributes = current;
            }
        } else if (const DWORD error = ::GetLastError(); error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            failWith(error);
        }
        // Closed before the move: Wine refuses to replace a file that is
        // open anywhere.
    }
    if (!renameOpenFile(file, target, true)) {
        const DWORD error = ::GetLastError();
        if (restoreAttributes) {
            try {
                CheckedHandle existing = openChecked(target, FILE_WRITE_ATTRIBUTES, shareAll, OPEN_EXISTING);
                if (existing) setAttributes(existing.handle.get(), restoreAttributes);
            } catch (...) {
            }
        }
        failWith(error);
    }
    // Where the file landed: a folder swapped for a link since the checks
    // shows here.
    const std::wstring final = finalPathOf(file);
    if (!sameFileName(parentOf(final), folderFinal) || !sameFileName(nameOf(final), nameOf(target)))
        throwHResult(HRESULT_FROM_WIN32(errorLinkRefused));
    if (attributes) setAttributes(file, attributes);
}

}  // namespace

std::wstring stagingName(const std::wstring& folder)
{
    const std::size_t used = folder.size() + 1 + kPrefixLength;
    if (used + kFewestDigits > kMaxPath) return {};
    const std::size_t digits = std::min(kMostDigits, kMaxPath - used);
    return folder + L"\\" + kStagingPrefix + randomHexDigits(digits);
}

bool isStagingName(const std::wstring& name) noexcept
{
    if (name.size() < kPrefixLength + kFewestDigits || name.size() > kPrefixLength + kMostDigits) return false;
    if (name[0] != L'~' || std::towlower(name[1]) != L'q' || std::towlower(name[2]) != L'v') return false;
    return std::all_of(name.begin() + kPrefixLength, name.end(), [](wchar_t c) {
        return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
    });
}

StagedFile::StagedFile(std::wstring target, const Announce& announce) : target_(fullPathOf(target))
{
    if (target_.empty()) failWith(ERROR_BAD_PATHNAME);
    const std::wstring folder = parentOf(target_);
    // A name taken meanwhile (by chance: nobody can foresee one) is drawn
    // afresh; a handful of draws is plenty.
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::wstring name = stagingName(folder);
        if (name.empty()) failWith(ERROR_FILENAME_EXCED_RANGE);
        if (announce) announce(target_, name);
        // Nobody else may open it while it is written.
        CheckedHandle created = openChecked(name, GENERIC_READ | GENERIC_WRITE | DELETE, 0, CREATE_NEW);
        if (created) {
            path_ = std::move(name);
            folderFinal_ = parentOf(finalPathOf(created.handle.get()));
            file_ = std::move(created.handle);
            return;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) failWith(error);
    }
    failWith(ERROR_FILE_EXISTS);
}

StagedFile::~StagedFile()
{
    if (file_) markForDeletion(file_.get());
}

void StagedFile::write(const void* data, std::uint64_t size)
{
    auto p = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::uint64_t>(size, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file_.get(), p, chunk, &written, nullptr)) failWithLastError();
        if (written == 0) failWith(ERROR_WRITE_FAULT);
        p += written;
        size -= written;
    }
}

void StagedFile::flush()
{
    if (!::FlushFileBuffers(file_.get())) failWithLastError();
}

void StagedFile::commit(DWORD attributes)
{
    moveIntoPlace(file_.get(), target_, folderFinal_, attributes);
    file_.reset();
}

void putInPlace(const std::wstring& staging, const std::wstring& target, DWORD attributes)
{
    CheckedHandle file = openChecked(staging, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0,
                                     OPEN_EXISTING);
    if (!file) failWithLastError();
    if (file.isFolder()) failWith(ERROR_ACCESS_DENIED);
    const std::wstring full = fullPathOf(target);
    if (full.empty() || !sameFileName(parentOf(full), parentOf(fullPathOf(staging)))) failWith(ERROR_BAD_PATHNAME);
    moveIntoPlace(file.handle.get(), full, parentOf(finalPathOf(file.handle.get())), attributes);
}

}  // namespace qv
