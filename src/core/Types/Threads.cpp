#include "core/Types/Threads.h"

#include <atomic>
#include <exception>

namespace Plumeria {

namespace {

/// Starts still allowed before they fail; negative: no failures.
std::atomic<int> StartsBeforeFailure{-1};

bool InjectedFailure()
{
    int Left = StartsBeforeFailure.load();
    while (Left > 0)
        if (StartsBeforeFailure.compare_exchange_weak(Left, Left - 1))
            return false;
    return Left == 0;
}

} // namespace

bool TryStartThread(std::thread& Thread, std::function<void()> Work)
{
    if (InjectedFailure())
        return false;
    try {
        Thread = std::thread(std::move(Work));
        return true;
    } catch (const std::exception&) {
        return false; // std::system_error from the system, or no memory for the thread's state
    }
}

void FailThreadStartsForTests(int Successes)
{
    StartsBeforeFailure.store(Successes);
}

} // namespace Plumeria
