#pragma once
// Classes in this file:
//   SequenceScenario   a small install-sequence scenario against Wine's real
//                      machine: the session as start-up leaves it, a payload
//                      built in memory and a run through InstallSequence with
//                      a recording display
//
// The payload: the registrar (tests/sequence/Registrar.cpp, a stand-in for
// the program that registers a document type and exits with -10) as the
// program, an uninstaller, two language libraries, a shared and a per-user
// data file and a sample. Each scenario runs in a fresh prefix of its own
// (tests/sequence.cmake runs one filter per CTest test).

#include "engine/InstallSession.h"
#include "engine/InstallSequence.h"
#include "support/ArchiveTestSupport.h"
#include "support/RecordingDisplay.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace qv::test {

class SequenceScenario : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The application object as start-up leaves it: the mutex taken, both
    // shortcuts chosen, an earlier installation detected and its log read.
    std::unique_ptr<InstallSession> startApp();
    // One press of Install with entries as the payload.
    bool install(InstallSession& app, const std::vector<TestEntry>& entries);

    // The log line of a file that was copied.
    static std::wstring copiedLine(const std::wstring& path);
    // Where the payload's entry i is installed.
    std::wstring targetOf(std::size_t i) const;

    std::wstring installPath, startMenuFolder, commonData, userData, samples;
    std::vector<TestEntry> payload;
    RecordingDisplay display;
    InstallTarget target;
};

}  // namespace qv::test
