#pragma once
// A worker thread whose end the interface thread learns of through a poster: it runs its work,
// keeps whatever the work throws from ending the program (the failure is journalled), and as
// its very last act posts the end call. The owner asks whether it has finished and joins it;
// destroying it joins as well, so the work never outlives its owner.

#include "core/Types/Poster.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace Plumeria {

class TPostingThread
{
public:
    /// Starts `Work` on a new thread. `What` names the work in the journal line of a failure
    /// ("<what> failed: <reason>"). Throws std::system_error when no thread can be started; then
    /// nothing runs and nothing is posted.
    TPostingThread(std::string What, std::function<void()> Work, TPoster Poster, TPostedCall OnEnd);
    ~TPostingThread();
    TPostingThread(const TPostingThread&) = delete;
    TPostingThread& operator=(const TPostingThread&) = delete;

    /// True once the work is over (the end call is posted right after).
    bool Finished() const { return FFinished.load(); }
    /// Waits for the thread to end (at once when it has finished). Idempotent.
    void Join();

private:
    void Run(const std::string& What, const std::function<void()>& Work, const TPoster& Poster,
             const TPostedCall& OnEnd);

    std::atomic<bool> FFinished{false};
    std::thread FThread;
};

} // namespace Plumeria
