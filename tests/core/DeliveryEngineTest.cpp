// The delivery engine against DIGI scale simulators on loopback and a real folder watch: files are
// processed on the engine's worker, oldest first; a file's scales are sent to at the same time; a
// scale that missed a file gets it again, oldest first and before anything newer, once it answers;
// the spool keeps its bounds and follows the settings; pausing and quitting end an upload at an
// article boundary and leave the file for its next turn.

#include "core/Delivery/DeliveryEngine.h"

#include "core/FolderWatch/FolderWatch.h"
#include "core/Settings/Settings.h"
#include "core/Text/Text.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "support/PostQueue.h"
#include "support/ScaleNet.h"
#include "support/TempDir.h"
#include "tool/ScaleSim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Plumeria {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace Kit = Plumeria::Test;

const char* const OldPrices = "A;1;1234567;10,00;0;0;5;Хлеб вчерашний\r\n";
const char* const NewPrices = "A;1;1234567;20,00;0;0;5;Хлеб свежий\r\n";
const char* const OldName = "Хлеб вчерашний";
const char* const NewName = "Хлеб свежий";

std::string Encoded(const std::string& Utf8, int CodePage)
{
    std::string Bytes;
    EXPECT_TRUE(EncodeCodePage(Utf8, CodePage, Bytes));
    return Bytes;
}

void WriteBytes(const fs::path& Path, const std::string& Bytes)
{
    const fs::path Part = Path.string() + ".part";
    {
        std::ofstream Out(Part, std::ios::binary | std::ios::trunc);
        Out << Bytes;
    }
    fs::rename(Part, Path);
}

/// A list of `Count` articles named "Товар N".
std::string ManyArticles(int Count)
{
    std::string Text;
    for (int Plu = 1; Plu <= Count; ++Plu)
        Text += "A;" + std::to_string(Plu) + ";" + std::to_string(1000000 + Plu) +
                ";1,00;0;0;0;Товар " + std::to_string(Plu) + "\r\n";
    return Encoded(Text, 1251);
}

/// Which of `Names` the scale was given, in the order of its frames (a name once per frame).
std::vector<std::string> NamesReceived(const Tool::TScaleSim& Sim,
                                       const std::vector<std::string>& Names)
{
    std::vector<std::string> Seen;
    for (const Tool::TSimFrame& Frame : Sim.Frames())
        for (const std::string& Name : Names) {
            const std::string Text = Encoded(Name, 866);
            const std::vector<std::uint8_t> Piece(Text.begin(), Text.end());
            if (std::search(Frame.Bytes.begin(), Frame.Bytes.end(), Piece.begin(), Piece.end()) !=
                Frame.Bytes.end())
                Seen.push_back(Name);
        }
    return Seen;
}

class TRecordingReporter : public IProcessReporter
{
public:
    void AddRecent(const std::string& Line) override { Recent.push_back(Line); }
    void ShowBalloon(const std::string&, const std::string&) override {}
    void RefreshView() override {}
    std::vector<std::string> Recent;
};

class TRecordingObserver : public IDeliveryObserver
{
public:
    void ProgressChanged(const TSendProgress& Progress) override { Last = Progress; }
    void ScaleFinished(const std::string& FileName, const TScaleProgress& Scale) override
    {
        Finished.push_back(FileName + " " + Scale.Host + ":" + std::to_string(Scale.Port) +
                           (Scale.Ok        ? " ok"
                            : Scale.NotSent ? " not sent"
                                            : " failed"));
    }
    void StatusChanged() override { ++StatusChanges; }
    TSendProgress Last;
    std::vector<std::string> Finished;
    int StatusChanges = 0;
};

/// A port on 127.0.0.1 that nothing listens on: a scale there is off (its connects are refused
/// at once) until a simulator is started on it.
int FreePort()
{
    Tool::TScaleSim Probe;
    std::string Error;
    Tool::TScaleSimOptions Options;
    EXPECT_TRUE(Probe.Start(Options, Error)) << Error;
    const int Port = Probe.Port();
    Probe.Stop();
    return Port;
}

TScaleConfig ScaleAt(int Port, const std::string& Name)
{
    TScaleConfig Scale;
    Scale.Enabled = true;
    Scale.Name = Name;
    Scale.Host = "127.0.0.1";
    Scale.Port = Port;
    return Scale;
}

class DeliveryEngineTest : public ::testing::Test
{
protected:
    ~DeliveryEngineTest() override
    {
        // The worker tells the watch about finished files: it goes first.
        Engine.reset();
        Watch.reset();
    }

    void StartSim(Tool::TScaleSim& Sim, int Port = 0, Tool::TScaleSimOptions Options = {})
    {
        Options.BindIp = "127.0.0.1";
        Options.Port = Port;
        std::string Error;
        ASSERT_TRUE(Sim.Start(std::move(Options), Error)) << Error;
    }

    void StartEngine(TDeliveryOptions Options = {})
    {
        fs::create_directories(Watched);
        Settings.WatchFolder = PathToUtf8(Watched);
        Settings.ConnectTimeoutMs = Kit::SimAnswerWaitMs;
        Options.DataFolder = Data.DataDir();
        fs::create_directories(Options.DataFolder);
        Engine = std::make_unique<TDeliveryEngine>(Queue.Poster(), Reporter, &Observer,
                                                   std::move(Options));
        Engine->SetSettings(Settings, true);
    }

    void StartWatch()
    {
        TFolderWatchOptions Options;
        Options.RescanMs = 50;
        Options.FoundQuietMs = 200;
        Watch = std::make_unique<TFolderWatch>(
            PathToUtf8(Watched), "*.csv",
            [this](const std::string& FileName) { Engine->Offer(FileName); }, Queue.Poster(),
            Options);
        Engine->Attach(Watch.get());
    }

    void StopWatch()
    {
        Engine->Pause();
        Watch.reset();
    }

    /// Drops a file into the watched folder and runs the interface thread until it has gone.
    void Deliver(const std::string& Name, const std::string& Text)
    {
        WriteBytes(Watched / Name, Encoded(Text, 1251));
        ASSERT_TRUE(Queue.RunUntil([&] { return !fs::exists(Watched / Name); }, 20000ms))
            << Name << " was not processed";
        Queue.RunFor(50ms);
    }

    TScaleState StateOf(const TScaleConfig& Scale) const { return Engine->States({Scale})[0]; }

    bool WaitUntil(const std::function<bool()>& Done) { return Queue.RunUntil(Done, 20000ms); }

    Kit::TTempDataFolder Data;
    Kit::TTempDir Dir;
    fs::path Watched = Dir.Path() / "in";
    Kit::TPostQueue Queue;
    TRecordingReporter Reporter;
    TRecordingObserver Observer;
    TLoaderSettings Settings;
    std::unique_ptr<TDeliveryEngine> Engine;
    std::unique_ptr<TFolderWatch> Watch;
};

// The shop's everyday trouble: one of two scales is switched off when a list comes. The list goes
// to "error" as always and the status says which scale got it; when the scale is switched on it
// gets the list on its own, and after it the next list as usual.
TEST_F(DeliveryEngineTest, AScaleThatWasOffGetsTheFileOnItsOwnOnceItAnswers)
{
    Tool::TScaleSim On;
    Tool::TScaleSim Off;
    StartSim(On);
    const int OffPort = FreePort();
    const TScaleConfig OnScale = ScaleAt(On.Port(), "Касса 1");
    const TScaleConfig OffScale = ScaleAt(OffPort, "Касса 2");
    Settings.Scales = {OnScale, OffScale};
    TDeliveryOptions Options;
    Options.ResendIntervalMs = 300;
    StartEngine(Options);
    StartWatch();

    Deliver("a.csv", OldPrices);
    EXPECT_TRUE(fs::exists(Watched / "error" / "a.csv"));
    const TScaleState Got = StateOf(OnScale);
    EXPECT_EQ(Got.Delivery.LastFile, "a.csv");
    EXPECT_EQ(Got.Delivery.LastResult, TDeliveryResult::drSent);
    EXPECT_EQ(Got.Delivery.Articles, 1u);
    EXPECT_EQ(Got.Missing, 0u);
    const TScaleState Missed = StateOf(OffScale);
    EXPECT_EQ(Missed.Delivery.LastFile, "a.csv");
    EXPECT_EQ(Missed.Delivery.LastResult, TDeliveryResult::drFailed);
    EXPECT_FALSE(Missed.Delivery.LastError.empty());
    EXPECT_EQ(Missed.Missing, 1u);
    // The status is on the disk, so a restart keeps it.
    EXPECT_NE(Kit::ReadFileBytes(Data.DataDir() / "delivery.ini").find("a.csv"), std::string::npos);

    // The checks while the scale is off change nothing.
    Queue.RunFor(700ms);
    EXPECT_EQ(StateOf(OffScale).Missing, 1u);

    StartSim(Off, OffPort);
    ASSERT_TRUE(WaitUntil([&] { return StateOf(OffScale).Missing == 0; }))
        << "the missed file never reached the scale";
    // The status is saved before the window hears of the scale's end, which comes by the queue.
    const std::string ResentReport = "a.csv 127.0.0.1:" + std::to_string(OffPort) + " ok";
    EXPECT_TRUE(WaitUntil([&] {
        return std::find(Observer.Finished.begin(), Observer.Finished.end(), ResentReport) !=
               Observer.Finished.end();
    })) << "the resend was never reported";
    EXPECT_EQ(NamesReceived(Off, {OldName, NewName}), std::vector<std::string>{OldName});
    EXPECT_EQ(StateOf(OffScale).Delivery.LastResult, TDeliveryResult::drSent);
    EXPECT_TRUE(StateOf(OffScale).Delivery.LastError.empty());
    EXPECT_EQ(Kit::CountJournal("INFO", "resent a.csv to 127.0.0.1: 1 PLU"), 1);

    Deliver("b.csv", NewPrices);
    EXPECT_TRUE(fs::exists(Watched / "processed"));
    EXPECT_EQ(NamesReceived(Off, {OldName, NewName}), (std::vector<std::string>{OldName, NewName}));
    EXPECT_EQ(NamesReceived(On, {OldName, NewName}), (std::vector<std::string>{OldName, NewName}));
    EXPECT_EQ(StateOf(OffScale).Delivery.LastFile, "b.csv");
}

// A make without a protocol sends nothing, so nothing may count as sent to it: neither a new
// file nor a copy the scale missed while it was still set up as a DIGI scale. The copy stays.
TEST_F(DeliveryEngineTest, AScaleWithoutAProtocolIsNeverCountedAsSent)
{
    TScaleConfig Config = ScaleAt(FreePort(), "Касса");
    Settings.Scales = {Config};
    TDeliveryOptions Options;
    Options.ResendIntervalMs = 600000; // only the user and the files send
    StartEngine(Options);
    StartWatch();
    Deliver("a.csv", OldPrices);
    ASSERT_EQ(StateOf(Config).Missing, 1u);

    Config.Kind = TScaleKind::skCas;
    Settings.Scales = {Config};
    Engine->SetSettings(Settings, true);
    const std::string Where = " 127.0.0.1:" + std::to_string(Config.Port);
    const auto Reported = [&](const std::string& Line) {
        return std::find(Observer.Finished.begin(), Observer.Finished.end(), Line) !=
               Observer.Finished.end();
    };
    Engine->ResendNow(Config.Host, Config.Port);
    ASSERT_TRUE(WaitUntil([&] { return Reported("a.csv" + Where + " not sent"); }))
        << "the kept copy's attempt was not reported as not sent";
    EXPECT_EQ(StateOf(Config).Missing, 1u) << "the copy the scale never got was dropped";
    EXPECT_EQ(StateOf(Config).Delivery.LastResult, TDeliveryResult::drNotSent);
    EXPECT_EQ(Kit::CountJournal("INFO", "resent a.csv"), 0);

    Deliver("b.csv", NewPrices);
    EXPECT_TRUE(WaitUntil([&] { return Reported("b.csv" + Where + " not sent"); }));
    EXPECT_FALSE(Reported("b.csv" + Where + " ok"));
    EXPECT_EQ(StateOf(Config).Missing, 1u);
    EXPECT_EQ(StateOf(Config).Delivery.LastFile, "b.csv");
    EXPECT_EQ(StateOf(Config).Delivery.LastResult, TDeliveryResult::drNotSent);
}

// When the copy a scale is owed cannot be kept (a full disk, here a spool that cannot be made),
// the scale will never get the file on its own: its status and its line say so, beside the
// journal, instead of a bare "missing 0".
TEST_F(DeliveryEngineTest, ACopyThatCannotBeKeptIsSaidWhereTheUserLooks)
{
    const TScaleConfig Config = ScaleAt(FreePort(), "Касса");
    Settings.Scales = {Config};
    fs::create_directories(Data.DataDir());
    std::ofstream(Data.DataDir() / "spool") << "not a folder";
    StartEngine();
    StartWatch();
    Deliver("a.csv", OldPrices);
    const TScaleState State = StateOf(Config);
    EXPECT_EQ(State.Missing, 0u);
    EXPECT_EQ(State.Delivery.LastResult, TDeliveryResult::drFailed);
    EXPECT_NE(State.Delivery.LastError.find("not kept for a later send: "), std::string::npos)
        << State.Delivery.LastError;
    EXPECT_NE(Kit::ReadFileBytes(Data.DataDir() / "delivery.ini").find("not kept for a later send"),
              std::string::npos);
    EXPECT_EQ(Kit::CountJournal("ERROR", "cannot keep a.csv for 127.0.0.1: "), 1);
}

// A newer list never overtakes an older one the scale missed, whether the scale comes back before
// the newer list (the list itself brings the older one along) or after it (both wait, in order).
struct TComeback
{
    const char* Name;
    bool BeforeNewerFile;
};

class DeliveryOrderAfterMiss : public DeliveryEngineTest,
                               public ::testing::WithParamInterface<TComeback>
{
};

TEST_P(DeliveryOrderAfterMiss, TheOlderMissedFileGoesFirst)
{
    Tool::TScaleSim Scale;
    const int Port = FreePort();
    const TScaleConfig Config = ScaleAt(Port, "Весы");
    Settings.Scales = {Config};
    TDeliveryOptions Options;
    Options.ResendIntervalMs = 600000; // no steady check: only the file or the user sends
    StartEngine(Options);
    StartWatch();

    Deliver("a.csv", OldPrices);
    ASSERT_EQ(StateOf(Config).Missing, 1u);
    if (GetParam().BeforeNewerFile)
        StartSim(Scale, Port);
    Deliver("b.csv", NewPrices);
    if (!GetParam().BeforeNewerFile) {
        EXPECT_EQ(StateOf(Config).Missing, 2u);
        EXPECT_TRUE(fs::exists(Watched / "error" / "b.csv"));
        StartSim(Scale, Port);
        Engine->ResendNow(Config.Host, Port);
        ASSERT_TRUE(WaitUntil([&] { return StateOf(Config).Missing == 0; }));
    } else {
        EXPECT_EQ(StateOf(Config).Missing, 0u);
        EXPECT_FALSE(fs::exists(Watched / "error" / "b.csv"));
    }
    EXPECT_EQ(NamesReceived(Scale, {OldName, NewName}),
              (std::vector<std::string>{OldName, NewName}));
    EXPECT_EQ(StateOf(Config).Delivery.LastFile, "b.csv");
    EXPECT_EQ(StateOf(Config).Delivery.LastResult, TDeliveryResult::drSent);
}

INSTANTIATE_TEST_SUITE_P(Moments, DeliveryOrderAfterMiss,
                         ::testing::Values(TComeback{"ScaleBackBeforeTheNewerFile", true},
                                           TComeback{"ScaleBackAfterTheNewerFile", false}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// A scale that stays off cannot fill the disk: past its size bound the oldest copies are dropped,
// said in the journal as an ERROR and on the scale's row.
TEST_F(DeliveryEngineTest, TheSpoolKeepsItsBoundAndSaysWhatItDropped)
{
    const TScaleConfig Config = ScaleAt(FreePort(), "Весы");
    Settings.Scales = {Config};
    TDeliveryOptions Options;
    Options.ResendIntervalMs = 600000;
    // Room for one list, the longer one.
    Options.SpoolLimits.MaxBytesPerScale =
        static_cast<std::int64_t>(Encoded(OldPrices, 1251).size());
    StartEngine(Options);
    StartWatch();

    Deliver("a.csv", OldPrices);
    EXPECT_EQ(StateOf(Config).Missing, 1u);
    Deliver("b.csv", NewPrices);
    const TScaleState State = StateOf(Config);
    EXPECT_EQ(State.Missing, 1u);
    EXPECT_EQ(State.Delivery.LastFile, "b.csv");
    EXPECT_NE(State.Delivery.LastError.find("a.csv dropped from the spool"), std::string::npos)
        << State.Delivery.LastError;
    EXPECT_EQ(Kit::CountJournal("ERROR", "dropped from the spool, never sent again: a.csv"), 1);
    // What stays is the newest list.
    Tool::TScaleSim Scale;
    StartSim(Scale, Config.Port);
    Engine->ResendNow(Config.Host, Config.Port);
    ASSERT_TRUE(WaitUntil([&] { return StateOf(Config).Missing == 0; }));
    EXPECT_EQ(NamesReceived(Scale, {OldName, NewName}), std::vector<std::string>{NewName});
}

// A scale removed from the settings takes its spool and its row with it; settings that could not
// be read say nothing about scales, so nothing is dropped for them.
struct TRemoval
{
    const char* Name;
    bool ScalesKnown;
};

class DeliveryRemovedScale : public DeliveryEngineTest,
                             public ::testing::WithParamInterface<TRemoval>
{
};

TEST_P(DeliveryRemovedScale, DropsItsSpoolOnlyWhenTheSettingsSaySo)
{
    Tool::TScaleSim Kept;
    StartSim(Kept);
    const TScaleConfig KeptScale = ScaleAt(Kept.Port(), "Остаётся");
    const TScaleConfig Removed = ScaleAt(FreePort(), "Убрана");
    Settings.Scales = {KeptScale, Removed};
    StartEngine();
    StartWatch();
    Deliver("a.csv", OldPrices);
    ASSERT_EQ(StateOf(Removed).Missing, 1u);

    TLoaderSettings Fewer = Settings;
    Fewer.Scales = {KeptScale};
    Engine->SetSettings(Fewer, GetParam().ScalesKnown);
    Queue.RunFor(50ms);
    const bool Known = GetParam().ScalesKnown;
    EXPECT_EQ(StateOf(Removed).Missing, Known ? 0u : 1u);
    EXPECT_EQ(StateOf(Removed).Delivery.LastFile, Known ? "" : "a.csv");
    EXPECT_EQ(StateOf(KeptScale).Delivery.LastFile, "a.csv");
    EXPECT_EQ(Kit::CountJournal("WARN", "dropped with 1 files: the scale was removed"),
              Known ? 1 : 0);
    EXPECT_EQ(Kit::ReadFileBytes(Data.DataDir() / "delivery.ini").find("Убрана") ==
                  std::string::npos,
              Known);
}

INSTANTIATE_TEST_SUITE_P(Settings, DeliveryRemovedScale,
                         ::testing::Values(TRemoval{"ReadSettings", true},
                                           TRemoval{"UnreadableSettings", false}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// A file's scales are given it at the same time: the first scale holds its first answer until the
// second scale has a frame too, which one after the other could never happen within the answer
// time-out.
TEST_F(DeliveryEngineTest, AFilesScalesAreSentToAtTheSameTime)
{
    std::mutex Lock;
    std::condition_variable Changed;
    bool SecondHasFrame = false;
    Tool::TScaleSim First;
    Tool::TScaleSim Second;
    Tool::TScaleSimOptions Waiting;
    Waiting.OnFrame = [&](const Tool::TSimFrame&) {
        std::unique_lock Guard(Lock);
        Changed.wait_for(Guard, 5s, [&] { return SecondHasFrame; });
    };
    Tool::TScaleSimOptions Telling;
    Telling.OnFrame = [&](const Tool::TSimFrame&) {
        std::lock_guard Guard(Lock);
        SecondHasFrame = true;
        Changed.notify_all();
    };
    StartSim(First, 0, Waiting);
    StartSim(Second, 0, Telling);
    Settings.Scales = {ScaleAt(First.Port(), "Первые"), ScaleAt(Second.Port(), "Вторые")};
    StartEngine();
    Settings.ConnectTimeoutMs = 2000;
    Engine->SetSettings(Settings, true);
    StartWatch();

    Deliver("a.csv", OldPrices);
    EXPECT_TRUE(fs::exists(Watched / "processed")) << "a scale did not take the file";
    EXPECT_EQ(NamesReceived(First, {OldName}), std::vector<std::string>{OldName});
    EXPECT_EQ(NamesReceived(Second, {OldName}), std::vector<std::string>{OldName});
}

// Pausing the watch or quitting while a long list is being sent ends the exchange at the next
// article: the call returns, the scale's connection is closed, and the file stays in the watched
// folder, unjudged, for its next turn, where it is sent whole.
enum class TStop
{
    stPause,
    stQuit,
};

class DeliveryStopMidUpload : public DeliveryEngineTest, public ::testing::WithParamInterface<TStop>
{
};

TEST_P(DeliveryStopMidUpload, LeavesTheFileForItsNextTurn)
{
    constexpr int Articles = 300;
    std::atomic<int> Frames{0};
    Tool::TScaleSim Scale;
    Tool::TScaleSimOptions Slow;
    Slow.OnFrame = [&](const Tool::TSimFrame&) {
        ++Frames;
        std::this_thread::sleep_for(5ms);
    };
    StartSim(Scale, 0, Slow);
    const TScaleConfig Config = ScaleAt(Scale.Port(), "Весы");
    Settings.Scales = {Config};
    StartEngine();
    StartWatch();

    WriteBytes(Watched / "long.csv", ManyArticles(Articles));
    ASSERT_TRUE(WaitUntil([&] { return Frames >= 20; }));
    if (GetParam() == TStop::stPause)
        StopWatch();
    else {
        Engine.reset();
        Watch.reset();
    }
    const int AtStop = Frames;
    std::this_thread::sleep_for(300ms);
    EXPECT_LE(Frames - AtStop, 1) << "the exchange went on after the call returned";
    EXPECT_LT(Frames, Articles);
    EXPECT_TRUE(fs::exists(Watched / "long.csv"));
    EXPECT_FALSE(fs::exists(Watched / "processed"));
    EXPECT_FALSE(fs::exists(Watched / "error"));
    EXPECT_EQ(Kit::CountJournal("ERROR", ""), 0);

    if (GetParam() == TStop::stQuit) {
        StartEngine();
        EXPECT_EQ(StateOf(Config).Delivery.LastFile, "") << "a cancelled upload was recorded";
        EXPECT_EQ(StateOf(Config).Missing, 0u);
    }
    StartWatch();
    ASSERT_TRUE(WaitUntil([&] { return !fs::exists(Watched / "long.csv"); }));
    EXPECT_TRUE(fs::exists(Watched / "processed"));
    EXPECT_EQ(StateOf(Config).Delivery.Articles, static_cast<std::size_t>(Articles));
    EXPECT_EQ(Scale.Connections(), 2);
}

INSTANTIATE_TEST_SUITE_P(Ways, DeliveryStopMidUpload,
                         ::testing::Values(TStop::stPause, TStop::stQuit), [](const auto& Info) {
                             return std::string(Info.param == TStop::stPause ? "Pause" : "Quit");
                         });

// While a file is sent the observer hears the file's name and each scale's count of its total,
// also the total of a scale that never answers.
TEST_F(DeliveryEngineTest, ProgressNamesTheFileAndCountsEachScale)
{
    constexpr std::size_t Articles = 120;
    Tool::TScaleSim Scale;
    Tool::TScaleSimOptions Slow;
    Slow.OnFrame = [](const Tool::TSimFrame&) { std::this_thread::sleep_for(2ms); };
    StartSim(Scale, 0, Slow);
    Settings.Scales = {ScaleAt(Scale.Port(), "Весы"), ScaleAt(FreePort(), "Выключены")};
    TDeliveryOptions Options;
    Options.ProgressIntervalMs = 20;
    StartEngine(Options);
    StartWatch();

    std::vector<TSendProgress> Seen;
    WriteBytes(Watched / "long.csv", ManyArticles(static_cast<int>(Articles)));
    ASSERT_TRUE(WaitUntil([&] {
        if (!Observer.Last.FileName.empty())
            Seen.push_back(Observer.Last);
        return !fs::exists(Watched / "long.csv");
    }));
    Queue.RunFor(50ms);
    ASSERT_FALSE(Seen.empty());
    EXPECT_EQ(Seen.front().FileName, "long.csv");
    ASSERT_EQ(Seen.back().Scales.size(), 2u);
    const bool MidWay = std::any_of(Seen.begin(), Seen.end(), [](const TSendProgress& P) {
        return P.Scales.size() == 2 && P.Scales[0].Sent > 0 && P.Scales[0].Sent < Articles &&
               P.Scales[0].Total == Articles && P.Scales[1].Total == Articles;
    });
    EXPECT_TRUE(MidWay) << "no count between the first and the last article with both totals";
    EXPECT_TRUE(Observer.Last.FileName.empty()) << "the progress was not cleared at the end";
}

// ---------------------------------------------------------------------------------------------
// Order: several ready files are processed oldest first (modification time, then name), however
// they got there: waiting when watching starts, coming one by one while another file is sent, or
// coming while watching was paused. The order of the folder's listing, of their arrival and of
// their names must not matter.

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
    WriteBytes(Path, Encoded(std::string("A;1;1234567;1;0;0;0;") + File.Name + "\r\n", 1251));
    fs::last_write_time(Path, fs::file_time_type::clock::now() - std::chrono::hours(File.HoursOld));
}

enum class TWhen
{
    wnWaitingAtStart,
    wnArrivingWhileAnotherIsSent,
    wnArrivingWhileWatchingIsPaused,
};

class DeliveryOrder : public DeliveryEngineTest, public ::testing::WithParamInterface<TWhen>
{
protected:
    /// The names the scale was given, one per upload, in order.
    std::vector<std::string> Sent() const
    {
        std::vector<std::string> Names;
        for (const std::string& Line : Reporter.Recent)
            for (const char* Name : {"first.csv", "a.csv", "b.csv", "c.csv", "d.csv"})
                if (Line.find(Name) != std::string::npos)
                    Names.push_back(Name);
        return Names;
    }
};

TEST_P(DeliveryOrder, OldestFileFirst)
{
    Tool::TScaleSim Scale;
    Tool::TScaleSimOptions Options;
    if (GetParam() == TWhen::wnArrivingWhileAnotherIsSent)
        // A slow upload of the first file, during which the others come, each on its own scan.
        Options.OnFrame = [&](const Tool::TSimFrame& Frame) {
            if (Frame.Connection != 1)
                return;
            for (const TAged& File : Files) {
                WriteAged(Watched, File);
                std::this_thread::sleep_for(600ms);
            }
        };
    StartSim(Scale, 0, Options);
    Settings.Scales = {ScaleAt(Scale.Port(), "Весы")};
    Settings.ConnectTimeoutMs = 5000;
    StartEngine();
    std::vector<std::string> Expected = OldestFirst;
    switch (GetParam()) {
    case TWhen::wnWaitingAtStart:
        for (const TAged& File : Files)
            WriteAged(Watched, File);
        StartWatch();
        break;
    case TWhen::wnArrivingWhileAnotherIsSent:
        WriteAged(Watched, {"first.csv", 5});
        Expected.insert(Expected.begin(), "first.csv");
        StartWatch();
        break;
    case TWhen::wnArrivingWhileWatchingIsPaused:
        StartWatch();
        Queue.RunFor(300ms);
        StopWatch();
        for (const TAged& File : Files)
            WriteAged(Watched, File);
        Queue.RunFor(300ms);
        EXPECT_TRUE(Sent().empty()) << "processed while watching was paused";
        StartWatch();
        break;
    }
    ASSERT_TRUE(WaitUntil([&] { return Sent().size() >= Expected.size(); }));
    EXPECT_EQ(Sent(), Expected);
    EXPECT_EQ(Engine->Waiting(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Moments, DeliveryOrder,
                         ::testing::Values(TWhen::wnWaitingAtStart,
                                           TWhen::wnArrivingWhileAnotherIsSent,
                                           TWhen::wnArrivingWhileWatchingIsPaused));

// An engine that died drops what was still queued for it instead of calling into its reporter.
TEST_F(DeliveryEngineTest, CallsQueuedForADeadEngineDoNothing)
{
    StartEngine();
    Engine->Offer("/nowhere/a.csv");
    Engine->ResendNow("127.0.0.1", 1);
    Engine.reset();
    Queue.RunQueued();
    EXPECT_TRUE(Reporter.Recent.empty());
    EXPECT_EQ(Observer.Finished.size(), 0u);
}

} // namespace
} // namespace Plumeria
