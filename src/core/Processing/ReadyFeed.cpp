#include "core/Processing/ReadyFeed.h"

#include <stdexcept>
#include <utility>

namespace Plumeria {

TReadyFeed::TReadyFeed(TPoster Poster, TProcess Process)
    : FPoster(std::move(Poster)), FState(std::make_shared<TState>())
{
    if (!FPoster)
        throw std::invalid_argument("ready feed needs a poster");
    FState->Process = std::move(Process);
}

TReadyFeed::~TReadyFeed()
{
    FState->Alive = false;
    Clear();
}

void TReadyFeed::Offer(const std::string& FileName)
{
    FState->Queue.Add(FileName);
    ScheduleNext(FState, FPoster);
}

void TReadyFeed::Clear()
{
    while (FState->Queue.TakeOldest()) {
    }
}

void TReadyFeed::ScheduleNext(const std::shared_ptr<TState>& State, const TPoster& Poster)
{
    if (State->Scheduled || State->Queue.Empty())
        return;
    State->Scheduled = true;
    // Everything runs on the processing thread, so the state needs no lock; the call keeps the
    // state alive and checks that its feed still is.
    Poster([State, Poster] {
        State->Scheduled = false;
        if (!State->Alive)
            return;
        if (const auto Next = State->Queue.TakeOldest())
            State->Process(*Next);
        if (State->Alive)
            ScheduleNext(State, Poster);
    });
}

} // namespace Plumeria
