#pragma once
// Classes in this file:
//   RecordingDisplay   an install display without windows that keeps what
//                      the install sequence showed
//
// The log is rebuilt as the install page would hold it: texts appended
// without line breaks, heading and empty texts as full-width lines of a
// fixed width (one unit per character), then split into lines at CR LF.

#include "engine/InstallDisplay.h"

#include <functional>
#include <string>
#include <vector>

namespace qv::test {

class RecordingDisplay : public InstallDisplay {
public:
    // Width of the full-width lines, in characters.
    static constexpr int logWidth = 40;

    void AppendLog(const std::wstring& text, bool heading) override;
    void SetStatus(const std::wstring& text) override;
    void SetStatusPath(const std::wstring& text) override;
    void ResetProgress() override;
    void SetProgress(int position) override;
    void PumpMessages() override { ++pumps; }
    void ShowWaitCursor(bool wait) override { waitCursor.push_back(wait); }
    void NoteInLog(const std::wstring& line) override { notes.push_back(line); }

    // The log's complete lines; a last line without CR LF is included.
    std::vector<std::wstring> lines() const;

    std::wstring log;                   // everything appended, as one text
    std::vector<std::wstring> statuses; // SetStatus and SetStatusPath, in order
    std::wstring status;                // the status line now
    std::vector<int> progress;          // positions set; -1 for a reset
    bool progressShown = false;
    std::vector<bool> waitCursor;
    int pumps = 0;
    std::vector<std::wstring> notes;  // lines for the run's log alone
    // Told every status (SetStatus and SetStatusPath) as it is set: a test's
    // way to act at a given moment of the run.
    std::function<void(const std::wstring&)> onStatus;
};

}  // namespace qv::test
