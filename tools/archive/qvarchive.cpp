// qvarchive: the tool that builds the installer's payload archive.
//
//   qvarchive pack <out.bz2> <listfile>
//   qvarchive list <archive.bz2 | module.exe>
//   qvarchive verify <archive.bz2 | module.exe>
//
// The list file is UTF-8, one entry a line: source|destination|kind, where a
// relative source is taken from the list file's folder, the destination
// usually begins with a folder macro ("<InstallPath>\Lang") and kind is the
// entry kind 0..5. Empty lines and lines beginning with # are ignored.
// The archive is written in the layout of engine/ArchiveFormat.h and
// compressed as one bzip2 stream with 900k blocks. list and verify read
// either such a file or the payload resource of an executable.

#include "engine/Archive.h"
#include "engine/ArchiveFormat.h"
#include "sys/Crc32.h"
#include "sys/Handles.h"

#include <windows.h>

#include <boost/algorithm/string/trim.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/iostreams/device/array.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>
#include <boost/iostreams/stream.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = boost::filesystem;
namespace io = boost::iostreams;
using qv::ArchiveEntry;

std::string toUtf8(const std::wstring& text)
{
    if (text.empty()) return {};
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                     nullptr, nullptr);
    std::string out(size, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                          nullptr);
    return out;
}

std::wstring fromUtf8(const std::string& text)
{
    if (text.empty()) return {};
    int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0);
    if (size == 0) throw std::runtime_error("the list file is not valid UTF-8");
    std::wstring out(size, L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), out.data(),
                          size);
    return out;
}

// Console output as UTF-8 bytes: the runtime's wide output would squeeze
// every name through the console code page.
void print(FILE* to, const std::wstring& text)
{
    std::string bytes = toUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), to);
}

struct Failure : std::runtime_error {
    explicit Failure(const std::wstring& message) : std::runtime_error(toUtf8(message)) {}
};

std::wstring describe(const std::exception& e)
{
    if (auto se = dynamic_cast<const std::system_error*>(&e))
        return fromUtf8(se->code().message()) + L" (" + fromUtf8(se->code().category().name()) + L" " +
               std::to_wstring(se->code().value()) + L")";
    return fromUtf8(e.what());
}

// --- pack -------------------------------------------------------------------

struct PackItem {
    fs::path file;
    ArchiveEntry entry;
};

std::vector<PackItem> readList(const fs::path& listFile)
{
    std::ifstream in(std::filesystem::path(listFile.wstring()), std::ios::binary);
    if (!in) throw Failure(L"cannot open the list file " + listFile.wstring());
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    std::wstring text = fromUtf8(bytes);

    std::vector<PackItem> items;
    std::size_t lineNumber = 0, pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find(L'\n', pos);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        boost::algorithm::trim(line);
        if (line.empty() || line[0] == L'#') continue;

        std::vector<std::wstring> fields;
        std::size_t start = 0, bar;
        while ((bar = line.find(L'|', start)) != std::wstring::npos) {
            fields.push_back(line.substr(start, bar - start));
            start = bar + 1;
        }
        fields.push_back(line.substr(start));
        for (auto& f : fields) boost::algorithm::trim(f);
        std::wstring where = listFile.wstring() + L":" + std::to_wstring(lineNumber) + L": ";
        if (fields.size() != 3 || fields[0].empty())
            throw Failure(where + L"expected source|destination|kind");
        if (fields[2].size() != 1 || fields[2][0] < L'0' || fields[2][0] > L'5')
            throw Failure(where + L"the kind must be 0 to 5");

        PackItem item;
        item.file = fs::path(fields[0]);
        if (!item.file.has_root_directory()) item.file = listFile.parent_path() / item.file;
        item.entry.source = item.file.wstring();
        item.entry.destination = fields[1];
        item.entry.kind = static_cast<std::uint32_t>(fields[2][0] - L'0');
        items.push_back(std::move(item));
    }
    return items;
}

// Reads a file in blocks, handing each to the consumer; returns its size.
template <class Consume>
std::uint64_t readFile(const fs::path& file, Consume&& consume)
{
    std::ifstream in(std::filesystem::path(file.wstring()), std::ios::binary);
    if (!in) throw Failure(L"cannot open " + file.wstring());
    std::vector<char> block(1 << 16);
    std::uint64_t size = 0;
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        std::streamsize got = in.gcount();
        if (got > 0) consume(block.data(), got);
        size += static_cast<std::uint64_t>(got);
    }
    if (!in.eof()) throw Failure(L"cannot read " + file.wstring());
    return size;
}

int pack(const fs::path& output, const fs::path& listFile)
{
    std::vector<PackItem> items = readList(listFile);
    std::vector<ArchiveEntry> entries;
    for (PackItem& item : items) {
        qv::Crc32 crc;
        item.entry.size = readFile(item.file, [&](const char* p, std::streamsize n) { crc.update(p, n); });
        item.entry.crc = crc.value();
        entries.push_back(item.entry);
    }
    std::string header = qv::serializeHeader(entries);

    std::ofstream file(std::filesystem::path(output.wstring()), std::ios::binary | std::ios::trunc);
    if (!file) throw Failure(L"cannot create " + output.wstring());
    auto removePartial = qv::scopeExit([&] {
        file.close();
        boost::system::error_code ignored;
        fs::remove(output, ignored);
    });
    {
        io::filtering_ostream out;
        out.push(io::bzip2_compressor(io::bzip2_params(9)));
        out.push(file);
        out.exceptions(std::ios::badbit | std::ios::failbit);
        out.write(header.data(), static_cast<std::streamsize>(header.size()));
        for (const PackItem& item : items) {
            // The file is read twice; make sure the bytes packed are the
            // bytes the table describes.
            qv::Crc32 crc;
            std::uint64_t size = readFile(item.file, [&](const char* p, std::streamsize n) {
                crc.update(p, n);
                out.write(p, n);
            });
            if (size != item.entry.size || crc.value() != item.entry.crc)
                throw Failure(item.file.wstring() + L" changed while it was packed");
        }
        out.reset();  // flushes the compressor's last block into the file
    }
    file.close();
    if (!file) throw Failure(L"cannot write " + output.wstring());
    removePartial.dismiss();

    std::uint64_t data = 0;
    for (const ArchiveEntry& e : entries) data += e.size;
    print(stdout, output.wstring() + L": " + std::to_wstring(entries.size()) + L" entries, " +
                      std::to_wstring(header.size() + data) + L" bytes packed into " +
                      std::to_wstring(fs::file_size(output)) + L"\n");
    return 0;
}

// --- list and verify --------------------------------------------------------

// The archive to read: a .bz2 file, or the payload resource of a module
// (recognised by its "MZ" signature), which stays loaded as a data file.
class ArchiveInput {
public:
    explicit ArchiveInput(const fs::path& path)
    {
        std::ifstream probe(std::filesystem::path(path.wstring()), std::ios::binary);
        if (!probe) throw Failure(L"cannot open " + path.wstring());
        char signature[2] = {};
        probe.read(signature, 2);
        probe.close();
        if (signature[0] == 'M' && signature[1] == 'Z') {
            module_.reset(::LoadLibraryExW(path.c_str(), nullptr,
                                           LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
            if (!module_) throw Failure(L"cannot load " + path.wstring() + L" as a data file");
            std::string_view bytes =
                qv::resourceBytes(module_.get(), qv::payloadResourceType, qv::payloadResourceId);
            if (bytes.empty()) throw Failure(path.wstring() + L" has no payload resource (260/134)");
            stream_ = std::make_unique<io::stream<io::array_source>>(bytes.data(), bytes.data() + bytes.size());
        } else {
            auto file = std::make_unique<std::ifstream>(std::filesystem::path(path.wstring()), std::ios::binary);
            if (!*file) throw Failure(L"cannot open " + path.wstring());
            stream_ = std::move(file);
        }
    }

    std::istream& stream() { return *stream_; }

    void rewind()
    {
        stream_->clear();
        stream_->seekg(0);
    }

private:
    qv::UniqueModule module_;
    std::unique_ptr<std::istream> stream_;
};

struct Scan {
    std::uint64_t headerSize = 0;
    std::vector<ArchiveEntry> entries;
    std::vector<bool> crcMatches;
    std::uint64_t decompressed = 0;
    std::uint64_t compressed = 0;
};

// Reads the header and checks every entry's data against its size and crc.
Scan scan(std::istream& in)
{
    Scan s;
    std::string header;
    std::size_t index = 0;
    std::uint64_t left = 0;
    qv::Crc32 crc;
    auto endEntries = [&] {
        // Completes the entry whose data are all there and the empty ones after it.
        while (index < s.entries.size() && left == 0) {
            s.crcMatches.push_back(crc.value() == s.entries[index].crc);
            crc = qv::Crc32();
            if (++index < s.entries.size()) left = s.entries[index].size;
        }
    };
    s.compressed = qv::decompressChunks(in, [&](const char* p, std::streamsize n) {
        s.decompressed += static_cast<std::uint64_t>(n);
        while (n > 0) {
            if (s.headerSize == 0 || header.size() < s.headerSize) {
                std::size_t want = header.size() < 8 ? 8 - header.size() : s.headerSize - header.size();
                std::size_t take = std::min<std::size_t>(want, static_cast<std::size_t>(n));
                header.append(p, take);
                p += take;
                n -= static_cast<std::streamsize>(take);
                if (header.size() == 8) s.headerSize = qv::readHeaderSize(header.data());
                if (s.headerSize != 0 && header.size() == s.headerSize) {
                    s.entries = qv::parseHeader(header);
                    if (!s.entries.empty()) left = s.entries[0].size;
                    endEntries();
                }
                continue;
            }
            if (index >= s.entries.size()) throw Failure(L"data follow the last entry");
            std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(left, n));
            crc.update(p, take);
            p += take;
            n -= static_cast<std::streamsize>(take);
            left -= take;
            endEntries();
        }
    });
    if (s.headerSize == 0 || header.size() != s.headerSize) throw Failure(L"the archive ends inside its header");
    if (index < s.entries.size()) throw Failure(L"the archive ends inside the data of entry " + std::to_wstring(index + 1));
    return s;
}

std::wstring hex8(std::uint32_t v)
{
    wchar_t text[9];
    std::swprintf(text, 9, L"%08X", v);
    return text;
}

int list(const fs::path& path)
{
    ArchiveInput input(path);
    Scan s = scan(input.stream());
    std::uint64_t data = 0;
    bool sound = true;
    for (std::size_t i = 0; i < s.entries.size(); ++i) {
        const ArchiveEntry& e = s.entries[i];
        data += e.size;
        sound = sound && s.crcMatches[i];
        print(stdout, std::to_wstring(e.kind) + L"  " + std::to_wstring(e.size) + L"  " + hex8(e.crc) +
                          (s.crcMatches[i] ? L"  " : L" (data differ)  ") + e.destination + L"  " +
                          fs::path(e.source).filename().wstring() + L"\n");
    }
    print(stdout, std::to_wstring(s.entries.size()) + L" entries, " + std::to_wstring(data) +
                      L" bytes of data, header " + std::to_wstring(s.headerSize) + L" bytes, " +
                      std::to_wstring(s.decompressed) + L" bytes decompressed from " +
                      std::to_wstring(s.compressed) + L"\n");
    return sound ? 0 : 1;
}

int verify(const fs::path& path)
{
    ArchiveInput input(path);
    if (!qv::verifyArchive(input.stream())) {
        print(stderr, path.wstring() + L": the compressed data are damaged\n");
        return 1;
    }
    input.rewind();
    Scan s = scan(input.stream());
    for (std::size_t i = 0; i < s.entries.size(); ++i) {
        if (!s.crcMatches[i]) {
            print(stderr, path.wstring() + L": the data of " + s.entries[i].source + L" do not match its crc\n");
            return 1;
        }
    }
    print(stdout, path.wstring() + L": OK, " + std::to_wstring(s.entries.size()) + L" entries\n");
    return 0;
}

int usage()
{
    print(stderr, L"usage: qvarchive pack <out.bz2> <listfile>\n"
                  L"       qvarchive list <archive.bz2 | module.exe>\n"
                  L"       qvarchive verify <archive.bz2 | module.exe>\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    try {
        std::wstring command = argc > 1 ? argv[1] : L"";
        if (command == L"pack" && argc == 4) return pack(argv[2], argv[3]);
        if (command == L"list" && argc == 3) return list(argv[2]);
        if (command == L"verify" && argc == 3) return verify(argv[2]);
        return usage();
    } catch (const std::exception& e) {
        print(stderr, L"qvarchive: " + describe(e) + L"\n");
        return 1;
    }
}
