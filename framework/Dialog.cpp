#include "framework/Dialog.h"

#include "framework/MessageBox.h"
#include "framework/UnhandledException.h"
#include "framework/WinApp.h"

#include <vector>

namespace qv {
namespace {

// The CDialog behind a window; a property rather than DWLP_USER, which
// dialogs of other code in the process (the shell's) may use for themselves.
constexpr wchar_t dialogProperty[] = L"qv.CDialog";

HINSTANCE& templateModule() noexcept
{
    static HINSTANCE module = nullptr;
    return module;
}

bool isDisabledButton(HWND dialog, int id) noexcept
{
    HWND button = ::GetDlgItem(dialog, id);
    return button && !::IsWindowEnabled(button);
}

}  // namespace

CDialog::CDialog(UINT templateId, CWnd* parent) : templateId_(templateId), parent_(parent) {}

CDialog::~CDialog()
{
    DestroyWindow();
}

HINSTANCE CDialog::resourceInstance() noexcept
{
    HINSTANCE module = templateModule();
    return module ? module : ::GetModuleHandleW(nullptr);
}

void CDialog::setResourceInstance(HINSTANCE module) noexcept
{
    templateModule() = module;
}

CDialog* CDialog::fromHandle(HWND window) noexcept
{
    return window ? static_cast<CDialog*>(::GetPropW(window, dialogProperty)) : nullptr;
}

INT_PTR CDialog::DoModal()
{
    if (hwnd_) return -1;
    HWND topLevel = nullptr;
    HWND owner = safeOwner(parent_ ? parent_->hwnd() : nullptr, &topLevel);
    enableModeless(false);
    modal_ = true;
    INT_PTR result = ::DialogBoxParamW(resourceInstance(), MAKEINTRESOURCEW(templateId_), owner,
                                       dialogProc, reinterpret_cast<LPARAM>(this));
    modal_ = false;
    if (topLevel) ::EnableWindow(topLevel, TRUE);
    enableModeless(true);
    return result;
}

bool CDialog::Create(UINT templateId, CWnd* parent)
{
    if (hwnd_) return false;
    templateId_ = templateId;
    parent_ = parent;
    modal_ = false;
    HWND window = ::CreateDialogParamW(resourceInstance(), MAKEINTRESOURCEW(templateId_),
                                       parent_ ? parent_->hwnd() : nullptr, dialogProc,
                                       reinterpret_cast<LPARAM>(this));
    return window != nullptr;
}

void CDialog::EndDialog(INT_PTR result)
{
    if (!hwnd_) return;
    if (modal_)
        ::EndDialog(hwnd_, result);
    else
        DestroyWindow();
}

void CDialog::DestroyWindow()
{
    if (!hwnd_) return;
    HWND window = hwnd_;
    // Detach first: the derived part of the object may already be gone when
    // this runs from the destructor, so no virtual handler may see the
    // window's last messages.
    detach();
    ::DestroyWindow(window);
}

bool CDialog::UpdateData(bool saveAndValidate)
{
    DataExchange dx(*this, saveAndValidate);
    try {
        DoDataExchange(dx);
    } catch (const DataExchange::Failure&) {
        return false;
    }
    return true;
}

HWND CDialog::GetDlgItem(int id) const noexcept
{
    return hwnd_ ? ::GetDlgItem(hwnd_, id) : nullptr;
}

void CDialog::SetDlgItemText(int id, const std::wstring& text)
{
    ::SetDlgItemTextW(hwnd_, id, text.c_str());
}

namespace {
std::wstring windowText(HWND window)
{
    if (!window) return {};
    int length = ::GetWindowTextLengthW(window);
    if (length <= 0) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int copied = ::GetWindowTextW(window, text.data(), length + 1);
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}
}  // namespace

std::wstring CDialog::GetDlgItemText(int id) const
{
    return windowText(GetDlgItem(id));
}

void CDialog::SetWindowText(const std::wstring& text)
{
    ::SetWindowTextW(hwnd_, text.c_str());
}

std::wstring CDialog::GetWindowText() const
{
    return windowText(hwnd_);
}

void CDialog::ShowWindow(int command) noexcept
{
    if (hwnd_) ::ShowWindow(hwnd_, command);
}

void CDialog::EnableDlgItem(int id, bool enable) noexcept
{
    if (HWND control = GetDlgItem(id)) ::EnableWindow(control, enable ? TRUE : FALSE);
}

void CDialog::GotoDlgCtrl(HWND control) noexcept
{
    if (hwnd_ && control) ::SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

void CDialog::SetDefID(UINT id) noexcept
{
    if (hwnd_) ::SendMessageW(hwnd_, DM_SETDEFID, id, 0);
}

bool CDialog::PreTranslateMessage(MSG& message)
{
    if (!hwnd_ || (::GetWindowLongW(hwnd_, GWL_STYLE) & WS_CHILD)) return false;
    return ::IsDialogMessageW(hwnd_, &message) != FALSE;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(false);
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(true)) return;
    if (modal_) EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    if (modal_) EndDialog(IDCANCEL);
}

void CDialog::DoDataExchange(DataExchange&) {}

bool CDialog::OnCommand(WPARAM wParam, LPARAM)
{
    const int id = LOWORD(wParam);
    if (HIWORD(wParam) != BN_CLICKED || (id != IDOK && id != IDCANCEL)) return false;
    if (isDisabledButton(hwnd_, id)) return true;
    if (id == IDOK)
        OnOK();
    else
        OnCancel();
    return true;
}

bool CDialog::OnNotify(WPARAM, LPARAM, LRESULT*)
{
    return false;
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (OnCommand(wParam, lParam)) return 0;
        break;
    case WM_NOTIFY: {
        LRESULT result = 0;
        if (OnNotify(wParam, lParam, &result)) return result;
        break;
    }
    default:
        break;
    }
    return DefWindowProc(message, wParam, lParam);
}

LRESULT CDialog::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    return systemProc_ ? ::CallWindowProcW(systemProc_, hwnd_, message, wParam, lParam)
                       : ::DefDlgProcW(hwnd_, message, wParam, lParam);
}

void CDialog::attach(HWND window) noexcept
{
    hwnd_ = window;
    ::SetPropW(window, dialogProperty, this);
    systemProc_ = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
        window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CDialog::subclassProc)));
}

void CDialog::detach() noexcept
{
    if (!hwnd_) return;
    ::RemovePropW(hwnd_, dialogProperty);
    if (systemProc_ && reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hwnd_, GWLP_WNDPROC)) ==
                           &CDialog::subclassProc)
        ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(systemProc_));
    systemProc_ = nullptr;
    hwnd_ = nullptr;
}

// Only WM_INITDIALOG is ours here: by then the window is subclassed, and every
// other message reaching this procedure comes from DefWindowProc asking for
// the default handling, which FALSE gives.
INT_PTR CALLBACK CDialog::dialogProc(HWND window, UINT message, WPARAM, LPARAM lParam) noexcept
{
    if (message != WM_INITDIALOG) return FALSE;
    auto* self = reinterpret_cast<CDialog*>(lParam);
    if (!self) return TRUE;
    self->attach(window);
    try {
        return self->OnInitDialog();
    } catch (...) {
        reportUnhandledException();
        return TRUE;
    }
}

LRESULT CALLBACK CDialog::subclassProc(HWND window, UINT message, WPARAM wParam,
                                       LPARAM lParam) noexcept
{
    CDialog* self = fromHandle(window);
    if (!self) return ::DefDlgProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        WNDPROC system = self->systemProc_;
        self->detach();
        LRESULT result = ::CallWindowProcW(system, window, message, wParam, lParam);
        try {
            self->PostNcDestroy();
        } catch (...) {
            reportUnhandledException();
        }
        return result;
    }
    try {
        return self->WindowProc(message, wParam, lParam);
    } catch (...) {
        reportUnhandledException();
        return 0;
    }
}

}  // namespace qv
