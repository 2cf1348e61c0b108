#include "core/Update/Update.h"

#include "core/Journal/Journal.h"
#include "core/Text/Text.h"
#include "core/Update/ZipReader.h"
#include "platform/AtomicFile.h"
#include "platform/Environment.h"
#include "platform/FileSwap.h"
#include "platform/HttpClient.h"
#include "platform/Process.h"
#include "platform/SingleInstance.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>

namespace Plumeria {

namespace {

/// The executable as it was when first asked for. On Linux the system's link to our own file
/// follows it through the rename to the backup name, so it must be read before any rename: the
/// path to replace and to start again is the original one.
const std::filesystem::path& RunningExe()
{
    static const std::filesystem::path Path = ExecutablePath();
    return Path;
}

std::filesystem::path ExeOf(const TUpdateOptions& Options)
{
    return Options.ExePath.empty() ? RunningExe() : Options.ExePath;
}

std::filesystem::path BackupFor(const std::filesystem::path& Exe)
{
    const std::string Suffix(ExecutableSuffix());
    std::filesystem::path Backup =
        Exe.parent_path() / PathFromUtf8(PathToUtf8(Exe.stem()) + ".old" + Suffix);
    // Without a suffix, an executable named "X.old" would be its own backup and be deleted.
    if (Backup == Exe)
        Backup = Exe.parent_path() / PathFromUtf8(PathToUtf8(Exe.filename()) + ".old" + Suffix);
    return Backup;
}

std::filesystem::path NewExeFor(const std::filesystem::path& Exe)
{
    return Exe.parent_path() / PathFromUtf8(PathToUtf8(Exe.filename()) + ".new");
}

/// Present as a directory entry, a dangling link included: anything that blocks a rename.
bool EntryExists(const std::filesystem::path& Path)
{
    std::error_code Error;
    return std::filesystem::exists(std::filesystem::symlink_status(Path, Error));
}

/// The stem after the last backslash or colon. Forward slashes are not separators here: a
/// member filed under a folder that way keeps its whole name and so never matches.
std::string_view MemberFileName(std::string_view Name)
{
    const std::size_t Cut = Name.find_last_of("\\:");
    return Cut == std::string_view::npos ? Name : Name.substr(Cut + 1);
}

using TClock = std::chrono::steady_clock;

/// What is left of the overall deadline, at least 1 ms: a passed deadline then still ends in the
/// HTTP client's own time-out message.
int MsLeft(TClock::time_point Deadline)
{
    const auto Left =
        std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - TClock::now()).count();
    return Left < 1 ? 1 : static_cast<int>(Left);
}

std::filesystem::path InData(std::string_view Name)
{
    return DataFolder() / PathFromUtf8(std::string(Name));
}

std::filesystem::path InstalledRecord()
{
    return InData(UpdateInstalledFileName);
}

std::string FirstLineOf(const std::filesystem::path& Path)
{
    std::ifstream In(Path, std::ios::binary);
    std::string Line;
    std::getline(In, Line);
    return Trim(Line);
}

/// The remote version installed last, "" when none was.
std::string LastInstalledVersion()
{
    return FirstLineOf(InstalledRecord());
}

bool RememberInstalled(const std::string& Version, std::string& Error)
{
    try {
        WriteFileAtomically(InstalledRecord(), Version + "\r\n");
        return true;
    } catch (const std::exception& Failure) {
        Error = Failure.what();
        return false;
    }
}

bool WriteThrough(const TUpdateOptions& Options, const std::filesystem::path& Path,
                  std::span<const std::uint8_t> Data, std::string& Error)
{
    return Options.WriteFile ? Options.WriteFile(Path, Data, Error)
                             : WriteNewFile(Path, Data, UpdateCopyChunk, Error);
}

/// Writing a file beside the executable is what the replacement needs; try it before the
/// download rather than after it.
bool FolderWritable(const std::filesystem::path& Exe, const TUpdateOptions& Options,
                    std::string& Error)
{
    const std::filesystem::path Probe =
        Exe.parent_path() / PathFromUtf8(PathToUtf8(Exe.filename()) + ".write-probe");
    const std::uint8_t Ok[] = {'o', 'k'};
    const bool Written = WriteThrough(Options, Probe, Ok, Error);
    std::error_code Ignored;
    std::filesystem::remove(Probe, Ignored);
    return Written;
}

bool SameAsFile(const std::filesystem::path& Path, const TByteStream& Data)
{
    std::ifstream In(Path, std::ios::binary);
    if (!In)
        return false;
    const TByteStream Current((std::istreambuf_iterator<char>(In)),
                              std::istreambuf_iterator<char>());
    return !In.bad() && Current == Data;
}

/// The locks this process held, let go for the new program and taken again when it could not
/// be started.
struct THeldLocks
{
    bool Instance = SingleInstanceHeld();
    std::filesystem::path DataFolder = HeldDataFolderLock();

    void Release() const
    {
        ReleaseDataFolderLock();
        ReleaseSingleInstance();
    }
    /// A lock that another program took meanwhile stays lost, and says so.
    void Retake() const
    {
        if (Instance && !AcquireSingleInstance())
            LogError("update: cannot take the single-instance lock again: another instance "
                     "is running");
        if (DataFolder.empty())
            return;
        switch (AcquireDataFolderLock(DataFolder, SingleInstanceWaitMs)) {
        case TFolderLockResult::flTaken:
            break;
        case TFolderLockResult::flBusy:
            LogError("update: cannot take the watch lock again: another program is watching "
                     "with the data folder " +
                     PathToUtf8(DataFolder) + "; this one does not watch");
            break;
        case TFolderLockResult::flFailed:
            LogError("update: cannot take the watch lock again: " + PathToUtf8(DataFolder) +
                     "; this one does not watch");
            break;
        }
    }
};

/// The new program is taken away and the backup goes back under the executable's name.
void PutOldExeBack(const std::filesystem::path& Exe, const TUpdateOptions& Options)
{
    // Moved aside rather than deleted: a new program that still runs (hung) keeps Windows from
    // deleting its file, not from renaming it. What is left there goes at the next start.
    const std::filesystem::path Aside = NewExeFor(Exe);
    std::error_code Ignored;
    std::filesystem::remove(Aside, Ignored);
    std::string Failure;
    if (!RenameNoReplace(Exe, Aside, Failure) && EntryExists(Exe)) {
        std::error_code Error;
        std::filesystem::remove(Exe, Error);
        if (Error)
            Failure = Error.message();
    }
    const bool Renamed =
        !EntryExists(Exe) && (Options.RenameFile ? Options.RenameFile(BackupFor(Exe), Exe, Failure)
                                                 : RenameNoReplace(BackupFor(Exe), Exe, Failure));
    std::filesystem::remove(Aside, Ignored);
    if (!Renamed) {
        LogError("update: cannot put the previous exe back: " + Failure);
        return;
    }
    LogError("update: previous exe restored; running on");
}

/// The word the new program is to give: the remote version in the pending file, with no
/// stale report beside it.
bool ExpectStartReport(const std::string& Remote, std::string& Error)
{
    std::error_code Ignored;
    std::filesystem::remove(InData(UpdateStartedFileName), Ignored);
    try {
        WriteFileAtomically(InData(UpdatePendingFileName), Remote + "\r\n");
        return true;
    } catch (const std::exception& Failure) {
        Error = Failure.what();
        return false;
    }
}

enum class TStartReport
{
    srReported,
    srEnded,  ///< the new process ended without reporting
    srSilent, ///< it did not report in time
};

/// Takes the report seen, so that the next update's wait starts clean.
bool TakeReport()
{
    std::error_code Error;
    if (!EntryExists(InData(UpdateStartedFileName)))
        return false;
    std::filesystem::remove(InData(UpdateStartedFileName), Error);
    return true;
}

/// Waits for the new program `Id` to report its good start. Without one, the pending file is
/// taken back, so that a late start finds nothing to report; a report that came in just before
/// still counts.
TStartReport WaitForStartReport(std::uint64_t Id, int WaitMs)
{
    const TClock::time_point Deadline = TClock::now() + std::chrono::milliseconds(WaitMs);
    TStartReport Outcome = TStartReport::srSilent;
    for (;;) {
        if (TakeReport())
            return TStartReport::srReported;
        if (!ProcessRunning(Id)) {
            Outcome = TStartReport::srEnded;
            break;
        }
        if (TClock::now() >= Deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::error_code Error;
    if (!std::filesystem::remove(InData(UpdatePendingFileName), Error) && TakeReport())
        return TStartReport::srReported;
    return Outcome;
}

/// Download, take out, compare and replace. True when the new program is in place.
bool InstallRemote(const std::string& Remote, const std::filesystem::path& Exe,
                   const TUpdateOptions& Options, TClock::time_point Deadline)
{
    std::string Error;
    if (!FolderWritable(Exe, Options, Error)) {
        LogError("update: cannot write to the program folder " + PathToUtf8(Exe.parent_path()) +
                 ": " + Error);
        return false;
    }
    TByteStream NewExe;
    {
        TByteStream Archive;
        std::size_t Received = 0;
        try {
            Received = HttpGet(UpdateUrl(Options.SiteUrl, UpdateArchivePath), Archive,
                               UpdateArchiveTimeoutMs, Options, MsLeft(Deadline));
        } catch (const std::exception& Failure) {
            LogError(std::string("update download failed: ") + Failure.what());
            return false;
        }
        if (Received == 0) {
            LogError("update: empty download");
            return false;
        }
        if (!ExtractExe(Archive, NewExe))
            return false;
    }
    if (SameAsFile(Exe, NewExe)) {
        LogWarn("update: the archive holds the running program; remote version " + Remote +
                " is not installed");
        if (!RememberInstalled(Remote, Error))
            LogError("update: cannot remember the installed version: " + Error);
        return false;
    }
    return ReplaceExe(Exe, NewExe, Options);
}

} // namespace

std::string UpdateExeName()
{
    return "PlumeriaBridge" + std::string(ExecutableSuffix());
}

std::string UpdateUrl(std::string_view Base, std::string_view Path)
{
    while (!Base.empty() && Base.back() == '/')
        Base.remove_suffix(1);
    while (!Path.empty() && Path.front() == '/')
        Path.remove_prefix(1);
    std::string Url(Base);
    Url += '/';
    Url += Path;
    return Url;
}

std::filesystem::path BackupPath(const TUpdateOptions& Options)
{
    return BackupFor(ExeOf(Options));
}

std::filesystem::path NewExePath(const TUpdateOptions& Options)
{
    return NewExeFor(ExeOf(Options));
}

void RemovePreviousBackup(const TUpdateOptions& Options)
{
    const std::filesystem::path NewFile = NewExePath(Options);
    if (EntryExists(NewFile)) {
        std::error_code Error;
        if (std::filesystem::remove(NewFile, Error))
            LogInfo("removed an unfinished new exe: " + PathToUtf8(NewFile));
        else if (Error)
            LogInfo("cannot delete an unfinished new exe: " + Error.message());
    }
    const std::filesystem::path Backup = BackupPath(Options);
    if (!EntryExists(Backup))
        return;
    // The first start of an update's new program: it has not run well yet, and the backup is
    // what the old program falls back to.
    if (EntryExists(InData(UpdatePendingFileName)))
        return;
    std::error_code Error;
    if (std::filesystem::remove(Backup, Error))
        LogInfo("removed previous exe backup");
    else if (Error)
        LogInfo("cannot delete previous exe backup: " + Error.message());
}

void ReportStartedWell()
{
    const std::filesystem::path Pending = InData(UpdatePendingFileName);
    const std::filesystem::path Started = InData(UpdateStartedFileName);
    if (!EntryExists(Pending))
        return;
    // Read before the report: once it is renamed, the old program may take it away at once.
    const std::string Version = FirstLineOf(Pending);
    // The rename is the report: the old program either sees it or has taken the pending file
    // back already, never both.
    std::string Error;
    if (!RenameNoReplace(Pending, Started, Error)) {
        if (EntryExists(Pending))
            LogError("update: cannot report a good start: " + Error);
        return;
    }
    if (!RememberInstalled(Version, Error)) {
        LogError("update: cannot remember the installed version: " + Error);
        return;
    }
    LogInfo("update: started well; installed version " + Version);
}

std::size_t HttpGet(std::string_view Url, TByteStream& Stream, int TimeoutMs,
                    const TUpdateOptions& Options, int OverallMs)
{
    THttpRequest Request;
    Request.Url = std::string(Url);
    Request.ConnectTimeoutMs = TimeoutMs;
    Request.ResponseTimeoutMs = TimeoutMs;
    Request.OverallTimeoutMs = OverallMs;
    Request.ReadChunk = UpdateHttpChunk;
    Request.CaFile = Options.CaFile;

    int RefusedStatus = 0;
    const THttpResult Result = SendHttpGet(
        Request,
        [&](int Status) {
            if (Status >= 400) {
                RefusedStatus = Status;
                return false;
            }
            Stream.clear();
            return true;
        },
        [&](std::span<const std::uint8_t> Piece) {
            Stream.insert(Stream.end(), Piece.begin(), Piece.end());
            return true;
        });
    if (RefusedStatus != 0)
        throw TUpdateError("HTTP " + std::to_string(RefusedStatus) + " for " + std::string(Url));
    if (!Result.Ok)
        throw TUpdateError(Result.Error);
    return Stream.size();
}

std::string FetchRemoteVersion(const TUpdateOptions& Options, int OverallMs)
{
    TByteStream Body;
    HttpGet(UpdateUrl(Options.SiteUrl, UpdateVersionPath), Body, UpdateVersionTimeoutMs, Options,
            OverallMs);
    std::string Line;
    for (const std::uint8_t Byte : Body) {
        if (Byte == 10)
            break;
        // Read as ASCII: a byte beyond it is no version character and must not reach the
        // journal as broken UTF-8.
        Line += Byte < 128 ? static_cast<char>(Byte) : '?';
    }
    return Trim(Line);
}

bool ExtractExe(const TByteStream& Archive, TByteStream& Output)
{
    Output.clear();
    TZipReader Zip;
    if (!Zip.Open(Archive)) {
        LogError("update: downloaded file is not a valid zip");
        return false;
    }
    const std::string Member = UpdateExeName();
    const auto& Entries = Zip.Entries();
    for (std::size_t Index = 0; Index < Entries.size(); ++Index) {
        if (!SameTextAscii(MemberFileName(Entries[Index].Name), Member))
            continue;
        // Content that cannot be read (damaged, encrypted, an unknown method) is as missing as
        // an empty one: either way there is no executable to install.
        if (Zip.Read(Index, Output) != TZipReadResult::zrOk || Output.empty()) {
            Output.clear();
            LogError("update: zip member is empty");
            return false;
        }
        return true;
    }
    LogError("update: zip has no " + Member);
    return false;
}

bool ReplaceExe(const std::filesystem::path& ExePath, const TByteStream& NewData,
                const TUpdateOptions& Options)
{
    const std::filesystem::path Backup = BackupFor(ExePath);
    const std::filesystem::path NewFile = NewExeFor(ExePath);
    const auto RemoveNewFile = [&] {
        std::error_code Ignored;
        std::filesystem::remove(NewFile, Ignored);
    };

    if (EntryExists(Backup)) {
        std::error_code Error;
        if (!std::filesystem::remove(Backup, Error) && Error)
            LogInfo("update: cannot delete old backup: " + Error.message());
    }

    // The new program is whole, on disk and runnable under its own name before the running one
    // is touched: a failure or a kill up to here leaves the old one as it was.
    RemoveNewFile();
    std::string Error;
    if (!WriteThrough(Options, NewFile, NewData, Error)) {
        LogError("update: write new exe failed: " + Error);
        RemoveNewFile();
        return false;
    }
    if (!EntryExists(NewFile)) {
        LogError("update: new exe is missing after write");
        return false;
    }
    if (!MakeExecutable(NewFile, Error)) {
        LogError("update: write new exe failed: " + Error);
        RemoveNewFile();
        return false;
    }

    bool Kept = false;
    for (int Attempt = 1; Attempt <= UpdateRenameAttempts; ++Attempt) {
        std::string KeepError;
        if (Options.RenameFile ? Options.RenameFile(ExePath, Backup, KeepError)
                               : KeepAsBackup(ExePath, Backup, KeepError)) {
            Kept = true;
            break;
        }
        LogInfo("update: rename busy, retry " + std::to_string(Attempt) + "/" +
                std::to_string(UpdateRenameAttempts));
        std::this_thread::sleep_for(std::chrono::milliseconds(UpdateRenamePauseMs));
    }
    if (!Kept) {
        LogError("update: cannot rename running exe");
        RemoveNewFile();
        return false;
    }

    if (!RenameOver(NewFile, ExePath, Error)) {
        LogError("update: cannot put the new exe in place: " + Error);
        // The old program goes back under its name; where it never left it (a link), the
        // extra name goes.
        std::string Ignored;
        if (!EntryExists(ExePath))
            RenameNoReplace(Backup, ExePath, Ignored);
        else {
            std::error_code Unused;
            std::filesystem::remove(Backup, Unused);
        }
        RemoveNewFile();
        return false;
    }

    LogInfo("update: exe replaced (" + std::to_string(NewData.size()) + " bytes)");
    return true;
}

bool StartNewExe(const std::filesystem::path& ExePath, std::uint64_t* ProcessId)
{
    std::string Error;
    if (!StartDetached(ExePath, Error, ProcessId)) {
        LogError("update: failed to start the new exe");
        return false;
    }
    return true;
}

bool CheckForUpdate(bool AutoUpdate, const TUpdateOptions& Options)
{
    if (!AutoUpdate) {
        LogInfo("automatic update is off");
        return false;
    }
    const TClock::time_point Deadline =
        TClock::now() + std::chrono::milliseconds(Options.OverallTimeoutMs);
    // Taken now: after the rename the system may already name our file by its backup name.
    const std::filesystem::path Exe = ExeOf(Options);

    LogInfo("update check: " + UpdateUrl(Options.SiteUrl, UpdateVersionPath));
    std::string Remote;
    try {
        Remote = FetchRemoteVersion(Options, MsLeft(Deadline));
    } catch (const std::exception& Failure) {
        LogInfo(std::string("update check failed: ") + Failure.what());
        return false;
    }
    if (Remote.empty()) {
        LogInfo("update check failed: empty version");
        return false;
    }
    LogInfo("update: local=" + std::string(UpdateLocalVersion) + " remote=" + Remote);
    // Equality only: any other published version, older ones included, is installed.
    if (Remote == UpdateLocalVersion) {
        LogInfo("update: already current");
        return false;
    }
    // A version file that names what the archive's program does not report about itself would
    // otherwise replace and restart the program at every start, for ever.
    if (Remote == LastInstalledVersion()) {
        LogWarn("update: remote version " + Remote +
                " was installed before and is not installed again");
        return false;
    }
    if (!InstallRemote(Remote, Exe, Options, Deadline))
        return false;

    std::string Error;
    if (!ExpectStartReport(Remote, Error)) {
        LogError("update: cannot write " + PathToUtf8(InData(UpdatePendingFileName)) + ": " +
                 Error);
        PutOldExeBack(Exe, Options);
        return false;
    }
    const THeldLocks Locks;
    Locks.Release();
    LogInfo("update: launching new process");
    std::uint64_t Started = 0;
    if (!StartNewExe(Exe, &Started)) {
        std::error_code Ignored;
        std::filesystem::remove(InData(UpdatePendingFileName), Ignored);
        PutOldExeBack(Exe, Options);
        Locks.Retake();
        return false;
    }
    switch (WaitForStartReport(Started, Options.StartReportWaitMs)) {
    case TStartReport::srReported:
        LogInfo("update: the new exe reported a good start");
        return true;
    case TStartReport::srEnded:
        LogError("update: the new exe ended before it reported a good start");
        break;
    case TStartReport::srSilent:
        LogError("update: the new exe did not report a good start within " +
                 std::to_string(Options.StartReportWaitMs / 1000) + " s");
        break;
    }
    PutOldExeBack(Exe, Options);
    Locks.Retake();
    return false;
}

} // namespace Plumeria
