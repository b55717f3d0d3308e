#pragma once
// Classes in this file:
//   notification        what the extraction tells its caller, one of:
//     Started, Finished, FileBegin, FileEnd, Progress, Failed
//   result              the caller's answer: Continue, Cancel, Skip
//   ExtractionCallback  the caller's handler
//   loadResourceStream  the payload resource as a stream over its mapped bytes
//   emptyStream         a stream with no bytes
//   decompressChunks    the decompression chain both passes run
//   verifyArchive       the decompression pass that writes nothing
//   verifyArchiveContents  the same pass, checking the archive's structure
//                       and entries too
//   extractArchive      the decompression pass that writes the files
//   toErrorCode         the code and path a failure is reported with

#include "engine/ArchiveFormat.h"

#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <variant>

namespace qv {

struct Started {};
struct Finished {
    std::uint64_t compressed = 0;  // bytes read from the resource
    std::uint64_t total = 0;       // bytes decompressed
};
struct FileBegin {
    const ArchiveEntry& entry;  // destination is the full target path
};
struct FileEnd {
    const ArchiveEntry& entry;
};
struct Progress {
    std::uint64_t done = 0;
    std::uint64_t total = 0;
};
struct Failed {
    std::error_code code;
    std::wstring path;  // the file being written, if any
};

// The index of each alternative is part of the interface (Started 0 ... Failed 5).
using notification = std::variant<Started, Finished, FileBegin, FileEnd, Progress, Failed>;

// Skip is honoured by FileBegin only; Cancel by FileBegin, FileEnd and
// Progress; answers to Started, Finished and Failed are ignored.
enum class result : int { Continue = 0, Cancel = 1, Skip = 2 };

using ExtractionCallback = std::function<result(notification)>;

// Told the temporary name a file is written under (in its target's folder)
// before that file is created, so that a journal kept on disk can name it
// should the process end half-way.
using StagingCallback = std::function<void(const std::wstring& target, const std::wstring& staging)>;

inline constexpr unsigned payloadResourceType = 260;
inline constexpr unsigned payloadResourceId = 134;

// The bytes of a resource where the loader mapped them; empty when the
// module lacks the resource or it cannot be loaded or locked. The module
// may be one loaded as a data file. Valid while the module stays loaded.
std::string_view resourceBytes(HMODULE module, unsigned type, unsigned id) noexcept;

// A seekable input stream over the resource, reading it in place (no copy).
// Looks in firstModule, then, if it is another module, in the executable
// itself; a null firstModule means the executable. The stream is empty when
// neither has the resource.
std::unique_ptr<std::istream> loadResourceStream(HMODULE firstModule = nullptr,
                                                 unsigned type = payloadResourceType,
                                                 unsigned id = payloadResourceId);

// A stream with no bytes at all: what loadResourceStream gives when neither
// module has the resource.
std::unique_ptr<std::istream> emptyStream();

using ChunkConsumer = std::function<void(const char* data, std::streamsize size)>;

// The decompression chain of both passes: the stream through a bzip2
// decompressor (normal memory mode, 4096-byte buffer), handed on in chunks
// of 4096 bytes until the source is exhausted. Returns the compressed bytes
// read. Throws boost::iostreams::bzip2_error on corrupt or truncated data.
std::uint64_t decompressChunks(std::istream& source, const ChunkConsumer& consume);

// Decompresses the whole stream into nothing: true when the bzip2 data are
// sound and the stream is good and at its end. The caller rewinds it after.
bool verifyArchive(std::istream& source);

// The verification pass with everything checked that can be checked before
// a file is written: the bzip2 data are sound and end the stream (else code
// 4, as verifyArchive says), and the decompressed archive is one the
// extraction can write in full: its header parses, its entries' names obey
// checkEntryNames, no two entries reach the same file or one a folder of
// another once the folder macros are resolved (with these folders, as the
// extraction resolves them; letter case ignored, as the file system
// compares), and exactly the announced bytes follow the header (else code 7,
// or the folder lookup's own code 7). An empty error code when it is sound.
// The caller rewinds the stream after.
std::error_code verifyArchiveContents(std::istream& source, const std::wstring& installPath,
                                      const std::wstring& samplePath, const std::wstring& tempPath);

// Writes every entry of the archive into the folders its destinations name.
// Sends Started first; ends with Finished and true, or with one Failed and
// false. Each file is written under a temporary name in its folder and put
// in its place only once complete and verified (engine/StagedFile.h), so a
// file that is not complete never stands under its name; staging, when
// given, is told each temporary name first. Files written before a failure
// stay: undoing them is the caller's rollback.
bool extractArchive(std::istream& source, const std::wstring& installPath,
                    const std::wstring& samplePath, const std::wstring& tempPath,
                    const ExtractionCallback& callback, const StagingCallback& staging = {});

// Maps a failure to the code it is reported with (first match wins): a
// bzip2 error is 6; a stream failure is the runtime's _doserrno (system
// category) or errno (generic) when one is set; a std::system_error keeps
// its code; a boost::system::system_error of the generic or system
// category keeps its value in the matching standard category; anything
// else is 7. An empty path is replaced by the path a Boost file-system error
// carries (the extraction's file-system library; std::filesystem, which it
// does not use, would pull its whole path class into the executable).
std::pair<std::error_code, std::wstring> toErrorCode(std::exception_ptr failure,
                                                     std::wstring path);

}  // namespace qv
