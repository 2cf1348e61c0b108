// A stand-in for the tray program in the self-update end-to-end test: it starts the way the
// program does (single-instance lock, watch lock, backup removal, the report of a good start,
// journal, update check) without any window. Built twice: the "current" build updates itself
// from the site named on its command line; the "next" build, which the archive carries, is what
// the update starts and proves that it ran.
//
//   current: PlumeriaBridge update SITE CAFILE   exit 0 when the update asked us to end, 3 when
//                                                it did not and we run on holding both locks, 4
//                                                when a lock was lost
//            PlumeriaBridge update-killed SITE CAFILE
//                                                as update, but the process is killed half-way
//                                                through writing the new program
//            PlumeriaBridge start                a start without update check; exit 0
//            PlumeriaBridge try-lock             exit 0 when the lock was taken, 1 when not
//   next:    (no arguments)                      writes next-ran.txt beside itself

#include "core/Journal/Journal.h"
#include "core/Update/Update.h"
#include "platform/Environment.h"
#include "platform/SingleInstance.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

using namespace Plumeria;

/// The tray program's start up to its update check. False when another instance runs.
bool StartLikeTheProgram()
{
    if (!AcquireSingleInstance())
        return false;
    if (AcquireDataFolderLock(DataFolder(), SingleInstanceWaitMs) != TFolderLockResult::flTaken)
        return false;
    RemovePreviousBackup();
    ReportStartedWell();
    return true;
}

void EndLikeTheProgram()
{
    ReleaseDataFolderLock();
    ReleaseSingleInstance();
}

[[maybe_unused]] int RunNext()
{
    if (!StartLikeTheProgram())
        return 2;
    LogInfo("started next");
    // Give the old process time to be gone: the marker then shows that we outlived it.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::ofstream(ExecutablePath().parent_path() / "next-ran.txt") << "ran\n";
    EndLikeTheProgram();
    return 0;
}

[[maybe_unused]] int RunUpdate(const std::string& Site, const std::string& CaFile,
                               bool KilledMidWrite)
{
    if (!StartLikeTheProgram())
        return 2;
    LogInfo("started " + std::string(UpdateLocalVersion));
    TUpdateOptions Options;
    Options.SiteUrl = Site;
    Options.CaFile = PathFromUtf8(CaFile);
    if (KilledMidWrite)
        Options.WriteFile = [](const std::filesystem::path& Path,
                               std::span<const std::uint8_t> Data, std::string&) {
            std::ofstream(Path, std::ios::binary)
                .write(reinterpret_cast<const char*>(Data.data()),
                       static_cast<std::streamsize>(Data.size() / 2))
                .flush();
            // A probe of the folder is written whole; the program is not.
            if (Data.size() > 2) {
#ifdef SIGKILL
                std::raise(SIGKILL);
#endif
                std::_Exit(137);
            }
            return true;
        };
    if (CheckForUpdate(true, Options)) {
        EndLikeTheProgram();
        return 0;
    }
    const bool Held = SingleInstanceHeld() && !HeldDataFolderLock().empty();
    EndLikeTheProgram();
    return Held ? 3 : 4;
}

[[maybe_unused]] int RunCurrent(int Count, char** Args)
{
    const std::string Mode = Count > 1 ? Args[1] : "";
    if (Mode == "try-lock") {
        const bool Taken = AcquireSingleInstance();
        ReleaseSingleInstance();
        return Taken ? 0 : 1;
    }
    if (Mode == "start" && Count == 2) {
        if (!StartLikeTheProgram())
            return 2;
        LogInfo("started " + std::string(UpdateLocalVersion));
        EndLikeTheProgram();
        return 0;
    }
    if ((Mode != "update" && Mode != "update-killed") || Count != 4)
        return 64;
    return RunUpdate(Args[2], Args[3], Mode == "update-killed");
}

} // namespace

int main(int Count, char** Args)
{
#ifdef PLUMERIA_STANDIN_NEXT
    (void)Count;
    (void)Args;
    return RunNext();
#else
    return RunCurrent(Count, Args);
#endif
}
