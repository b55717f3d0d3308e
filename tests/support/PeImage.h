#pragma once
// A PE file read from its bytes, never loaded: the checks of an executable
// that run none of its code. One reader serves both editions (PE32 and
// PE32+), whichever the test itself was built for.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qv::test {

struct PeImport {
    std::string dll;                     // lower case
    std::vector<std::string> functions;  // by name, as the file lists them; "#<n>" for an ordinal
};

class PeImage {
public:
    // Reads the whole file; throws std::runtime_error when it is no PE file
    // or a table lies outside it.
    explicit PeImage(const std::wstring& path);

    WORD machine() const { return machine_; }  // IMAGE_FILE_MACHINE_*
    bool isPe32Plus() const { return pe32Plus_; }
    WORD subsystem() const { return subsystem_; }
    WORD dllCharacteristics() const { return dllCharacteristics_; }
    DWORD fileAlignment() const { return fileAlignment_; }
    DWORD sectionAlignment() const { return sectionAlignment_; }
    // The size of the Authenticode signature block (the security directory);
    // 0 when the file is unsigned.
    DWORD signatureSize() const { return directory(IMAGE_DIRECTORY_ENTRY_SECURITY).Size; }

    // The DLLs the loader binds before any code runs, and those bound at the
    // first call (delay-load descriptors), in the file's order. Where the
    // delay-import directory is empty, as GNU ld leaves it, the descriptors
    // are found where they lie (RVA-based, unbound, every address inside
    // the image, a DLL's name, a name table that reads).
    std::vector<PeImport> imports() const;
    std::vector<PeImport> delayImports() const;

private:
    IMAGE_DATA_DIRECTORY directory(int index) const;
    std::size_t offsetOf(std::uint64_t rva) const;  // throws outside every section's bytes
    bool insideImage(std::uint64_t rva) const;       // within a section as mapped
    std::string stringAt(std::uint64_t rva) const;
    template <typename T>
    T read(std::size_t offset) const;
    template <typename OptionalHeader>
    void readOptionalHeader(std::size_t offset);  // PE32 or PE32+
    // The names a thunk table lists, up to its terminating zero; base is
    // subtracted from the addresses the table holds.
    std::vector<std::string> functionNames(std::uint64_t tableRva, std::uint64_t base) const;

    std::vector<char> bytes_;
    std::vector<IMAGE_SECTION_HEADER> sections_;
    std::vector<IMAGE_DATA_DIRECTORY> directories_;
    WORD machine_ = 0;
    bool pe32Plus_ = false;
    WORD subsystem_ = 0;
    WORD dllCharacteristics_ = 0;
    DWORD fileAlignment_ = 0;
    DWORD sectionAlignment_ = 0;
    std::uint64_t imageBase_ = 0;
};

}  // namespace qv::test
