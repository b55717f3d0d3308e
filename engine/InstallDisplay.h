#pragma once
// Classes in this file:
//   InstallDisplay   what the install sequence needs from the screen
//
// The install sequence never touches a window: it reports through this
// narrow interface. The wizard's install page is one implementation; tests
// use a recording one, so the whole sequence runs without windows.

#include <string>

namespace qv {

class InstallDisplay {
public:
    virtual ~InstallDisplay() = default;

    // Appends to the log. heading false: the text as it is, without a line
    // break, so that a step and its outcome share a line. heading true, or
    // an empty text: a full-width line (text centred between dashes, or a
    // separator of dashes), ended by CR LF.
    virtual void AppendLog(const std::wstring& text, bool heading) = 0;
    virtual void SetStatus(const std::wstring& text) = 0;
    // The status line with a path shortened to fit (ellipsis in the middle).
    virtual void SetStatusPath(const std::wstring& text) = 0;
    // Progress position 0 and the bar shown.
    virtual void ResetProgress() = 0;
    // Position 0..100.
    virtual void SetProgress(int position) = 0;
    // Processes pending window messages after every extraction notification.
    virtual void PumpMessages() = 0;
    // The wait cursor for the whole sequence (shown true, ended false).
    virtual void ShowWaitCursor(bool wait) = 0;
    // A line for the run's log file alone (/LOG), never shown: why a run
    // stopped where the screen says only that it failed. Nothing without a
    // log file.
    virtual void NoteInLog(const std::wstring& line) { (void)line; }
};

}  // namespace qv
