#include "core/Digi/LabelUpload.h"
#include "core/DigiSearch/TcpTransport.h"
#include "core/Journal/Journal.h"
#include "core/LabelGeom/LabelGeom.h"

#include "support/ScaleNet.h"
#include "support/TempDir.h"
#include "tool/ScaleSim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace Plumeria {
namespace {

namespace Kit = Plumeria::Test;
using Tool::TScaleSim;
using Tool::TScaleSimOptions;
using Tool::TSimAnswer;
using Tool::TSimFrame;
using TAction = TSimAnswer::TAction;
using TBytes = std::vector<std::uint8_t>;

/// A record of `Length` bytes (at least 6): a tag, three bytes, the length, then filler.
TBytes MakeRecord(std::uint8_t Tag, int Length)
{
    TBytes Record(static_cast<std::size_t>(Length), 0x5A);
    Record[0] = Tag;
    Record[1] = 0x00;
    Record[2] = 0x01;
    Record[3] = 0x02;
    Record[4] = static_cast<std::uint8_t>(Length >> 8);
    Record[5] = static_cast<std::uint8_t>(Length & 0xFF);
    return Record;
}

/// Label file text: lower-case hex, one record per line, CR LF, a blank between bytes.
std::string LabelText(const std::vector<TBytes>& Records)
{
    std::string Text;
    char Buf[4];
    for (const TBytes& Record : Records) {
        for (const auto Byte : Record) {
            std::snprintf(Buf, sizeof Buf, "%02x ", Byte);
            Text += Buf;
        }
        Text += "\r\n";
    }
    return Text;
}

std::vector<TBytes> Records(int Count, std::uint8_t Tag)
{
    std::vector<TBytes> Out;
    for (int I = 0; I < Count; ++I)
        Out.push_back(MakeRecord(static_cast<std::uint8_t>(Tag + I), 6 + (I * 7) % 90));
    return Out;
}

TBytes FrameOf(std::uint8_t FileByte, const TBytes& Record)
{
    TBytes Frame(Record.size() + 2);
    Frame[0] = 0xF1;
    Frame[1] = FileByte;
    std::copy(Record.begin(), Record.end(), Frame.begin() + 2);
    return Frame;
}

std::function<TSimAnswer(const TSimFrame&)> AnswerAt(int FrameNo, TSimAnswer Special)
{
    return [FrameNo, Special](const TSimFrame& Frame) {
        return Frame.Number == FrameNo ? Special : TSimAnswer{};
    };
}

class LabelUpload : public ::testing::Test
{
protected:
    void StartSim(std::function<TSimAnswer(const TSimFrame&)> Answer = {})
    {
        TScaleSimOptions Options;
        Options.Answer = std::move(Answer);
        std::string Error;
        ASSERT_TRUE(Sim.Start(std::move(Options), Error)) << Error;
    }
    TUploadResult Send(int Port = 0, const std::string& Host = "127.0.0.1")
    {
        return UploadLabel(Host, "", Port == 0 ? Sim.Port() : Port, Kit::SimAnswerWaitMs,
                           Folder.Path());
    }
    std::string Where() const { return "label ip=127.0.0.1 port=" + std::to_string(Sim.Port()); }

    Kit::TTempDataFolder Data;
    Kit::TTempDir Folder;
    TScaleSim Sim;
};

TEST_F(LabelUpload, FormatsThenTextsEachAcknowledged)
{
    const auto Formats = Records(3, 0x10);
    const auto Texts = Records(40, 0x40);
    Folder.WriteFile("f34.dat", LabelText(Formats));
    Folder.WriteFile("f38.dat", LabelText(Texts));
    StartSim();
    const TUploadResult Result = Send();
    EXPECT_EQ(Result,
              (TUploadResult{TUploadStatus::usSent, "sent label, 3 format records, 40 texts"}));
    const auto Frames = Sim.Frames();
    ASSERT_EQ(Frames.size(), 43u);
    for (std::size_t I = 0; I < 3; ++I)
        EXPECT_EQ(Frames[I].Bytes, FrameOf(0x34, Formats[I])) << I;
    for (std::size_t I = 0; I < 40; ++I)
        EXPECT_EQ(Frames[3 + I].Bytes, FrameOf(0x38, Texts[I])) << I;
    EXPECT_EQ(Frames.back().Connection, 1);
    EXPECT_TRUE(Sim.WaitConnectionsClosed(1, 2000));
    EXPECT_EQ(Kit::JournalTexts("INFO").back(),
              Where() + " sent label, 3 format records, 40 texts");
    EXPECT_EQ(Kit::JournalTexts("EXCH").size(), 86u);
    EXPECT_TRUE(Kit::JournalTexts("ERROR").empty());
}

// The designer's own file: made empty, fields placed, moved and resized, saved; the scale gets
// exactly the records the document holds.
TEST_F(LabelUpload, EditedDesignerFileArrivesAsTheDocumentsRecords)
{
    TDigiLabelDoc Doc;
    std::string Error;
    ASSERT_TRUE(Doc.CreateEmpty(Folder.Path() / "f34.dat", 432, 296, Error)) << Error;
    for (int Slot = 0; Slot < SlotCount(); Slot += 4)
        Doc.PlaceDefault(Slot % 2, Slot, 32 + Slot, 40);
    Doc.MoveSlot(0, 16, 60, 200); // a frame
    Doc.ResizeSlot(0, 12, 150, 30);
    Doc.PutByte(1, 1350, 0x7E); // past the last field: kept as written
    ASSERT_TRUE(Doc.Save(Error)) << Error;
    const auto Texts = Records(2, 0x40);
    Folder.WriteFile("f38.dat", LabelText(Texts));

    StartSim();
    EXPECT_EQ(Send(),
              (TUploadResult{TUploadStatus::usSent, "sent label, 2 format records, 2 texts"}));
    const auto Frames = Sim.Frames();
    ASSERT_EQ(Frames.size(), 4u);
    EXPECT_EQ(Frames[0].Bytes, FrameOf(0x34, Doc.Record(0)));
    EXPECT_EQ(Frames[1].Bytes, FrameOf(0x34, Doc.Record(1)));
    EXPECT_EQ(Frames[2].Bytes, FrameOf(0x38, Texts[0]));
    EXPECT_EQ(Frames[1].Bytes[2 + 1350], 0x7E);
    // And a fresh load of the file gives the same records.
    TDigiLabelDoc Reloaded;
    ASSERT_TRUE(Reloaded.Load(Folder.Path() / "f34.dat", Error)) << Error;
    EXPECT_EQ(Frames[0].Bytes, FrameOf(0x34, Reloaded.Record(0)));
    EXPECT_EQ(SlotBox(Reloaded, 0, 16), (TSlotBox{60, 200, 51, 51, true}));
}

TEST_F(LabelUpload, FileProblemsNameTheFile)
{
    const std::string Good34 = LabelText(Records(3, 0x10));
    const std::string Good38 = LabelText(Records(5, 0x40));
    struct Row
    {
        const char* F34; // nullptr: the file is missing
        const char* F38;
        const char* Message;
        int FramesSent;
    };
    const std::string Odd = Good34 + "a";
    const std::string Truncated = Good38 + "01 02 03 04 00";
    const std::string TooLong = Good38 + "01 02 03 04 00 ff 00";
    const std::string TooShort = "01 02 03 04 00 05 00";
    const std::string FormFeed = Good34 + "\f";
    const Row Rows[] = {
        {Good34.c_str(), nullptr, "f38.dat: label file is missing", 3},
        {nullptr, Good38.c_str(), "f34.dat: label file is missing", 0},
        {nullptr, nullptr, "f34.dat: label file is missing", 0},
        {Odd.c_str(), Good38.c_str(), "f34.dat: label file is not hex", 0},
        {FormFeed.c_str(), Good38.c_str(), "f34.dat: label file is not hex", 0},
        {Good34.c_str(), Truncated.c_str(), "f38.dat: label record is truncated", 3},
        {Good34.c_str(), TooLong.c_str(), "f38.dat: label record length does not match the file",
         3},
        {TooShort.c_str(), Good38.c_str(), "f34.dat: label record length does not match the file",
         0},
        {Good34.c_str(), " \r\n", "f38.dat: label file has no records", 3},
    };
    for (const Row& R : Rows) {
        SCOPED_TRACE(R.Message);
        Kit::TTempDataFolder Fresh;
        Kit::TTempDir Dir;
        if (R.F34)
            Dir.WriteFile("f34.dat", R.F34);
        if (R.F38)
            Dir.WriteFile("f38.dat", R.F38);
        StartSim();
        const TUploadResult Result =
            UploadLabel("127.0.0.1", "", Sim.Port(), Kit::SimAnswerWaitMs, Dir.Path());
        EXPECT_EQ(Result, (TUploadResult{TUploadStatus::usFailed, R.Message}));
        EXPECT_EQ(Kit::JournalTexts("ERROR"),
                  std::vector<std::string>{std::string("label ip=127.0.0.1 ") + R.Message});
        // The files are read only once connected: the scale saw the connection and what was
        // sent before the bad file, and the connection was closed.
        EXPECT_TRUE(Sim.WaitConnectionsClosed(1, 2000));
        EXPECT_EQ(Sim.Connections(), 1);
        EXPECT_EQ(Sim.FrameCount(), R.FramesSent);
        Sim.Stop();
    }
}

TEST_F(LabelUpload, ScaleMisbehaviourNamesTheFile)
{
    Folder.WriteFile("f34.dat", LabelText(Records(2, 0x10)));
    Folder.WriteFile("f38.dat", LabelText(Records(4, 0x40)));
    TSimAnswer Silent, Close, Nak;
    Silent.Action = TAction::saSilent;
    Close.Action = TAction::saClose;
    Nak.Bytes = {0x15};
    TSimAnswer TwoAfterAck;
    TwoAfterAck.Bytes = {0x06, 0x06, 0x33};
    struct Row
    {
        std::function<TSimAnswer(const TSimFrame&)> Answer;
        const char* Message;
        int Frames;
    };
    const Row Rows[] = {
        {AnswerAt(1, Silent), "f34.dat: label record was not acknowledged", 1},
        {AnswerAt(2, Close), "f34.dat: label record was not acknowledged", 2},
        {AnswerAt(4, Nak), "f38.dat: label record was not acknowledged", 4},
        // The second 06 answers frame 2 before the scale saw it; the 33 then answers frame 3.
        {AnswerAt(1, TwoAfterAck), "f38.dat: label record was not acknowledged", 3},
    };
    for (const Row& R : Rows) {
        SCOPED_TRACE(R.Message);
        Kit::TTempDataFolder Fresh;
        StartSim(R.Answer);
        EXPECT_EQ(Send(), (TUploadResult{TUploadStatus::usFailed, R.Message}));
        EXPECT_EQ(Kit::JournalTexts("ERROR"), std::vector<std::string>{Where() + " " + R.Message});
        EXPECT_TRUE(Sim.WaitConnectionsClosed(1, 2000));
        EXPECT_EQ(Sim.FrameCount(), R.Frames);
        Sim.Stop();
    }
}

TEST_F(LabelUpload, NoConnectionOrNoPort)
{
    Folder.WriteFile("f34.dat", LabelText(Records(1, 0x10)));
    Folder.WriteFile("f38.dat", LabelText(Records(1, 0x40)));
    std::uint32_t Loopback = 0;
    ParseIpv4("127.0.0.1", Loopback);
    int Error = 0;
    const TSocketHandle Gone = SocketListen(Loopback, 0, 1, Error);
    const int Closed = SocketLocalPort(Gone);
    SocketClose(Gone);

    EXPECT_EQ(UploadLabel("127.0.0.1", "", Closed, 100, Folder.Path()),
              (TUploadResult{TUploadStatus::usFailed, "scale did not accept the connection"}));
    EXPECT_EQ(Kit::JournalTexts("ERROR"),
              std::vector<std::string>{"label ip=127.0.0.1 port=" + std::to_string(Closed) +
                                       " scale did not accept the connection"});
    EXPECT_EQ(Kit::JournalTexts("INFO"),
              std::vector<std::string>{"digi tcp ip=127.0.0.1 port=" + std::to_string(Closed) +
                                       " bind=- result=refused"});

    // No usable port: the message only, without any journal line.
    Kit::TTempDataFolder Fresh;
    for (const auto& [Host, Port] : std::vector<std::pair<std::string, int>>{
             {"127.0.0.255", 0}, {"127.0.0.0", -1}, {"127.0.0.1", 70000}, {"scale", 0}}) {
        EXPECT_EQ(UploadLabel(Host, "", Port, 100, Folder.Path()),
                  (TUploadResult{TUploadStatus::usFailed,
                                 "DIGI port is 2000 + the last octet of the host"}))
            << Host;
    }
    EXPECT_TRUE(Kit::JournalEntries().empty());
}

TEST_F(LabelUpload, PortZeroUsesTheDefaultPort)
{
    Folder.WriteFile("f34.dat", LabelText(Records(1, 0x10)));
    Folder.WriteFile("f38.dat", LabelText(Records(2, 0x40)));
    TScaleSimOptions Options;
    Options.BindIp = "127.0.0.78";
    Options.Port = 2078;
    std::string Error;
    if (!Sim.Start(std::move(Options), Error))
        GTEST_SKIP() << Error;
    EXPECT_EQ(
        UploadLabel("127.0.0.78", "127.0.0.1", 0, Kit::SimAnswerWaitMs, Folder.Path()).Message,
        "sent label, 1 format records, 2 texts");
    EXPECT_EQ(Kit::JournalTexts("INFO").front(),
              "digi tcp ip=127.0.0.78 port=2078 bind=127.0.0.1 result=accept");
    EXPECT_EQ(Kit::JournalTexts("INFO").back(),
              "label ip=127.0.0.78 port=2078 sent label, 1 format records, 2 texts");
}

TEST_F(LabelUpload, UnreadableFileThrowsAfterClosingTheConnection)
{
    Folder.WriteFile("f34.dat", LabelText(Records(2, 0x10)));
    std::filesystem::create_directories(Folder.Path() / "f38.dat"); // exists, cannot be read
    StartSim();
    const int Before = Kit::OpenDescriptorCount();
    EXPECT_THROW(Send(), std::runtime_error);
    EXPECT_TRUE(Sim.WaitConnectionsClosed(1, 2000));
    EXPECT_EQ(Sim.FrameCount(), 2);
    EXPECT_EQ(Kit::OpenDescriptorCount(), Before);
}

TEST_F(LabelUpload, SendLabelRecordJournalsBothDirections)
{
    TSimAnswer Nak;
    Nak.Bytes = {0x15};
    StartSim(AnswerAt(2, Nak));
    TSocketHandle Socket = NoSocket;
    ASSERT_TRUE(TcpConnect("127.0.0.1", "", Sim.Port(), 500, Socket));
    const TBytes Frame = FrameOf(0x34, MakeRecord(1, 6));
    std::string Message = "x";
    EXPECT_TRUE(SendLabelRecord(Socket, "127.0.0.1", 4321, Frame, 100, Message));
    EXPECT_EQ(Message, "");
    EXPECT_FALSE(SendLabelRecord(Socket, "127.0.0.1", 4321, Frame, 100, Message));
    EXPECT_EQ(Message, "label record was not acknowledged");
    EXPECT_FALSE(SendLabelRecord(NoSocket, "127.0.0.1", 4321, Frame, 100, Message));
    EXPECT_EQ(Message, "label record was not written");
    TcpClose(Socket);
    EXPECT_EQ(Kit::JournalTexts("EXCH"),
              (std::vector<std::string>{
                  "ip=127.0.0.1 port=4321 dir=tx bytes=8 hex=F1 34 01 00 01 02 00 06",
                  "ip=127.0.0.1 port=4321 dir=rx bytes=1 hex=06",
                  "ip=127.0.0.1 port=4321 dir=tx bytes=8 hex=F1 34 01 00 01 02 00 06",
                  "ip=127.0.0.1 port=4321 dir=rx bytes=1 hex=15",
                  "ip=127.0.0.1 port=4321 dir=tx bytes=8 hex=F1 34 01 00 01 02 00 06"}));
}

TEST(LabelUploadFiles, MissingFilesAreNamedInSendingOrder)
{
    Kit::TTempDir Dir;
    EXPECT_EQ(MissingLabelFiles(Dir.Path()), (std::vector<std::string>{"f34.dat", "f38.dat"}));
    Dir.WriteFile("f38.dat", "00");
    EXPECT_EQ(MissingLabelFiles(Dir.Path()), (std::vector<std::string>{"f34.dat"}));
    // Whatever stands under the name is there: reading it is the upload's business.
    std::filesystem::create_directory(Dir.Path() / "f34.dat");
    EXPECT_TRUE(MissingLabelFiles(Dir.Path()).empty());
}

} // namespace
} // namespace Plumeria
