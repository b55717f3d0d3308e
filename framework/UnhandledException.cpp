#include "framework/UnhandledException.h"

#include "framework/MessageBox.h"

#include <windows.h>

#include <exception>
#include <string>

namespace qv {

void reportUnhandledException() noexcept
{
    try {
        std::wstring text = L"An unexpected error occurred.";
        try {
            throw;
        } catch (const std::exception& e) {
            // what() is in the ANSI code page (system_error builds it from
            // FormatMessageA).
            const char* what = e.what();
            int length = ::MultiByteToWideChar(CP_ACP, 0, what, -1, nullptr, 0);
            if (length > 1) {
                std::wstring wide(static_cast<size_t>(length), L'\0');
                ::MultiByteToWideChar(CP_ACP, 0, what, -1, wide.data(), length);
                wide.resize(static_cast<size_t>(length) - 1);
                text = wide;
            }
        } catch (...) {
        }
        appMessageBox(text, MB_OK | MB_ICONERROR);
    } catch (...) {
    }
}

}  // namespace qv
