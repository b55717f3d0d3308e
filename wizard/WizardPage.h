#pragma once
// Classes in this file:
//   CWizardPage   what every page of the wizard offers its frame: creation as
//                 a hidden child, texts from the string table, a one-time
//                 stretch to the frame's page area, pictures for the screen's
//                 DPI, and data exchange with the session (UpdateData(false)
//                 loads, UpdateData(true) saves and may fail validation)

#include "framework/Dialog.h"

#include <windows.h>

#include <string>

namespace qv {

struct InstallSession;

class CWizardPage : public CDialog {
public:
    CWizardPage(UINT templateId, InstallSession& session) : CDialog(templateId), session_(session) {}

    // Called once, after the frame made the page dx wider and dy taller than
    // its template (both zero or positive).
    virtual void StretchControls(int dx, int dy) = 0;

    // The wizard moved to a screen of another DPI (or starts on one): a page
    // that draws pictures of its own takes those for dpi. Windows scales the
    // controls and their fonts itself.
    virtual void FollowDpi(UINT /*dpi*/) {}

    // Session state to controls, and back; a failed save has shown its
    // message and the page must stay.
    void load() { UpdateData(false); }
    bool save() { return UpdateData(true); }

protected:
    InstallSession& session() const noexcept { return session_; }

    // Moves control id by (moveX, moveY) and makes it growX wider and growY
    // taller, without repainting (the page is laid out while hidden).
    void adjustControl(int id, int moveX, int moveY, int growX, int growY) noexcept;
    // The text of a base string identifier in the current language, with
    // %1 and %2 replaced.
    static std::wstring text(UINT baseId);
    static std::wstring text(UINT baseId, const std::wstring& first);
    static std::wstring text(UINT baseId, const std::wstring& first, const std::wstring& second);

private:
    InstallSession& session_;
};

}  // namespace qv
