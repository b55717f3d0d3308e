#pragma once
// Classes in this file:
//   VolumeSpace       what the installation writes on one volume, and what
//                     that volume has free
// Functions:
//   payloadTargets    the archive's entries with their target files, read
//                     from the archive's header alone
//   spaceOnVolumes    the bytes each volume must take for a set of entries
//
// An installation whose volume fills up half-way fails and rolls back; told
// before the first file is written, the administrator's tool gets a refusal
// with its own exit code instead, and the machine stays as it was.

#include "engine/ArchiveFormat.h"

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace qv {

struct VolumeSpace {
    std::wstring volume;           // its root, as GetVolumePathNameW names it ("D:\")
    std::uint64_t needed = 0;      // the files' sizes, each rounded up to whole clusters
    std::uint64_t available = 0;   // free to this process (quotas included)
    bool known = false;            // the system told the free space

    bool enough() const noexcept { return !known || needed <= available; }
};

// Decompresses the archive only as far as its header, parses it and
// resolves every entry's destination to its target file, as the extraction
// does (installPath, samplePath and tempPath as given to it). Throws
// std::system_error on a damaged archive or a folder that cannot be found.
std::vector<ArchiveEntry> payloadTargets(std::istream& archive, const std::wstring& installPath,
                                         const std::wstring& samplePath, const std::wstring& tempPath);

// The volumes the targets lie on (each target's nearest existing folder
// decides; a path not yet created counts on the volume of the folder it
// will be created in) with the bytes each must take: every file rounded up
// to the volume's cluster size, and a reserve on every volume for what the
// run writes beside the files (folders, journal, uninstall log, shortcuts).
std::vector<VolumeSpace> spaceOnVolumes(const std::vector<ArchiveEntry>& targets);

// The reserve spaceOnVolumes adds on every volume.
inline constexpr std::uint64_t SpaceReservePerVolume = 1024 * 1024;

}  // namespace qv
