#include "sys/Crc32.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ios>
#include <memory>
#include <share.h>
#include <system_error>
#include <vector>

namespace qv {
namespace {

const std::array<std::uint32_t, 256>& crcTable()
{
    // Built on first use; static initialisation is thread-safe.
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};

}  // namespace

void Crc32::update(const void* data, std::size_t size) noexcept
{
    const auto& table = crcTable();
    auto p = static_cast<const unsigned char*>(data);
    std::uint32_t c = state_;
    for (std::size_t i = 0; i < size; ++i) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    state_ = c;
}

std::uint32_t fileCrc(const std::wstring& path)
{
    // Whatever the runtime records from here on is this read's failure.
    _doserrno = 0;
    errno = 0;
    std::unique_ptr<std::FILE, FileCloser> file(_wfsopen(path.c_str(), L"rb", _SH_DENYWR));
    if (!file) throw std::ios_base::failure("cannot open file for its checksum");
    Crc32 crc;
    char block[4096];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) crc.update(block, got);
    if (!std::feof(file.get()) || std::ferror(file.get()) || _doserrno != 0 || errno != 0)
        throw std::ios_base::failure("cannot read file for its checksum");
    return crc.value();
}

std::uint32_t crcOfOpenFile(HANDLE file)
{
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        throw std::system_error(static_cast<int>(::GetLastError()), std::system_category());
    Crc32 crc;
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr))
            throw std::system_error(static_cast<int>(::GetLastError()), std::system_category());
        if (read == 0) break;
        crc.update(chunk.data(), read);
    }
    return crc.value();
}

}  // namespace qv
