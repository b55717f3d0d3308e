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
#include <string>

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
    const HRESULT initialised = ::CoInitialize(nullptr);
    if (initialised != S_OK && initialised != S_FALSE) return false;
    auto uninitialise = scopeExit([] { ::CoUninitialize(); });

    // The link's bytes are made in memory: IPersistFile::Save would write
    // them by path, through whatever a user put at that name meanwhile.
    std::string bytes;
    {
        ComPtr<IShellLinkW> link;
        if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                      link.putVoid())))
            return false;
        link->SetPath(target.c_str());
        link->SetWorkingDirectory(workingFolder);
        ComPtr<IPersistStream> persist;
        if (FAILED(link.queryInterface(persist))) return false;
        ComPtr<IStream> stream;
        if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()))) return false;
        if (FAILED(persist->Save(stream.get(), TRUE))) return false;
        HGLOBAL memory = nullptr;
        if (FAILED(::GetHGlobalFromStream(stream.get(), &memory))) return false;
        ULARGE_INTEGER size{};
        if (FAILED(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &size))) return false;
        const void* data = ::GlobalLock(memory);
        if (!data) return false;
        bytes.assign(static_cast<const char*>(data), static_cast<std::size_t>(size.QuadPart));
        ::GlobalUnlock(memory);
    }  // the interfaces are released before COM is uninitialised

    // Written to a file created new under a temporary name in the checked
    // folder (named to announce first), and moved into place complete by
    // its handle: a process that ends meanwhile never leaves a cut-off
    // shortcut under the link's name, and nothing is written through a
    // link or another name of a file.
    try {
        StagedFile staged(linkPath, announce);
        staged.write(bytes.data(), bytes.size());
        staged.flush();
        staged.commit();
    } catch (...) {
        return false;
    }
    if (createdPath) *createdPath = linkPath;
    return true;
}

}  // namespace qv
