#include "uninstall/RunJournal.h"

#include "identity/Product.h"
#include "sys/PathIdentity.h"
#include "sys/RunFolder.h"
#include "uninstall/RecoveryMarker.h"

#include <optional>
#include <system_error>

namespace qv {

RunJournal::~RunJournal() = default;

std::optional<std::wstring> RunJournal::unfinishedRunInTheWay()
{
    // A marker whose journal is still there belongs to a run that a start
    // of the installer must still finish (a file it could not put back yet);
    // one of a newer installer is that installer's to act on. Either stays,
    // and no run starts. A marker whose run folder is gone can do nothing
    // more: the next run's own takes its place.
    MarkerContent earlier;
    std::wstring raw;
    switch (RecoveryMarker::read(earlier, raw)) {
    case RecoveryMarker::State::Found:
        if (::GetFileAttributesW(earlier.journalPath.c_str()) != INVALID_FILE_ATTRIBUTES)
            return L"the recovery of an earlier run that did not end is not finished (its journal: " +
                   earlier.journalPath + L"); start the installer again";
        return std::nullopt;
    case RecoveryMarker::State::Newer:
    case RecoveryMarker::State::Unreadable:
        return L"the marker of an unfinished run is one this installer cannot read (" + raw + L")";
    case RecoveryMarker::State::None:
        break;
    }
    return std::nullopt;
}

bool RunJournal::begin(const RunFolder& runFolder, const std::wstring& installPath, const std::wstring& startMenuFolder,
                       UninstallLog& log, const std::function<void(const std::wstring&)>& note, std::wstring& why)
{
    if (const std::optional<std::wstring> earlier = unfinishedRunInTheWay()) {
        why = *earlier;
        ::SetLastError(ERROR_INSTALL_ALREADY_RUNNING);
        return false;
    }
    MarkerContent replaced;
    std::wstring raw;
    if (RecoveryMarker::read(replaced, raw) == RecoveryMarker::State::Found)
        note(L"The marker of an earlier run whose journal is gone (" + replaced.journalPath +
             L") is replaced by this run's");

    recovery_ = RecoveryJournal::create(runFolder);
    if (!recovery_) {
        const DWORD error = ::GetLastError();
        why = L"the journal " + runFolder.path() + L"\\" + kRecoveryJournalName + L" could not be created";
        ::SetLastError(error);
        return false;
    }
    try {
        JournalRecord started(JournalRecordType::RunStarted, installPath);
        started.other = startMenuFolder;
        started.third = runFolder.path();
        recovery_->append(started);
        MarkerContent marker;
        marker.folder = identityOf(runFolder.identity());
        marker.journal = identityOf(recovery_->identity());
        marker.journalPath = recovery_->path();
        if (!RecoveryMarker::set(marker)) throw std::system_error(ERROR_CANTWRITE, std::system_category());
        makerKeyCreated_ = marker.makerKeyCreated;
        log_ = &log;
        log.useRecoveryJournal(recovery_.get());
        return true;
    } catch (const std::system_error& e) {
        why = L"the journal or its marker (HKEY_LOCAL_MACHINE\\" + std::wstring(MakerKeyPath) + L", " +
              RecoveryMarker::valueName() + L") could not be written";
        recovery_->discard();
        recovery_.reset();
        ::SetLastError(static_cast<DWORD>(e.code().value()));
        return false;
    }
}

void RunJournal::end() noexcept
{
    if (!recovery_) return;
    if (log_) log_->useRecoveryJournal(nullptr);
    log_ = nullptr;
    // The marker first: a journal without a marker is never acted on.
    RecoveryMarker::clear(makerKeyCreated_);
    recovery_->discard();
    recovery_.reset();
}

void RunJournal::keep() noexcept
{
    if (!recovery_) return;
    if (log_) log_->useRecoveryJournal(nullptr);
    log_ = nullptr;
    recovery_->keep();
    recovery_.reset();
}

void RunJournal::append(const JournalRecord& record)
{
    if (recovery_) recovery_->append(record);
}

bool RunJournal::broken() const noexcept
{
    return recovery_ && recovery_->broken();
}

void RunJournal::release() noexcept
{
    if (log_) log_->useRecoveryJournal(nullptr);
    log_ = nullptr;
    recovery_.reset();
}

}  // namespace qv
