#pragma once
// Classes in this file:
//   CWnd   a window of the framework: its handle, and the request to take its
//          texts again from the string table of the current language

#include <windows.h>

namespace qv {

class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd() = default;

    HWND hwnd() const noexcept { return hwnd_; }

    // Called after the interface language changed; windows without texts of
    // their own have nothing to renew.
    virtual void RefreshTexts() {}

protected:
    HWND hwnd_ = nullptr;
};

}  // namespace qv
