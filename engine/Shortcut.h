#pragma once
// Functions in this file:
//   createShortcut   writes one shell link (.lnk) file

#include "sys/StagedFile.h"

#include <string>

namespace qv {

// Writes "<folder>\<name>.lnk", a shell link to `target` whose working folder
// is the target's folder; an existing file of that name is replaced. Without
// a name (null) the target's file name without its extension is used. The
// folder must exist: nothing is created here. `createdPath`, when given,
// receives the link's full path only on success. Initialises COM for the
// calling thread around the work and leaves its apartment as it was; a thread
// in the multithreaded apartment gets false. Every failure is reported by
// the false result alone. The link is saved under a temporary name in the
// folder (sys/StagedFile.h's, told to announce first) and moved into place
// complete; a temporary file that could not be moved is deleted.
bool createShortcut(const std::wstring& target, const std::wstring& folder,
                    const wchar_t* name = nullptr, std::wstring* createdPath = nullptr,
                    const StagedFile::Announce& announce = {});

}  // namespace qv
