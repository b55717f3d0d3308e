#pragma once
// Functions in this file:
//   defaultLogFolder   where a run without /LOG that nobody watches logs
//   openDefaultLog     a new log file there for this run, the oldest ones
//                      removed beyond KeptDefaultLogs
//
// A deployment tool collects logs from one documented place, and the
// installer runs as an administrator or SYSTEM: the folder must be one that
// only administrators can write (%SystemRoot%\Logs grants Users reading
// only), else a user could have prepared a file or a link there. A folder
// that is not left to the administrators (and the account running, SYSTEM
// under a deployment tool) is not used: the run goes on without its default
// log.

#include "sys/LogFile.h"

#include <cstddef>
#include <memory>
#include <string>

namespace qv {

// The number of log files the folder keeps for one stem, the new one
// included.
inline constexpr std::size_t KeptDefaultLogs = 10;

// %SystemRoot%\Logs\Orvane Systems; empty when the system names no Windows
// folder.
std::wstring defaultLogFolder();

// A new file "<stem> <yyyy-mm-dd hh.mm.ss> <8 hexadecimal digits>.log" in
// defaultLogFolder(), the folders made when missing (owned by the
// administrators, written by them and SYSTEM only, read by Users as
// %SystemRoot%\Logs is), each checked as it is opened (no link, owned by
// and writable only for administrators and the account running). The
// oldest files of the same stem go so that KeptDefaultLogs remain. Null,
// with why (a sentence for another log, if any), when no such file can be
// had. Never throws.
std::unique_ptr<LogFile> openDefaultLog(const std::wstring& stem, std::wstring& why) noexcept;

}  // namespace qv
