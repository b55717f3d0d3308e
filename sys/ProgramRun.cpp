#include "sys/ProgramRun.h"

#include "sys/Crc32.h"
#include "sys/Handles.h"
#include "sys/PathGuard.h"

#include <boost/filesystem/path.hpp>

namespace qv {

std::wstring quotedWhenBlank(const std::wstring& path)
{
    return path.find(L' ') == std::wstring::npos ? path : L"\"" + path + L"\"";
}

ProgramRun runVerifiedProgram(const std::wstring& program, std::uint32_t crc, const std::wstring& arguments,
                              const std::function<void(bool lent)>& lend, const std::function<void()>& started)
{
    ProgramRun run;
    std::wstring commandLine = quotedWhenBlank(program) + arguments;
    const std::wstring folder = boost::filesystem::path(program).parent_path().wstring();

    // Held open (others may only read) from the moment its bytes are
    // checked until the process runs: what starts is what the archive
    // carried, even in a folder users can write.
    CheckedHandle file;
    try {
        file = openChecked(program, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        if (!file || file.isFolder() || crcOfOpenFile(file.handle.get()) != crc) return run;
    } catch (...) {
        return run;
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNOACTIVATE;
    PROCESS_INFORMATION process{};

    if (lend) lend(true);
    // Named to the process creation, not left for it to find in the
    // command line. CreateProcessW may write into the command line.
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, HIGH_PRIORITY_CLASS,
                          nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
        if (lend) lend(false);
        return run;
    }
    run.started = true;
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    file.handle.reset();
    if (started) started();

    // No message pump runs meanwhile: the window stays unresponsive until
    // the program ends.
    ::WaitForSingleObject(processHandle.get(), INFINITE);
    run.gotExitCode = ::GetExitCodeProcess(processHandle.get(), &run.exitCode) != FALSE;
    processHandle.reset();
    threadHandle.reset();
    if (lend) lend(false);
    return run;
}

}  // namespace qv
