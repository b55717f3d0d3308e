#include "sys/UnattendedProcess.h"

#include "sys/MessageBoxGate.h"

#include <exception>

namespace qv {

namespace {

struct Unattended {
    CurrentLog log = nullptr;
    UINT failureCode = 1;
};

Unattended& unattended() noexcept
{
    static Unattended state;
    return state;
}

void writeLine(const std::wstring& line) noexcept
{
    try {
        if (LogFile* log = unattended().log ? unattended().log() : nullptr) log->write(line);
    } catch (...) {
    }
}

int logInsteadOfBox(const std::wstring& text, UINT type)
{
    writeLine(L"Not shown (silent run): " + text);
    return declinedAnswer(type);
}

[[noreturn]] void endOnTerminate()
{
    const UINT code = unattended().failureCode;
    writeLine(L"Unexpected error: the run ends");
    writeLine(L"Exit code: " + std::to_wstring(static_cast<int>(code)));
    ::ExitProcess(code);
}

}  // namespace

void enterUnattendedProcess(CurrentLog log, UINT failureCode) noexcept
{
    unattended() = Unattended{log, failureCode};
    setMessageBoxStandIn(&logInsteadOfBox);
    std::set_terminate(&endOnTerminate);
    ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

std::wstring currentExceptionText()
{
    try {
        throw;
    } catch (const std::exception& e) {
        // what() is in the ANSI code page (system_error builds it from
        // FormatMessageA).
        const char* what = e.what();
        const int length = ::MultiByteToWideChar(CP_ACP, 0, what, -1, nullptr, 0);
        if (length > 1) {
            std::wstring wide(static_cast<std::size_t>(length), L'\0');
            ::MultiByteToWideChar(CP_ACP, 0, what, -1, wide.data(), length);
            wide.resize(static_cast<std::size_t>(length) - 1);
            return wide;
        }
    } catch (...) {
    }
    return L"an exception without a text";
}

}  // namespace qv
