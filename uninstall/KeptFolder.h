#pragma once
// Classes in this file:
//   KeptFolder   where the recovery of an unfinished run keeps the earlier
//                files it could not put back, once it lets the run go
//
// A run whose earlier files cannot go back to their places (the place is a
// link or a folder somebody made now, a name the administrators may not
// replace, a volume that is gone) must not keep every later installation
// from starting. Its backups then leave the run folder for a folder of
// their own beside it, each under the name of the file it was, and the
// run's journal and marker go. The folder is made as a run folder is
// (sys/RunFolder.h): administrators and SYSTEM only, under a name nobody
// can predict ("Quorvex 6 Kept Files orvane_{<uuid>}"), so that nothing a
// user planted can take what is moved there.

#include "sys/RunFolder.h"

#include <optional>
#include <string>

namespace qv {

class KeptFolder {
public:
    // besideFolder: the run folder, whose parent holds the kept folder (the
    // same volume: the backups are renamed into it, never copied).
    explicit KeptFolder(std::wstring besideFolder);

    // Moves the backup (a file in the run folder, opened as itself) into the
    // kept folder under the name of the file at belongedTo, made on first
    // use. The path it has there, or empty when it could not be moved (it
    // then stays where it is). Never throws.
    std::wstring keep(const std::wstring& backup, const std::wstring& belongedTo) noexcept;

    // The folder, once made; empty before.
    std::wstring path() const;

private:
    std::wstring parent_;
    std::optional<RunFolder> folder_;
};

}  // namespace qv
