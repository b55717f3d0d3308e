#pragma once
// Where the identity tests find their helper programs: the "probes" folder
// beside the test executable or beside its folder.

#include "sys/ModulePath.h"

#include <boost/filesystem.hpp>

#include <string>

namespace qv::test {

inline boost::filesystem::path probeFolder()
{
    boost::filesystem::path here = boost::filesystem::path(modulePath()).parent_path();
    if (boost::filesystem::is_directory(here / L"probes")) return here / L"probes";
    return here.parent_path() / L"probes";
}

// probe-<name>.exe: a program carrying the version resource named after it.
inline std::wstring probePath(const std::wstring& name)
{
    return (probeFolder() / (L"probe-" + name + L".exe")).wstring();
}

}  // namespace qv::test
