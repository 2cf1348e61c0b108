// `plumeria scan ADAPTER_IP [--timeout MS]`: scans the adapter's /24 network for DIGI scales
// and prints every hit as host:port and the progress as it comes. The scan runs on a thread of
// its own; its workers post hits and progress to this thread, which alone prints.

#include "core/Digi/Digi.h"
#include "core/DigiSearch/SubnetScan.h"
#include "tool/Args.h"
#include "tool/Commands.h"

#include <climits>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace Plumeria::Tool {
namespace {

constexpr const char* ScanUsage = "usage: plumeria scan ADAPTER_IP [--timeout MS]";

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
    TArgReader Reader(Args, {"timeout"}, {});
    if (!Reader.Ok())
        return UsageError(Reader.Error());
    if (Reader.Positional().size() != 1)
        return UsageError(Reader.Positional().empty() ? "no ADAPTER_IP given"
                                                      : "more than one ADAPTER_IP given");
    const int TimeoutMs = ClampDigiTimeout(Reader.IntValue("timeout", 500, INT_MIN, INT_MAX));
    if (!Reader.Ok())
        return UsageError(Reader.Error());
    const std::string Adapter = Reader.Positional()[0];
    if (SubnetHosts(Adapter).empty())
        return UsageError("'" + Adapter + "' is not an adapter address (a.b.c.d)");

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
    std::thread Search([&] {
        ScanDigiSubnet(Adapter, TimeoutMs, OnHit, OnProgress, {});
        Loop.Quit(); // queued after every hit and progress report of the scan
    });
    Loop.Run();
    Search.join();
    std::printf("scan of %s done: %d found\n", Adapter.c_str(), Found);
    return ExitOk;
}

} // namespace Plumeria::Tool
