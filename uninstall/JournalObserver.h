#pragma once
// Classes in this file:
//   JournalObserver   what the journal tells whoever watches it: every entry
//                     recorded, settled and undone
//
// The journal (UninstallLog.h) calls these while it works; an observer only
// looks, and never throws (rollback cannot stop half-way).

#include "uninstall/UninstallLog.h"

#include <cstddef>

namespace qv {

class JournalObserver {
public:
    virtual ~JournalObserver() = default;

    // The entry was appended, with its backup when one was made.
    virtual void recorded(const LogEntry& entry) noexcept = 0;
    // confirm settled the entry (done, and the path it may have received).
    virtual void settled(const LogEntry& entry) noexcept = 0;
    // Rollback begins with this many entries to undo, last first.
    virtual void rollingBack(std::size_t entries) noexcept = 0;
    // The entry's change was undone as far as it could be.
    virtual void undone(const LogEntry& entry) noexcept = 0;
    // Rollback ended; complete is false when an earlier state could not be
    // put back.
    virtual void rolledBack(bool complete) noexcept = 0;
};

}  // namespace qv
