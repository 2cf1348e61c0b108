// `plumeria scan ADAPTER_IP [--timeout MS] [--log-level errors|max]`: scans the adapter's /24
// network for DIGI scales and prints every hit as host:port and the progress as it comes. The
// scan runs on a thread of its own; its workers post hits and progress to this thread, which
// alone prints.

#include "core/Digi/Digi.h"
#include "core/DigiSearch/SubnetScan.h"
#include "core/DigiSearch/TcpTransport.h"
#include "tool/Args.h"
#include "tool/Commands.h"
#include "tool/JournalLevel.h"

#include <climits>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

namespace Plumeria::Tool {
namespace {

constexpr const char* ScanUsage =
    "usage: plumeria scan ADAPTER_IP [--timeout MS] [--log-level errors|max]";

int UsageError(const std::string& Message)
{
    std::fprintf(stderr, "plumeria scan: %s\n%s\n", Message.c_str(), ScanUsage);
    return ExitUsage;
}

/// The command's interface thread: a queue of posted calls run in order until told to end.
class TCallLoop
{
public:
    TPoster Poster()
    {
        return [this](TPostedCall Call) {
            {
                std::lock_guard Guard(FLock);
                FCalls.push_back(std::move(Call));
            }
            FChanged.notify_one();
        };
    }
    /// Posted as the last call: the loop ends after it.
    void Quit()
    {
        Poster()([this] { FQuit = true; });
    }
    void Run()
    {
        while (!FQuit) {
            TPostedCall Call;
            {
                std::unique_lock Guard(FLock);
                FChanged.wait(Guard, [this] { return !FCalls.empty(); });
                Call = std::move(FCalls.front());
                FCalls.pop_front();
            }
            Call();
        }
    }

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<TPostedCall> FCalls;
    bool FQuit = false; // read and written on the loop's thread only
};

} // namespace

int RunScan(const TArgs& Args)
{
    TArgReader Reader(Args, {"timeout", "log-level"}, {});
    if (!Reader.Ok())
        return UsageError(Reader.Error());
    if (Reader.Positional().size() != 1)
        return UsageError(Reader.Positional().empty() ? "no ADAPTER_IP given"
                                                      : "more than one ADAPTER_IP given");
    const int TimeoutMs = ClampDigiTimeout(Reader.IntValue("timeout", 500, INT_MIN, INT_MAX));
    if (!Reader.Ok())
        return UsageError(Reader.Error());
    const std::string Adapter = Reader.Positional()[0];
    // The probes bind to this address: what the transport would refuse is refused here, before
    // 253 probes each fail alike.
    if (!IsConnectableIpv4(Adapter) || SubnetHosts(Adapter).empty())
        return UsageError("'" + Adapter + "' is not an adapter address (a.b.c.d)");
    if (std::string LevelError; !ApplyJournalLevel(Reader, LevelError))
        return UsageError(LevelError);

    TCallLoop Loop;
    int Found = 0;
    const TDigiHitProc OnHit = PostedHitProc(Loop.Poster(), [&Found](const TDigiHit& Hit) {
        ++Found;
        std::printf("%s:%d\n", Hit.Host.c_str(), Hit.Port);
        std::fflush(stdout);
    });
    const TDigiProgressProc OnProgress = PostedProgressProc(
        Loop.Poster(), [](std::int32_t Checked, std::int32_t Total, std::int32_t Hits) {
            std::printf("progress %d/%d found %d\n", Checked, Total, Hits);
            std::fflush(stdout);
        });
    std::string Failure; // written by the scan thread before its Quit, read after the join
    const auto Scan = [&] {
        try {
            ScanDigiSubnet(Adapter, TimeoutMs, OnHit, OnProgress, {});
        } catch (const std::exception& Error) {
            Failure = Error.what(); // no worker could start
        } catch (...) {
            Failure = "unknown error";
        }
        Loop.Quit(); // queued after every hit and progress report of the scan
    };
    std::thread Search;
    try {
        Search = std::thread(Scan);
    } catch (const std::exception& Error) {
        std::fprintf(stderr, "plumeria scan: cannot start the scan: %s\n", Error.what());
        return ExitFailed;
    }
    Loop.Run();
    Search.join();
    if (!Failure.empty()) {
        std::fprintf(stderr, "plumeria scan: the scan failed: %s\n", Failure.c_str());
        return ExitFailed;
    }
    std::printf("scan of %s done: %d found\n", Adapter.c_str(), Found);
    return ExitOk;
}

} // namespace Plumeria::Tool
