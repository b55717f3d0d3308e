#pragma once
// Classes in this file:
//   JournalLogger   writes what the journal records, settles and undoes into
//                   the run's log file, one line each
//
// A file's ordinary success shows in the install log's own "OK"; the lines
// here add what the screen never shows: the folders created, the earlier
// files moved or copied to a backup, the shortcuts and keys as settled, and
// every step of a rollback with what it left behind.

#include "uninstall/JournalObserver.h"

namespace qv {

class LogFile;

class JournalLogger : public JournalObserver {
public:
    explicit JournalLogger(LogFile& log) noexcept : log_(log) {}

    void recorded(const LogEntry& entry) noexcept override;
    void settled(const LogEntry& entry) noexcept override;
    void rollingBack(std::size_t entries) noexcept override;
    void undone(const LogEntry& entry) noexcept override;

private:
    LogFile& log_;
};

}  // namespace qv
