// How long after a writer closes a file in the watched folder its ready call runs on the
// interface thread, against the 400 ms the stability rule asks for; and how long 1,000 files
// dropped at once take until every one has been reported. Prints numbers, asserts nothing.
//   ./build/bench/bench_watch_latency [runs]

#include "core/FolderWatch/FolderWatch.h"
#include "core/Types/Poster.h"
#include "platform/Environment.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace Plumeria;

namespace {

// The interface thread's queue: the watch posts, main() runs.
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

std::string Articles(int Count)
{
    std::string Text;
    for (int I = 1; I <= Count; ++I)
        Text += std::to_string(I) + ";Article " + std::to_string(I) + ";12345;1;0;0;0;1\r\n";
    return Text;
}

double Median(std::vector<double> Values)
{
    std::sort(Values.begin(), Values.end());
    return Values[Values.size() / 2];
}

fs::path MakeFolder(const char* What)
{
    const fs::path Dir =
        fs::temp_directory_path() / ("plumeria-bench-" + std::string(What) + "-" +
                                     std::to_string(Clock::now().time_since_epoch().count()));
    fs::create_directories(Dir);
    return Dir;
}

void CloseToReady(int Articles_, int Runs)
{
    const std::string Content = Articles(Articles_);
    std::vector<double> Ms;
    for (int Run = 0; Run < Runs; ++Run) {
        const fs::path Dir = MakeFolder("latency");
        TLoop Loop;
        bool Ready = false;
        TFolderWatch Watch(
            PathToUtf8(Dir), "*.csv", [&](const std::string&) { Ready = true; }, Loop.Poster());
        // Let the watch open the folder and settle into its wait, at a different phase each run.
        std::this_thread::sleep_for(std::chrono::milliseconds(300 + 97 * Run));
        Clock::time_point Closed;
        {
            std::ofstream Out(Dir / "prices.csv", std::ios::binary);
            Out << Content;
            Out.close();
            Closed = Clock::now();
        }
        if (Loop.RunUntil([&] { return Ready; }, std::chrono::milliseconds(10000)))
            Ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - Closed).count());
        fs::remove_all(Dir);
    }
    if (Ms.empty()) {
        std::printf("%6d articles (%7zu bytes): never reported\n", Articles_, Content.size());
        return;
    }
    std::printf("%6d articles (%7zu bytes): close -> ready call median %6.1f ms, min %6.1f, "
                "max %6.1f over %zu runs (stability interval 400 ms)\n",
                Articles_, Content.size(), Median(Ms), *std::min_element(Ms.begin(), Ms.end()),
                *std::max_element(Ms.begin(), Ms.end()), Ms.size());
}

void ManyFilesAtOnce(int Files)
{
    const fs::path Dir = MakeFolder("many");
    TLoop Loop;
    std::set<std::string> Seen;
    TFolderWatch Watch(
        PathToUtf8(Dir), "*.csv", [&](const std::string& Path) { Seen.insert(Path); },
        Loop.Poster());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string Content = Articles(10);
    const auto Start = Clock::now();
    for (int I = 0; I < Files; ++I)
        std::ofstream(Dir / ("prices-" + std::to_string(I) + ".csv"), std::ios::binary) << Content;
    const auto Written = Clock::now();
    const bool All = Loop.RunUntil([&] { return static_cast<int>(Seen.size()) >= Files; },
                                   std::chrono::milliseconds(30000));
    const auto End = Clock::now();
    std::printf("%6d files dropped at once: written in %.0f ms, %s %zu reported %.0f ms after the "
                "last was closed\n",
                Files, std::chrono::duration<double, std::milli>(Written - Start).count(),
                All ? "all" : "only", Seen.size(),
                std::chrono::duration<double, std::milli>(End - Written).count());
    fs::remove_all(Dir);
}

} // namespace

int main(int Argc, char** Argv)
{
    const int Runs = Argc > 1 ? std::max(1, std::atoi(Argv[1])) : 7;
    CloseToReady(10, Runs);
    CloseToReady(10000, Runs);
    ManyFilesAtOnce(1000);
    return 0;
}
