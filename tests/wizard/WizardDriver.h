#pragma once
// Classes in this file:
//   WizardDriver   starts the real installer and drives its wizard from this
//                  process through window messages: finds the frame and the
//                  page on show, reads texts and button states, clicks,
//                  picks languages, answers message boxes, takes screenshots
//
// Everything waits by polling with a time-out; nothing asserts a timing.

#include "support/WindowDriver.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace qv::test {

enum class WizardPage { Start, Mode, Path, Shortcut, Install, End, None };
const char* pageName(WizardPage page);

struct ButtonState {
    std::wstring text;
    bool enabled = false;
    bool isDefault = false;
};

class WizardDriver {
public:
    // Starts installer (a Windows path) with extra environment variables and
    // command-line arguments, and waits for its frame; frame() is null when
    // none appeared.
    explicit WizardDriver(const std::wstring& installer,
                          const std::vector<std::pair<std::wstring, std::wstring>>& environment = {},
                          const std::wstring& arguments = {});

    HWND frame() const noexcept { return frame_; }
    ChildProcess& process() noexcept { return process_; }

    // The visible page and its window.
    WizardPage page() const;
    HWND pageWindow() const;
    // Waits until the page on show is the given one.
    bool waitForPage(WizardPage expected, DWORD timeoutMs = 20000) const;

    std::wstring caption() const;
    // Text of a control of the page on show.
    std::wstring text(int id) const;
    HWND control(int id) const;
    bool enabled(int id) const;
    // Button 1 (Next), 2 (Exit) or 3 (Back) of the frame.
    ButtonState button(int id) const;
    // Opens the About box through the system menu's command 16 and returns
    // its caption and texts (control 1019, 1020), then closes it with OK.
    struct AboutBox {
        std::wstring caption, version, copyright, ok;
        std::vector<std::wstring> statics;  // every static text, in order
    };
    // With a path, a screenshot of the box is saved first.
    AboutBox about(const std::string& screenshotPath = {}) const;
    // The selected item's text of the start page's language list.
    std::wstring selectedLanguage() const;

    // Clicks a frame button (1, 2, 3) or, for other ids, a control of the page.
    void click(int id) const;
    // Next, then waits for the expected page.
    bool next(WizardPage expected) const { return clickAndWait(IDOK, expected); }
    bool back(WizardPage expected) const { return clickAndWait(3, expected); }
    bool clickAndWait(int id, WizardPage expected) const;
    // Picks item position of the start page's language list as a user does.
    void selectLanguage(int position) const;
    // Types text into an edit control of the page.
    void setText(int id, const std::wstring& text) const;
    void setCheck(int id, bool checked) const;

    // A message box or dialog of the installer other than the frame.
    HWND waitForBox(DWORD timeoutMs = 20000) const;
    HWND findBox() const;
    void answer(HWND box, int buttonId) const;

    // Waits until the status line of the install page reads one of the
    // texts and Exit is enabled again (the install sequence has ended).
    bool waitForStatus(const std::vector<std::wstring>& texts, DWORD timeoutMs = 120000) const;
    // The log's lines (CR LF separated, the last empty line dropped).
    std::vector<std::wstring> logLines() const;

    // Waits for the installer to end; STILL_ACTIVE after the time-out.
    DWORD waitExit(DWORD timeoutMs = 30000) { return process_.wait(timeoutMs); }

    // Saves a PNG of the frame (xwd and ImageMagick on the X display Wine
    // draws on) to a Unix path; false when it could not be made.
    bool screenshot(const std::string& unixPath) const { return screenshot(frame_, unixPath); }
    bool screenshot(HWND window, const std::string& unixPath) const;

private:
    ChildProcess process_;
    HWND frame_ = nullptr;
};

// The text of a window of another process.
std::wstring controlText(HWND window);
}  // namespace qv::test
