// The whole main road, timed: from the moment a writer closes a PLU file in the watched folder to
// the moment the scale simulator acknowledges its last frame, for a 10-article and a 10,000-article
// file, beside the 400 ms the stability rule makes every file wait. In-process: folder watch, file
// processing and a DIGI simulator on 127.0.0.1. Prints numbers, asserts nothing.
//   ./build/bench/bench_road_latency [runs]

#include "BenchSupport.h"
#include "core/FolderWatch/FolderWatch.h"
#include "core/Journal/Journal.h"
#include "core/Processing/ProcessFile.h"
#include "core/Settings/Settings.h"
#include "core/Types/Poster.h"
#include "platform/Environment.h"
#include "tool/ScaleSim.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace Plumeria;
using namespace Plumeria::Bench;

namespace {

struct TRunTimes
{
    double CloseToReady = 0;
    double ReadyToLastAck = 0;
    double CloseToLastAck = 0;
    double LastAckToFinished = 0;
};

bool RoadOnce(int Articles, const std::string& Content, int Phase, TLogLevel Level,
              TRunTimes& Times)
{
    SetLogLevel(Level);
    std::atomic<long long> LastAck{0};
    Tool::TScaleSim Sim;
    Tool::TScaleSimOptions SimOptions;
    SimOptions.KeepFrames = false;
    SimOptions.Answer = [&, Articles](const Tool::TSimFrame& Frame) {
        if (Frame.Number == Articles)
            LastAck = Clock::now().time_since_epoch().count();
        return Tool::TSimAnswer{};
    };
    std::string Error;
    if (!Sim.Start(std::move(SimOptions), Error)) {
        std::fprintf(stderr, "simulator: %s\n", Error.c_str());
        return false;
    }

    const fs::path Dir = MakeFolder("road");
    TLoaderSettings Settings;
    Settings.WatchFolder = PathToUtf8(Dir);
    Settings.ConnectTimeoutMs = 500;
    TScaleConfig Scale;
    Scale.Enabled = true;
    Scale.Host = "127.0.0.1";
    Scale.Port = Sim.Port();
    Settings.Scales = {Scale};

    TLoop Loop;
    TQuietReporter Reporter;
    Clock::time_point Ready, Finished;
    bool Done = false;
    std::unique_ptr<TFolderWatch> Watch;
    Watch = std::make_unique<TFolderWatch>(
        Settings.WatchFolder, "*.csv",
        [&](const std::string& FileName) {
            Ready = Clock::now();
            ProcessFile(FileName, &Settings, Watch.get(), Reporter);
            Finished = Clock::now();
            Done = true;
        },
        Loop.Poster());
    // Let the watch open the folder and settle into its wait, at a different phase each run.
    std::this_thread::sleep_for(std::chrono::milliseconds(300 + 97 * Phase));
    const Clock::time_point Closed = WriteAndClose(Dir / "prices.csv", Content);
    const bool Ok = Loop.RunUntil([&] { return Done; }, std::chrono::milliseconds(60000));
    Watch.reset();
    Sim.Stop();
    const bool Sent = fs::exists(Dir / "processed");
    fs::remove_all(Dir);
    if (!Ok || !Sent || LastAck == 0)
        return false;
    const Clock::time_point Acked{Clock::duration(LastAck.load())};
    Times = {Ms(Ready - Closed), Ms(Acked - Ready), Ms(Acked - Closed), Ms(Finished - Acked)};
    return true;
}

void Road(int Articles, int Runs, TLogLevel Level)
{
    const std::string Content = PluFile(Articles);
    std::vector<double> ToReady, Upload, Total, After;
    for (int Run = 0; Run < Runs; ++Run) {
        TRunTimes Times;
        if (!RoadOnce(Articles, Content, Run, Level, Times))
            continue;
        ToReady.push_back(Times.CloseToReady);
        Upload.push_back(Times.ReadyToLastAck);
        Total.push_back(Times.CloseToLastAck);
        After.push_back(Times.LastAckToFinished);
    }
    if (Total.empty()) {
        std::printf("%6d articles: never uploaded\n", Articles);
        return;
    }
    std::printf("%6d articles (%7zu bytes), journal %-6s: close -> last ack median %7.1f ms "
                "(min %7.1f, max %7.1f; %zu runs) = close -> ready %6.1f + parse and upload "
                "%7.1f; then move and report %5.1f; stability interval 400 ms\n",
                Articles, Content.size(), LogLevelName(Level).c_str(), Median(Total),
                *std::min_element(Total.begin(), Total.end()),
                *std::max_element(Total.begin(), Total.end()), Total.size(), Median(ToReady),
                Median(Upload), Median(After));
}

} // namespace

int main(int Argc, char** Argv)
{
    const int Runs = Argc > 1 ? std::max(1, std::atoi(Argv[1])) : 7;
    const fs::path Data = UseThrowAwayDataFolder();
    std::printf("goal: 10 articles acknowledged within 600 ms of the writer's close\n");
    for (const TLogLevel Level : {TLogLevel::llMaximum, TLogLevel::llErrors}) {
        Road(10, Runs, Level);
        Road(10000, std::max(1, Runs / 2), Level);
    }
    fs::remove_all(Data);
    return 0;
}
