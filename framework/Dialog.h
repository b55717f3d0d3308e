#pragma once
// Classes in this file:
//   CDialog   a dialog built from a dialog template of the resource module:
//             run modally (DoModal) or created as a modeless window, usually a
//             child page of another dialog (Create); data exchange between
//             its controls and its members (DoDataExchange, UpdateData); and
//             virtual handlers for WM_COMMAND, WM_NOTIFY and any other message
//
// The window is subclassed once WM_INITDIALOG arrives, so WindowProc sees
// every later message first and can call DefWindowProc for the system's
// default handling (the dialog manager) before or after its own work.

#include "framework/DataExchange.h"
#include "framework/Wnd.h"

#include <windows.h>

#include <string>

namespace qv {

class CDialog : public CWnd {
public:
    // Nothing is created yet; templateId names a RT_DIALOG resource of
    // resourceInstance(). The parent owns a modal dialog and is the parent of
    // a modeless one; null means the application's main window for a modal
    // dialog, and no parent for a modeless one.
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;  // destroys the window if it still exists

    // Runs the dialog modally: its owner is disabled until the dialog ends.
    // Returns the value given to EndDialog, or -1 when the dialog cannot be
    // created (missing template, failing control class).
    virtual INT_PTR DoModal();

    // Creates the dialog as a modeless window from the template: with the
    // WS_CHILD style of a page template it becomes a child of the parent,
    // otherwise a top-level window owned by it. Visible only if the template
    // says so. Returns false when the window cannot be created.
    bool Create(UINT templateId, CWnd* parent = nullptr);

    // Ends a modal dialog with the given result (DoModal returns it), or
    // destroys a modeless one.
    void EndDialog(INT_PTR result);
    void DestroyWindow();

    // Runs DoDataExchange: saveAndValidate true reads the controls into the
    // members (and may fail validation, which has then shown its message and
    // put the focus on the faulty control), false shows the members in the
    // controls. Returns false only when validation failed.
    bool UpdateData(bool saveAndValidate = true);

    UINT templateId() const noexcept { return templateId_; }
    CWnd* parent() const noexcept { return parent_; }
    bool isModal() const noexcept { return modal_; }

    // Thin helpers over the window's controls.
    HWND GetDlgItem(int id) const noexcept;
    void SetDlgItemText(int id, const std::wstring& text);
    std::wstring GetDlgItemText(int id) const;
    void SetWindowText(const std::wstring& text);
    std::wstring GetWindowText() const;
    void ShowWindow(int command) noexcept;
    // Enables or disables control id (no-op when it does not exist).
    void EnableDlgItem(int id, bool enable) noexcept;
    // Moves the keyboard focus to the control the way the dialog manager
    // does (the default button follows a push button that gets the focus).
    void GotoDlgCtrl(HWND control) noexcept;
    void SetDefID(UINT id) noexcept;

    // The application's message pre-translation offers a message to the
    // dialogs it belongs to, innermost first. The default gives a top-level
    // dialog its keyboard handling (Tab, arrows, Enter, Escape, mnemonics)
    // and consumes what the dialog manager consumed; a child dialog leaves
    // that to the top-level dialog around it.
    virtual bool PreTranslateMessage(MSG& message);

    // The CDialog of a window created by this class, or null.
    static CDialog* fromHandle(HWND window) noexcept;

    // The module whose dialog templates the dialogs use (the executable until
    // set).
    static HINSTANCE resourceInstance() noexcept;
    static void setResourceInstance(HINSTANCE module) noexcept;

protected:
    // Called once the controls exist, before the dialog is shown. The default
    // loads the members into the controls (UpdateData(false)) and returns
    // TRUE, letting the system give the focus to the first tab stop; return
    // FALSE after setting the focus yourself.
    virtual BOOL OnInitDialog();
    // IDOK (Enter, or the OK button): the default saves the data and, when
    // that succeeds, ends a modal dialog with IDOK.
    virtual void OnOK();
    // IDCANCEL (Escape, the Close command, or the Cancel button): the default
    // ends a modal dialog with IDCANCEL.
    virtual void OnCancel();
    // Transfers data in the direction dx names; see DataExchange.h.
    virtual void DoDataExchange(DataExchange& dx);

    // WM_COMMAND: return true when handled. The default sends IDOK to OnOK
    // and IDCANCEL to OnCancel. Commands IDOK and IDCANCEL are dropped while
    // the dialog's button of that identifier exists and is disabled: they can
    // then only come from the keyboard or the Close command, and a disabled
    // button means "not now".
    virtual bool OnCommand(WPARAM wParam, LPARAM lParam);
    // WM_NOTIFY: return true and set *result when handled.
    virtual bool OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result);
    // Every message after WM_INITDIALOG comes here first. The default routes
    // WM_COMMAND and WM_NOTIFY to the handlers above and everything else to
    // DefWindowProc. Override it for other messages and call the base for
    // the rest.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The system's handling of the message (the dialog manager's).
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The window is gone (WM_NCDESTROY); the object lives on.
    virtual void PostNcDestroy() {}

private:
    static INT_PTR CALLBACK dialogProc(HWND, UINT, WPARAM, LPARAM) noexcept;
    static LRESULT CALLBACK subclassProc(HWND, UINT, WPARAM, LPARAM) noexcept;
    void attach(HWND window) noexcept;
    void detach() noexcept;

    UINT templateId_;
    CWnd* parent_;
    bool modal_ = false;
    WNDPROC systemProc_ = nullptr;
};

}  // namespace qv
