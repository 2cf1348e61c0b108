#include "core/Types/PostingThread.h"

#include "core/Journal/Journal.h"

#include <exception>
#include <utility>

namespace Plumeria {

TPostingThread::TPostingThread(std::string What, std::function<void()> Work, TPoster Poster,
                               TPostedCall OnEnd)
{
    FThread = std::thread([this, What = std::move(What), Work = std::move(Work),
                           Poster = std::move(Poster),
                           OnEnd = std::move(OnEnd)] { Run(What, Work, Poster, OnEnd); });
}

TPostingThread::~TPostingThread()
{
    Join();
}

void TPostingThread::Join()
{
    if (FThread.joinable())
        FThread.join();
}

void TPostingThread::Run(const std::string& What, const std::function<void()>& Work,
                         const TPoster& Poster, const TPostedCall& OnEnd)
{
    try {
        Work();
    } catch (const std::exception& Error) {
        LogError(What + " failed: " + Error.what());
    } catch (...) {
        LogError(What + " failed");
    }
    // Finished before the end call is posted, so an owner running the end call never sees a
    // thread that still claims to work.
    FFinished.store(true);
    try {
        if (Poster && OnEnd)
            Poster(OnEnd);
    } catch (...) {
        // An owner whose queue refuses the call still sees Finished() and joins.
    }
}

} // namespace Plumeria
