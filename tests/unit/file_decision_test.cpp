// The whole per-file policy of an install run as one table: what the
// install sequence does with each archive entry and what the free-space
// check counts come from this one rule.
#include "engine/FileDecision.h"

#include <gtest/gtest.h>

namespace {

using qv::EntryKind;
using qv::FileDecision;
using qv::FileFacts;
using qv::InstallState;

struct Case {
    const char* name;
    FileFacts facts;
    FileDecision decision;
    bool writes;  // counted by the free-space check
};

FileFacts facts(EntryKind kind, InstallState state, bool noSamples = false, bool fileAtPath = false,
                bool earlierInstalled = false, bool planted = false)
{
    FileFacts f;
    f.kind = kind;
    f.installState = state;
    f.noSamples = noSamples;
    f.fileAtPath = fileAtPath;
    f.earlierInstalled = earlierInstalled;
    f.plantedName = planted;
    return f;
}

const Case kCases[] = {
    {"ProgramAlwaysWritten", facts(EntryKind::ProgramFile, InstallState::SameVersion, true, true, true),
     FileDecision::Write, true},
    {"LanguageLibraryWritten", facts(EntryKind::LanguageLibrary, InstallState::OlderVersion), FileDecision::Write,
     true},
    {"SampleOnFirstInstallation", facts(EntryKind::SampleFile, InstallState::NotInstalled), FileDecision::Write, true},
    {"SampleOnReinstallation", facts(EntryKind::SampleFile, InstallState::SameVersion), FileDecision::Write, true},
    {"SampleLeftOutOfUpdate", facts(EntryKind::SampleFile, InstallState::OlderVersion), FileDecision::LeaveOutSample,
     false},
    {"SampleLeftOutWithNoSamples", facts(EntryKind::SampleFile, InstallState::NotInstalled, true),
     FileDecision::LeaveOutSample, false},
    {"SampleLeftOutOfUpdateEvenWhenPlanted",
     facts(EntryKind::SampleFile, InstallState::OlderVersion, false, false, false, true),
     FileDecision::LeaveOutSample, false},
    {"PlantedSampleNameSetAside", facts(EntryKind::SampleFile, InstallState::NotInstalled, false, false, false, true),
     FileDecision::SetAsidePlantedName, true},
    {"DataFileMissingWritten", facts(EntryKind::DataFile, InstallState::OlderVersion), FileDecision::Write, true},
    {"DataFileOfEarlierInstallationStays",
     facts(EntryKind::DataFile, InstallState::OlderVersion, false, true, true), FileDecision::KeepUsersDataFile,
     false},
    {"DataFileOfEarlierInstallationStaysOnReinstallation",
     facts(EntryKind::DataFile, InstallState::SameVersion, false, true, true), FileDecision::KeepUsersDataFile,
     false},
    {"DataFileNobodyRecordedAdopted", facts(EntryKind::DataFile, InstallState::SameVersion, false, true, false),
     FileDecision::AdoptDataFile, false},
    {"DataFileOnFreshMachineAdopted", facts(EntryKind::DataFile, InstallState::NotInstalled, false, true, true),
     FileDecision::AdoptDataFile, false},
    {"PlantedDataFileNameSetAside", facts(EntryKind::DataFile, InstallState::OlderVersion, false, true, true, true),
     FileDecision::SetAsidePlantedName, true},
    {"DataFileWrittenWithNoSamples", facts(EntryKind::DataFile, InstallState::NotInstalled, true),
     FileDecision::Write, true},
};

class FileDecisionTable : public ::testing::TestWithParam<Case> {};

TEST_P(FileDecisionTable, DecidesAndCounts)
{
    const Case& c = GetParam();
    const FileDecision decision = qv::decideFile(c.facts);
    EXPECT_EQ(decision, c.decision);
    EXPECT_EQ(qv::writesArchiveBytes(decision), c.writes);
}

INSTANTIATE_TEST_SUITE_P(Policy, FileDecisionTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
