#include "uninstall/KeptFolder.h"

#include "identity/Product.h"
#include "sys/Handles.h"
#include "sys/PathGuard.h"
#include "sys/PathText.h"
#include "uninstall/RunFolderName.h"

#include <windows.h>

namespace qv {

KeptFolder::KeptFolder(std::wstring besideFolder) : parent_(parentOf(besideFolder)) {}

std::wstring KeptFolder::path() const
{
    return folder_ ? folder_->path() : std::wstring();
}

std::wstring KeptFolder::keep(const std::wstring& backup, const std::wstring& belongedTo) noexcept
{
    try {
        if (!folder_) {
            std::optional<RunFolder> made = RunFolder::create(parent_ + L"\\" + productKeyName(productCode) +
                                                              L" Kept Files " + newRunFolderName());
            if (!made) return {};
            folder_.emplace(std::move(*made));
        }
        // The backup as itself: a link or one name of several moves as the
        // name it is, nothing behind it is touched.
        CheckedHandle file = openChecked(backup, DELETE | FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                                         LinkItself | SeveralNames);
        if (!file || file.isFolder()) return {};
        const std::wstring name = nameOf(belongedTo).empty() ? nameOf(backup) : nameOf(belongedTo);
        // Two earlier files of one name (from two folders) get a number.
        for (int n = 1; n < 100; ++n) {
            const std::wstring target =
                folder_->path() + L"\\" + (n == 1 ? name : std::to_wstring(n) + L" " + name);
            if (renameOpenFile(file.handle.get(), target, false)) return target;
            if (::GetLastError() != ERROR_ALREADY_EXISTS && ::GetLastError() != ERROR_FILE_EXISTS) return {};
        }
    } catch (...) {
    }
    return {};
}

}  // namespace qv
