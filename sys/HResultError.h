#pragma once
// Classes in this file:
//   HResultError       the exception of the security layer: one 32-bit HRESULT
//   throwHResult       throws it
//   throwLastError     throws HRESULT_FROM_WIN32 of the thread's last error
//   setLastErrorFromException  the thread's last error from the exception
//                      being handled

#include <windows.h>

#include <exception>
#include <system_error>

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

// For a function that reports failure by its result and the last error:
// called in a catch block, it sets the code a std::system_error carries, the
// Win32 code of an HResultError's (its HRESULT when it has none), and
// ERROR_WRITE_FAULT for anything else.
inline void setLastErrorFromException() noexcept
{
    try {
        throw;
    } catch (const std::system_error& e) {
        ::SetLastError(static_cast<DWORD>(e.code().value()));
    } catch (const HResultError& e) {
        ::SetLastError(HRESULT_FACILITY(e.code()) == FACILITY_WIN32 ? HRESULT_CODE(e.code())
                                                                    : static_cast<DWORD>(e.code()));
    } catch (...) {
        ::SetLastError(ERROR_WRITE_FAULT);
    }
}

}  // namespace qv
