// Several ready files at once are processed oldest first (modification time, then name), however
// they got there: waiting when watching starts, coming one by one while another file is sent, or
// coming while watching was paused. The order of the folder's listing, of their arrival and of
// their names must not matter.

#include "core/Processing/ReadyFeed.h"

#include "core/FolderWatch/FolderWatch.h"
#include "platform/Environment.h"
#include "support/PostQueue.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace Plumeria {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace Kit = Plumeria::Test;

struct TAged
{
    const char* Name;
    int HoursOld;
};

// Written in this order; by name a, b, c, d; by age b, then a and c (same time: by name), then d.
const TAged Files[] = {{"d.csv", 1}, {"b.csv", 3}, {"a.csv", 2}, {"c.csv", 2}};
const std::vector<std::string> OldestFirst = {"b.csv", "a.csv", "c.csv", "d.csv"};

void WriteAged(const fs::path& Folder, const TAged& File)
{
    const fs::path Path = Folder / File.Name;
    {
        std::ofstream Out(Path, std::ios::binary);
        Out << "A;1;1234567;1;0;0;0;" << File.Name << "\r\n";
    }
    fs::last_write_time(Path, fs::file_time_type::clock::now() - std::chrono::hours(File.HoursOld));
}

enum class TWhen
{
    wnWaitingAtStart,
    wnArrivingWhileAnotherIsSent,
    wnArrivingWhileWatchingIsPaused,
};

class ReadyFeedOrder : public ::testing::TestWithParam<TWhen>
{
protected:
    void StartWatch()
    {
        TFolderWatchOptions Options;
        Options.RescanMs = 100;
        Watch = std::make_unique<TFolderWatch>(
            PathToUtf8(Dir.Path()), "*.csv",
            [this](const std::string& FileName) { Feed.Offer(FileName); }, Queue.Poster(), Options);
    }

    void Process(const std::string& FileName)
    {
        const std::string Name = PathToUtf8(PathFromUtf8(FileName).filename());
        Processed.push_back(Name);
        // A slow upload, during which the other files come, each noticed on its own scan.
        if (Name == "first.csv" && GetParam() == TWhen::wnArrivingWhileAnotherIsSent)
            for (const TAged& File : Files) {
                WriteAged(Dir.Path(), File);
                std::this_thread::sleep_for(600ms);
            }
        fs::remove(PathFromUtf8(FileName));
        Watch->MarkFinished(FileName, true);
    }

    Kit::TTempDataFolder Data;
    Kit::TTempDir Dir;
    Kit::TPostQueue Queue;
    TReadyFeed Feed{Queue.Poster(), [this](const std::string& FileName) { Process(FileName); }};
    std::unique_ptr<TFolderWatch> Watch;
    std::vector<std::string> Processed;
};

TEST_P(ReadyFeedOrder, OldestFileFirst)
{
    std::vector<std::string> Expected = OldestFirst;
    switch (GetParam()) {
    case TWhen::wnWaitingAtStart:
        for (const TAged& File : Files)
            WriteAged(Dir.Path(), File);
        StartWatch();
        break;
    case TWhen::wnArrivingWhileAnotherIsSent:
        WriteAged(Dir.Path(), {"first.csv", 5});
        Expected.insert(Expected.begin(), "first.csv");
        StartWatch();
        break;
    case TWhen::wnArrivingWhileWatchingIsPaused:
        StartWatch();
        Queue.RunFor(300ms);
        Watch.reset();
        Feed.Clear();
        for (const TAged& File : Files)
            WriteAged(Dir.Path(), File);
        Queue.RunFor(300ms);
        EXPECT_TRUE(Processed.empty()) << "processed while watching was paused";
        StartWatch();
        break;
    }
    ASSERT_TRUE(Queue.RunUntil([&] { return Processed.size() >= Expected.size(); }, 10000ms));
    EXPECT_EQ(Processed, Expected);
    EXPECT_EQ(Feed.Waiting(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Moments, ReadyFeedOrder,
                         ::testing::Values(TWhen::wnWaitingAtStart,
                                           TWhen::wnArrivingWhileAnotherIsSent,
                                           TWhen::wnArrivingWhileWatchingIsPaused));

// A feed that died drops what was still queued for it instead of calling into it.
TEST(ReadyFeedTest, CallsQueuedForADeadFeedDoNothing)
{
    Kit::TPostQueue Queue;
    int Calls = 0;
    {
        TReadyFeed Feed(Queue.Poster(), [&](const std::string&) { ++Calls; });
        Feed.Offer("/nowhere/a.csv");
        Feed.Offer("/nowhere/b.csv");
    }
    Queue.RunQueued();
    EXPECT_EQ(Calls, 0);
}

} // namespace
} // namespace Plumeria
