#pragma once
// Classes in this file:
//   RunPoint      the moments of an install run that a test build of the
//                 installer may end the process at
//   RunPointHook  what the install sequence calls at each of them
//
// The shipped installer passes no hook: the sequence only calls one that
// the session holds (InstallSession::atRunPoint, which start-up sets from its settings). A test build ends the
// process abruptly there, as a power loss would, to prove that the next
// start rolls the run back.

namespace qv {

enum class RunPoint {
    Verification,     // the verification pass of the archive has begun
    WritingDataFile,  // a shared data file is written in part
    KeyWritten,       // the uninstall key is written, the installation record not yet
    RegistrationRun,  // the installed program runs with " /Register"
    CopyingBackup,    // a backup is copied to another volume, in part
};

using RunPointHook = void (*)(RunPoint);

}  // namespace qv
