#pragma once
// Classes in this file:
//   Crc32     the CRC-32 of the archive entries (reflected 0x04C11DB7, initial
//             and final value 0xFFFFFFFF, as zlib computes it)
//   fileCrc   the CRC-32 of a file's current content on disk
//   crcOfOpenFile  the same through a handle the caller holds

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace qv {

class Crc32 {
public:
    void update(const void* data, std::size_t size) noexcept;
    std::uint32_t value() const noexcept { return ~state_; }

    static std::uint32_t of(const void* data, std::size_t size) noexcept
    {
        Crc32 crc;
        crc.update(data, size);
        return crc.value();
    }

private:
    std::uint32_t state_ = 0xFFFFFFFFu;
};

// Reads the file back in 4096-byte blocks (other writers denied). Throws
// std::ios_base::failure when it cannot be opened or read to its end; the
// runtime's _doserrno and errno, cleared first, then tell why.
std::uint32_t fileCrc(const std::wstring& path);

// Reads the open file (read access) from its start to its end. Throws
// std::system_error with the system's code when a read fails.
std::uint32_t crcOfOpenFile(HANDLE file);

}  // namespace qv
