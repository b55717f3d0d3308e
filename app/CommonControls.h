#pragma once
// Functions in this file:
//   commonControlsVersion   the version of the common controls the process
//                           uses, major × 65536 + minor

#include <windows.h>

namespace qv {

// What comctl32's DllGetVersion reports; where that is below 6.0 (Wine 8
// reports 5.81 even from its version 6 assembly), the version of the
// side-by-side assembly that the process's activation context binds for
// comctl32.dll, provided the loaded comctl32 really comes from that
// assembly's folder. 0 when nothing can be read. A process without the
// manifest's Common-Controls dependency therefore gets the DLL's own answer.
DWORD commonControlsVersion();

}  // namespace qv
