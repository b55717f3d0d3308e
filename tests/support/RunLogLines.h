#pragma once
// Functions in this file: reading a run's log file (sys/LogFile.h) as a
// test sees it.
//   runLogLines       the lines without their time stamps
//   containsInOrder   whether expected lines appear in that order

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv::test {

// The file's lines after its UTF-8 byte-order mark, each without the
// "yyyy-mm-dd hh:mm:ss.mmm " that opens it. A line that does not open so,
// and a missing mark, come back marked "NO TIME STAMP: ..." / "NO UTF-8
// MARK", so that an expectation on them fails visibly.
std::vector<std::wstring> runLogLines(const std::wstring& path);

// Each expected line must follow the one before it (other lines may come
// between). An expected line ending in "*" matches every line that begins
// with the text before the "*".
::testing::AssertionResult containsInOrder(const std::vector<std::wstring>& lines,
                                           const std::vector<std::wstring>& expected);

}  // namespace qv::test
