#include "wizard/FolderBrowser.h"

#include "app/ErrorMessages.h"
#include "lang/Languages.h"
#include "sys/OwnerWindow.h"
#include "sys/MessageBoxGate.h"
#include "sys/Handles.h"

#include <shlwapi.h>

#include <vector>

namespace qv {
namespace {

constexpr std::size_t PathBuffer = MAX_PATH;  // 260 characters with the terminating zero

std::vector<std::wstring> components(std::wstring text)
{
    while (!text.empty() && text.back() == L'\\') text.pop_back();
    std::vector<std::wstring> parts;
    std::size_t begin = 0;
    while (begin <= text.size() && !text.empty()) {
        std::size_t end = text.find(L'\\', begin);
        if (end == std::wstring::npos) end = text.size();
        parts.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return parts;
}

bool sameComponent(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

// The same folder text, without regard to case or a trailing "\".
bool sameFolderText(std::wstring a, std::wstring b)
{
    while (!a.empty() && a.back() == L'\\') a.pop_back();
    while (!b.empty() && b.back() == L'\\') b.pop_back();
    return sameComponent(a, b);
}

void appendComponent(std::wstring& path, const std::wstring& component)
{
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    path += component;
}

// The user's Documents folder, asked once per process.
const std::wstring& documentsFolder()
{
    static const std::wstring folder = [] {
        std::wstring result;
        PWSTR text = nullptr;
        const HRESULT hr = ::SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &text);
        const UniqueCoTaskMem owned(text);
        if (SUCCEEDED(hr) && text) result = text;
        return result;
    }();
    return folder;
}

std::wstring pathOfItem(PCIDLIST_ABSOLUTE item)
{
    wchar_t buffer[PathBuffer]{};
    if (!item || !::SHGetPathFromIDListW(item, buffer)) return {};
    return buffer;
}

void trimBlanks(std::wstring& text)
{
    const auto first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) {
        text.clear();
        return;
    }
    text.erase(0, first);
    text.erase(text.find_last_not_of(L" \t") + 1);
}

BOOL CALLBACK findEditBox(HWND child, LPARAM result) noexcept
{
    wchar_t name[16]{};
    ::GetClassNameW(child, name, 16);
    if (::lstrcmpiW(name, L"Edit") != 0) return TRUE;
    *reinterpret_cast<HWND*>(result) = child;
    return FALSE;
}

}  // namespace

std::size_t pathEndsWith(const std::wstring& path, const std::wstring& relative)
{
    const std::vector<std::wstring> whole = components(path);
    const std::vector<std::wstring> tail = components(relative);
    if (tail.empty() || whole.size() <= tail.size()) return 0;
    for (std::size_t i = 1; i <= tail.size(); ++i)
        if (!sameComponent(whole[whole.size() - i], tail[tail.size() - i])) return 0;
    return tail.size();
}

std::optional<std::wstring> relativeFolder(const std::wstring& path, const std::wstring& folder)
{
    if (path.size() >= PathBuffer || folder.size() >= PathBuffer) return std::nullopt;
    wchar_t relative[PathBuffer]{};
    if (!::PathRelativePathToW(relative, folder.c_str(), FILE_ATTRIBUTE_DIRECTORY, path.c_str(),
                               FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    std::wstring text = relative;
    if (text == L"." || text == L".\\") return std::wstring{};
    wchar_t canonical[PathBuffer]{};
    if (::PathCanonicalizeW(canonical, relative)) text = canonical;
    if (text.rfind(L".\\", 0) == 0) text.erase(0, 2);
    while (!text.empty() && text.back() == L'\\') text.pop_back();
    return text;
}

bool isValidPathText(const std::wstring& text)
{
    for (wchar_t c : text) {
        const UINT type = ::PathGetCharTypeW(c);
        if (type == GCT_INVALID || (type & GCT_WILD)) return false;
    }
    return true;
}

void folderErrorBox(HWND owner, DWORD code)
{
    UINT style = MB_OK | MB_ICONEXCLAMATION;
    const bool rightToLeft = owner ? (::GetWindowLongW(owner, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0
                                   : currentLanguage().rightToLeft;
    if (rightToLeft) style |= MB_RTLREADING;
    const std::wstring text = errorText(code);
    gatedMessageBox(owner, text, {}, style);
}

FolderBrowser::FolderBrowser(std::wstring title) : title_(std::move(title)) {}

FolderBrowser::~FolderBrowser()
{
    if (comStarted_) ::CoUninitialize();
}

void FolderBrowser::setRoot(PIDLIST_ABSOLUTE folder)
{
    root_.reset(folder);
    rootParent_.reset();
}

const std::wstring& FolderBrowser::rootParent()
{
    if (!rootParent_) {
        std::wstring parent = pathOfItem(root());
        if (!parent.empty()) {
            wchar_t buffer[PathBuffer]{};
            parent.copy(buffer, PathBuffer - 1);
            ::PathRemoveFileSpecW(buffer);
            parent = buffer;
        }
        rootParent_ = parent;
    }
    return *rootParent_;
}

void FolderBrowser::prepare(const std::wstring& start, const std::wstring& suffixText)
{
    path_ = start;
    if (path_.empty() || ::PathIsRelativeW(path_.c_str())) path_.clear();
    if (path_.empty() && root_) path_ = pathOfItem(root());
    if (!path_.empty() && path_.back() == L':') path_ += L'\\';
    if (path_.empty()) path_ = documentsFolder();

    if (suffixText.empty()) {
        suffix_.clear();
    } else if (isValidPathText(suffixText)) {
        suffix_ = suffixText;
        while (!suffix_.empty() && suffix_.back() == L'.') suffix_.pop_back();
    }
    applySuffix();
}

void FolderBrowser::applySuffix()
{
    if (suffix_.empty()) return;
    if (!pathEndsWith(path_, suffix_)) {
        // The longest leading part of the suffix that the path already ends
        // with is kept; the rest is appended.
        const std::vector<std::wstring> parts = components(suffix_);
        std::size_t matched = 0;
        for (std::size_t keep = parts.size() - 1; keep > 0; --keep) {
            std::wstring leading;
            for (std::size_t i = 0; i < keep; ++i) appendComponent(leading, parts[i]);
            if (pathEndsWith(path_, leading)) {
                matched = keep;
                break;
            }
        }
        for (std::size_t i = matched; i < parts.size(); ++i) appendComponent(path_, parts[i]);
    }
    if (root_) {
        if (auto relative = relativeFolder(path_, rootParent())) path_ = *relative;
    }
}

bool FolderBrowser::validateTypedText(HWND owner, const std::wstring& typed)
{
    if (typed.size() > PathBuffer - 1) {
        folderErrorBox(owner, HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
        return false;
    }
    std::wstring text = typed;
    trimBlanks(text);
    while (!text.empty() && text.back() == L'\\') text.pop_back();
    if (text.size() == 2 && text[1] == L':') text += L'\\';

    if (text.empty()) {
        wchar_t current[PathBuffer]{};
        const DWORD length = ::GetCurrentDirectoryW(PathBuffer, current);
        if (length == 0 || length >= PathBuffer) {
            folderErrorBox(owner, length ? ERROR_FILENAME_EXCED_RANGE : ::GetLastError());
            return false;
        }
        text = current;
    }

    wchar_t qualified[PathBuffer]{};
    bool ok = false;
    if (root_) {
        // A relative text is taken relative to the Start Menu folder.
        wchar_t saved[PathBuffer]{};
        const DWORD length = ::GetCurrentDirectoryW(PathBuffer, saved);
        if (length == 0 || length >= PathBuffer || !::SetCurrentDirectoryW(rootParent().c_str())) {
            folderErrorBox(owner, length >= PathBuffer ? ERROR_FILENAME_EXCED_RANGE : ::GetLastError());
            return false;
        }
        ok = ::PathSearchAndQualifyW(text.c_str(), qualified, PathBuffer) != FALSE;
        ::SetCurrentDirectoryW(saved);
        if (ok) {
            const std::wstring& parent = rootParent();
            ok = !parent.empty() &&
                 ::PathCommonPrefixW(parent.c_str(), qualified, nullptr) >= static_cast<int>(parent.size());
        }
    } else {
        ok = ::PathSearchAndQualifyW(text.c_str(), qualified, PathBuffer) != FALSE;
    }
    if (ok) ok = isValidPathText(qualified);
    if (!ok) {
        folderErrorBox(owner, ERROR_BAD_PATHNAME);
        return false;
    }
    path_ = qualified;
    pathFromTypedText_ = true;
    return true;
}

std::wstring FolderBrowser::Browse(const std::wstring& start, const std::wstring& suffix, const std::wstring& title)
{
    title_ = title;
    return run(start, suffix) ? path_ : std::wstring{};
}

std::pair<std::wstring, std::wstring> FolderBrowser::BrowseStartMenu(const std::wstring& start,
                                                                     const std::wstring& suffix,
                                                                     const std::wstring& title)
{
    title_ = title;
    PIDLIST_ABSOLUTE programs = nullptr;
    if (SUCCEEDED(::SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_PROGRAMS, &programs)))
        setRoot(programs);
    else
        setRoot(nullptr);
    if (!run(start, suffix)) return {};
    std::wstring relative = path_;
    if (root_) {
        if (auto inside = relativeFolder(path_, rootParent())) relative = *inside;
    }
    return {path_, relative};
}

bool FolderBrowser::run(const std::wstring& start, const std::wstring& suffix)
{
    HWND owner = findOwnerWindow();
    if (!comStarted_) {
        const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (FAILED(hr)) {
            folderErrorBox(owner, static_cast<DWORD>(hr));
            return false;
        }
        comStarted_ = true;
    }
    dialogReady_ = false;
    pathFromTypedText_ = false;
    editBox_ = nullptr;
    startFolder_.clear();
    prepare(start, suffix);

    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.pidlRoot = root();
    info.lpszTitle = title_.empty() ? nullptr : title_.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS | BIF_NEWDIALOGSTYLE;
    if (!suffix_.empty()) info.ulFlags |= BIF_EDITBOX | BIF_VALIDATE;
    info.lpfn = &FolderBrowser::callback;
    info.lParam = reinterpret_cast<LPARAM>(this);

    PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&info);
    if (!chosen) return false;
    const UniqueCoTaskMem ownedChoice(chosen);
    const std::wstring chosenPath = pathOfItem(chosen);
    if (chosenPath.empty()) return false;
    if (!pathFromTypedText_) path_ = chosenPath;
    return true;
}

int CALLBACK FolderBrowser::callback(HWND window, UINT message, LPARAM lParam, LPARAM data) noexcept
{
    try {
        return reinterpret_cast<FolderBrowser*>(data)->onMessage(window, message, lParam);
    } catch (...) {
        return message == BFFM_VALIDATEFAILEDW ? 1 : 0;
    }
}

void FolderBrowser::showPathInEditBox()
{
    if (!editBox_) return;
    ::SetWindowTextW(editBox_, path_.c_str());
    ::SendMessageW(editBox_, EM_SETSEL, 0, -1);
}

int FolderBrowser::onMessage(HWND window, UINT message, LPARAM lParam)
{
    switch (message) {
    case BFFM_INITIALIZED: {
        dialogReady_ = true;
        std::wstring folder = path_;
        if (root_) {
            wchar_t joined[PathBuffer]{};
            folder = ::PathCombineW(joined, rootParent().c_str(), path_.c_str()) ? joined : L"";
        }
        // Start on the nearest folder that exists.
        bool found = false;
        while (!folder.empty() && folder.size() < PathBuffer) {
            if (::PathIsDirectoryW(folder.c_str())) {
                found = true;
                break;
            }
            wchar_t shorter[PathBuffer]{};
            folder.copy(shorter, PathBuffer - 1);
            if (!::PathRemoveFileSpecW(shorter) || folder == shorter) break;
            folder = shorter;
        }
        // The browser can only stand on a folder that exists; while it
        // stands there, the part of the start folder that does not exist
        // yet is kept whole, so that OK gives back the start folder.
        startPath_ = path_;
        startFolder_ = found ? folder : std::wstring{};
        if (found) {
            ::SendMessageW(window, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
            ::SendMessageW(window, BFFM_SETEXPANDED, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
        }
        if (!suffix_.empty()) {
            editBox_ = nullptr;
            ::EnumChildWindows(window, &findEditBox, reinterpret_cast<LPARAM>(&editBox_));
        }
        if (found) showPathInEditBox();
        return 0;
    }
    case BFFM_SELCHANGED: {
        if (!dialogReady_) return 0;
        const std::wstring selected = pathOfItem(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam));
        if (!selected.empty() && !startFolder_.empty() && sameFolderText(selected, startFolder_)) {
            path_ = startPath_;
        } else if (!selected.empty()) {
            path_ = selected;
            applySuffix();
        }
        showPathInEditBox();
        if (suffix_.empty()) ::SendMessageW(window, BFFM_ENABLEOK, 0, selected.empty() ? FALSE : TRUE);
        return 0;
    }
    case BFFM_VALIDATEFAILEDW:
        // 0 closes the browser as confirmed, 1 keeps it open.
        return validateTypedText(window, reinterpret_cast<const wchar_t*>(lParam)) ? 0 : 1;
    default:
        return 0;
    }
}

}  // namespace qv
