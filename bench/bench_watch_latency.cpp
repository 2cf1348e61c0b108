// How long after a writer closes a file in the watched folder its ready call runs on the
// interface thread, against the 400 ms the stability rule asks for; and how long 1,000 files
// dropped at once take until every one has been reported. Prints numbers, asserts nothing.
//   ./build/bench/bench_watch_latency [runs]

#include "BenchSupport.h"
#include "core/FolderWatch/FolderWatch.h"
#include "core/Types/Poster.h"
#include "platform/Environment.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace Plumeria;
using namespace Plumeria::Bench;

namespace {

std::string Articles(int Count)
{
    std::string Text;
    for (int I = 1; I <= Count; ++I)
        Text += std::to_string(I) + ";Article " + std::to_string(I) + ";12345;1;0;0;0;1\r\n";
    return Text;
}

void CloseToReady(int Articles_, int Runs)
{
    const std::string Content = Articles(Articles_);
    std::vector<double> Latencies;
    for (int Run = 0; Run < Runs; ++Run) {
        const fs::path Dir = MakeFolder("latency");
        TLoop Loop;
        bool Ready = false;
        TFolderWatch Watch(
            PathToUtf8(Dir), "*.csv", [&](const std::string&) { Ready = true; }, Loop.Poster());
        // Let the watch open the folder and settle into its wait, at a different phase each run.
        std::this_thread::sleep_for(std::chrono::milliseconds(300 + 97 * Run));
        const Clock::time_point Closed = WriteAndClose(Dir / "prices.csv", Content);
        if (Loop.RunUntil([&] { return Ready; }, std::chrono::milliseconds(10000)))
            Latencies.push_back(Ms(Clock::now() - Closed));
        fs::remove_all(Dir);
    }
    if (Latencies.empty()) {
        std::printf("%6d articles (%7zu bytes): never reported\n", Articles_, Content.size());
        return;
    }
    std::printf("%6d articles (%7zu bytes): close -> ready call median %6.1f ms, min %6.1f, "
                "max %6.1f over %zu runs (stability interval 400 ms)\n",
                Articles_, Content.size(), Median(Latencies),
                *std::min_element(Latencies.begin(), Latencies.end()),
                *std::max_element(Latencies.begin(), Latencies.end()), Latencies.size());
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
                Files, Ms(Written - Start), All ? "all" : "only", Seen.size(), Ms(End - Written));
    fs::remove_all(Dir);
}

} // namespace

int main(int Argc, char** Argv)
{
    const int Runs = Argc > 1 ? std::max(1, std::atoi(Argv[1])) : 7;
    const auto Data = UseThrowAwayDataFolder(); // the watch journals what it skips
    CloseToReady(10, Runs);
    CloseToReady(10000, Runs);
    ManyFilesAtOnce(1000);
    std::filesystem::remove_all(Data);
    return 0;
}
