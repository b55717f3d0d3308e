#pragma once
// Classes in this file:
//   JournalLogger   tells the run's log what the journal records, settles
//                   and undoes, one line each
//
// A file's ordinary success shows in the install log's own "OK"; the lines
// here add what the screen never shows: the folders created, the earlier
// files moved or copied to a backup, the shortcuts and keys as settled, and
// every step of a rollback with what it left behind.

#include "uninstall/JournalObserver.h"

#include <functional>
#include <string>
#include <utility>

namespace qv {

class JournalLogger : public JournalObserver {
public:
    // write takes one line for the run's log.
    explicit JournalLogger(std::function<void(const std::wstring&)> write) noexcept : write_(std::move(write)) {}

    void recorded(const LogEntry& entry) noexcept override;
    void settled(const LogEntry& entry) noexcept override;
    void rollingBack(std::size_t entries) noexcept override;
    void undone(const LogEntry& entry) noexcept override;
    void rolledBack(bool complete) noexcept override;

private:
    std::function<void(const std::wstring&)> write_;
};

}  // namespace qv
