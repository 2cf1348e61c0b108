// A stand-in for the tray program in the self-update end-to-end test: it starts the way the
// program does (single-instance lock, backup removal, journal, update check) without any window.
// Built twice: the "current" build updates itself from the site named on its command line; the
// "next" build, which the archive carries, is what the update starts and proves that it ran.
//
//   current: PlumeriaBridge update SITE CAFILE   exit 0 when the update asked us to end
//            PlumeriaBridge try-lock             exit 0 when the lock was taken, 1 when not
//   next:    (no arguments)                      writes next-ran.txt beside itself

#include "core/Journal/Journal.h"
#include "core/Update/Update.h"
#include "platform/Environment.h"
#include "platform/SingleInstance.h"

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace {

using namespace Plumeria;

[[maybe_unused]] int RunNext()
{
    if (!AcquireSingleInstance())
        return 2;
    RemovePreviousBackup();
    LogInfo("started next");
    // Give the old process time to be gone: the marker then shows that we outlived it.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::ofstream(ExecutablePath().parent_path() / "next-ran.txt") << "ran\n";
    ReleaseSingleInstance();
    return 0;
}

[[maybe_unused]] int RunCurrent(int Count, char** Args)
{
    const std::string Mode = Count > 1 ? Args[1] : "";
    if (Mode == "try-lock") {
        const bool Taken = AcquireSingleInstance();
        ReleaseSingleInstance();
        return Taken ? 0 : 1;
    }
    if (Mode != "update" || Count != 4)
        return 64;
    if (!AcquireSingleInstance())
        return 2;
    RemovePreviousBackup();
    LogInfo("started " + std::string(UpdateLocalVersion));
    TUpdateOptions Options;
    Options.SiteUrl = Args[2];
    Options.CaFile = PathFromUtf8(Args[3]);
    if (CheckForUpdate(true, Options)) {
        ReleaseSingleInstance();
        return 0;
    }
    ReleaseSingleInstance();
    return 3;
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
