// A test build of the installer whose installation ends its own process
// abruptly at a named moment, as a power loss or a killed process would:
// QV_PROBE_END_AT=Verification, WritingDataFile, KeyWritten,
// RegistrationRun or CopyingBackup in the environment (tests/unattended/interrupted_test.cpp).
// It carries the real payload and installs without any window
// (/VERYSILENT). Never shipped: the shipped installer passes no run-point
// hook at all.
#include "app/StartUp.h"
#include "engine/InstallRun.h"
#include "engine/InstallSequence.h"
#include "engine/RunPoints.h"

#include <windows.h>

#include <string>

namespace qv {
namespace {

// The exit code of a process ended at its point; nothing else ends with it.
constexpr UINT endedAtRunPoint = 7777;

const wchar_t* nameOf(RunPoint point)
{
    switch (point) {
    case RunPoint::Verification: return L"Verification";
    case RunPoint::WritingDataFile: return L"WritingDataFile";
    case RunPoint::KeyWritten: return L"KeyWritten";
    case RunPoint::RegistrationRun: return L"RegistrationRun";
    case RunPoint::CopyingBackup: return L"CopyingBackup";
    }
    return L"";
}

void endHereWhenAsked(RunPoint point)
{
    wchar_t wanted[32] = {};
    if (!::GetEnvironmentVariableW(L"QV_PROBE_END_AT", wanted, 32) || std::wstring(wanted) != nameOf(point)) return;
    // No clean-up of any kind: no destructor, no handler, no flush.
    ::TerminateProcess(::GetCurrentProcess(), endedAtRunPoint);
}

}  // namespace

StartUpSettings installerSettings()
{
    StartUpSettings settings;
    settings.installWithoutWindow = &runInstallationWithoutWindow;
    settings.atRunPoint = &endHereWhenAsked;
    return settings;
}

}  // namespace qv
