#pragma once
// Functions in this file:
//   hasInteractiveDesktop   whether a window of this process can be seen
//
// A deployment tool's service runs the installer as SYSTEM in session 0,
// on a window station without a visible desktop: a window there waits for
// ever for a click nobody can give.

namespace qv {

// False when the process runs as LocalSystem, in session 0, or on a window
// station that is not visible (WSF_VISIBLE); true otherwise, and when the
// system does not tell (a window is what an ordinary run shows). Never
// throws.
bool hasInteractiveDesktop() noexcept;

}  // namespace qv
