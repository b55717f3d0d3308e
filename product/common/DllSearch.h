#pragma once
// The program and the uninstaller load libraries from the system folder only,
// never from the folder of a double-clicked notebook or from the current one.

namespace qv::product {

void restrictDllSearch() noexcept;

}  // namespace qv::product
