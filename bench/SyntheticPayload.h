#pragma once
// Classes in this file:
//   TextSource     the deterministic content of one generated file
//   PlannedFile    one file of a generated payload
//   plannedFiles   27 files shaped like the product's payload, at a scale
//
// The benchmarks install payloads made of generated text: the same bytes on
// every machine, packed by bzip2 -9 about 3:1 as the product's own files are.
// No file is ever held whole in memory.

#include "engine/ArchiveFormat.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv::bench {

class TextSource {
public:
    TextSource(std::uint32_t seed, std::uint64_t size);

    // Fills up to n bytes; returns how many (0 at the end).
    std::size_t read(char* out, std::size_t n);

private:
    void refill();

    std::uint32_t random_;
    std::uint64_t left_;
    std::string pending_;
    std::size_t pos_ = 0;
};

struct PlannedFile {
    std::wstring name;
    std::wstring destination;  // a folder macro, as in the product's list
    EntryKind kind;
    std::uint64_t size;
};

// 16,353,621 bytes times scale in 27 entries, in the product archive's
// order of kinds: 13 language libraries (the second empty), a program, an
// uninstaller, six shared data files and six samples.
std::vector<PlannedFile> plannedFiles(std::uint64_t scale);

}  // namespace qv::bench
