#include "core/DigiSearch/TcpTransport.h"

#include "core/Journal/Journal.h"
#include "support/ScaleNet.h"
#include "support/TempDir.h"
#include "tool/ScaleSim.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string_view>

namespace Plumeria {
namespace {

namespace Kit = Plumeria::Test;

using Kit::CountJournal;
using Kit::JournalTexts;
using Tool::TScaleSim;
using Tool::TScaleSimOptions;
using Tool::TSimAnswer;

/// A port on 127.0.0.1 where nothing listens: taken from the system, then given back.
int FreePort()
{
    std::uint32_t Ip = 0;
    ParseIpv4("127.0.0.1", Ip);
    int Error = 0;
    const TSocketHandle Listener = SocketListen(Ip, 0, 1, Error);
    const int Port = SocketLocalPort(Listener);
    SocketClose(Listener);
    return Port;
}

std::string TcpLine(const std::string& Ip, int Port, const std::string& Bind,
                    const std::string& Result)
{
    return "digi tcp ip=" + Ip + " port=" + std::to_string(Port) + " bind=" + Bind +
           " result=" + Result;
}

class TcpTransport : public ::testing::Test
{
protected:
    void StartSim(TScaleSimOptions Options = {})
    {
        std::string Error;
        ASSERT_TRUE(Sim.Start(std::move(Options), Error)) << Error;
    }

    Kit::TTempDataFolder Data;
    TScaleSim Sim;
};

TEST(DigiDefaultPort, LastPartDecides)
{
    struct Row
    {
        const char* Host;
        int Port;
    };
    const Row Rows[] = {
        {"192.168.1.50", 2050}, {"10.0.0.1", 2001},   {"10.0.0.254", 2254},
        {"10.0.0.0", 0},        {"10.0.0.255", 0},    {"10.0.0", 0},
        {"10.0.0.1.5", 0},      {"scales-1", 0},      {"", 0},
        {"10.0.0.", 0},         {"10.0.0.x", 0},      {"10.0.0.$FE", 2254},
        {"10.0.0.0x10", 2016},  {"a.b.c.7", 2007},    {"10.0.0.-5", 0},
        {"10.0.0.+5", 2005},    {"10.0.0.007", 2007}, {"10.0.0.99999999999", 0},
    };
    for (const Row& R : Rows)
        EXPECT_EQ(DigiDefaultPort(R.Host), R.Port) << R.Host;
}

TEST(ParseIpv4, StrictDottedDecimal)
{
    struct Row
    {
        const char* Text;
        bool Ok;
        std::uint32_t Ip;
    };
    const Row Rows[] = {
        {"127.0.0.1", true, 0x7F000001u},
        {"192.168.1.50", true, 0xC0A80132u},
        {"255.255.255.255", true, 0xFFFFFFFFu},
        {"0.0.0.0", true, 0},
        // Leading zeros stay decimal: the address agrees with its default port.
        {"192.168.001.010", true, 0xC0A8010Au},
        {"256.1.1.1", false, 0},
        {"1.2.3", false, 0},
        {"1.2.3.4.5", false, 0},
        {"1..3.4", false, 0},
        {"1.2.3.4 ", false, 0},
        {" 1.2.3.4", false, 0},
        {"0x7f.0.0.1", false, 0},
        {"1.2.3.0001", false, 0},
        {"localhost", false, 0},
        {"", false, 0},
        {"-1.2.3.4", false, 0},
    };
    for (const Row& R : Rows) {
        std::uint32_t Ip = 12345;
        EXPECT_EQ(ParseIpv4(R.Text, Ip), R.Ok) << R.Text;
        if (R.Ok) {
            EXPECT_EQ(Ip, R.Ip) << R.Text;
        }
        // The two addresses no connect can use are refused on top.
        EXPECT_EQ(IsConnectableIpv4(R.Text), R.Ok && R.Ip != 0 && R.Ip != 0xFFFFFFFFu) << R.Text;
    }
}

TEST_F(TcpTransport, AcceptedConnectJournalsAndStaysOpen)
{
    StartSim();
    TSocketHandle Socket = NoSocket;
    ASSERT_TRUE(TcpConnect("127.0.0.1", "", Sim.Port(), 500, Socket));
    EXPECT_NE(Socket, NoSocket);
    TcpClose(Socket);
    // From a given local address (all of 127.0.0.0/8 is local here).
    ASSERT_TRUE(TcpConnect("127.0.0.1", "127.0.0.2", Sim.Port(), 500, Socket));
    TcpClose(Socket);
    EXPECT_EQ(JournalTexts("INFO"),
              (std::vector<std::string>{TcpLine("127.0.0.1", Sim.Port(), "-", "accept"),
                                        TcpLine("127.0.0.1", Sim.Port(), "127.0.0.2", "accept")}));
}

TEST_F(TcpTransport, FailedConnectsJournalTheirWordAndCloseTheSocket)
{
    const int Closed = FreePort();
    Kit::TUnansweredEndpoint Unanswered;
    ASSERT_TRUE(Unanswered.Ready());
    StartSim();
    const std::string BindErrorWord =
        "bind error " + std::to_string(Kit::AddressNotAvailableError()) +
        " (адаптер 192.0.2.1 не найден)"; // named, so the user need not decode the number
    struct Row
    {
        const char* Host;
        const char* Bind;
        int Port;
        int TimeoutMs;
        const char* Word;
    };
    const Row Rows[] = {
        {"127.0.0.1", "", Closed, 300, "refused"},
        {"127.0.0.1", "", Unanswered.Port(), 100, "timeout"},
        {"127.0.0.1", "1.2.3", Sim.Port(), 300, "bad bind address"},
        {"127.0.0.1", "0.0.0.0", Sim.Port(), 300, "bad bind address"},
        {"127.0.0.1", "255.255.255.255", Sim.Port(), 300, "bad bind address"},
        {"127.0.0.1", "localhost", Sim.Port(), 300, "bad bind address"},
        // An address of no local adapter (documentation range): the bind fails, nothing is sent.
        {"127.0.0.1", "192.0.2.1", Sim.Port(), 300, BindErrorWord.c_str()},
        // Reasons found before any socket exists are journaled too: a scale saved with a host
        // name must be told from one that is switched off.
        {"127.0.0.1", "", Sim.Port(), 0, "bad endpoint"},
        {"127.0.0.1", "", Sim.Port(), -5, "bad endpoint"},
        {"127.0.0.1", "", 0, 300, "bad endpoint"},
        {"127.0.0.1", "", 65536, 300, "bad endpoint"},
        {"0.0.0.0", "", Sim.Port(), 300, "bad address"},
        {"255.255.255.255", "", Sim.Port(), 300, "bad address"},
        {"scale.local", "", Sim.Port(), 300, "bad address"},
        {"10.0.0.+5", "", Sim.Port(), 300, "bad address"},
        {"", "", Sim.Port(), 300, "bad address"},
    };
    const int DescriptorsBefore = Kit::OpenDescriptorCount();
    for (const Row& R : Rows) {
        const auto LinesBefore = JournalTexts("INFO").size();
        TSocketHandle Socket = 77;
        const auto Start = std::chrono::steady_clock::now();
        EXPECT_FALSE(TcpConnect(R.Host, R.Bind, R.Port, R.TimeoutMs, Socket)) << R.Word;
        const auto Took = std::chrono::steady_clock::now() - Start;
        EXPECT_EQ(Socket, NoSocket);
        if (std::string_view(R.Word) == "timeout") {
            // It waited for its time-out, and not much longer (a busy machine gets room).
            EXPECT_GE(Took, std::chrono::milliseconds(R.TimeoutMs * 9 / 10));
            EXPECT_LT(Took, std::chrono::milliseconds(R.TimeoutMs + 3000));
        }
        const auto Lines = JournalTexts("INFO");
        ASSERT_EQ(Lines.size(), LinesBefore + 1) << R.Word;
        EXPECT_EQ(Lines.back(), TcpLine(R.Host, R.Port, *R.Bind ? R.Bind : "-", R.Word));
        EXPECT_FALSE(TcpProbe(R.Host, R.Port, R.TimeoutMs, R.Bind));
    }
    EXPECT_EQ(Kit::OpenDescriptorCount(), DescriptorsBefore);
    EXPECT_EQ(Sim.Connections(), 0);
}

TEST_F(TcpTransport, ACancelledWaitGivesUpAndAFastAnswerIsNeverAskedAbout)
{
    Kit::TUnansweredEndpoint Unanswered;
    ASSERT_TRUE(Unanswered.Ready());
    StartSim();
    // A scale that never answers: the attempt ends once the check says so, with its own word,
    // instead of waiting out the time-out.
    int Asked = 0;
    TSocketHandle Socket = 77;
    EXPECT_FALSE(TcpConnect("127.0.0.1", "", Unanswered.Port(), 30000, Socket,
                            [&Asked] { return ++Asked >= 3; }));
    EXPECT_EQ(Socket, NoSocket);
    EXPECT_EQ(Asked, 3);
    EXPECT_EQ(JournalTexts("INFO").back(),
              TcpLine("127.0.0.1", Unanswered.Port(), "-", "cancelled"));
    // A scale that answers at once is connected before the check is ever asked.
    Asked = 0;
    EXPECT_TRUE(TcpProbe("127.0.0.1", Sim.Port(), 3000, "", [&Asked] {
        ++Asked;
        return true;
    }));
    EXPECT_EQ(Asked, 0);
}

TEST_F(TcpTransport, ProbeConnectsAndClosesAtOnce)
{
    StartSim();
    const int DescriptorsBefore = Kit::OpenDescriptorCount();
    EXPECT_TRUE(TcpProbe("127.0.0.1", Sim.Port(), 500, ""));
    EXPECT_TRUE(TcpProbe("127.0.0.1", Sim.Port(), 500, "127.0.0.3"));
    // The simulator closes its ends on its own thread: count once it has.
    EXPECT_TRUE(Sim.WaitConnectionsClosed(2, 2000));
    EXPECT_EQ(Kit::OpenDescriptorCount(), DescriptorsBefore);
    EXPECT_EQ(CountJournal("INFO", "result=accept"), 2);
}

TEST_F(TcpTransport, SendAndReceiveRefuseWithoutSocketOrData)
{
    StartSim();
    std::vector<std::uint8_t> Data{1};
    const std::vector<std::uint8_t> Frame{0xF1, 0x25, 0, 0, 0, 1, 0, 6};
    EXPECT_FALSE(TcpSendAll(NoSocket, Frame, 100));
    EXPECT_FALSE(TcpReceive(NoSocket, 1, 100, Data));
    EXPECT_TRUE(Data.empty());

    TSocketHandle Socket = NoSocket;
    ASSERT_TRUE(TcpConnect("127.0.0.1", "", Sim.Port(), 500, Socket));
    Data = {1};
    EXPECT_FALSE(TcpSendAll(Socket, {}, 100));
    EXPECT_FALSE(TcpReceive(Socket, 0, 100, Data));
    EXPECT_TRUE(Data.empty());
    // The empty send touched nothing: the simulator saw no frame, the socket still works.
    EXPECT_TRUE(TcpSendAll(Socket, Frame, 100));
    EXPECT_TRUE(TcpReceive(Socket, 1, 500, Data));
    EXPECT_EQ(Data, std::vector<std::uint8_t>{0x06});
    TcpClose(Socket);
    EXPECT_EQ(Sim.FrameCount(), 1);
}

TEST_F(TcpTransport, ReceiveTakesOneReadAndLeavesTheRest)
{
    TScaleSimOptions Options;
    Options.Answer = [](const Tool::TSimFrame&) {
        TSimAnswer Answer;
        Answer.Bytes = {0x06, 0x41, 0x42};
        return Answer;
    };
    StartSim(std::move(Options));
    TSocketHandle Socket = NoSocket;
    ASSERT_TRUE(TcpConnect("127.0.0.1", "", Sim.Port(), 500, Socket));
    const std::vector<std::uint8_t> Frame{0xF1, 0x25, 0, 0, 0, 1, 0, 6};
    ASSERT_TRUE(TcpSendAll(Socket, Frame, 500));
    std::vector<std::uint8_t> Data;
    ASSERT_TRUE(TcpReceive(Socket, 1, 500, Data));
    EXPECT_EQ(Data, std::vector<std::uint8_t>{0x06});
    ASSERT_TRUE(TcpReceive(Socket, 10, 500, Data));
    EXPECT_EQ(Data, (std::vector<std::uint8_t>{0x41, 0x42}));
    // Nothing more comes: the wait ends with false after the time-out.
    EXPECT_FALSE(TcpReceive(Socket, 10, 100, Data));
    EXPECT_TRUE(Data.empty());
    TcpClose(Socket);
}

TEST_F(TcpTransport, PeerThatClosesGivesFalseNotACrash)
{
    TScaleSimOptions Options;
    Options.Answer = [](const Tool::TSimFrame&) {
        TSimAnswer Answer;
        Answer.Action = TSimAnswer::TAction::saClose;
        return Answer;
    };
    StartSim(std::move(Options));
    TSocketHandle Socket = NoSocket;
    ASSERT_TRUE(TcpConnect("127.0.0.1", "", Sim.Port(), 500, Socket));
    const std::vector<std::uint8_t> Frame{0xF1, 0x25, 0, 0, 0, 1, 0, 6};
    ASSERT_TRUE(TcpSendAll(Socket, Frame, 500));
    std::vector<std::uint8_t> Data;
    EXPECT_FALSE(TcpReceive(Socket, 1, 1000, Data));
    ASSERT_TRUE(Sim.WaitConnectionsClosed(1, 2000));
    // Writing into a connection the peer has closed fails (and raises no signal); a large buffer
    // makes sure the failure shows within a few calls.
    const std::vector<std::uint8_t> Big(1 << 20, 0x55);
    bool Failed = false;
    for (int I = 0; I < 8 && !Failed; ++I)
        Failed = !TcpSendAll(Socket, Big, 200);
    EXPECT_TRUE(Failed);
    TcpClose(Socket);
}

TEST_F(TcpTransport, SendAllWaitsForRoomAndGivesUpAfterTheTimeOut)
{
    // A peer that never reads: the send buffers fill, and the wait for room ends in false.
    std::uint32_t Ip = 0;
    ParseIpv4("127.0.0.1", Ip);
    int Error = 0;
    const TSocketHandle Listener = SocketListen(Ip, 0, 4, Error);
    ASSERT_NE(Listener, NoSocket);
    TSocketHandle Socket = NoSocket;
    ASSERT_TRUE(TcpConnect("127.0.0.1", "", SocketLocalPort(Listener), 500, Socket));
    const std::vector<std::uint8_t> Big(64 << 20, 0x55); // far more than both buffers hold
    EXPECT_FALSE(TcpSendAll(Socket, Big, 100));
    TcpClose(Socket);
    SocketClose(Listener);
}

} // namespace
} // namespace Plumeria
