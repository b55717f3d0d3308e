#include "engine/Detection.h"

#include "identity/Product.h"
#include "identity/VersionLabel.h"
#include "sys/VersionInfo.h"

namespace qv {

void detectInstallation(InstallSession& session, const std::wstring& programPath)
{
    session.previousVersionText.clear();
    session.previousVersion = 0;
    if (programPath.empty()) {
        session.installState = InstallState::NotInstalled;
        return;
    }
    VersionInfo info = VersionInfo::ofFile(programPath);
    if (!info.fixed()) {
        session.installState = InstallState::SameVersion;
        return;
    }
    std::uint64_t version = info.fileVersion();
    if (version > ProductFileVersion) {
        session.installState = InstallState::NewerVersion;
        session.previousVersionText = displayLabel(info);
    } else if (version == ProductFileVersion) {
        session.installState = InstallState::SameVersion;
    } else {
        session.installState = InstallState::OlderVersion;
        session.previousVersionText = displayLabel(info);
        session.previousVersion = version;
    }
}

void detectInstallation(InstallSession& session)
{
    detectInstallation(session, installedProgramPath());
}

}  // namespace qv
