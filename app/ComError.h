#pragma once
// Functions in this file: the handler for errors of the component-object
// layer (CoCreateInstance and the interfaces it gives).
//   setComErrorHandler   installs the process's handler (application
//                        initialisation)
//   raiseComError        hands a failed HRESULT to it

#include <windows.h>

namespace qv {

using ComErrorHandler = void (*)(HRESULT);

// Returns the handler installed before.
ComErrorHandler setComErrorHandler(ComErrorHandler handler) noexcept;

// The handler the application initialisation installs: throws
// std::system_error carrying the HRESULT in the system category.
[[noreturn]] void throwComErrorAsSystemError(HRESULT code);

// Calls the installed handler; when there is none, or it returns, throws as
// throwComErrorAsSystemError does.
[[noreturn]] void raiseComError(HRESULT code);

}  // namespace qv
