#include "framework/DataExchange.h"

#include "framework/Dialog.h"
#include "sys/TextFormat.h"
#include "framework/MessageBox.h"

#include <stdexcept>
#include <string>

namespace qv {
namespace {

bool isEditControl(HWND control) noexcept
{
    wchar_t name[16] = {};
    ::GetClassNameW(control, name, 16);
    return ::lstrcmpiW(name, L"Edit") == 0;
}

}  // namespace

HWND DataExchange::prepareControl(int id)
{
    HWND control = dialog_.GetDlgItem(id);
    if (!control) throw std::invalid_argument("data exchange with a control the dialog does not have");
    lastControl_ = control;
    return control;
}

void DataExchange::fail()
{
    if (lastControl_) {
        dialog_.GotoDlgCtrl(lastControl_);
        if (isEditControl(lastControl_)) ::SendMessageW(lastControl_, EM_SETSEL, 0, -1);
    }
    throw Failure{};
}

void ddxText(DataExchange& dx, int id, std::wstring& value)
{
    HWND control = dx.prepareControl(id);
    if (dx.saveAndValidate)
        value = dx.dialog().GetDlgItemText(id);
    else
        ::SetWindowTextW(control, value.c_str());
}

void ddvMaxChars(DataExchange& dx, const std::wstring& value, int maxChars)
{
    if (!dx.saveAndValidate) {
        if (dx.lastControl() && isEditControl(dx.lastControl()))
            ::SendMessageW(dx.lastControl(), EM_LIMITTEXT, static_cast<WPARAM>(maxChars), 0);
        return;
    }
    if (value.size() <= static_cast<size_t>(maxChars)) return;
    appMessageBox(formatText(L"Enter no more than %1 characters.", {std::to_wstring(maxChars)}),
                  MB_ICONEXCLAMATION);
    dx.fail();
}

void ddxCheck(DataExchange& dx, int id, int& state)
{
    HWND control = dx.prepareControl(id);
    if (dx.saveAndValidate)
        state = static_cast<int>(::SendMessageW(control, BM_GETCHECK, 0, 0));
    else
        ::SendMessageW(control, BM_SETCHECK, static_cast<WPARAM>(state), 0);
}

void ddxRadio(DataExchange& dx, int firstId, int& index)
{
    HWND control = dx.prepareControl(firstId);
    if (dx.saveAndValidate) index = -1;
    int position = 0;
    do {
        if (::SendMessageW(control, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON) {
            if (dx.saveAndValidate) {
                if (::SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED) index = position;
            } else {
                ::SendMessageW(control, BM_SETCHECK, position == index ? BST_CHECKED : BST_UNCHECKED, 0);
            }
            ++position;
        }
        control = ::GetWindow(control, GW_HWNDNEXT);
    } while (control && !(::GetWindowLongW(control, GWL_STYLE) & WS_GROUP));
}

void ddxControl(DataExchange& dx, int id, HWND& control)
{
    control = dx.prepareControl(id);
}

}  // namespace qv
