#pragma once
// Functions in this file:
//   findOwnerWindow   the window that should own a dialog of this thread

#include <windows.h>

namespace qv {

// The last active pop-up of the root owner of the thread's active window, or,
// with no active window, of the first window of the thread (in the system's
// order) whose root owner has a caption; null when the thread has none.
HWND findOwnerWindow() noexcept;

}  // namespace qv
