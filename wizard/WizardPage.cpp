#include "wizard/WizardPage.h"

#include "lang/LocalizedStrings.h"
#include "sys/TextFormat.h"

#include <commctrl.h>

namespace qv {

void CWizardPage::adjustControl(int id, int moveX, int moveY, int growX, int growY) noexcept
{
    HWND control = GetDlgItem(id);
    if (!control) return;
    RECT r{};
    ::GetWindowRect(control, &r);
    int height = r.bottom - r.top;
    // A combo box's window height includes its drop-down list, but
    // GetWindowRect reports only the closed part: take the list's bottom,
    // or the list would shrink to nothing.
    wchar_t cls[32]{};
    ::GetClassNameW(control, cls, 32);
    HWND combo = nullptr;
    if (::lstrcmpiW(cls, WC_COMBOBOXEXW) == 0)
        combo = reinterpret_cast<HWND>(::SendMessageW(control, CBEM_GETCOMBOCONTROL, 0, 0));
    else if (::lstrcmpiW(cls, L"ComboBox") == 0)
        combo = control;
    if (combo) {
        RECT dropped{};
        if (::SendMessageW(combo, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped)) &&
            dropped.bottom > r.bottom)
            height = dropped.bottom - r.top;
    }
    ::MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&r), 2);
    ::SetWindowPos(control, nullptr, r.left + moveX, r.top + moveY, r.right - r.left + growX, height + growY,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
}

std::wstring CWizardPage::text(UINT baseId)
{
    return loadLocalizedString(baseId);
}

std::wstring CWizardPage::text(UINT baseId, const std::wstring& first)
{
    return formatText(loadLocalizedString(baseId), {first});
}

std::wstring CWizardPage::text(UINT baseId, const std::wstring& first, const std::wstring& second)
{
    return formatText(loadLocalizedString(baseId), {first, second});
}

}  // namespace qv
