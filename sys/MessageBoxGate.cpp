#include "sys/MessageBoxGate.h"

namespace qv {

namespace {

MessageBoxStandIn& standInSlot() noexcept
{
    static MessageBoxStandIn standIn = nullptr;
    return standIn;
}

}  // namespace

void setMessageBoxStandIn(MessageBoxStandIn standIn) noexcept
{
    standInSlot() = standIn;
}

MessageBoxStandIn messageBoxStandIn() noexcept
{
    return standInSlot();
}

int gatedMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type)
{
    if (MessageBoxStandIn standIn = standInSlot()) return standIn(text, type);
    return ::MessageBoxW(owner, text.c_str(), caption.empty() ? nullptr : caption.c_str(), type);
}

int declinedAnswer(UINT type) noexcept
{
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
    case MB_RETRYCANCEL:
    case MB_YESNOCANCEL:
    case MB_CANCELTRYCONTINUE: return IDCANCEL;
    case MB_YESNO: return IDNO;
    case MB_ABORTRETRYIGNORE: return IDABORT;
    default: return IDOK;
    }
}

}  // namespace qv
