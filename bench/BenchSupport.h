#pragma once
// Pieces the benchmarks share: a hand-run stand-in for the interface thread, throw-away folders
// (the data folder included), timing and a median.

#include "core/Processing/ProcessFile.h"
#include "core/Types/Poster.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace Plumeria::Bench {

using Clock = std::chrono::steady_clock;

// The interface thread's queue: the watch posts, main() runs the calls.
struct TLoop
{
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<TPostedCall> Calls;

    TPoster Poster()
    {
        return [this](TPostedCall Call) {
            {
                std::lock_guard Guard(Lock);
                Calls.push_back(std::move(Call));
            }
            Changed.notify_all();
        };
    }
    // Runs calls until Done() or the time-out; true when done.
    template <typename TDone> bool RunUntil(TDone Done, std::chrono::milliseconds Timeout)
    {
        const auto End = Clock::now() + Timeout;
        while (!Done()) {
            std::unique_lock Guard(Lock);
            if (!Changed.wait_until(Guard, End, [&] { return !Calls.empty(); }))
                return Done();
            auto Call = std::move(Calls.front());
            Calls.pop_front();
            Guard.unlock();
            Call();
        }
        return true;
    }
};

/// File processing's reports, dropped.
class TQuietReporter : public IProcessReporter
{
public:
    void AddRecent(const std::string&) override {}
    void ShowBalloon(const std::string&, const std::string&) override {}
    void RefreshView() override {}
};

/// A PLU file of `Count` articles the DIGI encoder takes: weighed, price per kilogram, a 7-digit
/// barcode.
std::string PluFile(int Count);

/// The middle value (the upper one of the two for an even count); `Values` must not be empty.
double Median(std::vector<double> Values);

double Ms(Clock::duration D);

/// A new, empty folder under the system's temporary folder, unique per call.
std::filesystem::path MakeFolder(const char* What);

/// Points `ProgramData` at a new throw-away folder and starts the journal afresh, so that a
/// benchmark never journals into (or reads the settings of) the machine's data folder. Returns
/// the folder; the caller removes it at the end.
std::filesystem::path UseThrowAwayDataFolder();

/// Writes `Content` to `Path` as a writer would and returns the moment the file was closed.
Clock::time_point WriteAndClose(const std::filesystem::path& Path, const std::string& Content);

} // namespace Plumeria::Bench
