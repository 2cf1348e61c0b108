// `plumeria run`: the main road without windows. Refuses to start (exit 2) while another program
// watches with the same data folder. Loads the settings from the data folder as the tray
// program does, watches the configured folder, and hands every ready file to the same delivery
// engine (files oldest first on its worker, scales in parallel, missed files re-sent), printing
// each recent-files line and balloon, and a line per scale as it ends its part. Ctrl+C or SIGTERM
// ends it at the scales' next article: the watch thread is joined and no file is left half-moved
// (a file cut short and files not yet processed stay where they are for the next start).

#include "core/Delivery/DeliveryEngine.h"
#include "core/FolderWatch/FolderWatch.h"
#include "core/Journal/Journal.h"
#include "core/Processing/ProcessFile.h"
#include "core/Settings/Settings.h"
#include "core/Settings/StartUp.h"
#include "core/Text/Text.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/SingleInstance.h"
#include "platform/StopSignal.h"
#include "tool/Args.h"
#include "tool/Commands.h"
#include "tool/JournalLevel.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace Plumeria::Tool {
namespace {

constexpr const char* RunUsage = "usage: plumeria run [--log-level errors|max]";
constexpr std::uint32_t StopPollMs = 200;

/// The tool's interface thread: calls queued from other threads run on the thread that calls
/// `Run`, one after another in the order they were queued, until `Quit`.
class TEventLoop
{
public:
    /// Safe to call from any thread, also after the loop has ended (the call is then dropped).
    TPoster Poster()
    {
        return [State = FState](TPostedCall Call) {
            {
                std::lock_guard Guard(State->Lock);
                if (State->Quit)
                    return;
                State->Calls.push_back(std::move(Call));
            }
            State->Changed.notify_one();
        };
    }

    /// Ends `Run` after the call at hand; calls still queued are dropped.
    void Quit()
    {
        {
            std::lock_guard Guard(FState->Lock);
            FState->Quit = true;
            FState->Calls.clear();
        }
        FState->Changed.notify_one();
    }

    void Run()
    {
        for (;;) {
            TPostedCall Call;
            {
                std::unique_lock Guard(FState->Lock);
                FState->Changed.wait(Guard,
                                     [this] { return FState->Quit || !FState->Calls.empty(); });
                if (FState->Quit)
                    return;
                Call = std::move(FState->Calls.front());
                FState->Calls.pop_front();
            }
            Call();
        }
    }

private:
    struct TState
    {
        std::mutex Lock;
        std::condition_variable Changed;
        std::deque<TPostedCall> Calls;
        bool Quit = false;
    };
    std::shared_ptr<TState> FState = std::make_shared<TState>();
};

void PrintLine(const std::string& Line)
{
    std::fputs((Line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string TimePrefix()
{
    const TLocalDateTime Now = LocalNow();
    char Text[16];
    std::snprintf(Text, sizeof Text, "%02d:%02d:%02d", Now.Hour, Now.Minute, Now.Second);
    return Text;
}

/// What the main window shows, on the terminal: recent lines with their time as the window
/// prefixes them, balloons as "title: text".
class TConsoleReporter : public IProcessReporter
{
public:
    void AddRecent(const std::string& Line) override { PrintLine(TimePrefix() + "  " + Line); }
    void ShowBalloon(const std::string& Title, const std::string& Text) override
    {
        PrintLine(Title + ": " + Text);
    }
    void RefreshView() override {}
};

/// Each scale's end of a file (or of a missed file sent again) as one line:
/// "hh:nn:ss  prices.csv -> Касса 1  10.0.0.5:2001: 5000/5000 PLU" or "...: failed: reason".
class TConsoleObserver : public IDeliveryObserver
{
public:
    void ProgressChanged(const TSendProgress&) override {}
    void ScaleFinished(const std::string& FileName, const TScaleProgress& Scale) override
    {
        // The display name ends with the host, as in the windows.
        const std::string Outcome =
            Scale.Ok ? std::to_string(Scale.Sent) + "/" + std::to_string(Scale.Total) + " PLU"
            : Scale.NotSent ? "not sent: " + Scale.Message
                            : "failed: " + Scale.Message;
        PrintLine(TimePrefix() + "  " + FileName + " -> " + Scale.Name + ":" +
                  std::to_string(Scale.Port) + ": " + Outcome);
    }
    void StatusChanged() override {}
};

/// One watcher per data folder: beside the tray program or another `run` on the same data, both
/// would upload the same files and then fight over moving them.
bool TakeWatchLock()
{
    const std::filesystem::path Data = DataFolder();
    switch (AcquireDataFolderLock(Data, 0)) {
    case TFolderLockResult::flTaken:
        return true;
    case TFolderLockResult::flBusy:
        std::fprintf(stderr,
                     "plumeria run: another program is already watching with the data folder %s "
                     "(the tray program or another plumeria run); stop it first\n",
                     PathToUtf8(Data).c_str());
        return false;
    case TFolderLockResult::flFailed:
        break;
    }
    LogWarn("cannot lock the data folder for watching: " + PathToUtf8(Data));
    return true;
}

} // namespace

int RunRun(const TArgs& Args)
{
    // Before any thread exists, so every thread inherits the blocked stop signals.
    CatchStopSignals();

    TArgReader Reader(Args, {"log-level"}, {});
    if (!Reader.Ok() || !Reader.Positional().empty()) {
        std::fprintf(stderr, "plumeria run: %s\n%s\n",
                     Reader.Ok() ? "takes no arguments" : Reader.Error().c_str(), RunUsage);
        return ExitUsage;
    }
    TLogLevel Level = TLogLevel::llMaximum;
    bool LevelGiven = false;
    if (std::string Error; !ReadLogLevelOption(Reader, Level, LevelGiven, Error)) {
        std::fprintf(stderr, "plumeria run: %s\n%s\n", Error.c_str(), RunUsage);
        return ExitUsage;
    }

    if (!TakeWatchLock())
        return ExitUsage;

    // As the tray program starts, except for the start-with-the-session entry, which names the
    // tray program and is none of this tool's business.
    TLoaderSettings Settings;
    const TStartReport Start = StartWithSettings(Settings, {});
    if (!Start.SettingsRead)
        std::fprintf(stderr,
                     "plumeria run: cannot read %s; running with the defaults and "
                     "never saving over it\n",
                     PathToUtf8(Settings.IniPath()).c_str());
    if (!Start.DataFolderFallback.empty())
        std::fprintf(stderr,
                     "plumeria run: the data folder cannot be used (%s); the settings and the "
                     "journal are in %s instead\n",
                     Start.DataFolderFallback.c_str(), PathToUtf8(DataFolder()).c_str());
    if (!Start.SaveError.empty())
        std::fprintf(stderr, "plumeria run: cannot save settings: %s\n", Start.SaveError.c_str());
    if (LevelGiven)
        SetLogLevel(Level); // for this run only; the settings keep their own
    const std::string Folder = Trim(Settings.WatchFolder);
    PrintLine("data folder " + PathToUtf8(DataFolder()));
    PrintLine("watching " + (Folder.empty() ? std::string("(no folder set)") : Folder) + " for " +
              Settings.FileMask);

    TEventLoop Loop;
    TConsoleReporter Reporter;
    TConsoleObserver Observer;
    TDeliveryOptions Options;
    Options.DataFolder = DataFolder();
    TDeliveryEngine Engine(Loop.Poster(), Reporter, &Observer, Options);
    Engine.SetSettings(Settings, Start.SettingsRead);
    std::unique_ptr<TFolderWatch> Watch;
    try {
        Watch = std::make_unique<TFolderWatch>(
            Folder, Settings.FileMask,
            [&Engine](const std::string& FileName) { Engine.Offer(FileName); }, Loop.Poster());
    } catch (const std::exception& Error) {
        LogError(std::string("cannot start the folder watch: ") + Error.what());
        std::fprintf(stderr, "plumeria run: cannot start the folder watch: %s\n", Error.what());
        return ExitFailed;
    }
    Engine.Attach(Watch.get());

    std::atomic<bool> Ended{false};
    std::thread StopWaiter([&] {
        while (!Ended) {
            if (WaitStopSignal(StopPollMs)) {
                Loop.Quit();
                return;
            }
        }
    });

    Loop.Run();
    Ended = true;
    // The worker tells the watch about the file at hand: it ends its exchanges first.
    Engine.Pause();
    Watch.reset(); // joins the watch thread; ready calls queued after this do nothing
    StopWaiter.join();
    ReleaseDataFolderLock();
    PrintLine("stopped");
    StopSignalDone();
    return ExitOk;
}

} // namespace Plumeria::Tool
