#pragma once
// Functions in this file: the one gate every message box of the installer
// and the uninstaller goes through.
//   setMessageBoxStandIn  what takes the place of every box in a run that
//                         nobody watches
//   messageBoxStandIn     the stand-in in force, or null
//   gatedMessageBox       ::MessageBoxW, or the stand-in's answer
//   declinedAnswer        the answer that goes no further for a box style
//
// A run that nobody watches (an unattended installation or removal) must
// never wait for a button. Its start sets a stand-in; from then on no box
// appears, whichever layer asks for one.

#include <windows.h>

#include <string>

namespace qv {

using MessageBoxStandIn = int (*)(const std::wstring& text, UINT type);
// Null: boxes again.
void setMessageBoxStandIn(MessageBoxStandIn standIn) noexcept;
MessageBoxStandIn messageBoxStandIn() noexcept;

// The stand-in's answer when one is set, else the box's (0 when it could
// not be shown). An empty caption is the system's default ("Error").
int gatedMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type);

// No, Cancel or Abort, whichever the style offers; OK for a notice.
int declinedAnswer(UINT type) noexcept;

}  // namespace qv
