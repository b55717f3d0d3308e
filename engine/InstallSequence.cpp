#include "engine/InstallSequence.h"

#include "engine/InstallSession.h"
#include "lang/Languages.h"
#include "lang/LocalizedStrings.h"
#include "identity/Product.h"
#include "engine/CompressError.h"
#include "engine/FolderMacros.h"
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

// Whether a data file lies below a folder all users share (all-users
// application data, public documents, the all-users desktop): only there
// does its Users grant serve its purpose. One in a profile (the per-user
// word list below the installing account's application data, or SYSTEM's)
// keeps the security it inherits there: the grant would let every user of
// the machine read and change another user's file.
bool inSharedDataFolder(const std::wstring& path)
{
    for (int csidl : {CSIDL_COMMON_APPDATA, CSIDL_COMMON_DOCUMENTS, CSIDL_COMMON_DESKTOPDIRECTORY}) {
        const std::wstring folder = specialFolder(csidl);
        if (!folder.empty() && isSameOrBelow(path, folder)) return true;
    }
    return false;
}

// The uninstall entry's command line is the uninstaller's path unquoted,
// as every earlier installer reads it. For "C:\Tools\Orvane Systems\..."
// the list of installed programs starts "C:\Tools\Orvane.exe" when one
// exists, and so on at every blank: one line for each folder holding such
// a name in which others than the administrators may create a file.
std::vector<std::wstring> unquotedCommandWarnings(const std::wstring& command)
{
    constexpr ACCESS_MASK creating = FILE_ADD_FILE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL |
                                     MAXIMUM_ALLOWED;
    std::vector<std::wstring> lines;
    for (std::size_t blank = command.find(L' '); blank != std::wstring::npos; blank = command.find(L' ', blank + 1)) {
        const std::wstring planted = command.substr(0, blank) + L".exe";
        std::wstring folder = parentOf(planted);
        if (!folder.empty() && folder.back() == L':') folder += L'\\';  // the drive's root, not its current folder
        UniqueFile opened(::CreateFileW(folder.c_str(), READ_CONTROL,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!opened) continue;
        if (leftToAdministrators(saveOwnerAndDacl(opened.get()), creating, false)) continue;
        lines.push_back(L"Warning: the uninstall entry's command line " + command +
                        L" is unquoted, as earlier installers read it, and users other than the administrators may "
                        L"create files in " + folder + L": a program planted as " + planted +
                        L" would be started in the uninstaller's place from the list of installed programs. A "
                        L"folder below the program-files folder has no such risk.");
    }
    return lines;
}

// Whether the folder lies in a program-files folder, whose protection the
// folders created below it inherit. A 32-bit process is told of the 64-bit
// one only through the environment.
bool insideProgramFiles(const std::wstring& folder)
{
    std::vector<std::wstring> programFiles;
    for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86}) {
        if (std::wstring path = specialFolder(csidl); !path.empty()) programFiles.push_back(path);
    }
    wchar_t native[MAX_PATH] = {};
    if (DWORD n = ::GetEnvironmentVariableW(L"ProgramW6432", native, MAX_PATH); n > 0 && n < MAX_PATH)
        programFiles.push_back(native);
    for (const std::wstring& root : programFiles)
        if (isSameOrBelow(folder, root)) return true;
    return false;
}

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
        recovery_.reset();
        earlierValues_.clear();
        registrationRan_ = false;
    });
    // The journal on disk and the marker that points the next start at it:
    // should the process end before the run does, that start rolls it back.
    // Without them nothing is changed.
    std::wstring why;
    if (!beginRecoveryJournal(*runFolder, why)) {
        const DWORD error = ::GetLastError();
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
    return recovery_ && recovery_->broken();
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
    return complete;
}

bool InstallSequence::beginRecoveryJournal(const RunFolder& runFolder, std::wstring& why)
{
    // A marker whose journal is still there belongs to a run that the next
    // start of the installer must still finish (a file it could not put
    // back); one of a newer installer is that installer's to act on. Either
    // stays, and this run does not start. A marker whose run folder is gone
    // can do nothing more: this run's own takes its place.
    MarkerContent earlier;
    std::wstring raw;
    switch (RecoveryMarker::read(earlier, raw)) {
    case RecoveryMarker::State::Found:
        if (::GetFileAttributesW(earlier.journalPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
            why = L"the recovery of an earlier run that did not end is not finished (its journal: " +
                  earlier.journalPath + L"); start the installer again";
            ::SetLastError(ERROR_INSTALL_ALREADY_RUNNING);
            return false;
        }
        display_.NoteInLog(L"The marker of an earlier run whose journal is gone (" + earlier.journalPath +
                           L") is replaced by this run's");
        break;
    case RecoveryMarker::State::Newer:
    case RecoveryMarker::State::Unreadable:
        why = L"the marker of an unfinished run is one this installer cannot read (" + raw + L")";
        ::SetLastError(ERROR_INSTALL_ALREADY_RUNNING);
        return false;
    case RecoveryMarker::State::None:
        break;
    }

    recovery_ = RecoveryJournal::create(runFolder);
    if (!recovery_) {
        const DWORD error = ::GetLastError();
        why = L"the journal " + runFolder.path() + L"\\" + kRecoveryJournalName + L" could not be created";
        ::SetLastError(error);
        return false;
    }
    try {
        JournalRecord started(JournalRecordType::RunStarted, session_.installPath);
        started.other = session_.startMenuFolder;
        started.third = runFolder.path();
        recovery_->append(started);
        MarkerContent marker;
        marker.folder = identityOf(runFolder.identity());
        marker.journal = identityOf(recovery_->identity());
        marker.journalPath = recovery_->path();
        if (!RecoveryMarker::set(marker)) throw std::system_error(ERROR_CANTWRITE, std::system_category());
        makerKeyCreated_ = marker.makerKeyCreated;
        session_.uninstallLog.useRecoveryJournal(recovery_.get());
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

void InstallSequence::endRecoveryJournal() noexcept
{
    if (!recovery_) return;
    session_.uninstallLog.useRecoveryJournal(nullptr);
    // The marker first: a journal without a marker is never acted on.
    RecoveryMarker::clear(makerKeyCreated_);
    recovery_->discard();
    recovery_.reset();
}

void InstallSequence::keepRecoveryJournal() noexcept
{
    if (!recovery_) return;
    session_.uninstallLog.useRecoveryJournal(nullptr);
    recovery_->keep();
    recovery_.reset();
}

void InstallSequence::writeAhead(const JournalRecord& record)
{
    if (recovery_) recovery_->append(record);
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
    // Samples are left out of an update, and of any run with /NOSAMPLES:
    // nothing lands on the all-users desktop then.
    const bool skippedSample = entry.kind == static_cast<std::uint32_t>(EntryKind::SampleFile) &&
                               (session_.installState == InstallState::OlderVersion || session_.noSamples);
    // In a folder every user may write, a link (or one name of a file with
    // several) at a data file's or sample document's name is somebody's
    // plant, not an earlier file: its name is set aside and the file written
    // as on a fresh machine, so that no user can block every installation.
    // Elsewhere only an administrator could have put it there, and it fails
    // the file as before.
    NameAtPath planted = NameAtPath::Missing;
    if (entry.inSharedFolder && !skippedSample &&
        (entry.kind == static_cast<std::uint32_t>(EntryKind::DataFile) ||
         entry.kind == static_cast<std::uint32_t>(EntryKind::SampleFile))) {
        try {
            const NameAtPath found = nameAt(path);
            if (found == NameAtPath::Link || found == NameAtPath::SeveralNames) planted = found;
        } catch (...) {
            // A link on the way, or one that cannot be opened as itself:
            // refused below, where the file is recorded, as everywhere.
        }
    }
    const bool setAside = planted != NameAtPath::Missing;

    switch (static_cast<EntryKind>(entry.kind)) {
    case EntryKind::ProgramFile:
        target_.programPath = path;
        target_.programCrc = entry.crc;
        break;
    case EntryKind::UninstallerFile:
        target_.uninstallerPath = path;
        break;
    case EntryKind::DataFile:
        if (!setAside && isFile(path)) {
            const bool shared = inSharedDataFolder(path);
            // A data file the earlier installation left is the user's now:
            // it stays as it is, with its Users grant renewed.
            if (session_.installState != InstallState::NotInstalled && log.wasInstalled(path)) {
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
        if (skippedSample) return result::Skip;
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

namespace {

// What a run without any window shows: nothing.
class NoDisplay : public InstallDisplay {
public:
    void AppendLog(const std::wstring&, bool) override {}
    void SetStatus(const std::wstring&) override {}
    void SetStatusPath(const std::wstring&) override {}
    void ResetProgress() override {}
    void SetProgress(int) override {}
    void PumpMessages() override {}
    void ShowWaitCursor(bool) override {}
};

const wchar_t* outcomeText(InstallOutcome outcome)
{
    switch (outcome) {
    case InstallOutcome::Installed: return L"installed";
    case InstallOutcome::InstalledWithFailedSteps: return L"installed, but a step after the file copying failed";
    case InstallOutcome::FailedRolledBack: return L"failed; everything this run changed was rolled back";
    default: return L"not run";
    }
}

InstallOutcome runSequence(InstallSession& session, InstallDisplay& display, InstallTarget& target,
                           ArchiveSource source)
{
    InstallSequence sequence(session, display, target, std::move(source));
    if (!sequence.run()) return InstallOutcome::FailedRolledBack;
    return sequence.stepFailed() ? InstallOutcome::InstalledWithFailedSteps : InstallOutcome::Installed;
}

// screen null: a run without any window.
bool installWith(InstallSession& session, InstallDisplay* screen, InstallTarget& target, ArchiveSource source)
{
    NoDisplay nothing;
    if (!session.runLog) {
        session.lastOutcome = runSequence(session, screen ? *screen : nothing, target, std::move(source));
    } else {
        LogFile& log = *session.runLog;
        log.write(L"Installation into " + session.installPath + L" begins");
        {
            LoggingDisplay logged(log, screen);
            JournalLogger journal([&logged](const std::wstring& line) { logged.note(line); });
            session.uninstallLog.setObserver(&journal);
            auto unobserve = scopeExit([&session] { session.uninstallLog.setObserver(nullptr); });
            session.lastOutcome = runSequence(session, logged, target, std::move(source));
        }
        log.write(std::wstring(L"Outcome: ") + outcomeText(session.lastOutcome));
    }
    return session.lastOutcome != InstallOutcome::FailedRolledBack;
}

}  // namespace

bool runInstallation(InstallSession& session, InstallDisplay& display, InstallTarget& target, ArchiveSource source)
{
    return installWith(session, &display, target, std::move(source));
}

bool runInstallationWithoutWindow(InstallSession& session)
{
    InstallTarget target;
    return installWith(session, nullptr, target, openPayloadArchive);
}

}  // namespace qv
