#include "engine/InstallSequence.h"

#include "engine/InstallSession.h"
#include "lang/Languages.h"
#include "lang/LocalizedStrings.h"
#include "identity/Product.h"
#include "engine/CompressError.h"
#include "engine/FileDecision.h"
#include "engine/FolderMacros.h"
#include "engine/InstallFolders.h"
#include "engine/InstallTexts.h"
#include "engine/LoggingDisplay.h"
#include "sys/ProgramRun.h"
#include "uninstall/RunUndo.h"
#include "engine/Shortcut.h"
#include "engine/TemporaryFiles.h"
#include "sys/TextFormat.h"
#include "resources/resource.h"
#include "sys/Crc32.h"
#include "sys/FileSecurity.h"
#include "sys/Handles.h"
#include "sys/PathGuard.h"
#include "sys/PendingRenames.h"
#include "sys/RunFolder.h"
#include "sys/UsersAccess.h"
#include "uninstall/InstallationArea.h"
#include "uninstall/JournalLogger.h"
#include "uninstall/RecoveryJournal.h"
#include "uninstall/RecoveryMarker.h"
#include "uninstall/UninstallKey.h"
#include "sys/PathText.h"
#include "sys/ShellFolders.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <boost/filesystem/path.hpp>
#include <boost/format.hpp>

#include <algorithm>
#include <optional>
#include <system_error>
#include <type_traits>
#include <vector>

namespace qv {
namespace {

// The /LOG line for a name set aside where a file is written: what stood
// there is named, and that only that name went.
std::wstring plantedNameRemovedText(const std::wstring& path, bool link)
{
    return L"Removed " +
           std::wstring(link ? L"a link (the link itself; what it points at is left as it is)"
                             : L"one name of a file with several names (its other names and its content are left as "
                               L"they are)") +
           L" that stood at \"" + path + L"\" in a folder every user may write; the file is installed in its place";
}

// Users may read, write and delete a shared data file (FILE_GENERIC_READ,
// FILE_GENERIC_WRITE and DELETE), on the file alone.
constexpr DWORD dataFileAccess = 0x13019F;
// The installed program reports a successful registration by this code.
constexpr DWORD registrationSucceeded = static_cast<DWORD>(-10);
constexpr wchar_t logFileName[] = L"Uninstall.ulog";

// A path in a 260-character buffer, as the shell's path functions want it.
struct PathBuffer {
    explicit PathBuffer(const std::wstring& path) { ::lstrcpynW(text, path.c_str(), MAX_PATH); }
    wchar_t text[MAX_PATH] = {};
};

// The steps after the extraction report success or failure and nothing
// else: whatever goes wrong inside one of them only marks its line.
template <class Step>
bool guarded(Step step) noexcept
{
    try {
        return step();
    } catch (...) {
        return false;
    }
}

}  // namespace

std::unique_ptr<std::istream> openPayloadArchive()
{
    return loadResourceStream(currentLanguage().resourceModule);
}

InstallSequence::InstallSequence(InstallSession& session, InstallDisplay& display, InstallTarget& target,
                                 ArchiveSource source)
    : session_(session), display_(display), target_(target), source_(std::move(source))
{
}

InstallSequence::~InstallSequence() = default;

void InstallSequence::beginStep(const std::wstring& text)
{
    display_.SetStatus(text);
    display_.AppendLog(text, false);
}

void InstallSequence::endStep(bool ok)
{
    if (!ok) stepFailed_ = true;
    display_.AppendLog(stepOutcomeText(ok), false);
}

bool InstallSequence::run()
{
    target_.programPath.clear();
    target_.programCrc = 0;
    target_.uninstallerPath.clear();
    stepFailed_ = false;
    rollbackIncomplete_ = false;
    refusedForUnfinishedRun_ = false;
    display_.AppendLog(std::wstring(), false);
    display_.ShowWaitCursor(true);
    auto endWait = scopeExit([this] { display_.ShowWaitCursor(false); });

    display_.SetStatus(loadLocalizedString(IDS_PREPARING));

    // The run's private folder: its temporary files, the backups of what
    // it replaces and the saved uninstall key go there, and nowhere a user
    // could reach them.
    std::wstring errorText;
    std::optional<RunFolder> runFolder = makeRunFolder(errorText);
    if (!runFolder) {
        const std::wstring text = installFailedText(errorText);
        display_.SetStatus(text);
        display_.AppendLog(text + L"\r\n", false);
        return false;
    }
    session_.tempFolder = runFolder->path();
    // Folders checked for links once in this run; every action verifies its
    // own handle's place all the same.
    CheckedFolderCache checkedFolders;
    prepareJournal(*runFolder);
    auto detachJournal = scopeExit([this] {
        session_.uninstallLog.useRunFolder(nullptr);
        session_.uninstallLog.useRecoveryJournal(nullptr);
        session_.uninstallLog.setBackupCopyHook({});
        journal_.release();
        earlierValues_.clear();
        registrationRan_ = false;
    });
    // The journal on disk and the marker that points the next start at it:
    // should the process end before the run does, that start rolls it back.
    // Without them nothing is changed.
    std::wstring why;
    if (!beginRecoveryJournal(*runFolder, why)) {
        const DWORD error = ::GetLastError();
        refusedForUnfinishedRun_ = error == ERROR_INSTALL_ALREADY_RUNNING;
        display_.NoteInLog(L"Nothing was changed: " + why);
        const std::wstring text =
            installFailedText(std::error_code(static_cast<int>(error ? error : ERROR_CANTWRITE), std::system_category()));
        display_.SetStatus(text);
        display_.AppendLog(text + L"\r\n", false);
        return false;
    }

    // Relative: the samples go into a folder of that name on the all-users
    // desktop.
    sampleFolder_ = formatText(loadLocalizedString(IDS_EXAMPLES_FOLDER), {productLabel(true)});
    const std::wstring& sampleFolder = sampleFolder_;

    // Declared before the stream: the stream is released first, then the
    // temporary files are deleted, on every way out.
    TemporaryFiles temporaries(session_.tempFolder);
    display_.ResetProgress();

    std::unique_ptr<std::istream> archive = source_ ? source_() : nullptr;
    if (!archive) archive = emptyStream();
    archive_ = archive.get();
    auto forgetArchive = scopeExit([this] { archive_ = nullptr; });

    const bool extracted = extractArchive(
        *archive, session_.installPath, sampleFolder, session_.tempFolder,
        [this](notification event) { return onInstallEvent(event); },
        [this](const std::wstring& target, const std::wstring& staging) {
            // Named before it exists: a process that ends while the file is
            // written leaves the name to the next start's recovery.
            JournalRecord record(JournalRecordType::Staging, target);
            record.other = staging;
            writeAhead(record);
        });
    if (!extracted) {
        // The handler has shown the failure.
        rollBack();
        return false;
    }

    setReadOnly(target_.programPath);
    setReadOnly(target_.uninstallerPath);

    // A journal on disk that could not take an announcement no longer says
    // what the run does: it stops there.
    const std::wstring journalFailed = L"the journal on disk could not be written";
    if (session_.createStartMenuShortcut || session_.createDesktopShortcut) {
        beginStep(loadLocalizedString(IDS_CREATING_SHORTCUTS));
        endStep(createShortcuts());
        if (journalBroken()) return failAfterExtraction(ERROR_WRITE_FAULT, journalFailed);
    }

    beginStep(loadLocalizedString(IDS_WRITING_REGISTRY));
    const bool registered = guarded([this] { return writeRegistration(); });
    const bool ran = !journalBroken() && guarded([this] { return runRegistration(); });
    endStep(registered && ran);
    if (journalBroken()) return failAfterExtraction(ERROR_WRITE_FAULT, journalFailed);

    // The run is complete only with its uninstall log in place: without it
    // nothing could remove the installation, so the run is rolled back.
    beginStep(loadLocalizedString(IDS_WRITING_INSTALL_DATA));
    ::SetLastError(ERROR_SUCCESS);
    const bool logWritten = guarded([this] { return writeLog(); });
    const DWORD logError = ::GetLastError();
    endStep(logWritten);
    if (!logWritten)
        return failAfterExtraction(logError ? logError : ERROR_WRITE_FAULT,
                                   journalBroken() ? journalFailed : L"the uninstall log could not be put in place");
    endRecoveryJournal();

    display_.SetStatus(clickNextText());
    return true;
}

bool InstallSequence::failAfterExtraction(DWORD code, const std::wstring& why)
{
    display_.NoteInLog(L"The run stops and is rolled back: " + why);
    const std::wstring text = installFailedText(std::error_code(static_cast<int>(code), std::system_category()));
    display_.SetStatus(text);
    display_.AppendLog(text + L"\r\n", false);
    rollBack();
    return false;
}

bool InstallSequence::journalBroken() const noexcept
{
    return journal_.broken();
}

bool InstallSequence::rollBack() noexcept
{
    UninstallLog& log = session_.uninstallLog;
    // The program's own registrations go with the program, before it does:
    // unless an earlier program comes back at its path, which they name too.
    if (registrationRan_ && !target_.programPath.empty()) {
        const auto& entries = log.newEntries();
        const auto program = std::find_if(entries.begin(), entries.end(), [this](const LogEntry& e) {
            return e.kind == InstalledFile && sameFileName(e.path, target_.programPath);
        });
        const bool earlierComesBack = program != entries.end() && !program->backupPath.empty();
        if (!earlierComesBack) {
            const bool lent = session_.instanceMutex.owned();
            const ProgramRun run = runVerifiedProgram(target_.programPath, target_.programCrc,
                                                      L" /Unregister /Background", [this, lent](bool lending) {
                                                          if (!lent) return;
                                                          if (lending) session_.instanceMutex.release();
                                                          else session_.instanceMutex.tryAcquire();
                                                      });
            display_.NoteInLog(run.started ? L"Rollback: \"" + target_.programPath + L"\" /Unregister ended with " +
                                                 std::to_wstring(static_cast<long>(run.exitCode))
                                           : L"Rollback: \"" + target_.programPath +
                                                 L"\" /Unregister could NOT run (the program is gone or changed)");
        }
    }
    bool complete = log.rollback();
    // The values the run wrote, the last first.
    for (auto earlier = earlierValues_.rbegin(); earlier != earlierValues_.rend(); ++earlier)
        if (!putBackValue(*earlier)) complete = false;
    earlierValues_.clear();
    registrationRan_ = false;
    if (complete) endRecoveryJournal();
    else keepRecoveryJournal();
    rollbackIncomplete_ = !complete;
    return complete;
}

bool InstallSequence::beginRecoveryJournal(const RunFolder& runFolder, std::wstring& why)
{
    return journal_.begin(runFolder, session_.installPath, session_.startMenuFolder, session_.uninstallLog,
                          [this](const std::wstring& line) { display_.NoteInLog(line); }, why);
}

void InstallSequence::endRecoveryJournal() noexcept
{
    journal_.end();
}

void InstallSequence::keepRecoveryJournal() noexcept
{
    journal_.keep();
}

void InstallSequence::writeAhead(const JournalRecord& record)
{
    journal_.append(record);
}

void InstallSequence::reached(RunPoint point)
{
    if (session_.atRunPoint) session_.atRunPoint(point);
}

void InstallSequence::prepareJournal(const RunFolder& runFolder)
{
    UninstallLog& log = session_.uninstallLog;
    log.useRunFolder(&runFolder);
    // Earlier entries that this installation cannot own are left alone.
    InstallationArea area({session_.installPath});
    area.addShortcutFolder(session_.startMenuFolder);
    log.setInstallationArea(area);
    // A folder made for the installation outside the program-files folder
    // (C:\Trimora, below C:\ where users may create and change) gets the
    // protection it would have there; one that existed is taken over
    // before a file goes into it when anyone else may change in it.
    const bool outside = !insideProgramFiles(session_.installPath);
    log.protectNewFolders(outside ? session_.installPath : std::wstring());
    log.secureExistingFolders(outside ? session_.installPath : std::wstring());
    if (session_.atRunPoint) log.setBackupCopyHook([this] { reached(RunPoint::CopyingBackup); });
}

void InstallSequence::setReadOnly(const std::wstring& path)
{
    if (path.empty()) return;
    try {
        // Through a checked handle: what the link points at keeps its own.
        CheckedHandle file = openChecked(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
        if (!file) return;
        FILE_BASIC_INFO basic{};  // zero times: left as they are
        basic.FileAttributes = file.info.dwFileAttributes | FILE_ATTRIBUTE_READONLY;
        ::SetFileInformationByHandle(file.handle.get(), FileBasicInfo, &basic, sizeof basic);
    } catch (...) {
    }
}

bool InstallSequence::createShortcuts()
{
    bool ok = true;
    UninstallLog& log = session_.uninstallLog;
    // Record, create, settle: a shortcut that cannot be made is settled as
    // not done, and the others are still tried.
    auto make = [&](int which, const std::wstring& folder, const std::wstring& target,
                    const std::wstring& name) {
        log.recordShortcut(which, folder);
        std::wstring created;
        const bool made = guarded([&] {
            // The journal on disk names the file before it is written.
            PathBuffer file(folder);
            if (!::PathAppendW(file.text, (name + L".lnk").c_str())) return false;
            log.announceShortcut(file.text);
            return createShortcut(target, folder, name.c_str(), &created,
                                  [this](const std::wstring& link, const std::wstring& staging) {
                                      JournalRecord record(JournalRecordType::Staging, link);
                                      record.other = staging;
                                      writeAhead(record);
                                  });
        });
        if (made) {
            log.confirm(true, created.c_str());
        } else {
            log.confirm(false);
            ok = false;
        }
    };

    if (session_.createStartMenuShortcut) {
        make(0, session_.startMenuFolder, target_.programPath, productLabel(false));
        make(1, session_.startMenuFolder, target_.uninstallerPath,
             formatText(loadLocalizedString(IDS_UNINSTALL_SHORTCUT), {productLabel(true)}));
    }
    if (session_.createDesktopShortcut) {
        std::wstring desktop;
        try {
            desktop = lookupFolder(CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY, true);
        } catch (const std::system_error&) {
            desktop.clear();
        }
        if (desktop.empty())
            ok = false;
        else
            make(2, desktop, target_.programPath, productLabel(false));
    }
    return ok;
}

bool InstallSequence::writeRegistration()
{
    const bool keyWritten = guarded([this] {
        return writeUninstallKey(session_.uninstallLog, target_.uninstallerPath, target_.programPath,
                                 productCode, currentLanguage().languageIndex, session_.installPath);
    });
    reached(RunPoint::KeyWritten);
    if (keyWritten && session_.runLog && !insideProgramFiles(session_.installPath))
        for (const std::wstring& line : unquotedCommandWarnings(target_.uninstallerPath)) session_.runLog->write(line);
    // Written whether or not the key was: the next run finds the
    // installation through it.
    const bool recordWritten = guarded([this] { return writeInstallationRecord(); });
    return keyWritten && recordWritten;
}

bool InstallSequence::writeInstallationRecord()
{
    UniqueKey maker;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, MakerKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          MAXIMUM_ALLOWED, nullptr, maker.put(), nullptr) != ERROR_SUCCESS)
        return false;
    const std::wstring name = installationRecordValueName();
    // The record as it was, for a rollback and for the recovery of a run
    // that ends half-way.
    JournalRecord earlier = earlierValue();
    writeAhead(earlier);
    earlierValues_.push_back(std::move(earlier));
    const std::wstring& path = target_.programPath;
    const DWORD bytes = static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(maker.get(), name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(path.c_str()), bytes) == ERROR_SUCCESS;
}

bool InstallSequence::runRegistration()
{
    UninstallLog& log = session_.uninstallLog;
    log.recordClassesRoot();
    if (target_.programPath.empty()) {
        // An archive without a program: nothing to run.
        log.confirm(false);
        return false;
    }
    // What the recovery of a run that ends meanwhile undoes: the program's
    // own registrations, with the program itself, and the version an update
    // came from, which the program keeps.
    try {
        if (session_.previousVersion != 0) {
            JournalRecord earlier = earlierValue(productKeyPath(), kUpdatedFromValueName);
            writeAhead(earlier);
            earlierValues_.push_back(std::move(earlier));
        }
        JournalRecord announced(JournalRecordType::RegistrationRun, target_.programPath, 0, target_.programCrc);
        writeAhead(announced);
    } catch (...) {
        log.confirm(false);
        return false;
    }
    registrationRan_ = true;

    std::wstring arguments = L" /Register /Background";
    if (session_.previousVersion != 0)
        arguments += (boost::wformat(L" /update=%|1$016x|") % session_.previousVersion).str();

    // The program refuses to run while an installer holds the mutex: lend
    // it for exactly the program's lifetime, and take it back without
    // waiting (an abandoned mutex counts as taken).
    const bool lent = session_.instanceMutex.owned();
    const ProgramRun run = runVerifiedProgram(
        target_.programPath, target_.programCrc, arguments,
        [this, lent](bool lending) {
            if (!lent) return;
            if (lending) session_.instanceMutex.release();
            else session_.instanceMutex.tryAcquire();
        },
        [this] { reached(RunPoint::RegistrationRun); });

    const bool succeeded = run.started && run.gotExitCode && run.exitCode == registrationSucceeded;
    log.confirm(succeeded);
    if (succeeded) ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
    return succeeded;
}

bool InstallSequence::writeLog()
{
    PathBuffer logPath(target_.uninstallerPath);
    if (!::PathRemoveFileSpecW(logPath.text)) return false;
    if (!::PathAppendW(logPath.text, logFileName)) return false;
    // An uninstaller's restart-time deletions in this folder would take the new files.
    cancelPendingDeletionsBelow(session_.installPath, session_.runLog.get());
    return session_.uninstallLog.commit(logPath.text, session_.installPath, session_.startMenuFolder);
}

result InstallSequence::onInstallEvent(const notification& event)
{
    const result answer = std::visit([this](const auto& n) { return handle(n); }, event);
    display_.PumpMessages();
    return answer;
}

result InstallSequence::handle(const Started&)
{
    const std::wstring text = loadLocalizedString(IDS_PREPARING);
    display_.SetStatus(text);
    display_.AppendLog(text, false);
    reached(RunPoint::Verification);
    // Everything that can be checked before a file is written: sound bzip2
    // data (else code 4), and an archive that can be written in full, with
    // no entry that cannot be trusted (else code 7).
    if (!archive_) throw std::system_error(make_error_code(CompressError::Unknown));
    if (const std::error_code rejected =
            verifyArchiveContents(*archive_, session_.installPath, sampleFolder_, session_.tempFolder))
        throw std::system_error(rejected);
    archive_->clear();
    archive_->seekg(0);
    display_.AppendLog(stepOutcomeText(true), false);
    return result::Continue;
}

result InstallSequence::handle(const FileBegin& begin)
{
    const ArchiveEntry& entry = begin.entry;
    const std::wstring& path = entry.destination;
    UninstallLog& log = session_.uninstallLog;
    NameAtPath planted = NameAtPath::Missing;
    const FileDecision decision = decideFileOnDisk(entry, session_, &planted);
    const bool setAside = decision == FileDecision::SetAsidePlantedName;

    switch (static_cast<EntryKind>(entry.kind)) {
    case EntryKind::ProgramFile:
        target_.programPath = path;
        target_.programCrc = entry.crc;
        break;
    case EntryKind::UninstallerFile:
        target_.uninstallerPath = path;
        break;
    case EntryKind::DataFile:
        if (decision == FileDecision::KeepUsersDataFile || decision == FileDecision::AdoptDataFile) {
            const bool shared = inSharedDataFolder(path);
            // A data file the earlier installation left is the user's now:
            // it stays as it is, with its Users grant renewed.
            if (decision == FileDecision::KeepUsersDataFile) {
                if (!shared) return result::Skip;
                // One a user has locked the administrators out of is taken
                // back first: it must not block every later update. What
                // its security was goes into the journal first.
                log.recordSecurityChange(path, static_cast<std::int32_t>(entry.kind));
                grantUsersAccessReclaiming(path, dataFileAccess, 0);
                return result::Skip;
            }
            // Never overwritten, but journalled (with a copy as backup) as
            // installed by this run.
            log.recordFile(path, entry.kind, true);
            log.confirm(true);
            if (shared) grantUsersAccessReclaiming(path, dataFileAccess, 0);
            return result::Skip;
        }
        break;
    case EntryKind::SampleFile:
        if (decision == FileDecision::LeaveOutSample) return result::Skip;
        break;
    case EntryKind::TemporaryFile:
        writeAhead(JournalRecord(JournalRecordType::TemporaryFile, path));
        if (TemporaryFiles* temporaries = TemporaryFiles::current()) temporaries->add(path);
        break;
    default:
        break;
    }

    // Shown before the journal records it: a destination that the journal
    // refuses (a link on its way) then ends this line with "Failed".
    const std::wstring text = copyingFileText(path);
    display_.SetStatusPath(text);
    display_.AppendLog(text, false);
    if (setAside) {
        log.recordPlantedName(path, static_cast<std::int32_t>(entry.kind));
        display_.NoteInLog(plantedNameRemovedText(path, planted == NameAtPath::Link));
    } else if (entry.kind != static_cast<std::uint32_t>(EntryKind::TemporaryFile)) {
        log.recordFile(path, static_cast<std::int32_t>(entry.kind),
                       entry.kind == static_cast<std::uint32_t>(EntryKind::DataFile));
    }
    if (entry.kind == static_cast<std::uint32_t>(EntryKind::DataFile)) {
        dataFileBegin_ = bytesDone_;
        dataFileEnd_ = bytesDone_ + entry.size;
    }
    return result::Continue;
}

result InstallSequence::handle(const FileEnd& end)
{
    const ArchiveEntry& entry = end.entry;
    dataFileBegin_ = dataFileEnd_ = 0;
    if (entry.kind == static_cast<std::uint32_t>(EntryKind::DataFile) && inSharedDataFolder(entry.destination))
        grantUsersAccess(entry.destination, dataFileAccess, 0, GrantOn::File);
    if (entry.kind != static_cast<std::uint32_t>(EntryKind::TemporaryFile)) session_.uninstallLog.confirm(true);
    display_.AppendLog(stepOutcomeText(true), false);
    return result::Continue;
}

result InstallSequence::handle(const Progress& progress)
{
    bytesDone_ = progress.done;
    if (progress.done > dataFileBegin_ && progress.done < dataFileEnd_) reached(RunPoint::WritingDataFile);
    display_.SetProgress(progressPercent(progress.done, progress.total));
    return result::Continue;
}

result InstallSequence::handle(const Failed& failed)
{
    session_.uninstallLog.confirm(false);
    display_.AppendLog(stepOutcomeText(false), false);
    display_.SetStatus(installFailedText(failed.code));
    return result::Cancel;
}

}  // namespace qv
