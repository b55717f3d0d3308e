#include "support/RunLogLines.h"

#include "support/TestFiles.h"

#include <windows.h>

#include <cwctype>

namespace qv::test {
namespace {

bool hasTimeStamp(const std::wstring& line)
{
    // yyyy-mm-dd hh:mm:ss.mmm and a blank
    const std::wstring shape = L"dddd-dd-dd dd:dd:dd.ddd ";
    if (line.size() < shape.size()) return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == L'd' ? !std::iswdigit(line[i]) : line[i] != shape[i]) return false;
    }
    return true;
}

bool matches(const std::wstring& line, const std::wstring& expected)
{
    if (!expected.empty() && expected.back() == L'*') return line.rfind(expected.substr(0, expected.size() - 1), 0) == 0;
    return line == expected;
}

}  // namespace

std::vector<std::wstring> runLogLines(const std::wstring& path)
{
    const std::vector<char> bytes = readBytes(path);
    std::string text(bytes.begin(), bytes.end());
    std::vector<std::wstring> lines;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    else lines.push_back(L"NO UTF-8 MARK");
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find("\r\n", begin);
        if (end == std::string::npos) end = text.size();
        const std::string piece = text.substr(begin, end - begin);
        std::wstring line(static_cast<std::size_t>(
                              ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, piece.data(), int(piece.size()), nullptr, 0)),
                          L'\0');
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, piece.data(), int(piece.size()), line.data(),
                              int(line.size()));
        lines.push_back(hasTimeStamp(line) ? line.substr(24) : L"NO TIME STAMP: " + line);
        begin = end + 2;
    }
    return lines;
}

::testing::AssertionResult containsInOrder(const std::vector<std::wstring>& lines,
                                           const std::vector<std::wstring>& expected)
{
    std::size_t at = 0;
    for (const std::wstring& want : expected) {
        while (at < lines.size() && !matches(lines[at], want)) ++at;
        if (at == lines.size()) {
            auto failure = ::testing::AssertionFailure() << "missing, or out of order: "
                                                         << ::testing::PrintToString(want) << "\nin the log:\n";
            for (const std::wstring& line : lines) failure << ::testing::PrintToString(line) << "\n";
            return failure;
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace qv::test
