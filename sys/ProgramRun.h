#pragma once
// Classes in this file:
//   ProgramRun          how a run of an installed program went
//   runVerifiedProgram  starts an installed program only with the bytes it
//                       must have, and waits for its end
//
// The installed program runs as the administrator who runs the installer,
// from a folder users may be able to write. It is held open against writers
// from the moment its bytes are checked against the archive's checksum
// until its process runs, named to the process creation, with its path
// quoted whenever it holds a blank.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace qv {

struct ProgramRun {
    bool started = false;
    bool gotExitCode = false;
    DWORD exitCode = 0;
};

// Runs "<program>" arguments (arguments begin with a blank) in the
// program's folder, at high priority, its window shown without the focus,
// and waits for its end without a time limit. lend(true) is called just
// before the process is created and lend(false) once it has ended or could
// not be started (the installer's mutex is lent to it); started is called
// once it runs. Not started when the program cannot be opened, is no file,
// or its bytes do not have crc.
ProgramRun runVerifiedProgram(const std::wstring& program, std::uint32_t crc, const std::wstring& arguments,
                              const std::function<void(bool lent)>& lend,
                              const std::function<void()>& started = {});

// The program's path in double quotes when it contains a blank, whatever
// its length (a fixed buffer would fail to quote a long path and leave it
// open to C:\Program.exe and the like).
std::wstring quotedWhenBlank(const std::wstring& path);

}  // namespace qv
