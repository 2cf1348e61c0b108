#include "core/Delivery/DeliveryStatus.h"

#include "core/Journal/Journal.h"
#include "core/Text/Text.h"
#include "platform/Environment.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace Plumeria {
namespace {

namespace fs = std::filesystem;
namespace Support = Plumeria::Test;
using Support::ReadFileBytes;

// "Весы 1", "прайс.csv" and a Cyrillic error text, as UTF-8 bytes.
const std::string Vesy1 = "\xD0\x92\xD0\xB5\xD1\x81\xD1\x8B 1";
const std::string PriceFile = "\xD0\xBF\xD1\x80\xD0\xB0\xD0\xB9\xD1\x81.csv";
const std::string NoAnswer = "\xD0\xBD\xD0\xB5\xD1\x82 \xD0\xBE\xD1\x82\xD0\xB2\xD0\xB5\xD1\x82"
                             "\xD0\xB0; frame 3=NAK #2";

std::size_t CountOf(const std::string& Text, const std::string& Piece)
{
    std::size_t Count = 0;
    for (auto Pos = Text.find(Piece); Pos != std::string::npos; Pos = Text.find(Piece, Pos + 1))
        ++Count;
    return Count;
}

void WriteBytes(const fs::path& Path, const std::string& Bytes)
{
    std::ofstream(Path, std::ios::binary | std::ios::trunc) << Bytes;
}

class DeliveryStatusTest : public ::testing::Test
{
protected:
    void SetUp() override { fs::create_directories(Data.DataDir()); }

    fs::path File() const { return Data.DataDir() / "delivery.ini"; }
    fs::path Bad() const { return Data.DataDir() / "delivery.ini.bad"; }
    std::string Journal() const { return ReadFileBytes(LogFilePath()); }

    /// Names in the data folder besides the journal's folder.
    std::vector<std::string> FilesBesideLogs() const
    {
        std::vector<std::string> Names;
        for (const std::string& Name : Support::ListFolder(Data.DataDir()))
            if (Name != "logs")
                Names.push_back(Name);
        return Names;
    }

    Support::TTempDataFolder Data;
};

void ExpectSame(const TScaleDelivery& Got, const TScaleDelivery& Want)
{
    EXPECT_EQ(Got.Host, Want.Host);
    EXPECT_EQ(Got.Port, Want.Port);
    EXPECT_EQ(Got.Name, Want.Name);
    EXPECT_EQ(Got.LastFile, Want.LastFile);
    EXPECT_EQ(Got.LastTime, Want.LastTime);
    EXPECT_EQ(Got.Articles, Want.Articles);
    EXPECT_EQ(Got.LastResult, Want.LastResult);
    EXPECT_EQ(Got.LastError, Want.LastError);
}

TEST_F(DeliveryStatusTest, EveryFieldSurvivesSaveAndLoad)
{
    const std::vector<TScaleDelivery> Records = {
        {"192.168.1.20", 2020, Vesy1, PriceFile, "2026-12-10 14:03:11", 1200,
         TDeliveryResult::drSent, ""},
        {"192.168.1.21", 2021, "", "prices.csv", "2026-12-10 14:03:12", 5000,
         TDeliveryResult::drFailed, NoAnswer},
        {"cas.local", 8000, "CAS", "cas.txt", "2026-12-11 00:00:00", 3, TDeliveryResult::drNotSent,
         ""},
        {"127.0.0.9", 0, "new", "", "", 0, TDeliveryResult::drNone, ""},
        // Brackets would end a section line early if written into its name as they are.
        {"scale[2]", 2002, "[odd] = name", "a=b;c#d.csv", "2026-01-02 03:04:05", 1,
         TDeliveryResult::drFailed, "line one line two"},
    };
    TDeliveryStatus Status(File());
    for (const TScaleDelivery& R : Records)
        Status.Record(R.Host, R.Port, R.Name, R.LastFile, R.LastTime, R.Articles, R.LastResult,
                      R.LastError);
    std::string Error;
    ASSERT_TRUE(Status.Save(Error)) << Error;
    EXPECT_EQ(FilesBesideLogs(), std::vector<std::string>{"delivery.ini"});

    TDeliveryStatus Loaded(File());
    ASSERT_TRUE(Loaded.Load(Error)) << Error;
    ASSERT_EQ(Loaded.Scales().size(), Records.size());
    for (const TScaleDelivery& R : Records) {
        SCOPED_TRACE(DeliveryKey(R.Host, R.Port));
        const TScaleDelivery* Got = Loaded.Find(R.Host, R.Port);
        ASSERT_NE(Got, nullptr);
        ExpectSame(*Got, R);
    }
    // Loading and saving again changes nothing.
    const std::string First = ReadFileBytes(File());
    ASSERT_TRUE(Loaded.Save(Error)) << Error;
    EXPECT_EQ(ReadFileBytes(File()), First);
}

TEST_F(DeliveryStatusTest, FileLooksAsDocumented)
{
    TDeliveryStatus Status(File());
    Status.Record("192.168.1.20", 2020, Vesy1, "prices.csv", "2026-12-10 14:03:11", 1200,
                  TDeliveryResult::drNotSent, "");
    std::string Error;
    ASSERT_TRUE(Status.Save(Error)) << Error;
    const std::string Text = ReadFileBytes(File());
    const std::vector<std::string> Lines = {"[192.168.1.20:2020]", "Host=192.168.1.20",
                                            "Port=2020",           "Name=" + Vesy1,
                                            "LastFile=prices.csv", "LastTime=2026-12-10 14:03:11",
                                            "Articles=1200",       "Result=not sent"};
    for (const std::string& Line : Lines)
        EXPECT_NE(Text.find(Line), std::string::npos) << Line << "\n" << Text;
}

TEST_F(DeliveryStatusTest, MissingFileIsAnEmptyStatus)
{
    TDeliveryStatus Status(File());
    Status.Record("10.0.0.1", 2001, "x", "a.csv", "2026-01-01 00:00:00", 1, TDeliveryResult::drSent,
                  "");
    std::string Error;
    EXPECT_TRUE(Status.Load(Error));
    EXPECT_TRUE(Status.Scales().empty());
    EXPECT_EQ(Journal().find("delivery status"), std::string::npos);
    EXPECT_TRUE(FilesBesideLogs().empty());
}

// The record belongs to the address, not to the name the user gives the scale.
TEST_F(DeliveryStatusTest, RenamedScaleKeepsItsRecord)
{
    TDeliveryStatus Status(File());
    Status.Record("10.0.0.5", 2005, "Old name", "a.csv", "2026-01-01 10:00:00", 10,
                  TDeliveryResult::drFailed, "no answer");
    Status.Record("10.0.0.5", 2005, Vesy1, "b.csv", "2026-01-01 11:00:00", 20,
                  TDeliveryResult::drSent, "");
    Status.Record("10.0.0.5", 2006, Vesy1, "c.csv", "2026-01-01 12:00:00", 30,
                  TDeliveryResult::drSent, "");
    std::string Error;
    ASSERT_TRUE(Status.Save(Error)) << Error;

    TDeliveryStatus Loaded(File());
    ASSERT_TRUE(Loaded.Load(Error)) << Error;
    EXPECT_EQ(Loaded.Scales().size(), 2u);
    const TScaleDelivery* Record = Loaded.Find("10.0.0.5", 2005);
    ASSERT_NE(Record, nullptr);
    ExpectSame(*Record, {"10.0.0.5", 2005, Vesy1, "b.csv", "2026-01-01 11:00:00", 20,
                         TDeliveryResult::drSent, ""});
    EXPECT_EQ(Loaded.Scales().count("10.0.0.5:2005"), 1u);
}

TEST_F(DeliveryStatusTest, ForgottenScaleIsGoneAfterTheNextSave)
{
    TDeliveryStatus Status(File());
    Status.Record("10.0.0.1", 2001, "a", "a.csv", "t", 1, TDeliveryResult::drSent, "");
    Status.Record("10.0.0.2", 2002, "b", "b.csv", "t", 2, TDeliveryResult::drSent, "");
    Status.Forget("10.0.0.1", 2001);
    EXPECT_EQ(Status.Find("10.0.0.1", 2001), nullptr);
    std::string Error;
    ASSERT_TRUE(Status.Save(Error)) << Error;

    TDeliveryStatus Loaded(File());
    ASSERT_TRUE(Loaded.Load(Error)) << Error;
    EXPECT_EQ(Loaded.Find("10.0.0.1", 2001), nullptr);
    EXPECT_NE(Loaded.Find("10.0.0.2", 2002), nullptr);
}

// A record the engine keeps for a scale without a host cannot be read back; it must not make the
// next start throw every other record away.
TEST_F(DeliveryStatusTest, RecordWithoutHostIsNotWritten)
{
    TDeliveryStatus Status(File());
    Status.Record("", 2000, "no host", "a.csv", "t", 1, TDeliveryResult::drFailed, "no host");
    Status.Record("10.0.0.2", 2002, "b", "b.csv", "t", 2, TDeliveryResult::drSent, "");
    std::string Error;
    ASSERT_TRUE(Status.Save(Error)) << Error;

    TDeliveryStatus Loaded(File());
    ASSERT_TRUE(Loaded.Load(Error)) << Error;
    EXPECT_EQ(Loaded.Scales().size(), 1u);
    EXPECT_NE(Loaded.Find("10.0.0.2", 2002), nullptr);
}

struct TDamageCase
{
    const char* Title;
    std::string Bytes;
    const char* Reason; ///< a piece of the reason given
    std::size_t Kept;   ///< records that still make sense
};

// One damaged record never costs the others: they are read, the damage is journaled once and a
// copy of the file kept aside; the reading alone (what `plumeria status` does) changes nothing.
TEST_F(DeliveryStatusTest, DamagedFileKeepsEveryRecordThatMakesSense)
{
    const std::string Good = "[10.0.0.1:2001]\r\nHost=10.0.0.1\r\nPort=2001\r\nResult=sent\r\n";
    const std::vector<TDamageCase> Cases = {
        {"garbage bytes", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR\xFF\xFE", 18), "not text", 0},
        {"text that is no INI", "hello\r\nworld\r\n", "line 1", 0},
        {"key before any section", "Host=10.0.0.1\r\n" + Good, "line 1", 1},
        {"unknown result word",
         Good + "[10.0.0.2:2002]\r\nHost=10.0.0.2\r\nPort=2002\r\n"
                "Result=delivered\r\n",
         "unknown Result 'delivered'", 1},
        {"missing port", Good + "[10.0.0.2:2002]\r\nHost=10.0.0.2\r\nResult=sent\r\n",
         "has no valid Port", 1},
        {"port not a number", "[a]\r\nHost=10.0.0.2\r\nPort=20x2\r\n" + Good, "has no valid Port",
         1},
        {"missing host", "[10.0.0.2:2002]\r\nPort=2002\r\n", "has no Host", 0},
        {"articles not a number", "[a]\r\nHost=h\r\nPort=1\r\nArticles=-5\r\n", "Articles", 0},
    };
    // Settings beside it must never be touched by the status.
    const std::string Settings = "[General]\r\nScaleCount=0\r\n";
    const fs::path SettingsFile = Data.DataDir() / "settings.ini";
    for (const TDamageCase& Case : Cases) {
        SCOPED_TRACE(Case.Title);
        std::error_code Ignored;
        fs::remove(Bad(), Ignored);
        fs::remove(LogFilePath(), Ignored);
        WriteBytes(SettingsFile, Settings);
        WriteBytes(File(), Case.Bytes);

        // Reading alone: the reason, the records that make sense, and not a byte written.
        TDeliveryStatus Reader(File());
        std::string Error;
        EXPECT_FALSE(Reader.Read(Error));
        EXPECT_NE(Error.find(Case.Reason), std::string::npos) << Error;
        EXPECT_EQ(Reader.Scales().size(), Case.Kept);
        EXPECT_FALSE(fs::exists(Bad()));
        EXPECT_FALSE(fs::exists(LogFilePath()));

        // An older damaged copy is replaced by the newer one.
        WriteBytes(Bad(), "older damage");
        TDeliveryStatus Status(File());
        Status.Record("10.0.0.9", 2009, "stale", "s.csv", "t", 1, TDeliveryResult::drSent, "");
        EXPECT_FALSE(Status.Load(Error));
        EXPECT_NE(Error.find(Case.Reason), std::string::npos) << Error;
        EXPECT_EQ(Status.Scales().size(), Case.Kept);
        if (Case.Kept > 0) {
            EXPECT_NE(Status.Find("10.0.0.1", 2001), nullptr);
        }

        const std::string Journal = ReadFileBytes(LogFilePath());
        const std::string Line = "delivery status damaged: " + PathToUtf8(File()) + ": ";
        EXPECT_EQ(CountOf(Journal, Line), 1u) << Journal;
        EXPECT_EQ(CountOf(Journal, "ERROR"), 1u) << Journal;
        EXPECT_NE(Journal.find(Error + "; " + std::to_string(Case.Kept) + " records kept"),
                  std::string::npos)
            << Journal;
        EXPECT_EQ(ReadFileBytes(File()), Case.Bytes) << "the records kept are still on the disk";
        EXPECT_EQ(ReadFileBytes(Bad()), Case.Bytes);
        EXPECT_EQ(ReadFileBytes(SettingsFile), Settings);

        // The next save writes what was kept, and the load after it complains no more.
        ASSERT_TRUE(Status.Save(Error)) << Error;
        TDeliveryStatus Again(File());
        EXPECT_TRUE(Again.Load(Error)) << Error;
        EXPECT_EQ(Again.Scales().size(), Case.Kept);
        EXPECT_EQ(CountOf(ReadFileBytes(LogFilePath()), Line), 1u);
    }
}

// A folder holds any bytes as a name: a name in code page 1251 (not UTF-8), one with a backslash,
// one of 240 bytes. Each is recorded, written as UTF-8 and read back, beside the other records.
TEST_F(DeliveryStatusTest, AnyFileNameIsRecordedAndReadBack)
{
    const struct
    {
        const char* Title;
        std::string Name;
        std::string Read; ///< as read back
    } Cases[] = {
        {"code page 1251", "\xd6\xe5\xed\xfb.csv", "Цены.csv"},
        {"backslash", "a\\b.csv", "a\\b.csv"},
        {"240 bytes", std::string(120, 'x') + std::string(60, 'y') + std::string(56, 'z') + ".csv",
         std::string(120, 'x') + std::string(60, 'y') + std::string(56, 'z') + ".csv"},
    };
    TDeliveryStatus Status(File());
    int Port = 2001;
    for (const auto& Case : Cases)
        Status.Record("10.0.0.1", Port++, "a", Case.Name, "t", 1, TDeliveryResult::drSent, "");
    Status.Record("10.0.0.2", 2002, "b", "b.csv", "t", 2, TDeliveryResult::drSent, "");
    std::string Error;
    ASSERT_TRUE(Status.Save(Error)) << Error;
    EXPECT_TRUE(IsValidUtf8(ReadFileBytes(File())));

    TDeliveryStatus Loaded(File());
    ASSERT_TRUE(Loaded.Load(Error)) << Error;
    Port = 2001;
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Title);
        const TScaleDelivery* Record = Loaded.Find("10.0.0.1", Port++);
        ASSERT_NE(Record, nullptr);
        EXPECT_EQ(Record->LastFile, Case.Read);
    }
    EXPECT_NE(Loaded.Find("10.0.0.2", 2002), nullptr);
}

TEST_F(DeliveryStatusTest, FileSavedByAnEditorWithBomAndCommentsIsRead)
{
    const std::string Text = "\xEF\xBB\xBF; kept by hand\r\n\r\n[x]\r\n  Host = 10.0.0.3 \r\n"
                             "Port=2003\r\nName=" +
                             Vesy1 + "\r\nResult=failed\r\nLastError=" + NoAnswer + "\r\n";
    WriteBytes(File(), Text);
    TDeliveryStatus Status(File());
    std::string Error;
    ASSERT_TRUE(Status.Load(Error)) << Error;
    const TScaleDelivery* Record = Status.Find("10.0.0.3", 2003);
    ASSERT_NE(Record, nullptr);
    EXPECT_EQ(Record->Name, Vesy1);
    EXPECT_EQ(Record->LastResult, TDeliveryResult::drFailed);
    EXPECT_EQ(Record->LastError, NoAnswer);
    EXPECT_EQ(Record->Articles, 0u);
}

TEST_F(DeliveryStatusTest, SaveIntoAMissingFolderFailsAndCreatesNothing)
{
    const fs::path Missing = Data.DataDir() / "gone";
    TDeliveryStatus Status(Missing / "delivery.ini");
    Status.Record("10.0.0.1", 2001, "a", "a.csv", "t", 1, TDeliveryResult::drSent, "");
    std::string Error;
    EXPECT_FALSE(Status.Save(Error));
    EXPECT_NE(Error.find("delivery.ini"), std::string::npos) << Error;
    EXPECT_FALSE(fs::exists(Missing));
}

#ifdef __linux__
// The disk fills up half way through the write: the old status survives byte for byte and no
// temporary file is left beside it.
TEST_F(DeliveryStatusTest, SaveThatFailsMidwayKeepsTheOldFile)
{
    TDeliveryStatus Status(File());
    Status.Record("10.0.0.1", 2001, Vesy1, "a.csv", "t", 1, TDeliveryResult::drSent, "");
    std::string Error;
    ASSERT_TRUE(Status.Save(Error)) << Error;
    const std::string Before = ReadFileBytes(File());

    for (int I = 0; I < 50; ++I)
        Status.Record("10.0.1." + std::to_string(I), 2000 + I, Vesy1, PriceFile, "t", 5,
                      TDeliveryResult::drFailed, NoAnswer);
    bool Saved = true;
    ASSERT_TRUE(
        Support::WithFileSizeLimit(Before.size() + 64, [&] { Saved = Status.Save(Error); }));
    EXPECT_FALSE(Saved);
    EXPECT_FALSE(Error.empty());
    EXPECT_EQ(ReadFileBytes(File()), Before);
    EXPECT_EQ(FilesBesideLogs(), std::vector<std::string>{"delivery.ini"});
}
#endif

TEST(DeliveryResultWordTest, WordsOfEveryResult)
{
    EXPECT_STREQ(DeliveryResultWord(TDeliveryResult::drNone), "");
    EXPECT_STREQ(DeliveryResultWord(TDeliveryResult::drSent), "sent");
    EXPECT_STREQ(DeliveryResultWord(TDeliveryResult::drFailed), "failed");
    EXPECT_STREQ(DeliveryResultWord(TDeliveryResult::drNotSent), "not sent");
    EXPECT_EQ(DeliveryKey("192.168.1.20", 2020), "192.168.1.20:2020");
}

} // namespace
} // namespace Plumeria
