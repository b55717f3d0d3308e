#include "uninstall/RunFolderName.h"

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <iterator>

namespace qv {

namespace {

constexpr wchar_t kRunFolderPrefix[] = L"orvane_{";

bool isLowerHex(wchar_t c) noexcept
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
}

}  // namespace

std::wstring newRunFolderName()
{
    // Opened once per process (BCryptGenRandom); the static's initialisation
    // is thread-safe, and a provider that cannot be opened throws.
    static boost::uuids::random_generator generator;
    return kRunFolderPrefix + boost::uuids::to_wstring(generator()) + L"}";
}

bool isRunFolderName(const std::wstring& name) noexcept
{
    const std::size_t prefix = std::size(kRunFolderPrefix) - 1;
    if (name.size() != prefix + 36 + 1 || name.compare(0, prefix, kRunFolderPrefix) != 0 || name.back() != L'}')
        return false;
    for (std::size_t i = 0; i < 36; ++i) {
        const wchar_t c = name[prefix + i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != L'-' : !isLowerHex(c)) return false;
    }
    return true;
}

}  // namespace qv
