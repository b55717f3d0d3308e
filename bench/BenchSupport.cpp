#include "bench/BenchSupport.h"

#include "lang/LocalizedStrings.h"
#include "identity/Product.h"
#include "engine/FolderMacros.h"
#include "sys/TextFormat.h"
#include "resources/resource.h"

#include <windows.h>
#include <shlobj.h>

#include <boost/filesystem/operations.hpp>

namespace qv::bench {

double now()
{
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void removeTree(const std::wstring& path)
{
    boost::system::error_code ec;
    for (boost::filesystem::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
        ::SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    boost::filesystem::remove_all(path, ec);
}

void removeInstallations(const std::vector<std::wstring>& folders)
{
    removeTree(lookupFolder(CSIDL_COMMON_APPDATA) + L"\\Orvane Systems");
    removeTree(lookupFolder(CSIDL_APPDATA) + L"\\Orvane Systems");
    const std::wstring desktop = lookupFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
    removeTree(desktop + L"\\" + formatText(loadLocalizedString(IDS_EXAMPLES_FOLDER), {productLabel(true)}));
    ::DeleteFileW((desktop + L"\\" + productLabel(false) + L".lnk").c_str());
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (UninstallKeyPath + productKeyName(productCode)).c_str());
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, MakerKeyPath);
    // The document type the program's registration run writes.
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L".qvn");
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Orvane.QuorvexNotebook.6");
    for (const std::wstring& folder : folders)
        if (!folder.empty()) removeTree(folder);
}

}  // namespace qv::bench
