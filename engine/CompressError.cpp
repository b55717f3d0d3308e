#include "engine/CompressError.h"

#include <cwchar>

namespace qv {
namespace {

class CompressCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "compress"; }
    std::string message(int code) const override
    {
        switch (code) {
        case 3: return "invalid checksum";
        case 5: return "interrupted";
        case 6: return "bzip2 error";
        case 7: return "unexpected error";
        default: return "unknown error";
        }
    }
};

}  // namespace

const std::error_category& compress_category() noexcept
{
    static const CompressCategory instance;  // thread-safe one-time construction
    return instance;
}

std::wstring errorCodeText(const std::error_code& code)
{
    wchar_t text[16];
    if (code.category() == std::system_category())
        std::swprintf(text, 16, L"1:%08X", static_cast<unsigned>(code.value()));
    else if (code.category() == std::generic_category())
        std::swprintf(text, 16, L"2:%08X", static_cast<unsigned>(code.value()));
    else if (code.category() == compress_category())
        std::swprintf(text, 16, L"%d", code.value());
    else
        std::swprintf(text, 16, L"%d", 7);
    return text;
}

}  // namespace qv
