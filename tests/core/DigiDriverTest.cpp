#include "core/Digi/Digi.h"
#include "core/DigiFrame/DigiFrame.h"
#include "core/DigiSearch/TcpTransport.h"
#include "core/Journal/Journal.h"

#include "support/ScaleNet.h"
#include "support/TempDir.h"
#include "tool/ScaleSim.h"

#include <gtest/gtest.h>

namespace Plumeria {
namespace {

namespace Kit = Plumeria::Test;
using Tool::TScaleSim;
using Tool::TScaleSimOptions;
using Tool::TSimAnswer;
using Tool::TSimFrame;
using TAction = TSimAnswer::TAction;

const std::string SourceFile = "/srv/plu/prices 1.csv";

/// Acknowledges every frame but number `FrameNo`, which gets `Special`.
std::function<TSimAnswer(const TSimFrame&)> AnswerAt(int FrameNo, TSimAnswer Special)
{
    return [FrameNo, Special](const TSimFrame& Frame) {
        return Frame.Number == FrameNo ? Special : TSimAnswer{};
    };
}

TSimAnswer Reply(std::vector<std::uint8_t> Bytes)
{
    TSimAnswer Answer;
    Answer.Bytes = std::move(Bytes);
    return Answer;
}

TSimAnswer Act(TAction Action)
{
    TSimAnswer Answer;
    Answer.Action = Action;
    return Answer;
}

/// The upload's journal entries in order, one word each: "tx" and "rx" for the exchanges, "sent"
/// for an article journaled as sent, "error" for an ERROR; other entries are left out.
std::string ExchangeShape()
{
    std::string Shape;
    for (const Kit::TJournalEntry& Entry : Kit::JournalEntries()) {
        const char* Word = nullptr;
        if (Entry.Level == "EXCH")
            Word = Entry.Text.find(" dir=tx ") != std::string::npos ? "tx" : "rx";
        else if (Entry.Level == "INFO" && Entry.Text.find("status=sent") != std::string::npos)
            Word = "sent";
        else if (Entry.Level == "ERROR")
            Word = "error";
        if (Word)
            Shape += (Shape.empty() ? "" : " ") + std::string(Word);
    }
    return Shape;
}

/// `Count` times "tx rx sent", then `Tail`.
std::string SentThen(int Count, const std::string& Tail)
{
    std::string Shape;
    for (int I = 0; I < Count; ++I)
        Shape += "tx rx sent ";
    Shape += Tail;
    if (!Shape.empty() && Shape.back() == ' ')
        Shape.pop_back();
    return Shape;
}

std::vector<std::uint8_t> Frame(const TPluRecord& Item)
{
    std::vector<std::uint8_t> Bytes;
    std::string Message;
    EXPECT_TRUE(EncodeDigiPlu(Item, Bytes, Message)) << Message;
    return Bytes;
}

class DigiDriver : public ::testing::Test
{
protected:
    void StartSim(std::function<TSimAnswer(const TSimFrame&)> Answer = {},
                  const std::string& Ip = "127.0.0.1", int Port = 0)
    {
        TScaleSimOptions Options;
        Options.BindIp = Ip;
        Options.Port = Port;
        Options.Answer = std::move(Answer);
        std::string Error;
        ASSERT_TRUE(Sim.Start(std::move(Options), Error)) << Error;
    }

    static constexpr int SimPort = -1000000; ///< stands for "the simulator's port"

    TUploadResult Upload(const std::vector<TPluRecord>& Items, int Port = SimPort,
                         const std::string& Host = "127.0.0.1", const std::string& LocalIp = "",
                         int TimeoutMs = Kit::SimAnswerWaitMs)
    {
        return Driver.Upload(Host, Port == SimPort ? Sim.Port() : Port, TimeoutMs, LocalIp,
                             "SM-5300", SourceFile, Items);
    }

    std::string Where(int Port) const
    {
        return "file=" + SourceFile + " ip=127.0.0.1 port=" + std::to_string(Port) + " ";
    }

    Kit::TTempDataFolder Data;
    TScaleSim Sim;
    TDigiDriver Driver;
};

TEST(ClampDigiTimeout, OutOfRangeBecomes500)
{
    const std::pair<int, int> Rows[] = {{50, 500},    {5000, 500}, {99, 500},        {100, 100},
                                        {3000, 3000}, {3001, 500}, {0, 500},         {-1, 500},
                                        {1234, 1234}, {500, 500},  {2147483647, 500}};
    for (const auto& [In, Out] : Rows)
        EXPECT_EQ(ClampDigiTimeout(In), Out) << In;
}

TEST_F(DigiDriver, HundredTwentyArticlesAreSentAndJournaled)
{
    StartSim();
    const auto Items = Kit::MakeArticles(120, 500);
    const TUploadResult Result = Upload(Items);
    EXPECT_EQ(Result, (TUploadResult{TUploadStatus::usSent, "sent 120 PLU"}));

    // The scale got exactly the encoded frames, in order, over one connection that was closed.
    const auto Frames = Sim.Frames();
    ASSERT_EQ(Frames.size(), 120u);
    for (std::size_t I = 0; I < Items.size(); ++I) {
        EXPECT_EQ(Frames[I].Bytes, Frame(Items[I])) << I;
        EXPECT_EQ(Frames[I].Connection, 1);
    }
    EXPECT_TRUE(Sim.WaitConnectionsClosed(1, 2000));

    const auto Sent = Kit::JournalTexts("INFO");
    std::vector<std::string> SentLines;
    for (const auto& Line : Sent)
        if (Line.find("status=sent") != std::string::npos)
            SentLines.push_back(Line);
    ASSERT_EQ(SentLines.size(), 120u);
    EXPECT_EQ(SentLines[0], Where(Sim.Port()) + "plu=500 status=sent bytes=" +
                                std::to_string(Frame(Items[0]).size()));
    EXPECT_EQ(SentLines[119], Where(Sim.Port()) + "plu=619 status=sent bytes=" +
                                  std::to_string(Frame(Items[119]).size()));
    const auto Exchanges = Kit::JournalTexts("EXCH");
    ASSERT_EQ(Exchanges.size(), 240u);
    const std::string Port = std::to_string(Sim.Port());
    EXPECT_EQ(Exchanges[0], "ip=127.0.0.1 port=" + Port +
                                " dir=tx bytes=" + std::to_string(Frame(Items[0]).size()) +
                                " hex=" + HexDump(Frame(Items[0]), 4096));
    for (std::size_t I = 1; I < Exchanges.size(); I += 2)
        EXPECT_EQ(Exchanges[I], "ip=127.0.0.1 port=" + Port + " dir=rx bytes=1 hex=06");
    EXPECT_TRUE(Kit::JournalTexts("ERROR").empty());
    // Each frame's lines follow the exchange: its bytes, the answer, then "sent".
    EXPECT_EQ(ExchangeShape(), SentThen(120, ""));
}

TEST_F(DigiDriver, ScaleMisbehaviourStopsAtTheArticle)
{
    struct Row
    {
        const char* Name;
        std::function<TSimAnswer(const TSimFrame&)> Answer;
        const char* Message;
        int FramesSeen;     // frames the scale received
        int SentLines;      // articles journaled as sent
        const char* LastRx; // the last "rx" dump's hex, "" when none was read for the failing one
    };
    const Row Rows[] = {
        {"nak", AnswerAt(3, Reply({0x15})), "PLU 3 was not acknowledged", 3, 2, "15"},
        {"other byte", AnswerAt(1, Reply({0x00})), "PLU 1 was not acknowledged", 1, 0, "00"},
        {"closed after a frame", AnswerAt(2, Act(TAction::saClose)), "PLU 2 was not acknowledged",
         2, 1, ""},
        {"silence until the time-out", AnswerAt(4, Act(TAction::saSilent)),
         "PLU 4 was not acknowledged", 4, 3, ""},
        // 06 41 42 to the first frame: the 41 is then taken as the second frame's answer.
        {"two bytes after the ack", AnswerAt(1, Reply({0x06, 0x41, 0x42})),
         "PLU 2 was not acknowledged", 2, 1, "41"},
        {"no answer at all, frame one", AnswerAt(1, Reply({})), "PLU 1 was not acknowledged", 1, 0,
         ""},
    };
    for (const Row& R : Rows) {
        SCOPED_TRACE(R.Name);
        Kit::TTempDataFolder Fresh;
        StartSim(R.Answer);
        const TUploadResult Result = Upload(Kit::MakeArticles(5));
        EXPECT_EQ(Result, (TUploadResult{TUploadStatus::usFailed, R.Message}));
        EXPECT_EQ(Kit::JournalTexts("ERROR"),
                  std::vector<std::string>{Where(Sim.Port()) + R.Message});
        EXPECT_EQ(Kit::CountJournal("INFO", "status=sent"), R.SentLines);
        // The connection is closed whatever went wrong.
        EXPECT_TRUE(Sim.WaitConnectionsClosed(1, 2000));
        EXPECT_EQ(Sim.FrameCount(), R.FramesSeen);
        const auto Exchanges = Kit::JournalTexts("EXCH");
        ASSERT_FALSE(Exchanges.empty());
        if (*R.LastRx) {
            EXPECT_EQ(Exchanges.back().substr(Exchanges.back().find("dir=")),
                      std::string("dir=rx bytes=1 hex=") + R.LastRx);
        } else {
            EXPECT_NE(Exchanges.back().find("dir=tx"), std::string::npos); // nothing was read
        }
        // Every article before the failing one is journaled whole, and in order, before the
        // failing frame's lines and the error.
        EXPECT_EQ(ExchangeShape(), SentThen(R.SentLines, *R.LastRx ? "tx rx error" : "tx error"));
        Sim.Stop();
    }
}

TEST_F(DigiDriver, NoConnectionGivesOneMessage)
{
    StartSim();
    Kit::TUnansweredEndpoint Unanswered;
    ASSERT_TRUE(Unanswered.Ready());
    std::uint32_t Loopback = 0;
    ParseIpv4("127.0.0.1", Loopback);
    int Error = 0;
    const TSocketHandle Gone = SocketListen(Loopback, 0, 1, Error);
    const int Closed = SocketLocalPort(Gone);
    SocketClose(Gone);
    struct Row
    {
        int Port;
        std::string LocalIp;
        std::string Word;
        std::string Bind;
        std::string Message = "scale did not accept the connection";
    };
    // An adapter that no longer exists is named in the message, not left to a bind error.
    const std::string Missing = "адаптер 192.0.2.1 не найден";
    const Row Rows[] = {
        {Closed, "", "refused", "-"},
        {Unanswered.Port(), "", "timeout", "-"},
        {Sim.Port(), "1.2.3", "bad bind address", "1.2.3"},
        {Sim.Port(), " \t127.0.0.300 ", "bad bind address", "127.0.0.300"}, // trimmed first
        {Sim.Port(), "192.0.2.1",
         "bind error " + std::to_string(Kit::AddressNotAvailableError()) + " (" + Missing + ")",
         "192.0.2.1", "scale did not accept the connection: " + Missing},
    };
    for (const Row& R : Rows) {
        SCOPED_TRACE(R.Word);
        const auto ErrorsBefore = Kit::JournalTexts("ERROR").size();
        const TUploadResult Result = Upload(Kit::MakeArticles(2), R.Port, "127.0.0.1", R.LocalIp);
        EXPECT_EQ(Result, (TUploadResult{TUploadStatus::usFailed, R.Message}));
        const auto Errors = Kit::JournalTexts("ERROR");
        ASSERT_EQ(Errors.size(), ErrorsBefore + 1);
        EXPECT_EQ(Errors.back(), Where(R.Port) + R.Message);
        EXPECT_EQ(Kit::JournalTexts("INFO").back(),
                  "digi tcp ip=127.0.0.1 port=" + std::to_string(R.Port) + " bind=" + R.Bind +
                      " result=" + R.Word);
    }
    // A scale saved with a host name: the journal says why, beside the upload's own line.
    const std::string Port = std::to_string(Sim.Port());
    EXPECT_EQ(Upload(Kit::MakeArticles(1), Sim.Port(), "scales-1.shop").Message,
              "scale did not accept the connection");
    EXPECT_EQ(Kit::JournalTexts("ERROR").back(), "file=" + SourceFile + " ip=scales-1.shop port=" +
                                                     Port + " scale did not accept the connection");
    EXPECT_EQ(Kit::JournalTexts("INFO").back(),
              "digi tcp ip=scales-1.shop port=" + Port + " bind=- result=bad address");
    EXPECT_EQ(Sim.Connections(), 0);
    EXPECT_TRUE(Kit::JournalTexts("EXCH").empty());
}

TEST_F(DigiDriver, RefusedBeforeAnyNetworkAccess)
{
    StartSim();
    auto Items = Kit::MakeArticles(4, 15);
    Items[2].Barcode = "4600000000017";
    struct Row
    {
        std::string Host;
        int Port;
        std::vector<TPluRecord> Items;
        std::string Message;
        std::string ErrorLine;
    };
    const Row Rows[] = {
        {"127.0.0.1", Sim.Port(), Items, "PLU 17: barcode must be 7 digits",
         "file=" + SourceFile + " ip=127.0.0.1 PLU 17: barcode must be 7 digits"},
        {"127.0.0.1", Sim.Port(), {}, "no PLU to send", "file=" + SourceFile + " no PLU to send"},
        {"127.0.0.255", 0, Kit::MakeArticles(1), "DIGI port is 2000 + the last octet of the host",
         "file=" + SourceFile + " ip=127.0.0.255 DIGI port is 2000 + the last octet of the host"},
        {"127.0.0.0", -7, Kit::MakeArticles(1), "DIGI port is 2000 + the last octet of the host",
         "file=" + SourceFile + " ip=127.0.0.0 DIGI port is 2000 + the last octet of the host"},
        {"127.0.0.1", 65536, Kit::MakeArticles(1), "DIGI port is 2000 + the last octet of the host",
         "file=" + SourceFile + " ip=127.0.0.1 DIGI port is 2000 + the last octet of the host"},
        {"scale-7", 0, Kit::MakeArticles(1), "DIGI port is 2000 + the last octet of the host",
         "file=" + SourceFile + " ip=scale-7 DIGI port is 2000 + the last octet of the host"},
    };
    for (const Row& R : Rows) {
        SCOPED_TRACE(R.Message);
        Kit::TTempDataFolder Fresh;
        EXPECT_EQ(Upload(R.Items, R.Port, R.Host),
                  (TUploadResult{TUploadStatus::usFailed, R.Message}));
        EXPECT_EQ(Kit::JournalTexts("ERROR"), std::vector<std::string>{R.ErrorLine});
        EXPECT_EQ(Kit::JournalEntries().size(), 1u); // no connect line, no exchange
    }
    EXPECT_EQ(Sim.Connections(), 0);
}

TEST_F(DigiDriver, PortZeroUsesTheDefaultPortEverywhere)
{
    // 127.0.0.77 is local on Linux, so a scale can sit on its default port 2077.
    TScaleSimOptions Options;
    Options.BindIp = "127.0.0.77";
    Options.Port = 2077;
    std::string Error;
    if (!Sim.Start(std::move(Options), Error))
        GTEST_SKIP() << "cannot listen on 127.0.0.77:2077: " << Error;
    const TUploadResult Result = Upload(Kit::MakeArticles(2), 0, "127.0.0.77");
    EXPECT_EQ(Result, (TUploadResult{TUploadStatus::usSent, "sent 2 PLU"}));
    EXPECT_EQ(Kit::JournalTexts("INFO").front(), "digi tcp ip=127.0.0.77 port=2077 bind=- "
                                                 "result=accept");
    EXPECT_EQ(Kit::CountJournal("INFO", "ip=127.0.0.77 port=2077 plu="), 2);
    EXPECT_EQ(Kit::CountJournal("EXCH", "ip=127.0.0.77 port=2077 dir="), 4);

    // Identify probes the same default port, never from a bound address, with the time-out as
    // given (0 is refused by the transport at once, with only its reason journaled).
    std::string Model = "x";
    EXPECT_TRUE(Driver.Identify("127.0.0.77", 0, 300, Model));
    EXPECT_EQ(Model, "");
    EXPECT_EQ(Kit::JournalTexts("INFO").back(),
              "digi tcp ip=127.0.0.77 port=2077 bind=- result=accept");
    const auto Lines = Kit::JournalEntries().size();
    EXPECT_FALSE(Driver.Identify("127.0.0.77", 0, 0, Model));
    EXPECT_EQ(Kit::JournalEntries().size(), Lines + 1);
    EXPECT_EQ(Kit::JournalTexts("INFO").back(),
              "digi tcp ip=127.0.0.77 port=2077 bind=- result=bad endpoint");
}

TEST_F(DigiDriver, OutOfRangeTimeOutIsReplacedNotPassedOn)
{
    StartSim();
    // Time-out 0 would make the connect refuse outright; replaced by 500 it connects.
    const TUploadResult Result = Upload(Kit::MakeArticles(1), SimPort, "127.0.0.1", "", 0);
    EXPECT_EQ(Result.Status, TUploadStatus::usSent);
}

TEST_F(DigiDriver, LevelErrorsKeepsOnlyTheFailures)
{
    StartSim(AnswerAt(2, Reply({0x15})));
    SetLogLevel(TLogLevel::llErrors);
    EXPECT_EQ(Upload(Kit::MakeArticles(3)).Message, "PLU 2 was not acknowledged");
    const auto Entries = Kit::JournalEntries();
    ASSERT_EQ(Entries.size(), 1u);
    EXPECT_EQ(Entries[0].Level, "ERROR");
    EXPECT_EQ(Entries[0].Text, Where(Sim.Port()) + "PLU 2 was not acknowledged");
}

TEST_F(DigiDriver, ThousandFailingUploadsLeakNoDescriptor)
{
    if (Kit::OpenDescriptorCount() < 0)
        GTEST_SKIP() << "no /proc/self/fd here";
    StartSim([](const TSimFrame& Frame) {
        // Alternate between the ways a scale can fail after the connect.
        switch (Frame.Connection % 3) {
        case 0:
            return Reply({0x15});
        case 1:
            return Act(TAction::saClose);
        default:
            return Reply({0x06, 0x21});
        }
    });
    std::uint32_t Loopback = 0;
    ParseIpv4("127.0.0.1", Loopback);
    int Error = 0;
    const TSocketHandle Gone = SocketListen(Loopback, 0, 1, Error);
    const int Closed = SocketLocalPort(Gone);
    SocketClose(Gone);
    SetLogLevel(TLogLevel::llErrors);

    const auto Items = Kit::MakeArticles(3);
    // One warm-up round so that anything opened once for good (the journal's folders, the
    // adapter list's netlink socket) is counted before the baseline is taken.
    Upload(Items);
    Upload(Items, Closed);
    // The simulator closes its end of each connection on its own thread: count only once it has.
    ASSERT_TRUE(Sim.WaitConnectionsClosed(1, 2000));
    const int Before = Kit::OpenDescriptorCount();
    int Failed = 0;
    for (int I = 0; I < 1000; ++I) {
        const TUploadResult Result = (I % 4 == 3)   ? Upload(Items, Closed)
                                     : (I % 4 == 2) ? Upload(Items, SimPort, "127.0.0.1", "9.9.9")
                                                    : Upload(Items);
        Failed += Result.Status == TUploadStatus::usFailed;
    }
    EXPECT_EQ(Failed, 1000);
    // The warm-up plus the 500 uploads that reached the simulator (the bad bind never connects).
    ASSERT_TRUE(Sim.WaitConnectionsClosed(501, 5000));
    EXPECT_EQ(Kit::OpenDescriptorCount(), Before);
}

} // namespace
} // namespace Plumeria
