#include "engine/Archive.h"

#include "engine/CompressError.h"

#include <boost/filesystem/exception.hpp>
#include <boost/iostreams/device/array.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_streambuf.hpp>
#include <boost/iostreams/stream.hpp>
#include <boost/system/system_error.hpp>

#include <cerrno>
#include <cstdlib>

namespace qv {
namespace {

namespace io = boost::iostreams;

constexpr std::streamsize chunkSize = 4096;

// The compressed side of the chain: reads the caller's stream through its
// buffer, so the stream's state stays good at the end (verifyArchive checks
// it), and counts what it read for Finished.
class CountingSource {
public:
    using char_type = char;
    using category = io::source_tag;

    CountingSource(std::istream& in, std::uint64_t& count) : in_(&in), count_(&count) {}

    std::streamsize read(char* s, std::streamsize n)
    {
        if (!in_->good()) return -1;  // a failed rewind leaves nothing to read
        std::streamsize got = in_->rdbuf()->sgetn(s, n);
        if (got <= 0) return -1;
        *count_ += static_cast<std::uint64_t>(got);
        return got;
    }

private:
    std::istream* in_;
    std::uint64_t* count_;
};

std::error_code fromBoost(const boost::system::error_code& code)
{
    if (code.category() == boost::system::generic_category())
        return {code.value(), std::generic_category()};
    if (code.category() == boost::system::system_category())
        return {code.value(), std::system_category()};
    return make_error_code(CompressError::Unexpected);
}

}  // namespace

std::string_view resourceBytes(HMODULE module, unsigned type, unsigned id) noexcept
{
    HRSRC info = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type));
    if (!info) return {};
    DWORD size = ::SizeofResource(module, info);
    HGLOBAL loaded = size ? ::LoadResource(module, info) : nullptr;
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    if (!data) return {};
    return {static_cast<const char*>(data), size};
}

using ResourceStream = io::stream<io::array_source>;

std::unique_ptr<std::istream> loadResourceStream(HMODULE firstModule, unsigned type, unsigned id)
{
    HMODULE executable = ::GetModuleHandleW(nullptr);
    HMODULE module = firstModule ? firstModule : executable;
    std::string_view bytes = resourceBytes(module, type, id);
    if (bytes.empty() && module != executable) bytes = resourceBytes(executable, type, id);
    if (bytes.empty()) return emptyStream();
    return std::make_unique<ResourceStream>(bytes.data(), bytes.data() + bytes.size());
}

std::unique_ptr<std::istream> emptyStream()
{
    static const char nothing[1] = {};
    return std::make_unique<ResourceStream>(nothing, nothing);
}

namespace {

// An empty resource is no archive rather than a damaged one: it gives no
// bytes at all (and fails the completion check) instead of a bzip2 error.
bool hasNoData(std::istream& source)
{
    return !source.good() || source.rdbuf()->sgetc() == std::istream::traits_type::eof();
}

}  // namespace

std::uint64_t decompressChunks(std::istream& source, const ChunkConsumer& consume)
{
    std::uint64_t compressed = 0;
    if (hasNoData(source)) return compressed;
    io::filtering_istreambuf chain;
    chain.push(io::bzip2_decompressor(false, chunkSize), chunkSize);
    chain.push(CountingSource(source, compressed), chunkSize);
    char buffer[chunkSize];
    for (;;) {
        std::streamsize n = chain.sgetn(buffer, chunkSize);
        if (n <= 0) break;
        consume(buffer, n);
    }
    return compressed;
}

bool verifyArchive(std::istream& source)
{
    if (hasNoData(source)) return false;
    try {
        decompressChunks(source, [](const char*, std::streamsize) {});
    } catch (...) {
        return false;
    }
    return source.good() &&
           source.rdbuf()->sgetc() == std::istream::traits_type::eof();
}

std::pair<std::error_code, std::wstring> toErrorCode(std::exception_ptr failure, std::wstring path)
{
    std::error_code code;
    try {
        std::rethrow_exception(failure);
    } catch (const io::bzip2_error&) {
        // Tested before the stream failures it derives from: a cause left
        // in _doserrno by some earlier call is not this failure's.
        code = make_error_code(CompressError::Bzip2);
    } catch (const std::ios_base::failure& e) {
        if (_doserrno != 0)
            code = {static_cast<int>(_doserrno), std::system_category()};
        else if (errno != 0)
            code = {errno, std::generic_category()};
        else
            code = e.code();
    } catch (const std::system_error& e) {
        code = e.code();
    } catch (const boost::filesystem::filesystem_error& e) {
        code = fromBoost(e.code());
        if (path.empty()) path = e.path1().wstring();
    } catch (const boost::system::system_error& e) {
        code = fromBoost(e.code());
    } catch (...) {
        code = make_error_code(CompressError::Unexpected);
    }
    return {code, std::move(path)};
}

}  // namespace qv
