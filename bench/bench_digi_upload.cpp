// Articles uploaded per second to the in-process DIGI scale simulator on loopback, next to the
// rate of a bare one-byte ping-pong over a loopback TCP connection measured in the same run: a
// stop-and-wait upload can at best make one round trip per article, so the ping-pong rate is its
// physical limit here. Measured at journal level "errors" and at "max".
//
//   bench_digi_upload [--articles N] [--runs R]
//
// The journal goes to a temporary folder (ProgramData is pointed there for the run).

#include "core/Digi/Digi.h"
#include "core/DigiSearch/TcpTransport.h"
#include "core/Journal/Journal.h"
#include "tool/ScaleSim.h"

#include "BenchSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace Plumeria;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point Start)
{
    return std::chrono::duration<double>(Clock::now() - Start).count();
}

std::vector<TPluRecord> Articles(int Count)
{
    std::vector<TPluRecord> Items;
    for (int I = 1; I <= Count; ++I) {
        TPluRecord R;
        R.Plu = I;
        R.Name = "Колбаса докторская высший сорт";
        R.PriceCents = 54900 + I;
        R.Barcode = "2000000";
        R.SellByDays = 10;
        R.Ingredients = "свинина\nговядина\nсоль";
        Items.push_back(std::move(R));
    }
    return Items;
}

/// Round trips per second of one byte each way: the client uses the same transport calls as the
/// upload (send, wait, one receive), the server a plain blocking receive and send.
double PingPongRate(int Trips)
{
    std::uint32_t Loopback = 0;
    ParseIpv4("127.0.0.1", Loopback);
    int Error = 0;
    const TSocketHandle Listener = SocketListen(Loopback, 0, 1, Error);
    if (Listener == NoSocket)
        return 0;
    const int Port = SocketLocalPort(Listener);
    std::thread Server([Listener] {
        int Code = 0;
        const TSocketHandle Peer = SocketAccept(Listener, 5000, Code);
        if (Peer == NoSocket)
            return;
        SocketSetNoDelay(Peer, Code);
        std::uint8_t Byte = 0;
        while (SocketReceive(Peer, &Byte, 1, Code) == 1)
            if (SocketSend(Peer, &Byte, 1, Code) != 1)
                break;
        SocketClose(Peer);
    });
    TSocketHandle Socket = NoSocket;
    double Rate = 0;
    if (TcpConnect("127.0.0.1", "", Port, 1000, Socket)) {
        const std::vector<std::uint8_t> Ping{0x06};
        std::vector<std::uint8_t> Pong;
        const auto Start = Clock::now();
        int Done = 0;
        for (; Done < Trips; ++Done)
            if (!TcpSendAll(Socket, Ping, 1000) || !TcpReceive(Socket, 1, 1000, Pong))
                break;
        Rate = Done / Seconds(Start);
        TcpClose(Socket);
    }
    Server.join();
    SocketClose(Listener);
    return Rate;
}

/// Articles per second of whole uploads (encode, connect, frames, close) to the simulator.
double UploadRate(Tool::TScaleSim& Sim, const std::vector<TPluRecord>& Items)
{
    TDigiDriver Driver;
    const auto Start = Clock::now();
    const TUploadResult Result =
        Driver.Upload("127.0.0.1", Sim.Port(), 1000, "", "", "bench.csv", Items);
    const double Elapsed = Seconds(Start);
    if (Result.Status != TUploadStatus::usSent) {
        std::fprintf(stderr, "upload failed: %s\n", Result.Message.c_str());
        return 0;
    }
    return static_cast<double>(Items.size()) / Elapsed;
}

} // namespace

int main(int Argc, char** Argv)
{
    int ArticleCount = 20000;
    int Runs = 5;
    for (int I = 1; I + 1 < Argc; I += 2) {
        const std::string Name = Argv[I];
        if (Name == "--articles")
            ArticleCount = std::max(1, std::atoi(Argv[I + 1]));
        else if (Name == "--runs")
            Runs = std::max(1, std::atoi(Argv[I + 1]));
    }

    const auto Temp = Bench::UseThrowAwayDataFolder();

    Tool::TScaleSim Sim;
    Tool::TScaleSimOptions Options;
    Options.KeepFrames = false;
    std::string Error;
    if (!Sim.Start(Options, Error)) {
        std::fprintf(stderr, "%s\n", Error.c_str());
        return 1;
    }
    const auto Items = Articles(ArticleCount);

    std::printf("articles per upload: %d, runs: %d (median shown)\n", ArticleCount, Runs);
    std::vector<double> Ping, AtErrors, AtMax;
    for (int Run = 0; Run < Runs; ++Run) {
        Ping.push_back(PingPongRate(ArticleCount));
        SetLogLevel(TLogLevel::llErrors);
        AtErrors.push_back(UploadRate(Sim, Items));
        SetLogLevel(TLogLevel::llMaximum);
        // Every article writes three journal lines at max; fewer articles keep the run short.
        const std::vector<TPluRecord> Fewer(
            Items.begin(), Items.begin() + std::min<std::size_t>(Items.size(), 2000));
        AtMax.push_back(UploadRate(Sim, Fewer));
    }
    Sim.Stop();
    std::filesystem::remove_all(Temp);

    const double P = Bench::Median(Ping), E = Bench::Median(AtErrors), M = Bench::Median(AtMax);
    std::printf("bare 1-byte ping-pong over loopback TCP: %10.0f round trips/s\n", P);
    std::printf(
        "upload, journal level errors:            %10.0f articles/s (%.0f%% of ping-pong)\n", E,
        P > 0 ? 100.0 * E / P : 0.0);
    std::printf(
        "upload, journal level max:               %10.0f articles/s (%.0f%% of ping-pong)\n", M,
        P > 0 ? 100.0 * M / P : 0.0);
    return 0;
}
