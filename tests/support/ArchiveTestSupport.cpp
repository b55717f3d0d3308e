#include "support/ArchiveTestSupport.h"

#include "sys/Crc32.h"

#include <windows.h>

#include <boost/filesystem/operations.hpp>
#include <boost/iostreams/copy.hpp>
#include <boost/iostreams/device/back_inserter.hpp>
#include <boost/iostreams/device/array.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace qv::test {

std::vector<ArchiveEntry> tableOf(const std::vector<TestEntry>& entries)
{
    std::vector<ArchiveEntry> table;
    for (const TestEntry& t : entries) {
        ArchiveEntry e;
        e.source = t.source;
        e.destination = t.destination;
        e.kind = t.kind;
        e.size = t.data.size();
        e.crc = t.crc ? *t.crc : Crc32::of(t.data.data(), t.data.size());
        table.push_back(std::move(e));
    }
    return table;
}

std::string rawArchive(const std::vector<TestEntry>& entries)
{
    std::string raw = serializeHeader(tableOf(entries));
    for (const TestEntry& t : entries) raw += t.data;
    return raw;
}

std::string bzip2(const std::string& raw)
{
    std::string packed;
    {
        boost::iostreams::filtering_ostream out;
        out.push(boost::iostreams::bzip2_compressor(boost::iostreams::bzip2_params(9)));
        out.push(boost::iostreams::back_inserter(packed));
        out.write(raw.data(), static_cast<std::streamsize>(raw.size()));
    }
    return packed;
}

std::string readFileBytes(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    if (!in) throw std::runtime_error("cannot open test file");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::wstring& path, const std::string& bytes)
{
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write test file");
}

ExtractionCallback NotificationLog::callback()
{
    return [this](notification n) {
        Recorded r;
        r.index = n.index();
        if (auto* p = std::get_if<Progress>(&n)) {
            r.a = p->done;
            r.b = p->total;
        } else if (auto* f = std::get_if<Finished>(&n)) {
            r.a = f->compressed;
            r.b = f->total;
        } else if (auto* b = std::get_if<FileBegin>(&n)) {
            r.path = b->entry.destination;
        } else if (auto* e = std::get_if<FileEnd>(&n)) {
            r.path = e->entry.destination;
        } else if (auto* x = std::get_if<Failed>(&n)) {
            r.code = x->code;
            r.path = x->path;
        }
        all.push_back(r);
        return script ? script(n) : result::Continue;
    };
}

std::vector<Recorded> NotificationLog::of(std::size_t index) const
{
    std::vector<Recorded> out;
    for (const Recorded& r : all)
        if (r.index == index) out.push_back(r);
    return out;
}

TempFolder::TempFolder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    path_ = std::wstring(temp) + L"qvtest_" +
            boost::uuids::to_wstring(boost::uuids::random_generator()());
    boost::filesystem::create_directories(path_);
}

TempFolder::~TempFolder()
{
    // Read-only files left by a test would stop remove_all.
    boost::system::error_code ec;
    for (boost::filesystem::recursive_directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec))
        ::SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    boost::filesystem::remove_all(path_, ec);
}

}  // namespace qv::test
