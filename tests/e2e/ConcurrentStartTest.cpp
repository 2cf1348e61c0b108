// Many `plumeria run` started at the same moment on one data folder: exactly one watches, every
// other one is refused as a second watcher, and none of them settles on a data folder of its own
// beside the executable. The tool runs from a copy in a folder of the test's own, so anything
// written beside the executable shows.

#include "RunningTool.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace Plumeria {
namespace {

namespace fs = std::filesystem;
namespace Kit = Plumeria::Test;
using Kit::TRunningTool;

constexpr int Starts = 8;
// The race is short; a few rounds make a lost one show up reliably.
constexpr int Rounds = 5;
constexpr int EndTimeoutMs = 15000;

/// Waits until at most one of `Runs` is still running; false when that takes too long.
bool WaitForAllButOne(std::vector<std::unique_ptr<TRunningTool>>& Runs)
{
    const auto Deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(EndTimeoutMs);
    for (;;) {
        int Running = 0;
        for (auto& Run : Runs)
            Running += Run->Running() ? 1 : 0;
        if (Running <= 1)
            return true;
        if (std::chrono::steady_clock::now() >= Deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

TEST(ConcurrentStart, EightRunsOnOneDataFolderLeaveExactlyOneWatching)
{
    Kit::TTempDir Install;
    const fs::path Tool = Install.Path() / "plumeria";
    fs::copy_file(PLUMERIA_TOOL_PATH, Tool);
    fs::permissions(Tool, fs::perms::owner_all);

    for (int Round = 0; Round < Rounds; ++Round) {
        SCOPED_TRACE("round " + std::to_string(Round));
        Kit::TTempDataFolder Data;
        Kit::TTempDir Watched;
        // Every other round the data folder does not exist yet, and all of them create it.
        if (Round % 2 == 1) {
            fs::create_directories(Data.DataDir());
            std::ofstream(Data.DataDir() / "settings.ini", std::ios::binary)
                << "[General]\r\nWatchFolder=" << Watched.Path().string()
                << "\r\nAutoUpdate=0\r\nRunWithWindows=0\r\nScaleCount=0\r\n";
        }

        std::vector<std::unique_ptr<TRunningTool>> Runs;
        for (int I = 0; I < Starts; ++I)
            Runs.push_back(std::make_unique<TRunningTool>(
                Tool.string(), std::vector<std::string>{"run", "--log-level", "max"}));
        EXPECT_TRUE(WaitForAllButOne(Runs)) << "more than one run kept running";

        int Watching = 0;
        for (auto& Run : Runs) {
            if (Run->Running()) {
                ++Watching;
                EXPECT_TRUE(Run->WaitForOutput("watching ", 5000)) << Run->Err();
                EXPECT_NE(Run->Out().find("data folder " + Data.DataDir().string()),
                          std::string::npos)
                    << Run->Out();
                continue;
            }
            EXPECT_EQ(Run->Stop(SIGTERM, 1000), 2) << Run->Out() << Run->Err();
            EXPECT_NE(Run->Err().find("plumeria run: another program is already watching with "
                                      "the data folder " +
                                      Data.DataDir().string()),
                      std::string::npos)
                << Run->Err();
            EXPECT_EQ(Run->Out().find("watching "), std::string::npos) << Run->Out();
        }
        EXPECT_EQ(Watching, 1);
        for (auto& Run : Runs)
            Run->Stop(SIGTERM, 5000);

        EXPECT_EQ(Kit::ListFolder(Install.Path()), std::vector<std::string>{"plumeria"})
            << "a data folder was made beside the executable";
        // No probe file is left behind in the data folder either.
        for (const std::string& Name : Kit::ListFolder(Data.DataDir()))
            EXPECT_EQ(Name.find("probe"), std::string::npos) << Name;
    }
}

} // namespace
} // namespace Plumeria
