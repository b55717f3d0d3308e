#include "sys/InteractiveDesktop.h"

#include "sys/Security.h"

#include <windows.h>

namespace qv {

bool hasInteractiveDesktop() noexcept
{
    if (isLocalSystem()) return false;
    DWORD session = 0;
    if (::ProcessIdToSessionId(::GetCurrentProcessId(), &session) && session == 0) return false;
    // The window station is the process's own: not to be closed.
    if (HWINSTA station = ::GetProcessWindowStation()) {
        USEROBJECTFLAGS flags{};
        DWORD needed = 0;
        if (::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) &&
            !(flags.dwFlags & WSF_VISIBLE))
            return false;
    }
    return true;
}

}  // namespace qv
