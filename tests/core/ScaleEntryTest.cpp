// The rules behind the scale and general settings dialogs: reading a typed DIGI scale, the port
// the dialog fills in by itself, the line of a collected scale, the time-out and adapter rules,
// and the on-line probe with its generations.

#include "core/Settings/ScaleEntry.h"
#include "core/OnlineProbe/OnlineProbe.h"
#include "core/Settings/GeneralEntry.h"
#include "core/Text/Text.h"
#include "core/Types/PostingThread.h"
#include "support/PostQueue.h"
#include "support/ScaleNet.h"
#include "support/TempDir.h"
#include "tool/ScaleSim.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

namespace Plumeria {
namespace {

namespace Kit = Plumeria::Test;

TScaleEntryFields Fields(const char* Host, const char* Port, const char* Mask = "*")
{
    TScaleEntryFields F;
    F.Host = Host;
    F.Port = Port;
    F.Model = " SM-100 ";
    F.Mask = Mask;
    return F;
}

TEST(ScaleEntry, ReadsTheFieldsOrNamesTheFirstBrokenRule)
{
    struct TCase
    {
        const char* Host;
        const char* Port;
        const char* Mask;
        TScaleEntryError Error;
        int PortRead;
    } const Cases[] = {
        {" 10.0.0.7 ", "", "*", TScaleEntryError::seNone, 2007},
        {"10.0.0.7", "3001", "*", TScaleEntryError::seNone, 3001},
        {"10.0.0.7", "abc", "*", TScaleEntryError::seNone, 2007},
        {"10.0.0.7", " 0 ", "*", TScaleEntryError::seNone, 2007},
        {"scale.local", "2100", "*", TScaleEntryError::seNone, 2100},
        {"", "2000", "*", TScaleEntryError::seNoHost, 0},
        {" \t", "2000", "*", TScaleEntryError::seNoHost, 0},
        {"10.0.0.255", "", "*", TScaleEntryError::sePortRange, 0},
        {"scale.local", "", "*", TScaleEntryError::sePortRange, 0},
        {"10.0.0.7", "65536", "*", TScaleEntryError::sePortRange, 0},
        {"10.0.0.7", "-5", "*", TScaleEntryError::sePortRange, 0},
        {"10.0.0.7", "", "C:meat*.csv", TScaleEntryError::seMaskWithPath, 0},
        {"10.0.0.7", "", "in\\meat*.csv", TScaleEntryError::seMaskWithPath, 0},
        {"10.0.0.7", "", "in/meat*.csv", TScaleEntryError::seMaskWithPath, 0},
    };
    for (const TCase& Case : Cases) {
        TScaleConfig Config;
        EXPECT_EQ(ReadScaleEntry(Fields(Case.Host, Case.Port, Case.Mask), Config), Case.Error)
            << Case.Host << " " << Case.Port << " " << Case.Mask;
        if (Case.Error == TScaleEntryError::seNone) {
            EXPECT_EQ(Config.Port, Case.PortRead) << Case.Host << " " << Case.Port;
            EXPECT_EQ(Config.Host, Trim(Case.Host));
        }
    }
}

TEST(ScaleEntry, TrimsCutsAndDefaults)
{
    TScaleEntryFields F = Fields("10.0.0.7", "", "  ");
    F.CodePage866 = true;
    F.Enabled = false;
    // 81 Cyrillic letters: 81 UTF-16 units, 162 bytes.
    std::string Long;
    for (int I = 0; I < 81; ++I)
        Long += "\xD0\x96";
    F.Name = "  " + Long;
    TScaleConfig Config;
    ASSERT_EQ(ReadScaleEntry(F, Config), TScaleEntryError::seNone);
    EXPECT_EQ(Config.Kind, TScaleKind::skDigi);
    EXPECT_EQ(Config.Model, "SM-100");
    EXPECT_EQ(Config.FileCodePage, 866);
    EXPECT_FALSE(Config.Enabled);
    EXPECT_EQ(Config.FileMask, "*");
    EXPECT_EQ(Config.Name, Long.substr(0, 160));
}

TEST(ScaleEntry, AutoPortFillsOnlyWhatTheDialogOwns)
{
    struct TCase
    {
        const char* Host;
        const char* Port;
        int LastAuto;
        std::optional<std::int32_t> Expected;
    } const Cases[] = {
        {"192.168.1.20", "", -1, 2020},     {"192.168.1.21", "2020", 2020, 2021},
        {"192.168.1.21", "3001", -1, {}},   {"192.168.1.21", "3001", 2020, {}},
        {"192.168.1.21", "2000", -1, 2021}, {"192.168.1.21", "0", -1, 2021},
        {"192.168.1.21", "x", -1, 2021},    {"192.168.1.", "", -1, {}},
        {"10.0.0.255", "2025", 2025, 0},    {"10.0.0.255", "3001", 2025, {}},
        {"10.0.0.255", "", 2025, {}},
    };
    for (const TCase& Case : Cases)
        EXPECT_EQ(AutoPortFor(Case.Host, Case.Port, Case.LastAuto), Case.Expected)
            << Case.Host << " port " << Case.Port << " last " << Case.LastAuto;
}

TEST(ScaleEntry, HitTextHostsAndProbePorts)
{
    TScaleConfig Meat;
    Meat.Name = " Мясо ";
    Meat.Host = "192.168.1.20";
    Meat.Port = 2020;
    Meat.FileMask = " meat*.csv ";
    EXPECT_EQ(ScaleHitText(Meat), "Мясо   192.168.1.20:2020   meat*.csv");
    Meat.Name = " ";
    Meat.FileMask = "";
    EXPECT_EQ(ScaleHitText(Meat), "192.168.1.20:2020   *");

    TScaleConfig Cas = Meat;
    Cas.Kind = TScaleKind::skCas;
    Cas.Host = "10.0.0.5";
    Cas.Port = 0;
    TScaleConfig Named = Meat;
    Named.Host = "Scale.Local";
    Named.Port = 0;
    const std::vector<TScaleConfig> Scales = {Cas, Meat, Named};
    EXPECT_EQ(FindHost(Scales, "10.0.0.5"), 0);
    EXPECT_EQ(FindDigiHost(Scales, "10.0.0.5"), -1);
    EXPECT_EQ(FindDigiHost(Scales, "scale.LOCAL"), 2);
    EXPECT_EQ(FindDigiHost(Scales, "192.168.1.2"), -1);

    EXPECT_EQ(ProbePort(Cas), 0);   // other makes keep their port
    EXPECT_EQ(ProbePort(Named), 0); // no default for a host name
    Meat.Port = -1;
    EXPECT_EQ(ProbePort(Meat), 2020);
}

TEST(GeneralEntry, TimeOutTable)
{
    const std::pair<const char*, int> Cases[] = {
        {" 250 ", 250}, {"99", 500},  {"3001", 500},  {"abc", 500},
        {"", 500},      {"100", 100}, {"3000", 3000}, {"-250", 500},
    };
    for (const auto& [Text, Expected] : Cases)
        EXPECT_EQ(ReadConnectTimeout(Text), Expected) << '"' << Text << '"';
}

TEST(GeneralEntry, AdapterItems)
{
    EXPECT_EQ(AdapterItemText({"10.0.0.2", "eth0"}), "10.0.0.2  eth0");
    EXPECT_EQ(AdapterItemText({"10.0.0.2", ""}), "10.0.0.2");
    EXPECT_EQ(AdapterItemIp(" 10.0.0.2  eth0"), "10.0.0.2");
    EXPECT_EQ(AdapterItemIp("10.0.0.2"), "10.0.0.2");

    const std::vector<std::string> Two = {"192.168.1.5  eth0", "10.0.0.2  wlan0"};
    struct TCase
    {
        std::vector<std::string> Items;
        const char* Configured;
        std::vector<std::string> Shown;
        int Selected;
    } const Cases[] = {
        {Two, "10.0.0.2", Two, 1},
        {Two, "", Two, 0},
        {Two, "10.0.0.5", {"10.0.0.5", Two[0], Two[1]}, 0},
        {{}, "", {}, -1},
        {{}, "10.0.0.5", {"10.0.0.5"}, 0},
        {Two, "10.0.0", {"10.0.0", Two[0], Two[1]}, 0},
    };
    for (const TCase& Case : Cases) {
        const TAdapterChoice Choice = ChooseAdapterItem(Case.Items, Case.Configured);
        EXPECT_EQ(Choice.Items, Case.Shown) << Case.Configured;
        EXPECT_EQ(Choice.Selected, Case.Selected) << Case.Configured;
    }
}

TEST(OnlineProbe, SnapshotFillsDigiPortsAndClampsTheTimeOut)
{
    TLoaderSettings Settings;
    Settings.AdapterIp = "127.0.0.1";
    Settings.ConnectTimeoutMs = 99;
    TScaleConfig Digi;
    Digi.Host = "192.168.1.15";
    Digi.Port = 0;
    const TProbeSnapshot Snapshot = MakeProbeSnapshot(7, {Digi}, &Settings);
    EXPECT_EQ(Snapshot.Gen, 7);
    EXPECT_EQ(Snapshot.TimeoutMs, 500);
    EXPECT_EQ(Snapshot.Adapter, "127.0.0.1");
    ASSERT_EQ(Snapshot.Targets.size(), 1u);
    EXPECT_EQ(Snapshot.Targets[0].Port, 2015);
    EXPECT_EQ(MakeProbeSnapshot(1, {}, nullptr).TimeoutMs, 500);
}

TEST(OnlineProbe, ProbesInOrderAndStopsWhenTheGenerationMoves)
{
    Kit::TTempDataFolder Data;
    Tool::TScaleSim Sim;
    std::string Error;
    ASSERT_TRUE(Sim.Start({}, Error)) << Error;

    TScaleConfig Up;
    Up.Host = "127.0.0.1";
    Up.Port = Sim.Port();
    TScaleConfig NoHost = Up;
    NoHost.Host = " ";
    TScaleConfig BadPort = Up;
    BadPort.Port = 70000;
    TProbeSnapshot Snapshot = MakeProbeSnapshot(3, {Up, NoHost, BadPort, Up}, nullptr);

    std::atomic<bool> Cancel{false};
    std::atomic<std::int32_t> Gen{3};
    std::vector<std::pair<int, bool>> Results;
    RunOnlineProbe(Snapshot, Cancel, Gen,
                   [&](std::int32_t ResultGen, int Index, bool IsUp, const std::string&) {
                       EXPECT_EQ(ResultGen, 3);
                       Results.emplace_back(Index, IsUp);
                   });
    const std::vector<std::pair<int, bool>> Expected = {
        {0, true}, {1, false}, {2, false}, {3, true}};
    EXPECT_EQ(Results, Expected);
    EXPECT_TRUE(Sim.WaitConnectionsClosed(2, 2000)); // two attempts, none for the bad rows

    // A newer generation asked for after the first target: the run stops there.
    Results.clear();
    RunOnlineProbe(Snapshot, Cancel, Gen,
                   [&](std::int32_t, int Index, bool IsUp, const std::string&) {
                       Results.emplace_back(Index, IsUp);
                       Gen = 4;
                   });
    EXPECT_EQ(Results.size(), 1u);
    Results.clear();
    Cancel = true;
    RunOnlineProbe(Snapshot, Cancel, Gen,
                   [&](std::int32_t, int Index, bool IsUp, const std::string&) {
                       Results.emplace_back(Index, IsUp);
                   });
    EXPECT_TRUE(Results.empty());
}

TEST(OnlineProbe, ResultsApplyOnlyToTheListTheyWereProbedFor)
{
    TScaleConfig A;
    A.Host = "10.0.0.7";
    const std::vector<TScaleConfig> Rows = {A};
    EXPECT_TRUE(ProbeResultApplies(5, 5, 0, Rows, "10.0.0.7"));
    EXPECT_FALSE(ProbeResultApplies(4, 5, 0, Rows, "10.0.0.7")); // old generation
    EXPECT_FALSE(ProbeResultApplies(5, 5, 1, Rows, "10.0.0.7")); // vanished row
    EXPECT_FALSE(ProbeResultApplies(5, 5, -1, Rows, "10.0.0.7"));
    EXPECT_FALSE(ProbeResultApplies(5, 5, 0, Rows, "10.0.0.8"));  // host changed
    EXPECT_FALSE(ProbeResultApplies(5, 5, 0, Rows, "10.0.0.7 ")); // exact comparison
}

TEST(PostingThread, AFailingWorkIsJournalledAndStillEnds)
{
    Kit::TTempDataFolder Data;
    Kit::TPostQueue Queue;
    bool Ended = false;
    {
        TPostingThread Thread(
            "digi search", [] { throw std::runtime_error("no workers"); }, Queue.Poster(),
            [&Ended] { Ended = true; });
        EXPECT_TRUE(Queue.RunUntil([&] { return Ended; }, std::chrono::seconds(10)));
        EXPECT_TRUE(Thread.Finished());
    }
    EXPECT_EQ(Kit::CountJournal("ERROR", "digi search failed: no workers"), 1);
}

} // namespace
} // namespace Plumeria
