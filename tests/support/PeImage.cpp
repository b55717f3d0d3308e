#include "support/PeImage.h"

#include "support/TestFiles.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>

namespace qv::test {

namespace {

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

}  // namespace

template <typename T>
T PeImage::read(std::size_t offset) const
{
    if (offset > bytes_.size() || bytes_.size() - offset < sizeof(T))
        throw std::runtime_error("PE structure beyond the end of the file");
    T value;
    std::memcpy(&value, bytes_.data() + offset, sizeof(T));
    return value;
}

PeImage::PeImage(const std::wstring& path) : bytes_(readBytes(path))
{
    const auto dos = read<IMAGE_DOS_HEADER>(0);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE) throw std::runtime_error("no MZ header");
    const std::size_t nt = static_cast<std::size_t>(dos.e_lfanew);
    if (read<DWORD>(nt) != IMAGE_NT_SIGNATURE) throw std::runtime_error("no PE signature");
    const auto file = read<IMAGE_FILE_HEADER>(nt + sizeof(DWORD));
    machine_ = file.Machine;
    const std::size_t optional = nt + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
    const WORD magic = read<WORD>(optional);
    if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        pe32Plus_ = true;
        readOptionalHeader<IMAGE_OPTIONAL_HEADER64>(optional);
    } else if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        readOptionalHeader<IMAGE_OPTIONAL_HEADER32>(optional);
    } else {
        throw std::runtime_error("unknown optional header");
    }
    const std::size_t firstSection = optional + file.SizeOfOptionalHeader;
    for (WORD i = 0; i < file.NumberOfSections; ++i)
        sections_.push_back(read<IMAGE_SECTION_HEADER>(firstSection + i * sizeof(IMAGE_SECTION_HEADER)));
}

template <typename OptionalHeader>
void PeImage::readOptionalHeader(std::size_t offset)
{
    const auto header = read<OptionalHeader>(offset);
    subsystem_ = header.Subsystem;
    dllCharacteristics_ = header.DllCharacteristics;
    fileAlignment_ = header.FileAlignment;
    sectionAlignment_ = header.SectionAlignment;
    imageBase_ = header.ImageBase;
    const std::size_t first = offset + offsetof(OptionalHeader, DataDirectory);
    for (DWORD i = 0; i < std::min<DWORD>(header.NumberOfRvaAndSizes, IMAGE_NUMBEROF_DIRECTORY_ENTRIES); ++i)
        directories_.push_back(read<IMAGE_DATA_DIRECTORY>(first + i * sizeof(IMAGE_DATA_DIRECTORY)));
}

IMAGE_DATA_DIRECTORY PeImage::directory(int index) const
{
    return static_cast<std::size_t>(index) < directories_.size() ? directories_[index] : IMAGE_DATA_DIRECTORY{};
}

std::size_t PeImage::offsetOf(std::uint64_t rva) const
{
    for (const auto& s : sections_) {
        if (rva >= s.VirtualAddress && rva < std::uint64_t(s.VirtualAddress) + s.SizeOfRawData)
            return static_cast<std::size_t>(rva - s.VirtualAddress + s.PointerToRawData);
    }
    throw std::runtime_error("address outside every section");
}

std::string PeImage::stringAt(std::uint64_t rva) const
{
    const std::size_t start = offsetOf(rva);
    const auto end = std::find(bytes_.begin() + start, bytes_.end(), '\0');
    if (end == bytes_.end()) throw std::runtime_error("unterminated name");
    return std::string(bytes_.begin() + start, end);
}

std::vector<std::string> PeImage::functionNames(std::uint64_t tableRva, std::uint64_t base) const
{
    std::vector<std::string> names;
    const std::size_t thunkSize = pe32Plus_ ? 8 : 4;
    const std::uint64_t ordinalFlag = pe32Plus_ ? IMAGE_ORDINAL_FLAG64 : IMAGE_ORDINAL_FLAG32;
    for (std::size_t at = offsetOf(tableRva);; at += thunkSize) {
        const std::uint64_t thunk = pe32Plus_ ? read<std::uint64_t>(at) : read<std::uint32_t>(at);
        if (thunk == 0) break;
        if (thunk & ordinalFlag)
            names.push_back("#" + std::to_string(thunk & 0xFFFF));
        else
            names.push_back(stringAt(thunk - base + sizeof(WORD)));  // after the hint
    }
    return names;
}

std::vector<PeImport> PeImage::imports() const
{
    std::vector<PeImport> result;
    const IMAGE_DATA_DIRECTORY table = directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (table.VirtualAddress == 0) return result;
    for (std::size_t at = offsetOf(table.VirtualAddress);; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto d = read<IMAGE_IMPORT_DESCRIPTOR>(at);
        if (d.Name == 0) break;
        const DWORD names = d.OriginalFirstThunk ? d.OriginalFirstThunk : d.FirstThunk;
        result.push_back({lowerCase(stringAt(d.Name)), functionNames(names, 0)});
    }
    return result;
}

std::vector<PeImport> PeImage::delayImports() const
{
    std::vector<PeImport> result;
    const IMAGE_DATA_DIRECTORY table = directory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT);
    if (table.VirtualAddress != 0) {
        for (std::size_t at = offsetOf(table.VirtualAddress);; at += sizeof(IMAGE_DELAYLOAD_DESCRIPTOR)) {
            const auto d = read<IMAGE_DELAYLOAD_DESCRIPTOR>(at);
            if (d.DllNameRVA == 0) break;
            // Descriptors of the first kind hold addresses, not relative
            // ones, and so do their name tables.
            const std::uint64_t base = d.Attributes.RvaBased ? 0 : imageBase_;
            result.push_back(
                {lowerCase(stringAt(d.DllNameRVA - base)), functionNames(d.ImportNameTableRVA - base, base)});
        }
        return result;
    }
    // GNU ld (2.40) leaves the directory entry empty: the delay-load
    // libraries' code reaches its descriptor directly, wherever the linker
    // put it. Every place that holds a complete descriptor is taken.
    for (const auto& s : sections_) {
        for (DWORD at = 0; at + sizeof(IMAGE_DELAYLOAD_DESCRIPTOR) <= s.SizeOfRawData; at += 4) {
            const auto d = read<IMAGE_DELAYLOAD_DESCRIPTOR>(s.PointerToRawData + at);
            if (d.Attributes.AllAttributes != 1 || d.TimeDateStamp != 0 || !insideImage(d.DllNameRVA) ||
                !insideImage(d.ModuleHandleRVA) || !insideImage(d.ImportAddressTableRVA) ||
                !insideImage(d.ImportNameTableRVA))
                continue;
            try {
                std::string dll = stringAt(d.DllNameRVA);
                const bool named = dll.size() > 4 && lowerCase(dll.substr(dll.size() - 4)) == ".dll" &&
                                   std::all_of(dll.begin(), dll.end(), [](char c) { return c > ' ' && c < 127; });
                if (!named) continue;
                std::vector<std::string> functions = functionNames(d.ImportNameTableRVA, 0);
                if (!functions.empty()) result.push_back({lowerCase(dll), std::move(functions)});
            } catch (const std::runtime_error&) {
                // Bytes that only looked like a descriptor.
            }
        }
    }
    return result;
}

bool PeImage::insideImage(std::uint64_t rva) const
{
    return std::any_of(sections_.begin(), sections_.end(), [&](const IMAGE_SECTION_HEADER& s) {
        return rva >= s.VirtualAddress && rva < std::uint64_t(s.VirtualAddress) + s.Misc.VirtualSize;
    });
}

}  // namespace qv::test
