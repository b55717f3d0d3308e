#pragma once
// Small helpers for tests that check what an operation left on disk, and
// for the few checks that depend on the platform under the test.

#include <string>
#include <vector>

namespace qv::test {

std::vector<char> readBytes(const std::wstring& path);
void writeBytes(const std::wstring& path, const std::vector<char>& bytes);
void writeText(const std::wstring& path, const std::string& text);  // bytes as given
// UTF-16LE with byte-order mark, each line followed by CR LF.
void writeUtf16Lines(const std::wstring& path, const std::vector<std::wstring>& lines);
// A file in the source tree's tests/data folder, seen through Wine's Z: drive.
std::wstring testDataPath(const std::wstring& name);
void makeFolders(const std::wstring& path);
bool fileExists(const std::wstring& path);
// Lists folder and every folder above it once. Wine's folder browser finds
// a folder in its tree by comparing item ids that carry each folder's last
// access, which the file system moves on the first read after a change (or
// after a copy of the prefix): read first, the ids the browser keeps and
// those of a later lookup stay alike.
void readFoldersOnce(const std::wstring& folder);
// True under Wine, for the few checks that only hold on Windows.
bool runningUnderWine();
// A shell folder (CSIDL_*) as the installer finds it; empty when the system
// has none.
std::wstring shellFolder(int csidl);

}  // namespace qv::test
