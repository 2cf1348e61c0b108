// `plumeria scale-sim [--bind ADDR] [--port P] [--nak-after N] [--close-after N]
// [--silent-after N] [--connections N] [--record FILE] [--allow-any-address]`: a DIGI scale
// simulator for trying a setup without hardware. Takes connections one after another, reads whole
// frames and answers each with 0x06 (or misbehaves after N frames of a connection), printing one
// line per frame and, with --record, writing every frame's bytes one after another into FILE (to
// compare what two senders sent). Listens on loopback only unless told otherwise.

#include "core/DigiSearch/TcpTransport.h"
#include "platform/Environment.h"
#include "tool/Args.h"
#include "tool/Commands.h"
#include "tool/ScaleSim.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

namespace Plumeria::Tool {
namespace {

constexpr const char* ScaleSimUsage =
    "usage: plumeria scale-sim [--bind ADDR] [--port P] [--nak-after N] [--close-after N] "
    "[--silent-after N] [--connections N] [--record FILE] [--allow-any-address]";

volatile std::sig_atomic_t StopRequested = 0;

extern "C" void OnStopSignal(int)
{
    StopRequested = 1;
}

int UsageError(const std::string& Message)
{
    std::fprintf(stderr, "plumeria scale-sim: %s\n%s\n", Message.c_str(), ScaleSimUsage);
    return ExitUsage;
}

} // namespace

int RunScaleSim(const TArgs& Args)
{
    TArgReader Reader(
        Args, {"bind", "port", "nak-after", "close-after", "silent-after", "connections", "record"},
        {"allow-any-address"});
    if (!Reader.Ok())
        return UsageError(Reader.Error());
    if (!Reader.Positional().empty())
        return UsageError("unexpected argument '" + Reader.Positional()[0] + "'");
    TScaleSimOptions Options;
    Options.BindIp = Reader.Value("bind").value_or("127.0.0.1");
    std::uint32_t Ip = 0;
    if (!ParseIpv4(Options.BindIp, Ip))
        return UsageError("--bind must be an IPv4 address, not '" + Options.BindIp + "'");
    // A simulator answers anybody who connects; keep it off the network unless asked.
    if (!IsLoopbackIp(Options.BindIp) && !Reader.Has("allow-any-address"))
        return UsageError("refusing to listen on " + Options.BindIp +
                          " outside 127.0.0.0/8 (add --allow-any-address to insist)");
    // Without --port the simulator sits where a scale at that address would: 2000 + last number.
    const int DefaultPort = DigiDefaultPort(Options.BindIp);
    Options.Port = Reader.IntValue("port", DefaultPort, 0, 65535);
    const int NakAfter = Reader.IntValue("nak-after", -1, 0, INT_MAX);
    const int CloseAfter = Reader.IntValue("close-after", -1, 0, INT_MAX);
    const int SilentAfter = Reader.IntValue("silent-after", -1, 0, INT_MAX);
    const int Connections = Reader.IntValue("connections", 0, 1, INT_MAX);
    if (!Reader.Ok())
        return UsageError(Reader.Error());
    if (!Reader.Value("port") && DefaultPort == 0)
        return UsageError("no default port for " + Options.BindIp + "; give --port");
    Options.Answer = SimAnswerAfter(NakAfter, CloseAfter, SilentAfter);
    Options.KeepFrames = false;
    std::ofstream Record;
    if (const auto RecordPath = Reader.Value("record")) {
        Record.open(PathFromUtf8(*RecordPath), std::ios::binary | std::ios::trunc);
        if (!Record) {
            std::fprintf(stderr, "plumeria scale-sim: cannot write %s\n", RecordPath->c_str());
            return ExitFailed;
        }
    }
    std::mutex PrintLock;
    Options.OnFrame = [&PrintLock, &Record](const TSimFrame& Frame) {
        std::lock_guard Guard(PrintLock);
        std::printf("frame connection=%d number=%d file=%02X bytes=%zu\n", Frame.Connection,
                    Frame.Number, Frame.Bytes.size() > 1 ? Frame.Bytes[1] : 0, Frame.Bytes.size());
        std::fflush(stdout);
        if (Record.is_open()) {
            Record.write(reinterpret_cast<const char*>(Frame.Bytes.data()),
                         static_cast<std::streamsize>(Frame.Bytes.size()));
            Record.flush();
        }
    };

    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    TScaleSim Sim;
    {
        // Held from the start: a client quick enough to send a frame before "listening on" is
        // printed must not see its frame line come first.
        std::lock_guard Guard(PrintLock);
        std::string Error;
        if (!Sim.Start(std::move(Options), Error)) {
            std::fprintf(stderr, "plumeria scale-sim: %s\n", Error.c_str());
            return ExitFailed;
        }
        std::printf("listening on %s:%d\n", Reader.Value("bind").value_or("127.0.0.1").c_str(),
                    Sim.Port());
        std::fflush(stdout);
    }
    while (!StopRequested && !(Connections > 0 && Sim.WaitConnectionsClosed(Connections, 0)))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Sim.Stop();
    std::printf("stopped after %d connections, %d frames\n", Sim.Connections(), Sim.FrameCount());
    return ExitOk;
}

} // namespace Plumeria::Tool
