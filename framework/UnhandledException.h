#pragma once
// Functions in this file:
//   reportUnhandledException   the framework's last word on an exception that
//                              reached a window procedure

namespace qv {

// Call only from a catch block. Window and dialog procedures catch every
// exception at their edge (it must not unwind through the system's frames)
// and report it here: a framework message box with the error icon and the
// exception's text, or a general text for exceptions without one.
void reportUnhandledException() noexcept;

}  // namespace qv
