#include "engine/Shortcut.h"

#include "sys/Handles.h"
#include "sys/PathGuard.h"
#include "sys/StagedFile.h"

#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>

namespace qv {

namespace {

// Copies `text` into a MAX_PATH buffer; false if it would not fit.
bool copyPath(wchar_t (&buffer)[MAX_PATH], const wchar_t* text)
{
    const size_t length = std::wcslen(text);
    if (length >= MAX_PATH) return false;
    std::wmemcpy(buffer, text, length + 1);
    return true;
}

}  // namespace

bool createShortcut(const std::wstring& target, const std::wstring& folder, const wchar_t* name,
                    std::wstring* createdPath, const StagedFile::Announce& announce)
{
    // PathRemoveFileSpecW also "removes" a bare file name and leaves an
    // empty string: a target without a folder has no working folder and
    // would be resolved against whatever the current folder is.
    wchar_t workingFolder[MAX_PATH];
    if (!copyPath(workingFolder, target.c_str()) || !::PathRemoveFileSpecW(workingFolder) ||
        workingFolder[0] == L'\0')
        return false;

    wchar_t linkName[MAX_PATH];
    if (name) {
        if (!copyPath(linkName, name)) return false;
    } else {
        if (!copyPath(linkName, ::PathFindFileNameW(target.c_str()))) return false;
        ::PathRemoveExtensionW(linkName);
    }
    // An empty name would turn "<folder>" into "<folder>.lnk", beside the folder.
    if (linkName[0] == L'\0' || folder.empty()) return false;

    wchar_t linkPath[MAX_PATH];
    if (!copyPath(linkPath, folder.c_str()) || !::PathAppendW(linkPath, linkName)) return false;
    const size_t length = std::wcslen(linkPath);
    if (length + 4 >= MAX_PATH) return false;
    std::wmemcpy(linkPath + length, L".lnk", 5);

    // S_FALSE: the thread was already in a single-threaded apartment; it is
    // balanced by the CoUninitialize below all the same. RPC_E_CHANGED_MODE
    // (a multithreaded apartment) must not be uninitialised.
    // Saved under a temporary name beside it (named to announce first) and
    // moved into place complete: a process that ends meanwhile never leaves
    // a cut-off shortcut under the link's name.
    const std::wstring staging = stagingName(folder);
    if (staging.empty()) return false;
    try {
        if (announce) announce(linkPath, staging);
    } catch (...) {
        return false;
    }

    const HRESULT initialised = ::CoInitialize(nullptr);
    if (initialised != S_OK && initialised != S_FALSE) return false;
    auto uninitialise = scopeExit([] { ::CoUninitialize(); });

    HRESULT hr;
    {
        ComPtr<IShellLinkW> link;
        hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.putVoid());
        if (SUCCEEDED(hr)) {
            link->SetPath(target.c_str());
            link->SetWorkingDirectory(workingFolder);
            ComPtr<IPersistFile> file;
            hr = link.queryInterface(file);
            if (SUCCEEDED(hr)) hr = file->Save(staging.c_str(), TRUE);
        }
    }  // the interfaces are released before COM is uninitialised
    bool placed = false;
    if (SUCCEEDED(hr)) {
        try {
            putInPlace(staging, linkPath);
            placed = true;
        } catch (...) {
        }
    }
    if (!placed) {
        removeChecked(staging, Removable::File);
        return false;
    }
    if (createdPath) *createdPath = linkPath;
    return true;
}

}  // namespace qv
