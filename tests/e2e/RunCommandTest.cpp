// `plumeria run` as a server runs it: a temporary data folder with its settings.ini, a watched
// folder, `plumeria scale-sim` processes on 127.0.0.x, files dropped in as a back office drops
// them. Checks the result folders, the ".err" texts, the journal, what the simulators printed and
// what the run printed, and that a stop signal ends it cleanly.

#include "RunningTool.h"

#include "core/Journal/Journal.h"
#include "core/Text/Text.h"
#include "platform/Clock.h"
#include "support/JsonReader.h"
#include "support/RunProcess.h"
#include "support/ScaleNet.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace Plumeria {
namespace {

namespace fs = std::filesystem;
namespace Kit = Plumeria::Test;
using Kit::TRunningTool;

constexpr int ResultTimeoutMs = 10000;

const char* const GoodText = "A;1;1234567;12,50;0;0;5;Хлеб\r\n"
                             "A;2;2345678;3;0;0;0;Молоко\r\n";
const char* const DeleteText = "A;1;1234567;12,50;0;0;5;Хлеб\r\n"
                               "A;2;2345678;3;0;0;0;Молоко\r\n"
                               "D;5\r\n";
const std::string Bom = "\xEF\xBB\xBF";

std::string Cp1251(const std::string& Utf8)
{
    std::string Bytes;
    EXPECT_TRUE(EncodeCodePage(Utf8, 1251, Bytes));
    return Bytes;
}

std::string Today()
{
    const TLocalDateTime Now = LocalNow();
    char Text[16];
    std::snprintf(Text, sizeof Text, "%04d-%02d-%02d", Now.Year, Now.Month, Now.Day);
    return Text;
}

bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs)
{
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    for (;;) {
        if (Done())
            return true;
        if (std::chrono::steady_clock::now() >= Deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::size_t CountOf(const std::string& Text, const std::string& Piece)
{
    std::size_t Count = 0;
    for (auto Pos = Text.find(Piece); Pos != std::string::npos; Pos = Text.find(Piece, Pos + 1))
        ++Count;
    return Count;
}

/// Names of the plain files directly inside `Folder`.
std::set<std::string> FilesIn(const fs::path& Folder)
{
    std::set<std::string> Names;
    std::error_code Error;
    for (fs::directory_iterator It(Folder, Error), End; !Error && It != End; It.increment(Error))
        if (It->is_regular_file())
            Names.insert(It->path().filename().string());
    return Names;
}

struct TScaleEntry
{
    std::string Host;
    int Port = 0;
    int CodePage = 1251;
    std::string Mask = "*";
    std::string Kind = "digi";
    std::string Name;
    bool Enabled = true;
};

class RunCommand : public ::testing::Test
{
protected:
    void SetUp() override { fs::create_directories(Watched); }

    void TearDown() override
    {
        if (Run)
            Run->Stop(SIGKILL, 5000);
    }

    /// A `plumeria scale-sim` on `Ip` at a port the system picks; returns that port.
    int StartSim(const std::string& Ip, std::vector<std::string> Extra = {}, int Port = 0)
    {
        std::vector<std::string> Args{"scale-sim", "--bind", Ip, "--port", std::to_string(Port)};
        Args.insert(Args.end(), Extra.begin(), Extra.end());
        Sims.push_back(std::make_unique<TRunningTool>(Args));
        const std::string Ready = "listening on " + Ip + ":";
        EXPECT_TRUE(Sims.back()->WaitForOutput(Ready, 5000)) << Sims.back()->Err();
        const std::string Out = Sims.back()->Out();
        const auto At = Out.find(Ready);
        return At == std::string::npos ? 0 : std::stoi(Out.substr(At + Ready.size()));
    }

    std::size_t SimFrames(std::size_t Index) const
    {
        return CountOf(Sims.at(Index)->Out(), "frame connection=");
    }

    void WriteSettings(const std::vector<TScaleEntry>& Scales, int TimeoutMs = 300)
    {
        std::string Ini = "[General]\r\nWatchFolder=" + Watched.string() +
                          "\r\nFileMask=*.csv;*.txt\r\nAutoUpdate=0\r\nRunWithWindows=0\r\n"
                          "ConnectTimeoutMs=" +
                          std::to_string(TimeoutMs) +
                          "\r\nLogLevel=max\r\nScaleCount=" + std::to_string(Scales.size()) +
                          "\r\n";
        for (std::size_t I = 0; I < Scales.size(); ++I) {
            const TScaleEntry& S = Scales[I];
            Ini += "[Scale" + std::to_string(I) + "]\r\nEnabled=" + (S.Enabled ? "1" : "0") +
                   "\r\nHost=" + S.Host + "\r\nPort=" + std::to_string(S.Port) +
                   "\r\nKind=" + S.Kind + "\r\nFileCodePage=" + std::to_string(S.CodePage) +
                   "\r\nFileMask=" + S.Mask + "\r\nName=" + S.Name + "\r\n";
        }
        fs::create_directories(Data.DataDir());
        std::ofstream(Data.DataDir() / "settings.ini", std::ios::binary) << Ini;
    }

    void StartRun()
    {
        Run = std::make_unique<TRunningTool>(std::vector<std::string>{"run"});
        ASSERT_TRUE(Run->WaitForOutput("watching ", 5000)) << Run->Err();
    }

    /// Stops the run as a service manager would and checks that it ended cleanly.
    void StopRun(int Signal = SIGTERM)
    {
        EXPECT_EQ(Run->Stop(Signal, 5000), 0) << Run->Out() << Run->Err();
        const std::string Out = Run->Out();
        EXPECT_TRUE(Out.size() >= 8 && Out.compare(Out.size() - 8, 8, "stopped\n") == 0) << Out;
    }

    /// Written beside the watched folder and moved in whole, as a back office does.
    fs::path Drop(const std::string& Name, const std::string& Bytes)
    {
        const fs::path Staging = Dir.Path() / "staging";
        fs::create_directories(Staging);
        std::ofstream(Staging / Name, std::ios::binary) << Bytes;
        fs::rename(Staging / Name, Watched / Name);
        return Watched / Name;
    }

    /// The one scale of `status --json` named `Name`.
    Kit::TJsonValue StatusOf(const std::string& Name)
    {
        const Kit::TProcessResult R = Kit::RunTool({"status", "--json"});
        EXPECT_EQ(R.ExitCode, 0) << R.Out << R.Err;
        const Kit::TJsonValue Report = Kit::ParseJson(R.Out);
        for (const Kit::TJsonValue& Scale : Report["scales"].Array)
            if (Scale["name"].String == Name)
                return Scale;
        ADD_FAILURE() << "no scale " << Name << " in " << R.Out;
        return {};
    }

    std::string PathOf(const std::string& Name) const { return (Watched / Name).string(); }
    fs::path Processed() const { return Watched / "processed" / Today(); }
    bool Gone(const std::string& Name) const { return !fs::exists(Watched / Name); }

    Kit::TTempDataFolder Data; // ProgramData of this process, inherited by the tools it starts
    Kit::TTempDir Dir;
    fs::path Watched = Dir.Path() / "in";
    std::vector<std::unique_ptr<TRunningTool>> Sims;
    std::unique_ptr<TRunningTool> Run;
};

TEST_F(RunCommand, EveryOutcomeOfTheMainRoad)
{
    const int PortA = StartSim("127.0.0.41");
    const int PortB = StartSim("127.0.0.42");
    const int PortNak = StartSim("127.0.0.43", {"--nak-after", "0"});
    WriteSettings({
        {.Host = "127.0.0.41", .Port = PortA, .CodePage = 866, .Mask = "*.csv", .Name = "A"},
        {.Host = "127.0.0.42", .Port = PortB, .Mask = "prices*", .Name = "B"},
        {.Host = "127.0.0.44", .Port = 2044, .Mask = "cas*", .Kind = "cas", .Name = "C"},
        {.Host = "127.0.0.43", .Port = PortNak, .Mask = "nak*", .Name = "N"},
    });
    StartRun();
    const std::string Good = Cp1251(GoodText);
    const std::string Bad = Cp1251(DeleteText);
    Drop("prices.csv", Good); // A (866) and B (1251)
    Drop("other.txt", Good);  // no mask accepts it
    Drop("bad.csv", Bad);     // A, but a delete record
    Drop("cas.txt", Good);    // only the make without protocol
    Drop("nak.csv", Good);    // A takes it, N refuses it

    ASSERT_TRUE(WaitUntil(
        [&] {
            return fs::exists(Processed() / "prices.csv") && fs::exists(Processed() / "cas.txt") &&
                   fs::exists(Watched / "skipped" / "other.txt") &&
                   fs::exists(Watched / "error" / "bad.csv.err") &&
                   fs::exists(Watched / "error" / "nak.csv.err");
        },
        ResultTimeoutMs))
        << Run->Out();
    StopRun();

    // Result folders: whole files, and the reasons beside the refused ones.
    EXPECT_EQ(FilesIn(Watched), std::set<std::string>{});
    EXPECT_EQ(FilesIn(Processed()), (std::set<std::string>{"prices.csv", "cas.txt"}));
    EXPECT_EQ(FilesIn(Watched / "skipped"), std::set<std::string>{"other.txt"});
    EXPECT_EQ(FilesIn(Watched / "error"),
              (std::set<std::string>{"bad.csv", "bad.csv.err", "nak.csv", "nak.csv.err"}));
    EXPECT_EQ(Kit::ReadFileBytes(Processed() / "prices.csv"), Good);
    EXPECT_EQ(Kit::ReadFileBytes(Watched / "error" / "bad.csv"), Bad);
    EXPECT_EQ(Kit::ReadFileBytes(Watched / "error" / "bad.csv.err"),
              Bom + "line 3: delete records are not sent");
    EXPECT_EQ(Kit::ReadFileBytes(Watched / "error" / "nak.csv.err"),
              Bom + "one or more scales did not accept the file");

    // The journal: one line per scale given a file, each with its own code page.
    const auto Info = [](const std::string& Text) { return Kit::CountJournal("INFO", Text); };
    EXPECT_EQ(Info("file=" + PathOf("prices.csv") +
                   " ip=127.0.0.41 name=A kind=digi cp=866 mask=*.csv sent 2 PLU"),
              1);
    EXPECT_EQ(Info("file=" + PathOf("prices.csv") +
                   " ip=127.0.0.42 name=B kind=digi cp=1251 mask=prices* sent 2 PLU"),
              1);
    EXPECT_EQ(Info("file=" + PathOf("other.txt") + " skipped, no scale mask matched"), 1);
    EXPECT_EQ(Kit::CountJournal("ERROR", "file=" + PathOf("bad.csv") +
                                             " cp=866 line=3 delete records are not sent"),
              1);
    EXPECT_EQ(Info("file=" + PathOf("cas.txt") +
                   " ip=127.0.0.44 name=C kind=cas cp=1251 mask=cas* CAS protocol is not "
                   "connected yet"),
              1);
    EXPECT_EQ(Info("file=" + PathOf("nak.csv") +
                   " ip=127.0.0.41 name=A kind=digi cp=866 mask=*.csv sent 2 PLU"),
              1);
    EXPECT_EQ(Info("file=" + PathOf("nak.csv") +
                   " ip=127.0.0.43 name=N kind=digi cp=1251 mask=nak* PLU 1 was not acknowledged"),
              1);
    EXPECT_EQ(Info(" name="), 5); // and no other scale line

    // What the scales received: A both files it accepted (the refusal elsewhere undid nothing),
    // B the one file, N the first frame it refused.
    EXPECT_EQ(SimFrames(0), 4u) << Sims[0]->Out();
    EXPECT_EQ(SimFrames(1), 2u) << Sims[1]->Out();
    EXPECT_EQ(SimFrames(2), 1u) << Sims[2]->Out();

    // What the run printed: each recent line after its time, each balloon.
    const std::string Out = Run->Out();
    for (const char* Line :
         {"  prices.csv | отправлено 2 PLU\n", "\nВесы: Отправлено 2 PLU\n",
          "  other.txt | нет подходящих весов\n", "\nВесы: Нет весов для файла: other.txt\n",
          "  bad.csv | отклонён\n", "\nВесы: Файл отклонён: bad.csv\n",
          "  cas.txt | разобрано, не отправлено 2 PLU\n",
          "\nВесы: Разобрано 2 PLU, не отправлено\n", "  nak.csv | ошибка отправки\n",
          "\nВесы: Ошибка отправки: nak.csv\n"})
        EXPECT_EQ(CountOf(Out, Line), 1u) << Line << "\n" << Out;
    EXPECT_TRUE(std::regex_search(Out, std::regex(R"(\n\d\d:\d\d:\d\d  prices\.csv \| )"))) << Out;
}

TEST_F(RunCommand, WithoutAnEnabledScaleTheFileIsParsedAndFiledAsProcessed)
{
    const int Port = StartSim("127.0.0.45");
    WriteSettings({{.Host = "127.0.0.45", .Port = Port, .Name = "off", .Enabled = false}});
    StartRun();
    Drop("prices.txt", Cp1251(GoodText));
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(Processed() / "prices.txt"); }, ResultTimeoutMs))
        << Run->Out();
    StopRun();
    EXPECT_EQ(Kit::CountJournal("INFO", "file=" + PathOf("prices.txt") +
                                            " parsed 2 PLU, no enabled scales"),
              1);
    EXPECT_EQ(CountOf(Run->Out(), "  prices.txt | разобрано, не отправлено 2 PLU\n"), 1u);
    EXPECT_EQ(SimFrames(0), 0u);
}

TEST_F(RunCommand, SameNamedFilesOneAfterAnotherAllKeepTheirOwnName)
{
    WriteSettings({});
    StartRun();
    std::set<std::string> Contents;
    for (int I = 1; I <= 3; ++I) {
        const std::string Bytes = "A;" + std::to_string(I) + ";;1;0;0;0;Article\r\n";
        Contents.insert(Bytes);
        Drop("prices.csv", Bytes);
        ASSERT_TRUE(WaitUntil([&] { return Gone("prices.csv"); }, ResultTimeoutMs)) << I;
    }
    StopRun();
    const std::set<std::string> Names = FilesIn(Processed());
    ASSERT_EQ(Names.size(), 3u);
    EXPECT_TRUE(Names.count("prices.csv"));
    std::set<std::string> Found;
    for (const std::string& Name : Names) {
        if (Name != "prices.csv") {
            EXPECT_TRUE(std::regex_match(Name, std::regex(R"(prices-\d{6}-\d+\.csv)"))) << Name;
        }
        Found.insert(Kit::ReadFileBytes(Processed() / Name));
    }
    EXPECT_EQ(Found, Contents); // nothing replaced, nothing lost
}

TEST_F(RunCommand, SecondRunOnTheSameDataFolderExitsTwoWhileTheFirstKeepsWorking)
{
    WriteSettings({});
    StartRun();
    const auto Second = Kit::RunTool({"run"}, 10000);
    EXPECT_EQ(Second.ExitCode, 2);
    EXPECT_NE(Second.Err.find("plumeria run: another program is already watching with the data "
                              "folder " +
                              Data.DataDir().string()),
              std::string::npos)
        << Second.Err;
    EXPECT_EQ(Second.Out.find("watching "), std::string::npos) << Second.Out;

    Drop("prices.csv", "A;1;;1;0;0;0;Article\r\n");
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(Processed() / "prices.csv"); }, ResultTimeoutMs))
        << Run->Out();
    StopRun();

    // The lock goes with the first run: the next one starts normally.
    StartRun();
    StopRun();
}

TEST_F(RunCommand, StopSignalsEndAnIdleRunWithExitZero)
{
    WriteSettings({});
    for (const int Signal : {SIGTERM, SIGINT}) {
        StartRun();
        StopRun(Signal);
    }
}

// A data folder that cannot be used (here its base is a file) falls back to the program's own
// folder, as it always did, but never silently: the terminal names the folder and why.
TEST_F(RunCommand, ADataFolderThatCannotBeUsedIsSaidOnTheTerminal)
{
    Kit::TTempDir Own;
    const fs::path Tool = Own.Path() / "plumeria";
    fs::copy_file(PLUMERIA_TOOL_PATH, Tool);
    const fs::path Blocker = Own.WriteFile("blocker", "x");
    Kit::TScopedEnv Blocked("ProgramData", (Blocker / "base").string());
    TRunningTool Run(Tool.string(), {"run"});
    ASSERT_TRUE(Run.WaitForOutput("watching ", 10000)) << Run.Out() << Run.Err();
    EXPECT_NE(Run.Err().find("the data folder cannot be used (" +
                             (Blocker / "base" / "PlumeriaBridge").string() + ": "),
              std::string::npos)
        << Run.Err();
    EXPECT_NE(Run.Err().find("the settings and the journal are in " + Own.Path().string()),
              std::string::npos)
        << Run.Err();
    EXPECT_EQ(Run.Stop(SIGTERM, 10000), 0);
    std::string Journal;
    for (const fs::directory_entry& Day : fs::directory_iterator(Own.Path() / "logs"))
        Journal += Kit::ReadFileBytes(Day.path());
    EXPECT_EQ(CountOf(Journal, "| ERROR | data folder " +
                                   (Blocker / "base" / "PlumeriaBridge").string() + ": "),
              1u)
        << Journal;
}

// A stop request in the middle of an upload ends the exchange at the scale's next answer (here:
// its answer time-out) without judging the file: it stays whole in the watched folder for the
// next start, no result folder is made, and the run ends with 0.
TEST_F(RunCommand, StopDuringAnUploadLeavesTheFileWholeForTheNextStart)
{
    const int Port = StartSim("127.0.0.46", {"--silent-after", "0"});
    WriteSettings({{.Host = "127.0.0.46", .Port = Port, .Name = "mute"}}, 500);
    StartRun();
    const std::string Bytes = Cp1251(GoodText);
    Drop("prices.csv", Bytes);
    ASSERT_TRUE(Sims[0]->WaitForOutput("frame connection=1 number=1", ResultTimeoutMs));
    StopRun();
    EXPECT_EQ(Kit::ReadFileBytes(Watched / "prices.csv"), Bytes);
    EXPECT_FALSE(fs::exists(Watched / "error"));
    EXPECT_FALSE(fs::exists(Watched / "processed"));
    EXPECT_EQ(CountOf(Run->Out(), "prices.csv | "), 0u) << Run->Out();
    EXPECT_EQ(Kit::CountJournal("WARN", "file=" + PathOf("prices.csv") +
                                            " was not finished: sending was stopped; it stays for "
                                            "its next turn"),
              1);
}

// A scale switched off when a list comes: the list goes to "error" as always, the status says
// which scale missed it, and once the scale answers again it gets that list before the next one,
// with a line for each scale's end on the terminal.
TEST_F(RunCommand, AScaleThatWasOffGetsTheMissedFileBeforeTheNextOne)
{
    const int PortOn = StartSim("127.0.0.47");
    const int PortOff = StartSim("127.0.0.48");
    Sims.back()->Stop(SIGTERM, 5000);
    WriteSettings({{.Host = "127.0.0.47", .Port = PortOn, .Name = "On"},
                   {.Host = "127.0.0.48", .Port = PortOff, .Name = "Off"}});
    const std::string Off = "Off  127.0.0.48:" + std::to_string(PortOff) + ": ";
    StartRun();
    Drop("a.csv", Cp1251(GoodText));
    ASSERT_TRUE(
        WaitUntil([&] { return fs::exists(Watched / "error" / "a.csv.err"); }, ResultTimeoutMs))
        << Run->Out();
    StopRun();
    EXPECT_EQ(
        CountOf(Run->Out(), "  a.csv -> On  127.0.0.47:" + std::to_string(PortOn) + ": 2/2 PLU\n"),
        1u)
        << Run->Out();
    EXPECT_EQ(CountOf(Run->Out(), "  a.csv -> " + Off + "failed: "), 1u) << Run->Out();
    const Kit::TJsonValue Missed = StatusOf("Off  127.0.0.48");
    EXPECT_EQ(Missed["last_result"].String, "failed");
    EXPECT_EQ(Missed["missing"].Int(), 1);
    EXPECT_EQ(StatusOf("On  127.0.0.47")["last_result"].String, "sent");

    StartSim("127.0.0.48", {}, PortOff);
    StartRun();
    Drop("b.csv", Cp1251(GoodText));
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(Processed() / "b.csv"); }, ResultTimeoutMs))
        << Run->Out();
    StopRun();
    const std::string SimOut = Sims.back()->Out();
    EXPECT_EQ(CountOf(SimOut, "frame connection=1 "), 2u) << SimOut; // a.csv, sent again
    EXPECT_EQ(CountOf(SimOut, "frame connection=2 "), 2u) << SimOut; // then b.csv
    EXPECT_EQ(Kit::CountJournal("INFO", "resent a.csv to 127.0.0.48: 2 PLU"), 1);
    EXPECT_EQ(CountOf(Run->Out(), "  a.csv -> " + Off + "2/2 PLU\n"), 1u) << Run->Out();
    EXPECT_EQ(CountOf(Run->Out(), "  b.csv -> " + Off + "2/2 PLU\n"), 1u) << Run->Out();
    const Kit::TJsonValue Caught = StatusOf("Off  127.0.0.48");
    EXPECT_EQ(Caught["last_file"].String, "b.csv");
    EXPECT_EQ(Caught["last_result"].String, "sent");
    EXPECT_EQ(Caught["missing"].Int(), 0);
}

TEST_F(RunCommand, WatchingResumesAfterTheFolderWasDeletedAndCreatedAgain)
{
    WriteSettings({});
    StartRun();
    Drop("first.csv", Cp1251(GoodText));
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(Processed() / "first.csv"); }, ResultTimeoutMs));

    fs::remove_all(Watched);
    const std::string Warning = "watch folder does not exist: " + Watched.string();
    ASSERT_TRUE(WaitUntil([&] { return Kit::CountJournal("WARN", Warning) == 1; }, 5000));
    fs::create_directories(Watched);
    Drop("second.csv", Cp1251(GoodText));
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(Processed() / "second.csv"); }, ResultTimeoutMs))
        << Run->Out();
    StopRun();
    EXPECT_EQ(Kit::CountJournal("WARN", Warning), 1);
}

// A result folder that cannot be made (a plain file of that name is in the way): the file stays
// where it was, whole, and the journal says why.
TEST_F(RunCommand, FileWhoseResultFolderIsBlockedStaysInPlace)
{
    WriteSettings({});
    for (const char* Blocker : {"processed", "error"})
        std::ofstream(Watched / Blocker) << "in the way";
    StartRun();
    const std::string Good = Cp1251(GoodText);
    const std::string Bad = Cp1251(DeleteText);
    Drop("good.csv", Good);
    Drop("bad.csv", Bad);
    ASSERT_TRUE(WaitUntil([&] { return Kit::CountJournal("ERROR", "cannot move file: ") == 2; },
                          ResultTimeoutMs))
        << Run->Out();
    StopRun();
    EXPECT_EQ(Kit::ReadFileBytes(Watched / "good.csv"), Good);
    EXPECT_EQ(Kit::ReadFileBytes(Watched / "bad.csv"), Bad);
    EXPECT_EQ(FilesIn(Watched),
              (std::set<std::string>{"good.csv", "bad.csv", "processed", "error"}));
    // Reported as processing went, although the file could not be filed away.
    EXPECT_EQ(CountOf(Run->Out(), "  good.csv | разобрано, не отправлено 2 PLU\n"), 1u);
    EXPECT_EQ(CountOf(Run->Out(), "  bad.csv | отклонён\n"), 1u);
}

TEST_F(RunCommand, HundredsOfFilesDroppedAtOnceEachEndInExactlyOneResultFolder)
{
    const int Port = StartSim("127.0.0.47");
    WriteSettings({{.Host = "127.0.0.47", .Port = Port, .Name = "bulk"}});
    StartRun();
    constexpr int Count = 250;
    const fs::path Staging = Dir.Path() / "staging";
    fs::create_directories(Staging);
    std::set<std::string> Good, Bad;
    for (int I = 0; I < Count; ++I) {
        char Name[32];
        std::snprintf(Name, sizeof Name, "bulk-%03d.csv", I);
        const bool Refused = I % 10 == 0;
        (Refused ? Bad : Good).insert(Name);
        std::ofstream(Staging / Name, std::ios::binary) << Cp1251(Refused ? DeleteText : GoodText);
    }
    for (const auto& Set : {Good, Bad})
        for (const std::string& Name : Set)
            fs::rename(Staging / Name, Watched / Name);

    ASSERT_TRUE(WaitUntil([&] { return FilesIn(Watched).empty(); }, 60000))
        << FilesIn(Watched).size() << " left\n"
        << Run->Out();
    StopRun();
    EXPECT_EQ(FilesIn(Processed()), Good);
    std::set<std::string> Errors;
    for (const std::string& Name : Bad) {
        Errors.insert(Name);
        Errors.insert(Name + ".err");
    }
    EXPECT_EQ(FilesIn(Watched / "error"), Errors);
    EXPECT_FALSE(fs::exists(Watched / "skipped"));
    EXPECT_EQ(SimFrames(0), 2u * Good.size());
    EXPECT_EQ(Kit::CountJournal("INFO", " name=bulk kind=digi cp=1251 mask=* sent 2 PLU"),
              static_cast<int>(Good.size()));
}

} // namespace
} // namespace Plumeria
