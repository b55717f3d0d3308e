#include "engine/SpaceCheck.h"

#include "engine/Archive.h"
#include "engine/ArchiveExtractor.h"
#include "engine/CompressError.h"
#include "engine/FolderMacros.h"
#include "sys/PathText.h"

#include <windows.h>

#include <algorithm>
#include <system_error>

namespace qv {
namespace {

// Thrown out of the decompression once the header is complete: the files'
// bytes are not needed.
struct HeaderComplete {};

// The volume root of the nearest folder of path that exists; empty when
// none does or the system cannot tell.
std::wstring volumeOf(const std::wstring& path)
{
    std::wstring existing = parentOf(path);
    while (!existing.empty() && ::GetFileAttributesW(existing.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const std::wstring up = parentOf(existing);
        if (up.size() >= existing.size()) break;
        existing = up;
    }
    if (existing.size() == 2 && existing[1] == L':') existing += L'\\';
    if (existing.empty()) return {};
    wchar_t volume[MAX_PATH + 1] = {};
    if (!::GetVolumePathNameW(existing.c_str(), volume, MAX_PATH + 1)) return {};
    std::wstring root = volume;
    if (!root.empty() && root.back() != L'\\') root += L'\\';
    return root;
}

}  // namespace

std::vector<ArchiveEntry> payloadTargets(std::istream& archive, const std::wstring& installPath,
                                         const std::wstring& samplePath, const std::wstring& tempPath)
{
    HeaderCollector header;
    try {
        decompressChunks(archive, [&](const char* p, std::streamsize n) {
            header.take(p, static_cast<std::size_t>(n));
            if (header.complete()) throw HeaderComplete{};
        });
    } catch (const HeaderComplete&) {
    }
    if (!header.complete()) throw std::system_error(make_error_code(CompressError::Unexpected));
    std::vector<ArchiveEntry> entries = parseHeader(header.bytes());
    FolderMacros folders(installPath, samplePath, tempPath);
    resolveTargets(entries, folders);
    return entries;
}

std::vector<VolumeSpace> spaceOnVolumes(const std::vector<ArchiveEntry>& targets)
{
    std::vector<VolumeSpace> volumes;
    std::vector<std::uint64_t> clusters;
    for (const ArchiveEntry& entry : targets) {
        const std::wstring root = volumeOf(entry.destination);
        auto found = std::find_if(volumes.begin(), volumes.end(), [&](const VolumeSpace& v) {
            return ::CompareStringOrdinal(v.volume.c_str(), -1, root.c_str(), -1, TRUE) == CSTR_EQUAL;
        });
        if (found == volumes.end()) {
            VolumeSpace volume;
            volume.volume = root;
            volume.needed = SpaceReservePerVolume;
            ULARGE_INTEGER available{}, total{}, free{};
            if (!root.empty() && ::GetDiskFreeSpaceExW(root.c_str(), &available, &total, &free)) {
                volume.available = available.QuadPart;
                volume.known = true;
            }
            DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
            std::uint64_t cluster = 4096;
            if (!root.empty() && ::GetDiskFreeSpaceW(root.c_str(), &sectorsPerCluster, &bytesPerSector,
                                                     &freeClusters, &totalClusters) &&
                sectorsPerCluster && bytesPerSector)
                cluster = std::uint64_t(sectorsPerCluster) * bytesPerSector;
            volumes.push_back(volume);
            clusters.push_back(cluster);
            found = volumes.end() - 1;
        }
        const std::uint64_t cluster = clusters[static_cast<std::size_t>(found - volumes.begin())];
        found->needed += (entry.size + cluster - 1) / cluster * cluster;
    }
    return volumes;
}

}  // namespace qv
