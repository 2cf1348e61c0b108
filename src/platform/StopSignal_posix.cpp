#include "platform/StopSignal.h"

#include "platform/Clock.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>

#include <pthread.h>

namespace Plumeria {

namespace {

std::atomic<bool> Requested{false};

sigset_t StopSet()
{
    sigset_t Set;
    sigemptyset(&Set);
    sigaddset(&Set, SIGINT);
    sigaddset(&Set, SIGTERM);
    return Set;
}

} // namespace

void CatchStopSignals()
{
    // Blocked signals stay pending until sigtimedwait takes them: no handler runs on some random
    // thread in the middle of a file, and threads started later inherit the mask.
    const sigset_t Set = StopSet();
    pthread_sigmask(SIG_BLOCK, &Set, nullptr);
}

bool WaitStopSignal(std::uint32_t TimeoutMs)
{
    if (Requested)
        return true;
    const sigset_t Set = StopSet();
    const std::uint64_t Deadline = MonotonicTickMs() + TimeoutMs;
    for (;;) {
        const std::uint64_t Now = MonotonicTickMs();
        const std::uint64_t Left = Deadline > Now ? Deadline - Now : 0;
        timespec Wait{};
        Wait.tv_sec = static_cast<time_t>(Left / 1000);
        Wait.tv_nsec = static_cast<long>((Left % 1000) * 1000000);
        if (sigtimedwait(&Set, nullptr, &Wait) > 0) {
            Requested = true;
            return true;
        }
        // Interrupted by another signal: wait out the rest.
        if (errno != EINTR || Left == 0)
            return false;
    }
}

void StopSignalDone() {}

} // namespace Plumeria
