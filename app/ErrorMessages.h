#pragma once
// Functions in this file: the texts of error codes and the message box of
// start-up errors that come before or outside the wizard.
//   systemErrorText     the system's message for a code
//   errorText           the text to show for a code, the installer's own
//                       customer codes included
//   showMessage         a message box that finds its owner and caption itself
//   reportStartupError  errorText of a code with the exclamation icon
//
// The wizard's questions and start-up's refusals use the framework's message
// box (CWinApp::messageBox), whose caption is the application title.

#include <windows.h>

#include <string>

namespace qv {

// The system message table's text for the code in the language (0: the
// system's choice), without its trailing line breaks. A language without
// texts is asked again with 0. Never fails: a code without text gives the
// text of E_FAIL, and "Error" when even that is missing.
std::wstring systemErrorText(DWORD code, LANGID language = 0);

// A customer code (bit 0x20000000) with bit 0x08000000 names in its low word
// one of the installer's strings (the language's resource module, then the
// executable); other customer codes, and such a string that does not exist,
// give the text of E_FAIL. Every other code gives systemErrorText(code, 0).
std::wstring errorText(DWORD code);

// Shows the text (or, for an identifier below 0x10000 made with
// MAKEINTRESOURCEW, that string of the installer; null: empty) with the
// style. Without an icon in the style, OK and OK/Cancel get the exclamation
// icon and Yes/No(/Cancel) the question icon. Owner and caption come from
// the hooks (UiHooks.h) or, without them, from findOwnerWindow and the
// installer's version label or file name. Returns the button chosen (0 when
// the box could not be shown).
int showMessage(LPCWSTR text, UINT style);
int showMessage(const std::wstring& text, UINT style);

// showMessage(errorText(code), MB_ICONEXCLAMATION); the result is not used.
void reportStartupError(DWORD code);

}  // namespace qv
