#include "app/ErrorMessages.h"

#include "lang/Languages.h"
#include "lang/LocalizedStrings.h"
#include "sys/OwnerWindow.h"
#include "app/UiHooks.h"
#include "framework/MessageBox.h"
#include "framework/WinApp.h"
#include "sys/ModulePath.h"
#include "sys/Handles.h"
#include "identity/VersionLabel.h"
#include "sys/VersionInfo.h"
#include "sys/MessageBoxGate.h"

namespace qv {
namespace {

constexpr DWORD CustomerCode = 0x20000000;
constexpr DWORD OwnStringCode = 0x08000000;


std::wstring installerString(UINT id)
{
    std::wstring text = loadResourceString(id);
    HMODULE self = ::GetModuleHandleW(nullptr);
    if (text.empty() && currentLanguage().resourceModule != self) {
        const wchar_t* own = nullptr;
        int length = ::LoadStringW(self, id, reinterpret_cast<LPWSTR>(&own), 0);
        if (length > 0 && own) text.assign(own, static_cast<size_t>(length));
    }
    return text;
}

}  // namespace

std::wstring systemErrorText(DWORD code, LANGID language)
{
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                        FORMAT_MESSAGE_ALLOCATE_BUFFER;
    UniqueLocal buffer;
    auto ask = [&](LANGID lang) {
        wchar_t* text = nullptr;
        DWORD length = ::FormatMessageW(flags, nullptr, code, lang, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
        buffer.reset(text);
        return length;
    };
    DWORD length = ask(language);
    if (length == 0 && ::GetLastError() == ERROR_RESOURCE_LANG_NOT_FOUND) length = ask(0);
    if (length != 0 && buffer) {
        std::wstring text(static_cast<const wchar_t*>(buffer.get()), length);
        while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
        return text;
    }
    if (code == static_cast<DWORD>(E_FAIL)) return L"Error";
    return systemErrorText(static_cast<DWORD>(E_FAIL), language);
}

std::wstring errorText(DWORD code)
{
    if (!(code & CustomerCode)) return systemErrorText(code, 0);
    if (code & OwnStringCode) {
        std::wstring text = installerString(LOWORD(code));
        if (!text.empty()) return text;
    }
    return systemErrorText(static_cast<DWORD>(E_FAIL), 0);
}

int showMessage(LPCWSTR text, UINT style)
{
    std::wstring message;
    if (IS_INTRESOURCE(text)) {
        if (text) message = installerString(static_cast<UINT>(reinterpret_cast<ULONG_PTR>(text)));
    } else {
        message = text;
    }
    return showMessage(message, style);
}

int showMessage(const std::wstring& text, UINT style)
{
    if (MessageBoxStandIn standIn = messageBoxStandIn()) return standIn(text, style);
    UiHooks& hooks = uiHooks();
    HWND owner = nullptr, topLevel = nullptr;
    if (hooks.ownerHook)
        std::tie(owner, topLevel) = hooks.ownerHook();
    else
        owner = findOwnerWindow();

    int result = 0;
    try {
        if (hooks.modalHook) hooks.modalHook(false);
        // With its top level disabled, the owner itself must be enabled, or
        // the focus would not come back to it when the box closes.
        if (owner && owner != topLevel) ::EnableWindow(owner, TRUE);

        if ((style & MB_ICONMASK) == 0) {
            switch (style & MB_TYPEMASK) {
            case MB_OK:
            case MB_OKCANCEL: style |= MB_ICONEXCLAMATION; break;
            case MB_YESNOCANCEL:
            case MB_YESNO: style |= MB_ICONQUESTION; break;
            default: break;
            }
        }
        if (owner) {
            if (::GetWindowLongW(owner, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) style |= MB_RTLREADING;
        } else if (isRightToLeft(languageFromUserLocale(0))) {
            style |= MB_RTLREADING;
        }

        std::wstring caption = hooks.captionHook ? hooks.captionHook() : std::wstring();
        if (caption.empty()) caption = displayLabel(VersionInfo::ofSelf());
        if (caption.empty()) caption = executableStem();

        result = gatedMessageBox(owner, text, caption, style);
    } catch (...) {
        result = 0;
    }
    if (topLevel) ::EnableWindow(topLevel, TRUE);
    if (hooks.modalHook) hooks.modalHook(true);
    return result;
}

void reportStartupError(DWORD code)
{
    showMessage(errorText(code), MB_ICONEXCLAMATION);
}

}  // namespace qv
