#pragma once
// Classes in this file:
//   FolderBrowser   one run of the shell's folder browser that starts on a
//                   sensible folder, keeps the product's folder name at the
//                   end of whatever folder the user picks, accepts a typed
//                   folder that does not exist yet and, for the Start menu,
//                   keeps the choice inside the Start-menu tree
// Functions:
//   pathEndsWith     whether a path ends with a relative path
//   relativeFolder   a path relative to a folder, canonicalised
//   isValidPathText  every character may stand in a path (no wildcard)
//
// Paths are limited to 259 characters: a text that does not fit a
// 260-character buffer counts as a failure.

#include "sys/Handles.h"

#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <string>
#include <utility>

namespace qv {

// The number of components of relative when path ends with them (compared
// without regard to case, trailing "\" ignored) and path has at least one
// component more; otherwise 0.
std::size_t pathEndsWith(const std::wstring& path, const std::wstring& relative);

// path relative to folder (both taken as folders): "." becomes empty, a
// leading ".\" disappears; none when no relative path exists (another drive).
std::optional<std::wstring> relativeFolder(const std::wstring& path, const std::wstring& folder);

// Neither an invalid path character nor a wildcard anywhere in the text.
bool isValidPathText(const std::wstring& text);

class FolderBrowser {
public:
    explicit FolderBrowser(std::wstring title = {});
    ~FolderBrowser();
    FolderBrowser(const FolderBrowser&) = delete;
    FolderBrowser& operator=(const FolderBrowser&) = delete;

    // The folder the user confirmed (suffix appended as shown), or empty.
    std::wstring Browse(const std::wstring& start, const std::wstring& suffix, const std::wstring& title);
    // The same inside the all-users Programs folder of the Start menu: the
    // full path, and the path relative to the Start Menu folder (empty for
    // the Start Menu folder itself; the full path when there is no relative
    // one). Two empty texts when the user cancelled.
    std::pair<std::wstring, std::wstring> BrowseStartMenu(const std::wstring& start, const std::wstring& suffix,
                                                           const std::wstring& title);

    // The steps of a run, reachable on their own (the tests use them; the
    // browser calls them).
    // Takes the start folder and the suffix text and applies the suffix.
    void prepare(const std::wstring& start, const std::wstring& suffixText);
    // Appends what is missing of the suffix to path; with a root, makes path
    // relative to rootParent.
    void applySuffix();
    // Text the user typed in the browser's edit box: true when it names a
    // possible folder (then path is set from it); otherwise an error box
    // owned by owner has told why.
    bool validateTypedText(HWND owner, const std::wstring& typed);
    // The folder the browser may not leave (owned from now on), or none.
    void setRoot(PIDLIST_ABSOLUTE folder);
    // The file-system path of root's parent, computed once; empty without
    // root.
    const std::wstring& rootParent();

    const std::wstring& path() const noexcept { return path_; }
    const std::wstring& suffix() const noexcept { return suffix_; }
    bool pathFromTypedText() const noexcept { return pathFromTypedText_; }

private:
    bool run(const std::wstring& start, const std::wstring& suffix);
    static int CALLBACK callback(HWND window, UINT message, LPARAM lParam, LPARAM data) noexcept;
    int onMessage(HWND window, UINT message, LPARAM lParam);
    void showPathInEditBox();

    std::wstring path_;
    std::wstring suffix_;
    std::wstring startPath_;    // path_ as the browser opened
    std::wstring startFolder_;  // the existing folder it opened on, full path
    std::wstring title_;
    UniqueCoTaskMem root_;  // the browser's root item, or none
    PIDLIST_ABSOLUTE root() const noexcept { return static_cast<PIDLIST_ABSOLUTE>(root_.get()); }
    std::optional<std::wstring> rootParent_;
    bool comStarted_ = false;
    bool dialogReady_ = false;
    bool pathFromTypedText_ = false;
    HWND editBox_ = nullptr;
};

// The message box of the folder browser: the system's text for code, the
// exclamation icon, the system's default caption; right-to-left reading when
// the owner is laid out right to left (without owner: when the current
// language is written right to left). Always means "rejected".
void folderErrorBox(HWND owner, DWORD code);

}  // namespace qv
