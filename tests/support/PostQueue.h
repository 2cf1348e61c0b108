#pragma once
// A hand-drained stand-in for the interface thread: worker threads queue calls through `Poster()`
// and the test runs them on its own thread when it chooses, exactly as an event loop would.

#include "core/Types/Poster.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>

namespace Plumeria::Test {

class TPostQueue
{
public:
    /// A poster that stays safe to call after the queue died (its calls are then dropped).
    TPoster Poster()
    {
        return [State = FState](TPostedCall Call) {
            {
                std::lock_guard Guard(State->Lock);
                State->Calls.push_back(std::move(Call));
            }
            State->Changed.notify_all();
        };
    }

    std::size_t Queued() const
    {
        std::lock_guard Guard(FState->Lock);
        return FState->Calls.size();
    }

    /// Waits up to `Timeout` until at least one call is queued, without running it.
    bool WaitForCall(std::chrono::milliseconds Timeout)
    {
        std::unique_lock Guard(FState->Lock);
        return FState->Changed.wait_for(Guard, Timeout, [&] { return !FState->Calls.empty(); });
    }

    /// Runs the queued calls in order (calls queued meanwhile included); returns how many ran.
    std::size_t RunQueued()
    {
        std::size_t Ran = 0;
        for (;;) {
            TPostedCall Call;
            {
                std::lock_guard Guard(FState->Lock);
                if (FState->Calls.empty())
                    return Ran;
                Call = std::move(FState->Calls.front());
                FState->Calls.pop_front();
            }
            Call();
            ++Ran;
        }
    }

    /// Runs calls as they arrive for `Duration`.
    void RunFor(std::chrono::milliseconds Duration)
    {
        const auto End = std::chrono::steady_clock::now() + Duration;
        for (;;) {
            RunQueued();
            const auto Now = std::chrono::steady_clock::now();
            if (Now >= End)
                return;
            WaitForCall(std::chrono::duration_cast<std::chrono::milliseconds>(End - Now));
        }
    }

    /// Runs calls as they arrive until `Done()` holds or `Timeout` passed; returns `Done()`.
    template <typename TDone> bool RunUntil(TDone Done, std::chrono::milliseconds Timeout)
    {
        const auto End = std::chrono::steady_clock::now() + Timeout;
        for (;;) {
            RunQueued();
            if (Done())
                return true;
            const auto Now = std::chrono::steady_clock::now();
            if (Now >= End)
                return false;
            WaitForCall(std::min(std::chrono::milliseconds(50),
                                 std::chrono::duration_cast<std::chrono::milliseconds>(End - Now)));
        }
    }

private:
    struct TState
    {
        mutable std::mutex Lock;
        std::condition_variable Changed;
        std::deque<TPostedCall> Calls;
    };
    std::shared_ptr<TState> FState = std::make_shared<TState>();
};

} // namespace Plumeria::Test
