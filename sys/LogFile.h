#pragma once
// Classes in this file:
//   LogFile   a plain-text log of one run for administrators: UTF-8, every
//             line opened by the local time, written through at once so
//             that it survives whatever ends the process
//   LogOnDemand  the run's log when it has one, else a log file of its own
//             made at the first line
//
// The installer and the uninstaller run as administrators and the log's
// folder may be one that users can write to (a shared temporary folder, a
// folder given on the command line): a log file is never a file that
// someone else planted for us. A new file is created with CREATE_NEW under
// a name nobody can foresee; a named file that already exists is only ever
// appended to, and only when it is a plain file with one name (no link,
// no reparse point, no device, no directory).

#include "sys/Handles.h"

#include <windows.h>

#include <memory>
#include <string>
#include <utility>

namespace qv {

class LogFile {
public:
    // The named file, appended to when it exists and created otherwise.
    // Null, with the system's error code in error, when it cannot be opened
    // or is refused (ERROR_NOT_SUPPORTED for a link, a reparse point, a
    // device or a file with another name, ERROR_DIRECTORY for a folder).
    static std::unique_ptr<LogFile> openNamed(const std::wstring& path, DWORD& error);

    // A new file in folder named "<stem> <yyyy-mm-dd hh.mm.ss> <8 random
    // hexadecimal digits>.log", never an existing one. Null, with the
    // system's error code, when none can be created.
    static std::unique_ptr<LogFile> createUnique(const std::wstring& folder, const std::wstring& stem,
                                                 DWORD& error);

    // What /LOG asks for: the named file when a name is given, else a new
    // file "<uniqueStem> ..." in the user's temporary folder.
    static std::unique_ptr<LogFile> open(const std::wstring& namedPath, const std::wstring& uniqueStem,
                                         DWORD& error);

    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // One line per line of text, each opened by "yyyy-mm-dd hh:mm:ss.mmm "
    // (local time). A failed write is not reported: the run goes on without
    // its log rather than stop half-way.
    void write(const std::wstring& text) noexcept;

    const std::wstring& path() const noexcept { return path_; }

private:
    LogFile(UniqueFile file, std::wstring path) noexcept : file_(std::move(file)), path_(std::move(path)) {}

    UniqueFile file_;
    std::wstring path_;
};

// Where the lines of a step go that must leave a trace even in a run
// without /LOG (the recovery of an unfinished run): the run's log when
// there is one, else a new file "<uniqueStem> ..." in the temporary folder,
// made at the first line, so that a step with nothing to say leaves none.
class LogOnDemand {
public:
    LogOnDemand(LogFile* runLog, std::wstring uniqueStem) : runLog_(runLog), uniqueStem_(std::move(uniqueStem)) {}

    // Dropped when no log can be had: the run goes on without it.
    void write(const std::wstring& text) noexcept;

private:
    LogFile* runLog_;
    std::wstring uniqueStem_;
    std::unique_ptr<LogFile> own_;
    bool ownTried_ = false;
};

// The user's temporary folder with its trailing separator; empty when the
// system does not tell it.
std::wstring temporaryFolder();

}  // namespace qv
