// `plumeria status` on a temporary data folder: settings.ini, a delivery status and a spool made
// the way the program makes them, read back through the JSON report with a strict reader.

#include "core/Delivery/DeliveryStatus.h"
#include "core/Delivery/Spool.h"
#include "support/JsonReader.h"
#include "support/RunProcess.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace Plumeria {
namespace {

namespace fs = std::filesystem;
namespace Kit = Plumeria::Test;
using Kit::ParseJson;
using Kit::RunTool;
using Kit::TJsonValue;
using Kit::TProcessResult;

// "Весы 1", "цены.csv" and "нет ответа", as UTF-8 bytes.
const std::string Vesy1 = "\xD0\x92\xD0\xB5\xD1\x81\xD1\x8B 1";
const std::string Prices = "\xD1\x86\xD0\xB5\xD0\xBD\xD1\x8B.csv";
const std::string NoAnswer =
    "\xD0\xBD\xD0\xB5\xD1\x82 \xD0\xBE\xD1\x82\xD0\xB2\xD0\xB5\xD1\x82\xD0\xB0";

std::string Describe(const TProcessResult& R)
{
    return "exit=" + std::to_string(R.ExitCode) + "\nstdout: " + R.Out + "\nstderr: " + R.Err;
}

struct TScale
{
    std::string Host = {};
    int Port = 0;
    std::string Kind = "digi";
    std::string Name = {};
    bool Enabled = true;
};

/// What the report should say of one scale; nothing for a null.
struct TExpected
{
    std::string Name = {};
    std::string Host = {};
    int Port = 0;
    std::optional<std::string> LastFile = {};
    std::optional<std::string> LastTime = {};
    std::optional<std::string> LastResult = {};
    std::optional<std::string> LastError = {};
    int Missing = 0;
};

void ExpectText(const TJsonValue& Value, const std::optional<std::string>& Want)
{
    if (!Want) {
        EXPECT_EQ(Value.Kind, TJsonValue::TKind::jkNull);
        return;
    }
    ASSERT_TRUE(Value.IsString());
    EXPECT_EQ(Value.String, *Want);
}

class StatusCommand : public ::testing::Test
{
protected:
    void WriteSettings(const std::vector<TScale>& Scales)
    {
        std::string Ini =
            "[General]\r\nLogLevel=max\r\nScaleCount=" + std::to_string(Scales.size()) + "\r\n";
        for (std::size_t I = 0; I < Scales.size(); ++I) {
            const TScale& S = Scales[I];
            Ini += "[Scale" + std::to_string(I) + "]\r\nEnabled=" + (S.Enabled ? "1" : "0") +
                   "\r\nHost=" + S.Host + "\r\nPort=" + std::to_string(S.Port) +
                   "\r\nKind=" + S.Kind + "\r\nName=" + S.Name + "\r\n";
        }
        fs::create_directories(Data.DataDir());
        std::ofstream(SettingsFile(), std::ios::binary) << Ini;
    }

    fs::path SettingsFile() const { return Data.DataDir() / "settings.ini"; }
    fs::path StatusFile() const { return Data.DataDir() / "delivery.ini"; }
    fs::path SpoolFolder() const { return Data.DataDir() / "spool"; }

    /// Runs `status --json`, checks it ended well and hands back its one object.
    TJsonValue StatusJson()
    {
        const TProcessResult R = RunTool({"status", "--json"});
        EXPECT_EQ(R.ExitCode, 0) << Describe(R);
        EXPECT_EQ(R.Err, "");
        try {
            return ParseJson(R.Out);
        } catch (const std::exception& Error) {
            ADD_FAILURE() << Error.what() << "\n" << R.Out;
            return {};
        }
    }

    void ExpectScales(const TJsonValue& Report, const std::vector<TExpected>& Want)
    {
        ASSERT_TRUE(Report.IsObject());
        EXPECT_EQ(Report.Keys(), std::vector<std::string>{"scales"});
        const TJsonValue& Scales = Report["scales"];
        ASSERT_TRUE(Scales.IsArray());
        ASSERT_EQ(Scales.Array.size(), Want.size());
        for (std::size_t I = 0; I < Want.size(); ++I) {
            SCOPED_TRACE(Want[I].Name);
            const TJsonValue& Scale = Scales.Array[I];
            EXPECT_EQ(Scale.Keys(),
                      (std::vector<std::string>{"name", "host", "port", "last_file", "last_time",
                                                "last_result", "last_error", "missing"}));
            ExpectText(Scale["name"], Want[I].Name);
            ExpectText(Scale["host"], Want[I].Host);
            EXPECT_EQ(Scale["port"].Int(), Want[I].Port);
            ExpectText(Scale["last_file"], Want[I].LastFile);
            ExpectText(Scale["last_time"], Want[I].LastTime);
            ExpectText(Scale["last_result"], Want[I].LastResult);
            ExpectText(Scale["last_error"], Want[I].LastError);
            EXPECT_EQ(Scale["missing"].Int(), Want[I].Missing);
        }
    }

    Kit::TTempDataFolder Data;
};

TEST_F(StatusCommand, WithoutAStatusFileEveryScaleHasNothingYet)
{
    WriteSettings(
        {{.Host = "127.0.0.41", .Port = 2101, .Name = Vesy1}, {.Host = "127.0.0.42", .Port = 0}});
    const std::string Settings = Kit::ReadFileBytes(SettingsFile());
    ExpectScales(StatusJson(),
                 {{.Name = Vesy1 + "  127.0.0.41", .Host = "127.0.0.41", .Port = 2101},
                  {.Name = "127.0.0.42", .Host = "127.0.0.42", .Port = 2042}});
    // A query writes nothing: no status file, no spool, the settings as they were.
    EXPECT_FALSE(fs::exists(StatusFile()));
    EXPECT_FALSE(fs::exists(SpoolFolder()));
    EXPECT_EQ(Kit::ReadFileBytes(SettingsFile()), Settings);
}

TEST_F(StatusCommand, WithoutScalesTheListIsEmpty)
{
    WriteSettings({});
    const TJsonValue Report = StatusJson();
    ExpectScales(Report, {});

    const TProcessResult R = RunTool({"status"});
    EXPECT_EQ(R.ExitCode, 0) << Describe(R);
    EXPECT_EQ(R.Out, "no scales in the settings\n");
}

TEST_F(StatusCommand, ReportsTheStatusAndTheSpoolOfEveryScale)
{
    WriteSettings({
        {.Host = "127.0.0.41", .Port = 2101, .Name = Vesy1},
        // Port 0: the DIGI default, 2000 + the last octet, is the port in use.
        {.Host = "127.0.0.45", .Port = 0, .Name = "B"},
        {.Host = "127.0.0.46", .Port = 2046, .Kind = "cas", .Name = "C", .Enabled = false},
        {.Host = "127.0.0.47", .Port = 2047, .Name = "D"},
    });
    fs::create_directories(Data.DataDir());
    TDeliveryStatus Status(StatusFile());
    // The name recorded is the one at the time; the settings' one is shown.
    Status.Record("127.0.0.41", 2101, "old name", Prices, "2026-12-10 14:03:11", 1200,
                  TDeliveryResult::drSent, "");
    Status.Record("127.0.0.45", 2045, "B", "prices.csv", "2026-12-10 14:05:00", 5000,
                  TDeliveryResult::drFailed, NoAnswer);
    Status.Record("127.0.0.46", 2046, "C", "cas.txt", "2026-12-09 08:00:00", 7,
                  TDeliveryResult::drNotSent, "");
    // A scale no longer in the settings is not listed.
    Status.Record("127.0.0.99", 2099, "gone", "x.csv", "2026-12-01 00:00:00", 1,
                  TDeliveryResult::drSent, "");
    std::string Error;
    ASSERT_TRUE(Status.Save(Error)) << Error;

    TSpool Spool(SpoolFolder());
    for (const std::string& Name : {std::string("old.csv"), Prices})
        ASSERT_TRUE(Spool.Add("127.0.0.45", 2045, Name, "A;1;;1;0;0;0;x\r\n", Error)) << Error;
    // Copies kept under another port are another scale's.
    ASSERT_TRUE(Spool.Add("127.0.0.45", 0, "other.csv", "x", Error)) << Error;
    ASSERT_TRUE(Spool.Add("127.0.0.47", 2047, "d.csv", "x", Error)) << Error;
    const std::string StatusBytes = Kit::ReadFileBytes(StatusFile());

    ExpectScales(StatusJson(),
                 {
                     {.Name = Vesy1 + "  127.0.0.41",
                      .Host = "127.0.0.41",
                      .Port = 2101,
                      .LastFile = Prices,
                      .LastTime = "2026-12-10 14:03:11",
                      .LastResult = "sent"},
                     {.Name = "B  127.0.0.45",
                      .Host = "127.0.0.45",
                      .Port = 2045,
                      .LastFile = "prices.csv",
                      .LastTime = "2026-12-10 14:05:00",
                      .LastResult = "failed",
                      .LastError = NoAnswer,
                      .Missing = 2},
                     {.Name = "C  127.0.0.46",
                      .Host = "127.0.0.46",
                      .Port = 2046,
                      .LastFile = "cas.txt",
                      .LastTime = "2026-12-09 08:00:00",
                      .LastResult = "not sent"},
                     {.Name = "D  127.0.0.47", .Host = "127.0.0.47", .Port = 2047, .Missing = 1},
                 });

    const TProcessResult Text = RunTool({"status"});
    EXPECT_EQ(Text.ExitCode, 0) << Describe(Text);
    EXPECT_EQ(Text.Out,
              Vesy1 + "  127.0.0.41:2101  sent " + Prices +
                  " 2026-12-10 14:03:11 (1200 PLU)  missing 0\n"
                  "B  127.0.0.45:2045  failed prices.csv 2026-12-10 14:05:00 (5000 PLU): " +
                  NoAnswer +
                  "  missing 2\n"
                  "C  127.0.0.46:2046  not sent cas.txt 2026-12-09 08:00:00 (7 PLU)  "
                  "missing 0  (disabled)\n"
                  "D  127.0.0.47:2047  nothing sent yet  missing 1\n");
    // Read only.
    EXPECT_EQ(Kit::ReadFileBytes(StatusFile()), StatusBytes);
    EXPECT_EQ(Spool.Count("127.0.0.45", 2045), 2u);
}

// A monitoring script takes exit 0 for "all well": whatever makes that untrue exits 1 with the
// reason on stderr, and the query still only reads (no file written, renamed or journaled to).
TEST_F(StatusCommand, WhatIsNotAllWellExitsOneAndChangesNothing)
{
    const std::string Damaged = "[127.0.0.41:2101]\r\nHost=127.0.0.41\r\nPort=2101\r\n"
                                "Result=delivered\r\n[127.0.0.42:2102]\r\nHost=127.0.0.42\r\n"
                                "Port=2102\r\nResult=sent\r\nLastFile=a.csv\r\n";
    Kit::TTempDir Elsewhere;
    const fs::path Blocker = Elsewhere.WriteFile("not-a-folder", "x");
    const struct
    {
        const char* Title;
        bool Settings;
        const char* Status;     ///< delivery.ini's bytes; null: none
        bool DataFolderBlocked; ///< the machine-wide data folder cannot be made
        const char* Reason;
        const char* Out; ///< a piece of stdout; null: nothing
    } Cases[] = {
        {"no settings", false, nullptr, false, "no settings: ", nullptr},
        {"damaged status", true, Damaged.c_str(), false,
         "delivery status damaged: ", "\"last_file\": \"a.csv\""},
        {"data folder unusable", true, nullptr, true, "the data folder cannot be used (", nullptr},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Title);
        fs::remove_all(Data.DataDir());
        if (Case.Settings)
            WriteSettings(
                {{.Host = "127.0.0.41", .Port = 2101}, {.Host = "127.0.0.42", .Port = 2102}});
        if (Case.Status)
            std::ofstream(StatusFile(), std::ios::binary) << Case.Status;
        fs::create_directories(Data.DataDir());
        std::optional<Kit::TScopedEnv> Blocked;
        if (Case.DataFolderBlocked)
            Blocked.emplace("ProgramData", (Blocker / "sub").string());

        const TProcessResult R = RunTool({"status", "--json"});
        EXPECT_EQ(R.ExitCode, 1) << Describe(R);
        EXPECT_NE(R.Err.find(Case.Reason), std::string::npos) << R.Err;
        if (Case.Out) {
            EXPECT_NE(R.Out.find(Case.Out), std::string::npos) << R.Out;
        } else {
            EXPECT_EQ(R.Out, "");
        }
        if (Case.DataFolderBlocked) {
            EXPECT_NE(R.Err.find((Blocker / "sub").string()), std::string::npos) << R.Err;
        }
        // Nothing written: the files as they were, no copy aside, no journal.
        if (Case.Status) {
            EXPECT_EQ(Kit::ReadFileBytes(StatusFile()), Case.Status);
        }
        EXPECT_FALSE(fs::exists(Data.DataDir() / "delivery.ini.bad"));
        EXPECT_FALSE(fs::exists(Data.DataDir() / "logs"));
        EXPECT_EQ(fs::exists(SettingsFile()), Case.Settings);
    }
}

TEST_F(StatusCommand, UnknownArgumentsAreAUsageError)
{
    for (const std::vector<std::string>& Args :
         {std::vector<std::string>{"status", "extra"}, {"status", "--jsn"}}) {
        const TProcessResult R = RunTool(Args);
        EXPECT_EQ(R.ExitCode, 2) << Describe(R);
        EXPECT_NE(R.Err.find("usage: plumeria status [--json]"), std::string::npos) << R.Err;
    }
}

} // namespace
} // namespace Plumeria
