#include "app/ComError.h"

#include <system_error>
#include <utility>

namespace qv {
namespace {
ComErrorHandler installedHandler = nullptr;
}  // namespace

ComErrorHandler setComErrorHandler(ComErrorHandler handler) noexcept
{
    return std::exchange(installedHandler, handler);
}

void throwComErrorAsSystemError(HRESULT code)
{
    throw std::system_error(static_cast<int>(code), std::system_category());
}

void raiseComError(HRESULT code)
{
    if (installedHandler) installedHandler(code);
    throwComErrorAsSystemError(code);
}

}  // namespace qv
