#pragma once
// Classes in this file:
//   LoggingDisplay   the install sequence's display for a run with a log
//                    file: every report goes on to the screen, when there is
//                    one, and into the log file, line by line
//
// The sequence builds a step's line in pieces (its text, then "OK" or
// "Failed" with the line end): a line reaches the file once it is whole. It
// sets the status first and then logs the same text; a status that the log
// does not repeat (a failure's error code, the last word) gets a line of its
// own. Progress, the message pump and the cursor are the screen's alone.

#include "engine/InstallDisplay.h"

#include <string>

namespace qv {

class LogFile;

class LoggingDisplay : public InstallDisplay {
public:
    // screen may be null: a run without any window.
    LoggingDisplay(LogFile& log, InstallDisplay* screen) noexcept : log_(log), screen_(screen) {}
    ~LoggingDisplay() override { flush(); }

    // Writes what is still held back: a status, a line left unfinished.
    void flush() noexcept;
    // A line of another reporter (the journal's) in its place among the
    // display's: after a status that came before it.
    void note(const std::wstring& text);

    void AppendLog(const std::wstring& text, bool heading) override;
    void SetStatus(const std::wstring& text) override;
    void SetStatusPath(const std::wstring& text) override;
    void ResetProgress() override;
    void SetProgress(int position) override;
    void PumpMessages() override;
    void ShowWaitCursor(bool wait) override;
    void NoteInLog(const std::wstring& line) override { note(line); }

private:
    void holdStatus(const std::wstring& text);
    void writeHeldStatus();

    LogFile& log_;
    InstallDisplay* screen_;
    std::wstring line_;    // the line under way
    std::wstring status_;  // the status not yet known to be logged anyway
};

}  // namespace qv
