// `plumeria send`, `send-label`, `scan` and `scale-sim` run as integrators run them, against
// scale simulators on loopback: exit statuses, printed results, and the simulator's own output.

#include "core/Digi/Digi.h"
#include "core/DigiSearch/TcpTransport.h"
#include "support/RunProcess.h"
#include "support/ScaleNet.h"
#include "support/TempDir.h"
#include "tool/ScaleSim.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace Plumeria {
namespace {

namespace Kit = Plumeria::Test;
using Kit::RunTool;
using Kit::TProcessResult;
using Tool::TScaleSim;
using Tool::TScaleSimOptions;

std::string Describe(const TProcessResult& R)
{
    return "exit=" + std::to_string(R.ExitCode) + " signal=" + std::to_string(R.Signal) +
           (R.TimedOut ? " timed out" : "") + "\nstdout: " + R.Out.substr(0, 2000) +
           "\nstderr: " + R.Err.substr(0, 2000);
}

// Two articles in code page 1251 ("Хлеб" as bytes), and a file with a bad price on line 2.
const std::string GoodFile = "A;1;1234567;12,50;0;0;5;Milk\r\n"
                             "A;2;2345678;3;0;0;0;\xD5\xEB\xE5\xE1\r\n"
                             "I;2;flour;water\r\n";
const std::string BadFile = "A;1;1234567;1;0;0;0;Milk\r\n"
                            "A;2;2345678;-1;0;0;0;Bread\r\n";

class ScaleCommands : public ::testing::Test
{
protected:
    void StartSim(std::function<Tool::TSimAnswer(const Tool::TSimFrame&)> Answer = {})
    {
        TScaleSimOptions Options;
        Options.Answer = std::move(Answer);
        std::string Error;
        ASSERT_TRUE(Sim.Start(std::move(Options), Error)) << Error;
    }
    std::string SimPort() const { return std::to_string(Sim.Port()); }

    Kit::TTempDataFolder Data; // the tool journals into it (the environment is inherited)
    Kit::TTempDir Dir;
    TScaleSim Sim;
};

TEST_F(ScaleCommands, SendUploadsAnAcceptedFile)
{
    StartSim();
    const auto File = Dir.WriteFile("prices.csv", GoodFile);
    const auto R = RunTool(
        {"send", File.string(), "--host", "127.0.0.1", "--port", SimPort(), "--timeout", "300"});
    EXPECT_EQ(R.ExitCode, 0) << Describe(R);
    EXPECT_EQ(R.Out, "sent 2 PLU\n");
    const auto Frames = Sim.Frames();
    ASSERT_EQ(Frames.size(), 2u);
    // The Cyrillic name arrived in code page 866 (Х = 0x95), the ingredients after it.
    EXPECT_EQ(Frames[1].Bytes[32], 0x95);
    // The tool journals like the program: the file's full path in every line.
    EXPECT_EQ(Kit::CountJournal("INFO", "file=" + File.string() + " ip=127.0.0.1 port=" +
                                            SimPort() + " plu=2 status=sent"),
              1);
}

TEST_F(ScaleCommands, SendOutcomesAndExitStatuses)
{
    StartSim([](const Tool::TSimFrame& Frame) {
        Tool::TSimAnswer Answer;
        if (Frame.Number == 2)
            Answer.Bytes = {0x15};
        return Answer;
    });
    const auto Good = Dir.WriteFile("good.csv", GoodFile).string();
    const auto Bad = Dir.WriteFile("bad.csv", BadFile).string();
    const auto Missing = (Dir.Path() / "missing.csv").string();
    struct Row
    {
        std::vector<std::string> Args;
        int Exit;
        std::string Out; // "" = not checked
        std::string ErrPart;
    };
    const Row Rows[] = {
        {{"send", Good, "--host", "127.0.0.1", "--port", SimPort()},
         1,
         "PLU 2 was not acknowledged\n",
         ""},
        // A rejected file lists its errors and is sent nowhere.
        {{"send", Bad, "--host", "127.0.0.1", "--port", SimPort()},
         1,
         "line 2: price is invalid\nnot sent: the file has 1 errors\n",
         ""},
        {{"send", Good, "--host", "127.0.0.1", "--kind", "Massa-K"},
         1,
         "MASSA-K protocol is not connected yet\n",
         ""},
        {{"send", Good, "--host", "127.0.0.255"},
         1,
         "DIGI port is 2000 + the last octet of the host\n",
         ""},
        {{"send", Missing, "--host", "127.0.0.1"}, 2, "", "missing.csv"},
        {{"send", Good}, 2, "", "--host is required"},
        {{"send", Good, "--host", "127.0.0.1", "--kind", "ibm"}, 2, "", "unknown scale kind"},
        {{"send", Good, "--host", "127.0.0.1", "--cp", "1250"}, 2, "", "--cp must be"},
        {{"send", Good, "--host", "127.0.0.1", "--port", "70000"}, 2, "", "--port must be"},
        {{"send", "--host", "127.0.0.1"}, 2, "", "no FILE given"},
    };
    for (const Row& R : Rows) {
        const auto Result = RunTool(R.Args);
        EXPECT_EQ(Result.ExitCode, R.Exit) << Describe(Result);
        if (!R.Out.empty()) {
            EXPECT_EQ(Result.Out, R.Out) << Describe(Result);
        }
        EXPECT_NE(Result.Err.find(R.ErrPart), std::string::npos) << Describe(Result);
    }
    // Only the first row reached the scale: two frames on one connection.
    EXPECT_TRUE(Sim.WaitConnectionsClosed(1, 2000));
    EXPECT_EQ(Sim.Connections(), 1);
    EXPECT_EQ(Sim.FrameCount(), 2);
}

TEST_F(ScaleCommands, SendLabel)
{
    StartSim();
    Dir.WriteFile("label/f34.dat", "01 00 00 00 00 06\r\n01 00 00 00 00 07 ff\r\n");
    Dir.WriteFile("label/f38.dat", "02000000000a 00 11 22 33\r\n");
    const auto Folder = (Dir.Path() / "label").string();
    auto R = RunTool(
        {"send-label", Folder, "--host", "127.0.0.1", "--port", SimPort(), "--bind", "127.0.0.1"});
    EXPECT_EQ(R.ExitCode, 0) << Describe(R);
    EXPECT_EQ(R.Out, "sent label, 2 format records, 1 texts\n");
    EXPECT_EQ(Sim.FrameCount(), 3);

    R = RunTool(
        {"send-label", (Dir.Path() / "none").string(), "--host", "127.0.0.1", "--port", SimPort()});
    EXPECT_EQ(R.ExitCode, 1) << Describe(R);
    EXPECT_EQ(R.Out, "f34.dat: label file is missing\n");

    R = RunTool({"send-label", Folder});
    EXPECT_EQ(R.ExitCode, 2) << Describe(R);
}

TEST_F(ScaleCommands, ScanPrintsHitsAndProgress)
{
    // A simulated scale at 127.0.0.61 on its default port 2061.
    TScaleSimOptions Options;
    Options.BindIp = "127.0.0.61";
    Options.Port = 2061;
    std::string Error;
    if (!Sim.Start(std::move(Options), Error))
        GTEST_SKIP() << Error;
    const auto R = RunTool({"scan", "127.0.0.1", "--timeout", "150"});
    EXPECT_EQ(R.ExitCode, 0) << Describe(R);
    EXPECT_NE(R.Out.find("127.0.0.61:2061\n"), std::string::npos) << R.Out;
    for (const char* Line : {"progress 16/253 found ", "progress 240/253 found ",
                             "progress 253/253 found ", "scan of 127.0.0.1 done: "})
        EXPECT_NE(R.Out.find(Line), std::string::npos) << Line << "\n" << R.Out;

    const auto Bad = RunTool({"scan", "127.0.0"});
    EXPECT_EQ(Bad.ExitCode, 2) << Describe(Bad);
}

TEST_F(ScaleCommands, JournalLevelComesFromSettingsUnlessGiven)
{
    StartSim();
    const auto File = Dir.WriteFile("prices.csv", GoodFile).string();
    Dir.WriteFile("label/f34.dat", "01 00 00 00 00 06\r\n");
    Dir.WriteFile("label/f38.dat", "02000000000a 00 11 22 33\r\n");
    const auto Folder = (Dir.Path() / "label").string();
    struct Row
    {
        const char* Settings; // LogLevel in settings.ini; nullptr = no settings file
        const char* Option;   // --log-level; nullptr = not given
        bool Verbose;         // INFO and EXCH lines expected
    };
    const Row Rows[] = {
        {nullptr, nullptr, true}, {"errors", nullptr, false}, {"max", nullptr, true},
        {"errors", "max", true},  {"max", "errors", false},   {nullptr, "errors", false},
    };
    const std::vector<std::vector<std::string>> Commands = {
        {"send", File, "--host", "127.0.0.1", "--port", SimPort()},
        {"send-label", Folder, "--host", "127.0.0.1", "--port", SimPort()},
        // A network without scales: every probe journals its connect line at "max".
        {"scan", "127.0.0.1", "--timeout", "100"},
    };
    const auto Ini = Data.DataDir() / "settings.ini";
    for (const Row& R : Rows) {
        const std::string Settings =
            R.Settings ? "[General]\r\nLogLevel=" + std::string(R.Settings) : "";
        std::filesystem::create_directories(Data.DataDir());
        std::filesystem::remove(Ini);
        if (R.Settings)
            std::ofstream(Ini, std::ios::binary) << Settings;
        for (std::vector<std::string> Args : Commands) {
            if (R.Option) {
                Args.push_back("--log-level");
                Args.push_back(R.Option);
            }
            SCOPED_TRACE(Args[0] + " settings=" + (R.Settings ? R.Settings : "none") +
                         " option=" + (R.Option ? R.Option : "none"));
            std::filesystem::remove_all(Data.DataDir() / "logs");
            const auto Result = RunTool(Args, 60000);
            EXPECT_EQ(Result.ExitCode, 0) << Describe(Result);
            EXPECT_EQ(Kit::JournalTexts("INFO").empty(), !R.Verbose);
            if (Args[0] != "scan") {
                EXPECT_EQ(Kit::JournalTexts("EXCH").empty(), !R.Verbose);
            }
            // The settings are only read: never written, nor made when missing.
            EXPECT_EQ(std::filesystem::exists(Ini), R.Settings != nullptr);
            EXPECT_EQ(Kit::ReadFileBytes(Ini), Settings);
        }
    }
}

TEST_F(ScaleCommands, LogLevelAndAdapterAddressAreChecked)
{
    const auto File = Dir.WriteFile("prices.csv", GoodFile).string();
    struct Row
    {
        std::vector<std::string> Args;
        std::string ErrPart;
    };
    const Row Rows[] = {
        {{"send", File, "--host", "127.0.0.1", "--log-level", "debug"}, "--log-level must be"},
        {{"send-label", File, "--host", "127.0.0.1", "--log-level="}, "--log-level must be"},
        {{"scan", "127.0.0.1", "--log-level", "verbose"}, "--log-level must be"},
        {{"run", "--log-level", "all"}, "--log-level must be"},
        // The scan's address is read as strictly as a connect reads it.
        {{"scan", "10.0.0.+5"}, "'10.0.0.+5' is not an adapter address"},
        {{"scan", "10.0.0.0x5"}, "is not an adapter address"},
        {{"scan", " 10.0.0.5"}, "is not an adapter address"},
        {{"scan", "0.0.0.0"}, "is not an adapter address"},
        {{"scan", "255.255.255.255"}, "is not an adapter address"},
    };
    for (const Row& R : Rows) {
        const auto Result = RunTool(R.Args, 20000);
        EXPECT_EQ(Result.ExitCode, 2) << Describe(Result);
        EXPECT_NE(Result.Err.find(R.ErrPart), std::string::npos) << Describe(Result);
        EXPECT_EQ(Result.Out, "") << Describe(Result);
    }
    EXPECT_TRUE(Kit::JournalEntries().empty());
}

TEST(StandardDescriptors, ClosedOnesAreOpenedOnTheNullDevice)
{
    // A parent that starts the tool with 0, 1 and 2 closed: the simulator's listening socket must
    // not become its standard output, or every printed line would go to the network.
    Kit::TTempDataFolder Data;
    const std::string Script = R"(
"$0" scale-sim --port 0 <&- >&- 2>&- &
P=$!
i=0
while [ $i -lt 200 ] && ! ls -l /proc/$P/fd 2>/dev/null | grep -q socket; do
    sleep 0.05; i=$((i+1))
done
for F in 0 1 2; do readlink /proc/$P/fd/$F || echo closed; done
ls -l /proc/$P/fd | grep socket | sed 's/.* \([0-9]*\) -> .*/socket on \1/'
kill -TERM $P; wait $P
)";
    const auto R = Kit::RunProcess("/bin/sh", {"-c", Script, PLUMERIA_TOOL_PATH}, 30000);
    EXPECT_EQ(R.Out.substr(0, R.Out.find("socket on")), "/dev/null\n/dev/null\n/dev/null\n")
        << Describe(R);
    ASSERT_NE(R.Out.find("socket on "), std::string::npos) << Describe(R);
    for (const char* Standard : {"socket on 0\n", "socket on 1\n", "socket on 2\n"})
        EXPECT_EQ(R.Out.find(Standard), std::string::npos) << Describe(R);
}

TEST(ScaleSimCommand, RefusesAddressesOffLoopback)
{
    Kit::TTempDataFolder Data;
    for (const char* Address : {"10.0.0.5", "0.0.0.0", "192.168.1.2"}) {
        const auto R = RunTool({"scale-sim", "--bind", Address, "--port", "0"}, 10000);
        EXPECT_EQ(R.ExitCode, 2) << Describe(R);
        EXPECT_NE(R.Err.find("outside 127.0.0.0/8"), std::string::npos) << Describe(R);
    }
    const auto R = RunTool({"scale-sim", "--bind", "localhost"}, 10000);
    EXPECT_EQ(R.ExitCode, 2) << Describe(R);
}

TEST(ScaleSimCommand, AcknowledgesThenMisbehavesAsAsked)
{
    Kit::TTempDataFolder Data;
    // The port is taken from the system and handed to the simulator.
    std::uint32_t Loopback = 0;
    ParseIpv4("127.0.0.1", Loopback);
    int Error = 0;
    const TSocketHandle Probe = SocketListen(Loopback, 0, 1, Error);
    const int Port = SocketLocalPort(Probe);
    SocketClose(Probe);

    // Connection 1 is our readiness probe, connection 2 the upload; then the simulator ends.
    auto Run = std::async(std::launch::async, [Port] {
        return RunTool(
            {"scale-sim", "--port", std::to_string(Port), "--nak-after", "1", "--connections", "2"},
            20000);
    });
    bool Up = false;
    for (int I = 0; I < 200 && !Up; ++I) {
        Up = TcpProbe("127.0.0.1", Port, 200, "");
        if (!Up)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_TRUE(Up);
    const TUploadResult Result =
        TDigiDriver().Upload("127.0.0.1", Port, 300, "", "", "f.csv", Kit::MakeArticles(3));
    EXPECT_EQ(Result.Message, "PLU 2 was not acknowledged");

    const TProcessResult R = Run.get();
    EXPECT_EQ(R.ExitCode, 0) << Describe(R);
    EXPECT_EQ(R.Out.substr(0, R.Out.find('\n')), "listening on 127.0.0.1:" + std::to_string(Port));
    EXPECT_NE(R.Out.find("frame connection=2 number=1 file=25 bytes="), std::string::npos) << R.Out;
    EXPECT_NE(R.Out.find("frame connection=2 number=2 file=25 bytes="), std::string::npos) << R.Out;
    EXPECT_EQ(R.Out.find("number=3"), std::string::npos) << R.Out;
    EXPECT_NE(R.Out.find("stopped after 2 connections, 2 frames\n"), std::string::npos) << R.Out;
}

} // namespace
} // namespace Plumeria
