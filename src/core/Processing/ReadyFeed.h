#pragma once
// Hands the watch's ready files to file processing one at a time, oldest first. A ready file is
// not processed in the call that reports it: processing starts from a call queued behind it, so
// every file reported meanwhile (while another one was sent, or in the same scan) is in the queue
// before the oldest is picked.

#include "core/FolderWatch/ReadyQueue.h"
#include "core/Types/Poster.h"

#include <functional>
#include <memory>
#include <string>

namespace Plumeria {

class TReadyFeed
{
public:
    using TProcess = std::function<void(const std::string& FileName)>;

    /// `Poster` queues calls to the thread that processes (the interface thread); `Process` is
    /// called there with each file in turn.
    TReadyFeed(TPoster Poster, TProcess Process);
    /// Calls still queued afterwards do nothing.
    ~TReadyFeed();
    TReadyFeed(const TReadyFeed&) = delete;
    TReadyFeed& operator=(const TReadyFeed&) = delete;

    /// A ready file (full path, UTF-8), on the processing thread.
    void Offer(const std::string& FileName);
    /// Forgets the files not processed yet (their watch stopped; the next one offers them again).
    void Clear();
    std::size_t Waiting() const { return FState->Queue.Size(); }

private:
    struct TState
    {
        TReadyQueue Queue;
        TProcess Process;
        bool Scheduled = false; ///< a call that processes the next file is queued
        bool Alive = true;
    };
    static void ScheduleNext(const std::shared_ptr<TState>& State, const TPoster& Poster);

    TPoster FPoster;
    std::shared_ptr<TState> FState;
};

} // namespace Plumeria
