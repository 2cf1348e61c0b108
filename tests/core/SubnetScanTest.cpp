#include "core/DigiSearch/SubnetScan.h"
#include "core/DigiSearch/TcpTransport.h"
#include "core/Journal/Journal.h"
#include "platform/Adapters.h"

#include "support/PostQueue.h"
#include "support/ScaleNet.h"
#include "support/TempDir.h"
#include "tool/ScaleSim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace Plumeria {
namespace {

namespace Kit = Plumeria::Test;
using Tool::TScaleSim;
using Tool::TScaleSimOptions;

TEST(SubnetHosts, TheOther253OfTheSlash24)
{
    const auto Hosts = SubnetHosts("192.168.1.10");
    ASSERT_EQ(Hosts.size(), 253u);
    EXPECT_EQ(Hosts.front(), "192.168.1.1");
    EXPECT_EQ(Hosts[8], "192.168.1.9");
    EXPECT_EQ(Hosts[9], "192.168.1.11");
    EXPECT_EQ(Hosts.back(), "192.168.1.254");
    EXPECT_TRUE(std::is_sorted(Hosts.begin(), Hosts.end(), [](const auto& A, const auto& B) {
        return DigiDefaultPort(A) < DigiDefaultPort(B);
    }));
    EXPECT_EQ(std::set<std::string>(Hosts.begin(), Hosts.end()).size(), 253u);

    struct Row
    {
        const char* Adapter;
        std::size_t Count;
        const char* First;
    };
    const Row Rows[] = {
        {"", 0, nullptr},
        {"10.0.0", 0, nullptr},
        {"10.0.0.1.2", 0, nullptr},
        {"10.0.0.x", 0, nullptr},
        {"10.0.0.", 0, nullptr},
        {"10.0.0.1", 253, "10.0.0.2"},
        {"10.0.0.254", 253, "10.0.0.1"},
        // An own number outside 1..254 leaves all 254 hosts.
        {"10.0.0.0", 254, "10.0.0.1"},
        {"10.0.0.255", 254, "10.0.0.1"},
        // The integer reader takes hexadecimal after "$": own number 1.
        {"10.0.0.$1", 253, "10.0.0.2"},
    };
    for (const Row& R : Rows) {
        const auto List = SubnetHosts(R.Adapter);
        EXPECT_EQ(List.size(), R.Count) << R.Adapter;
        if (R.First && !List.empty()) {
            EXPECT_EQ(List.front(), R.First) << R.Adapter;
        }
    }
}

TEST(IsUsableAdapterIp, RefusesLoopbackLinkLocalAndEmpty)
{
    const std::pair<const char*, bool> Rows[] = {
        {"127.0.0.1", false},   {"127.5.6.7", false}, {"169.254.3.4", false},
        {"0.0.0.0", false},     {"", false},          {"10.0.0.5", true},
        {"192.168.1.20", true}, {"169.25.1.1", true}, {"1270.0.0.1", true},
    };
    for (const auto& [Ip, Usable] : Rows)
        EXPECT_EQ(IsUsableAdapterIp(Ip), Usable) << Ip;
}

TEST(ChooseBindAddress, ConfiguredAddressThenSameNetworkAdapter)
{
    const std::vector<TNetAdapter> Adapters = {
        {"192.168.0.5", "eth0"}, {"10.1.2.77", "eth1"}, {"10.1.2.78", "eth1"}};
    struct Row
    {
        const char* Host;
        const char* LocalIp;
        const char* Expected;
    };
    const Row Rows[] = {
        {"10.1.2.3", "", "10.1.2.77"},
        {"10.1.2.3", " \t\r\n", "10.1.2.77"}, // blanks fall back to the adapter search
        {"10.1.3.3", "", ""},                 // no adapter on that network
        {"192.168.0.200", "", "192.168.0.5"},
        {"10.1.2.3", " 172.16.0.9\t", "172.16.0.9"}, // trimmed, not checked against adapters
        {"10.1.2", "", ""},                          // not four parts
        {"scale-1", "", ""},
        {"10.1.2.3.4", "", ""},
        // The prefix ends with the dot: 10.1.22.x is not on 10.1.2.x.
        {"10.1.22.3", "", ""},
    };
    for (const Row& R : Rows)
        EXPECT_EQ(ChooseBindAddress(R.Host, R.LocalIp, Adapters), R.Expected)
            << R.Host << " / " << R.LocalIp;
    EXPECT_EQ(ChooseBindAddress("10.1.2.3", "", {}), "");
    // Against the machine's own list: a loopback host never gets a loopback adapter.
    EXPECT_EQ(ChooseBindAddress("127.0.0.9", ""), "");
    EXPECT_EQ(ChooseBindAddress("127.0.0.9", " 127.0.0.2 "), "127.0.0.2");
}

TEST(ListAdapters, UsableAddressesInPlatformOrder)
{
    std::vector<TNetAdapter> Expected;
    for (const auto& Address : PlatformAdapterAddresses())
        if (IsUsableAdapterIp(Address.Ip))
            Expected.push_back({Address.Ip, Address.Caption});
    const auto Adapters = ListAdapters();
    EXPECT_EQ(Adapters, Expected);
    for (const auto& Adapter : Adapters) {
        std::uint32_t Ip = 0;
        EXPECT_TRUE(ParseIpv4(Adapter.Ip, Ip)) << Adapter.Ip;
        EXPECT_FALSE(Adapter.Caption.empty()) << Adapter.Ip;
    }
    // The loopback interface is on every Linux machine and is never offered. (GetAdaptersInfo on
    // Windows does not list it at all.)
#ifndef _WIN32
    bool SawLoopback = false;
    for (const auto& Address : PlatformAdapterAddresses())
        SawLoopback = SawLoopback || Address.Ip == "127.0.0.1";
    EXPECT_TRUE(SawLoopback);
#endif
}

/// What a scan reported, gathered from the worker threads.
struct TScanLog
{
    std::mutex Lock;
    std::vector<TDigiHit> Hits;
    std::vector<std::array<std::int32_t, 3>> Progress;
    std::set<std::thread::id> Threads;

    TDigiHitProc HitProc()
    {
        return [this](const TDigiHit& Hit) {
            std::lock_guard Guard(Lock);
            Hits.push_back(Hit);
            Threads.insert(std::this_thread::get_id());
        };
    }
    TDigiProgressProc ProgressProc()
    {
        return [this](std::int32_t Checked, std::int32_t Total, std::int32_t Found) {
            std::lock_guard Guard(Lock);
            Progress.push_back({Checked, Total, Found});
            Threads.insert(std::this_thread::get_id());
        };
    }
};

/// Probe lines per host ("digi tcp ip=H port=...") in the journal.
std::map<std::string, int> ProbedHosts()
{
    std::map<std::string, int> Hosts;
    for (const auto& Text : Kit::JournalTexts("INFO")) {
        if (Text.rfind("digi tcp ip=", 0) != 0)
            continue;
        const auto Start = std::string("digi tcp ip=").size();
        ++Hosts[Text.substr(Start, Text.find(' ', Start) - Start)];
    }
    return Hosts;
}

class SubnetScan : public ::testing::Test
{
protected:
    /// Starts simulators on two addresses of 127.0.0.0/24 at their default ports, skipping
    /// addresses whose port something else on this machine already answers.
    void StartTwoScales()
    {
        Scales = Kit::StartSimsOnDefaultPorts(Sims, {23, 201, 57, 133, 88, 171});
        ASSERT_EQ(Scales.size(), 2u) << "no two free default ports on 127.0.0.0/24";
    }

    Kit::TTempDataFolder Data;
    TScaleSim Sims[2];
    std::vector<TDigiHit> Scales;
};

TEST_F(SubnetScan, FindsTheScalesAndCountsEveryHostOnce)
{
    StartTwoScales();
    TScanLog Log;
    ScanDigiSubnet("127.0.0.1", 200, Log.HitProc(), Log.ProgressProc(), {});

    // Both scales found, on their default ports; anything else found is a real listener that
    // some other program on this machine keeps on a DIGI default port.
    for (const TDigiHit& Scale : Scales)
        EXPECT_EQ(std::count(Log.Hits.begin(), Log.Hits.end(), Scale), 1) << Scale.Host;
    SetLogLevel(TLogLevel::llErrors); // the checking probes stay out of the journal
    for (const TDigiHit& Hit : Log.Hits) {
        EXPECT_EQ(Hit.Port, DigiDefaultPort(Hit.Host));
        if (std::find(Scales.begin(), Scales.end(), Hit) == Scales.end()) {
            EXPECT_TRUE(TcpProbe(Hit.Host, Hit.Port, 200, "")) << Hit.Host;
        }
    }
    SetLogLevel(TLogLevel::llMaximum);
    const auto Found = static_cast<std::int32_t>(Log.Hits.size());

    // Progress at 16, 32, ..., 240 and 253, each once, in whatever order they arrived.
    std::vector<std::int32_t> Checked;
    for (const auto& Report : Log.Progress) {
        Checked.push_back(Report[0]);
        EXPECT_EQ(Report[1], 253);
        EXPECT_GE(Report[2], 0);
        EXPECT_LE(Report[2], Found);
    }
    std::sort(Checked.begin(), Checked.end());
    std::vector<std::int32_t> Expected;
    for (int N = 16; N <= 240; N += 16)
        Expected.push_back(N);
    Expected.push_back(253);
    EXPECT_EQ(Checked, Expected);

    // Every host probed exactly once, on its default port, from the adapter's address.
    const auto Probed = ProbedHosts();
    EXPECT_EQ(Probed.size(), 253u);
    for (const auto& [Host, Count] : Probed)
        EXPECT_EQ(Count, 1) << Host;
    EXPECT_EQ(Probed.count("127.0.0.1"), 0u);
    EXPECT_EQ(Kit::CountJournal("INFO", " bind=127.0.0.1 result="), 253);
    EXPECT_EQ(Kit::CountJournal("INFO", "digi tcp ip=127.0.0.254 port=2254 bind=127.0.0.1"), 1);

    // The callbacks ran on workers, several of them, never on this thread.
    EXPECT_EQ(Log.Threads.count(std::this_thread::get_id()), 0u);
    EXPECT_GT(Log.Threads.size(), 1u);
    for (auto& Sim : Sims)
        EXPECT_TRUE(Sim.WaitConnectionsClosed(1, 2000));
}

TEST_F(SubnetScan, CancelledFromTheStartProbesNothing)
{
    StartTwoScales();
    TScanLog Log;
    std::atomic<int> Asked{0};
    ScanDigiSubnet("127.0.0.1", 200, Log.HitProc(), Log.ProgressProc(), [&Asked] {
        ++Asked;
        return true;
    });
    EXPECT_TRUE(Log.Hits.empty());
    EXPECT_TRUE(Log.Progress.empty());
    EXPECT_TRUE(ProbedHosts().empty());
    EXPECT_GE(Asked.load(), 1);
    EXPECT_LE(Asked.load(), DigiScanWorkers); // each worker asks once and stops
    EXPECT_EQ(Sims[0].Connections() + Sims[1].Connections(), 0);
}

TEST_F(SubnetScan, CancelledMidwayStopsTakingHosts)
{
    std::atomic<bool> Stop{false};
    TScanLog Log;
    auto Progress = Log.ProgressProc();
    ScanDigiSubnet(
        "127.0.0.1", 200, {},
        [&](std::int32_t Checked, std::int32_t Total, std::int32_t Found) {
            Progress(Checked, Total, Found);
            Stop = true; // the first report (at 16) cancels
        },
        [&Stop] { return Stop.load(); });
    const auto Probed = ProbedHosts();
    // 16 done when the flag was set, and at most one more probe in flight per worker.
    EXPECT_GE(Probed.size(), 16u);
    EXPECT_LE(Probed.size(), 16u + DigiScanWorkers);
    ASSERT_FALSE(Log.Progress.empty());
    for (const auto& Report : Log.Progress)
        EXPECT_LT(Report[0], 253);
}

TEST_F(SubnetScan, WithoutCallbacksEveryHostIsStillProbed)
{
    ScanDigiSubnet("127.0.0.1", 200, {}, {}, {});
    EXPECT_EQ(ProbedHosts().size(), 253u);
}

TEST_F(SubnetScan, BadAdapterAddressReturnsAtOnce)
{
    for (const char* Adapter : {"", "127.0.0", "127.0.0.one", "a.b.c.d.e"}) {
        TScanLog Log;
        bool Asked = false;
        ScanDigiSubnet(Adapter, 200, Log.HitProc(), Log.ProgressProc(), [&Asked] {
            Asked = true;
            return false;
        });
        EXPECT_TRUE(Log.Hits.empty()) << Adapter;
        EXPECT_TRUE(Log.Progress.empty()) << Adapter;
        EXPECT_FALSE(Asked) << Adapter;
    }
    EXPECT_TRUE(Kit::JournalEntries().empty());
}

TEST_F(SubnetScan, PostedCallbacksRunWhereThePosterRuns)
{
    StartTwoScales();
    Kit::TPostQueue Queue;
    std::vector<TDigiHit> Hits;
    std::vector<std::int32_t> Checked;
    std::set<std::thread::id> Threads;
    ScanDigiSubnet("127.0.0.1", 200,
                   PostedHitProc(Queue.Poster(),
                                 [&](const TDigiHit& Hit) {
                                     Hits.push_back(Hit);
                                     Threads.insert(std::this_thread::get_id());
                                 }),
                   PostedProgressProc(Queue.Poster(),
                                      [&](std::int32_t Done, std::int32_t, std::int32_t) {
                                          Checked.push_back(Done);
                                          Threads.insert(std::this_thread::get_id());
                                      }),
                   {});
    // Nothing ran on the workers: it all waits in the queue for this thread.
    EXPECT_TRUE(Hits.empty());
    EXPECT_TRUE(Checked.empty());
    EXPECT_GE(Queue.RunQueued(), 16u + 2u);
    EXPECT_EQ(Checked.size(), 16u);
    for (const TDigiHit& Scale : Scales)
        EXPECT_EQ(std::count(Hits.begin(), Hits.end(), Scale), 1) << Scale.Host;
    EXPECT_EQ(Threads, std::set<std::thread::id>{std::this_thread::get_id()});
    // Empty pieces give empty callbacks.
    EXPECT_FALSE(PostedHitProc({}, [](const TDigiHit&) {}));
    EXPECT_FALSE(PostedProgressProc(Queue.Poster(), {}));
}

} // namespace
} // namespace Plumeria
