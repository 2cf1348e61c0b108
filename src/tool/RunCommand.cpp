// `plumeria run`: the main road without windows. Refuses to start (exit 2) while another program
// watches with the same data folder. Loads the settings from the data folder as the tray
// program does, watches the configured folder, and processes every ready file on the main
// thread through the same file processing, printing each recent-files line and balloon. Ctrl+C or
// SIGTERM ends it after the file at hand: the watch thread is joined and no file is left
// half-moved (files not yet processed stay where they are for the next start).

#include "core/FolderWatch/FolderWatch.h"
#include "core/Journal/Journal.h"
#include "core/Processing/ProcessFile.h"
#include "core/Processing/ReadyFeed.h"
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
    std::unique_ptr<TFolderWatch> Watch;
    TProcessMemory Memory;
    // Ready files are processed one at a time on this thread, oldest first.
    TReadyFeed Feed(Loop.Poster(), [&](const std::string& FileName) {
        // Nothing may escape into the loop: the watch must keep running.
        try {
            ProcessFile(FileName, &Settings, Watch.get(), Reporter, Memory);
        } catch (const std::exception& Error) {
            LogError("file processing failed: " + FileName + " " + Error.what());
        }
    });
    try {
        Watch = std::make_unique<TFolderWatch>(
            Folder, Settings.FileMask, [&](const std::string& FileName) { Feed.Offer(FileName); },
            Loop.Poster());
    } catch (const std::exception& Error) {
        LogError(std::string("cannot start the folder watch: ") + Error.what());
        std::fprintf(stderr, "plumeria run: cannot start the folder watch: %s\n", Error.what());
        return ExitFailed;
    }

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
    Watch.reset(); // joins the watch thread; ready calls queued after this do nothing
    StopWaiter.join();
    ReleaseDataFolderLock();
    PrintLine("stopped");
    StopSignalDone();
    return ExitOk;
}

} // namespace Plumeria::Tool
