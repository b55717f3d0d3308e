#pragma once
// Classes in this file:
//   CDlgInstall   the install page: first the options summary, then, while
//                 the install sequence runs on this thread, its display: the
//                 running log, the status line and the progress bar

#include "engine/InstallDisplay.h"
#include "engine/InstallRun.h"
#include "engine/InstallSequence.h"
#include "wizard/WizardPage.h"

#include <string>

namespace qv {

class CDlgInstall : public CWizardPage, public InstallDisplay {
public:
    explicit CDlgInstall(InstallSession& session);

    // Runs the install sequence with this page as its display; true when the
    // product is installed.
    bool runInstallation();
    // The sequence is running (the frame shows the wait cursor).
    bool isBusy() const noexcept { return waitCursor > 0; }

    void RefreshTexts() override;
    void StretchControls(int dx, int dy) override;

    // InstallDisplay
    void AppendLog(const std::wstring& text, bool heading) override;
    void SetStatus(const std::wstring& text) override;
    void SetStatusPath(const std::wstring& text) override;
    void ResetProgress() override;
    void SetProgress(int position) override;
    void PumpMessages() override;
    void ShowWaitCursor(bool wait) override;

    // The destinations of the installed program and uninstaller, filled by
    // the sequence while it copies the files.
    InstallTarget target;

protected:
    void DoDataExchange(DataExchange& dx) override;
    BOOL OnInitDialog() override;

private:
    void showSummary();
    std::wstring fullWidth(const std::wstring& text);
    struct LogView;
    void appendToLog(const std::wstring& line);
    void showChanges(const LogView& before, int insertedAt);
    int logLineHeight();

    HWND log = nullptr;
    HWND progress = nullptr;
    int waitCursor = 0;
    // What the page last put on screen, so that a notification that changes
    // nothing there touches nothing.
    int progressShown = -1;
    std::wstring statusPath;   // the path SetStatusPath last showed
    std::wstring statusShown;  // and its shortened text in the status line
    int lineHeight = 0;        // of the log's font, once known
    // The page drew or changed something since its last message pump.
    bool drawnSincePump = true;
};

}  // namespace qv
