#pragma once
// Classes in this file:
//   randomHexDigits   digits drawn from the system's cryptographic random
//                     numbers, for names nobody can foresee
//
// A name that another user of the machine could guess can be taken first (a
// file, a folder or a link under it). Names made with these digits are not
// guessed; they are still created with CREATE_NEW, so that one taken by
// chance is never reused.

#include <cstddef>
#include <string>

namespace qv {

// count lower-case hexadecimal digits. Throws when the random-number
// provider cannot be opened.
std::wstring randomHexDigits(std::size_t count);

}  // namespace qv
