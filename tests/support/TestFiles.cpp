#include "support/TestFiles.h"

#include <windows.h>
#include <shlobj.h>

#include <boost/filesystem/operations.hpp>

#include <fstream>
#include <stdexcept>

namespace qv::test {

std::vector<char> readBytes(const std::wstring& path)
{
    std::ifstream in(boost::filesystem::path(path).string(), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read test file");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::wstring& path, const std::vector<char>& bytes)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create test file");
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    if (!ok || written != bytes.size()) throw std::runtime_error("cannot write test file");
}

void writeText(const std::wstring& path, const std::string& text)
{
    writeBytes(path, std::vector<char>(text.begin(), text.end()));
}

void writeUtf16Lines(const std::wstring& path, const std::vector<std::wstring>& lines)
{
    std::wstring text(1, wchar_t(0xFEFF));
    for (const auto& line : lines) text += line + L"\r\n";
    const char* data = reinterpret_cast<const char*>(text.data());
    writeBytes(path, std::vector<char>(data, data + text.size() * sizeof(wchar_t)));
}

std::wstring testDataPath(const std::wstring& name)
{
    return boost::filesystem::path(QV_TEST_DATA_DIR).make_preferred().wstring() + L"\\" + name;
}

void makeFolders(const std::wstring& path) { boost::filesystem::create_directories(path); }

bool fileExists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void readFoldersOnce(const std::wstring& folder)
{
    for (boost::filesystem::path at(folder); !at.empty(); at = at.parent_path()) {
        boost::system::error_code error;
        for (boost::filesystem::directory_iterator entry(at, error), end; !error && entry != end;
             entry.increment(error)) {
        }
        if (!at.has_relative_path()) break;  // the root: nothing above it
    }
}

bool runningUnderWine()
{
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::wstring shellFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
    return path;
}

}  // namespace qv::test
