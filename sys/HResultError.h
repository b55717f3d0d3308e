#pragma once
// Classes in this file:
//   HResultError       the exception of the security layer: one 32-bit HRESULT
//   throwHResult       throws it
//   throwLastError     throws HRESULT_FROM_WIN32 of the thread's last error

#include <windows.h>

#include <exception>

namespace qv {

class HResultError : public std::exception {
public:
    explicit HResultError(HRESULT code) noexcept : code_(code) {}
    HRESULT code() const noexcept { return code_; }
    const char* what() const noexcept override { return "security layer failure"; }

private:
    HRESULT code_;
};

[[noreturn]] inline void throwHResult(HRESULT code)
{
    throw HResultError(code);
}

// A negative last error is already an HRESULT and passes unchanged. A call
// that fails without setting the last error throws E_FAIL: an exception that
// carried S_OK would read as success to whoever turns it into a code.
[[noreturn]] inline void throwLastError()
{
    const DWORD error = ::GetLastError();
    throwHResult(error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error));
}

}  // namespace qv
