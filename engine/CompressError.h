#pragma once
// Classes in this file:
//   CompressError        the codes of the extraction's own error category
//   compress_category()  the category ("compress") those codes belong to
//   errorCodeText()      the text a user sees for any extraction error code

#include <string>
#include <system_error>

namespace qv {

enum class CompressError : int {
    InvalidChecksum = 3,  // a written file's CRC-32 differs from its entry
    Unknown = 4,          // the verification pass rejected the archive
    Interrupted = 5,      // the callback answered Cancel
    Bzip2 = 6,            // corrupt or truncated compressed data
    Unexpected = 7,       // wrong structure, folder lookup failed, anything else
};

const std::error_category& compress_category() noexcept;

inline std::error_code make_error_code(CompressError e) noexcept
{
    return {static_cast<int>(e), compress_category()};
}

// The code as the install page shows it: "1:%08X" for the operating system's
// codes, "2:%08X" for the runtime's error numbers, the decimal value for the
// extraction's own codes and 7 for any other category.
std::wstring errorCodeText(const std::error_code& code);

}  // namespace qv

template <>
struct std::is_error_code_enum<qv::CompressError> : std::true_type {};
