#pragma once
// Functions in this file:
//   detectInstallation   what start-up finds installed, into the session

#include "engine/InstallSession.h"

#include <string>

namespace qv {

// Sets installState, previousVersionText and previousVersion of the session
// from the program at programPath (empty: nothing installed).
void detectInstallation(InstallSession& session, const std::wstring& programPath);
// The same for installedProgramPath (identity/Product.h).
void detectInstallation(InstallSession& session);

}  // namespace qv
