#pragma once
// Classes in this file:
//   DataExchange   one transfer between a dialog's controls and its members,
//                  in the direction saveAndValidate names
// Functions in this file (call them from CDialog::DoDataExchange):
//   ddxText       edit or static text  <-> std::wstring
//   ddvMaxChars   limits the last text control; on save, too long fails
//   ddxCheck      check box state (0, 1, 2) <-> int
//   ddxRadio      index of the checked radio button of a group <-> int
//   ddxControl    binds a control's window handle to a member
//
// A failed validation shows its message in the framework's message box, puts
// the focus on the faulty control and abandons the rest of the exchange;
// UpdateData then returns false.

#include <windows.h>

#include <string>

namespace qv {

class CDialog;

class DataExchange {
public:
    DataExchange(CDialog& dialog, bool saveAndValidate) noexcept
        : dialog_(dialog), saveAndValidate(saveAndValidate)
    {
    }

    CDialog& dialog() const noexcept { return dialog_; }

    // The control id, remembered as the one a failure refers to. Throws
    // std::invalid_argument when the dialog has no such control.
    HWND prepareControl(int id);
    HWND lastControl() const noexcept { return lastControl_; }

    // Ends the exchange as failed: focus (and, for an edit box, selection of
    // the whole text) goes to the last prepared control.
    [[noreturn]] void fail();

    // What UpdateData catches; the message has already been shown.
    struct Failure {};

private:
    CDialog& dialog_;
    HWND lastControl_ = nullptr;

public:
    const bool saveAndValidate;
};

void ddxText(DataExchange& dx, int id, std::wstring& value);
// With saveAndValidate false: the last text control accepts at most maxChars
// characters (EM_LIMITTEXT). With true: a value longer than maxChars shows
// "Enter no more than %1 characters." (%1 = maxChars, exclamation icon) and
// fails.
void ddvMaxChars(DataExchange& dx, const std::wstring& value, int maxChars);
void ddxCheck(DataExchange& dx, int id, int& state);
// The group starts at firstId and runs through the following windows up to
// the next one with WS_GROUP; only radio buttons are counted. -1: none
// checked.
void ddxRadio(DataExchange& dx, int firstId, int& index);
void ddxControl(DataExchange& dx, int id, HWND& control);

}  // namespace qv
