// File processing from a reported file to its result folder, against DIGI scale simulators on
// 127.0.0.x and a real folder watch (so what `MarkFinished` told it shows in whether and when it
// offers the file again). Each outcome is one row of a table.

#include "core/Processing/ProcessFile.h"

#include "core/FolderWatch/FolderWatch.h"
#include "core/Journal/Journal.h"
#include "core/PluCsv/PluCsv.h"
#include "core/Settings/Settings.h"
#include "core/Text/Text.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "support/PostQueue.h"
#include "support/ScaleNet.h"
#include "support/TempDir.h"
#include "tool/ScaleSim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace Plumeria {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace Kit = Plumeria::Test;

// ---------------------------------------------------------------------------------------------
// Files

// Two articles (Хлеб, Молоко) and an ingredient line whose PLU has no article: a warning.
const char* const GoodText = "A;1;1234567;12,50;0;0;5;Хлеб\r\n"
                             "A;2;2345678;3;0;0;0;Молоко\r\n"
                             "I;7;соль\r\n";
// The same with a delete record on line 3.
const char* const DeleteText = "A;1;1234567;12,50;0;0;5;Хлеб\r\n"
                               "A;2;2345678;3;0;0;0;Молоко\r\n"
                               "D;5\r\n"
                               "I;7;соль\r\n";

std::string Cp1251(const std::string& Utf8)
{
    std::string Bytes;
    EXPECT_TRUE(EncodeCodePage(Utf8, 1251, Bytes));
    return Bytes;
}

void WriteBytes(const fs::path& Path, const std::string& Bytes)
{
    std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
    Out << Bytes;
}

std::string DateFolder(const TLocalDateTime& Now)
{
    char Text[16];
    std::snprintf(Text, sizeof Text, "%04d-%02d-%02d", Now.Year, Now.Month, Now.Day);
    return Text;
}

bool Contains(const std::vector<std::uint8_t>& Bytes, const std::string& Piece)
{
    const std::vector<std::uint8_t> Wanted(Piece.begin(), Piece.end());
    return std::search(Bytes.begin(), Bytes.end(), Wanted.begin(), Wanted.end()) != Bytes.end();
}

void ReplaceAll(std::string& Text, const std::string& From, const std::string& To)
{
    for (auto Pos = Text.find(From); Pos != std::string::npos;
         Pos = Text.find(From, Pos + To.size()))
        Text.replace(Pos, From.size(), To);
}

// ---------------------------------------------------------------------------------------------
// The window's part, recorded

class TRecordingReporter : public IProcessReporter
{
public:
    void AddRecent(const std::string& Line) override { Recent.push_back(Line); }
    void ShowBalloon(const std::string& Title, const std::string& Text) override
    {
        Balloons.push_back(Title + " / " + Text);
    }
    void RefreshView() override { ++Refreshes; }

    std::vector<std::string> Recent;
    std::vector<std::string> Balloons;
    int Refreshes = 0;
};

// A real watch on the folder, with a clock the test moves: its ready calls land in a queue the
// test drains, so the test decides when a reported file is processed.
class TWatchProbe
{
public:
    explicit TWatchProbe(const fs::path& Folder)
    {
        TFolderWatchOptions Options;
        Options.Tick = [Clock = FClock] { return Clock->load(); };
        Options.RescanMs = 20;
        FWatch = std::make_unique<TFolderWatch>(
            PathToUtf8(Folder), "*.csv",
            [this](const std::string& FileName) { FReported.push_back(FileName); }, FQueue.Poster(),
            Options);
    }

    TFolderWatch* Watch() const { return FWatch.get(); }
    void MoveClock(std::uint64_t Ms) { *FClock += Ms; }

    /// Whether the watch reports a file while its clock moves on by at most `ClockMs` and
    /// `RealTime` passes; the reported full path, if any.
    std::optional<std::string> Offered(std::uint64_t ClockMs, std::chrono::milliseconds RealTime)
    {
        const std::size_t Before = FReported.size();
        const std::uint64_t End = FClock->load() + ClockMs;
        const auto Deadline = std::chrono::steady_clock::now() + RealTime;
        while (std::chrono::steady_clock::now() < Deadline) {
            std::this_thread::sleep_for(30ms);
            FQueue.RunQueued();
            if (FReported.size() > Before)
                return FReported.back();
            if (FClock->load() + 100 <= End)
                *FClock += 100;
        }
        return std::nullopt;
    }

private:
    std::shared_ptr<std::atomic<std::uint64_t>> FClock =
        std::make_shared<std::atomic<std::uint64_t>>(1'000'000);
    Kit::TPostQueue FQueue;
    std::vector<std::string> FReported;
    std::unique_ptr<TFolderWatch> FWatch;
};

// ---------------------------------------------------------------------------------------------
// The table

constexpr int SimCount = 3;
const char* const SimIps[SimCount] = {"127.0.0.21", "127.0.0.22", "127.0.0.23"};

struct TScaleRow
{
    int Sim = 0;           ///< host and port of this simulator; -1: `Host` and `Port` below
    const char* Host = ""; ///< when Sim is -1
    int Port = 0;          ///< when Sim is -1
    int CodePage = 1251;
    const char* Mask = "*";
    TScaleKind Kind = TScaleKind::skDigi;
    bool Enabled = true;
    const char* Name = "scale";
};

enum class TBefore
{
    bfNothing,
    bfDeleteFile,
    bfBlockProcessed, ///< a plain file named "processed" where the result folder would go
};

struct TCase
{
    const char* Title{};
    const char* Text{};
    std::vector<TScaleRow> Scales{};
    bool NakSim0 = false; ///< simulator 0 refuses the first frame of each connection
    TBefore Before = TBefore::bfNothing;

    // Expected; in texts "{path}" stands for the file's full path, "{ipN}" for simulator N.
    const char* Folder{}; ///< "processed" (dated), "error", "skipped", or "" for staying in place
    const char* ErrText{};
    const char* Recent{};
    const char* Balloon{}; ///< "" for none
    int Refreshes{};
    std::map<int, int> Parses{};      ///< code page -> times the file was read in it
    std::vector<int> Frames{};        ///< frames per simulator
    std::vector<std::string> Lines{}; ///< the per-scale outcome lines, in order
    std::vector<std::pair<const char*, std::string>> Journal{};  ///< level, text: once each
    std::vector<std::pair<const char*, std::string>> Prefixes{}; ///< level, start: once each
    std::vector<std::string> Absent{}; ///< pieces no journal entry may hold
    bool Finished{};                   ///< what MarkFinished said
};

void PrintTo(const TCase& Case, std::ostream* Out)
{
    *Out << Case.Title;
}

const std::string ReadFailedLine = "read failed: {path} ";
const std::string UnterminatedMaskError = [] {
    try {
        MatchesScaleMask("prices.csv", "[abc");
    } catch (const TMaskError& Error) {
        return std::string(Error.what());
    }
    return std::string("no error");
}();

std::vector<TCase> Cases()
{
    using TK = TScaleKind;
    const std::string Warning = "ingredient without a PLU record: 7 file={path}";
    return {
        {.Title = "SentToScalesWithBothCodePagesEachParsedOnce",
         .Text = GoodText,
         // Blank and case-blind masks accept the name; the third scale reuses the 1251 parse.
         .Scales = {{.Sim = 0, .CodePage = 866, .Mask = "  ", .Name = " Весы 1 "},
                    {.Sim = 1, .CodePage = 1251, .Mask = "*.CSV", .Name = "two"},
                    {.Sim = 2, .CodePage = 1250, .Mask = "pr?ces.[a-c]sv;*.txt", .Name = "three"}},
         .Folder = "processed",
         .ErrText = "",
         .Recent = "prices.csv | отправлено 2 PLU",
         .Balloon = "Весы / Отправлено 2 PLU",
         .Refreshes = 1,
         .Parses = {{866, 1}, {1251, 1}},
         .Frames = {2, 2, 2},
         .Lines = {"file={path} ip={ip0} name=Весы 1 kind=digi cp=866 mask=   sent 2 PLU",
                   "file={path} ip={ip1} name=two kind=digi cp=1251 mask=*.CSV sent 2 PLU",
                   "file={path} ip={ip2} name=three kind=digi cp=1251 mask=pr?ces.[a-c]sv;*.txt "
                   "sent 2 PLU"},
         .Journal = {{"WARN", Warning}}, // once per code page: see the count check
         .Finished = true},
        {.Title = "SkippedWhenNoMaskAcceptsTheNameWithoutReadingIt",
         .Text = GoodText,
         .Scales = {{.Sim = 0, .Mask = "*.txt"}, {.Sim = 1, .Mask = "*", .Enabled = false}},
         .Folder = "skipped",
         .ErrText = "",
         .Recent = "prices.csv | нет подходящих весов",
         .Balloon = "Весы / Нет весов для файла: prices.csv",
         .Refreshes = 0,
         .Parses = {},
         .Frames = {0, 0, 0},
         .Journal = {{"INFO", "file={path} skipped, no scale mask matched"}},
         .Finished = true},
        {.Title = "RejectedForADeleteRecordWithoutContactingAnyScale",
         .Text = DeleteText,
         .Scales = {{.Sim = 0}, {.Sim = 1}},
         .Folder = "error",
         .ErrText = "line 3: delete records are not sent",
         .Recent = "prices.csv | отклонён",
         .Balloon = "Весы / Файл отклонён: prices.csv",
         .Refreshes = 0,
         .Parses = {{1251, 1}},
         .Frames = {0, 0, 0},
         .Journal = {{"ERROR", "file={path} cp=1251 line=3 delete records are not sent"}},
         .Absent = {"ingredient without"},
         .Finished = true},
        {.Title = "RejectedInBothCodePagesListsTheErrorsOfEach",
         .Text = DeleteText,
         .Scales = {{.Sim = 1, .CodePage = 1251}, {.Sim = 0, .CodePage = 866}},
         .Folder = "error",
         .ErrText = "line 3: delete records are not sent\r\nline 3: delete records are not sent",
         .Recent = "prices.csv | отклонён",
         .Balloon = "Весы / Файл отклонён: prices.csv",
         .Refreshes = 0,
         .Parses = {{866, 1}, {1251, 1}},
         .Frames = {0, 0, 0},
         .Journal = {{"ERROR", "file={path} cp=1251 line=3 delete records are not sent"},
                     {"ERROR", "file={path} cp=866 line=3 delete records are not sent"}},
         .Finished = true},
        {.Title = "OneScaleRefusingSendsTheFileToErrorWithoutUndoingTheOther",
         .Text = GoodText,
         .Scales = {{.Sim = 0, .Name = "first"}, {.Sim = 1, .Name = "second"}},
         .NakSim0 = true,
         .Folder = "error",
         .ErrText = "one or more scales did not accept the file",
         .Recent = "prices.csv | ошибка отправки",
         .Balloon = "Весы / Ошибка отправки: prices.csv",
         .Refreshes = 1,
         .Parses = {{1251, 1}},
         .Frames = {1, 2, 0},
         .Lines = {"file={path} ip={ip0} name=first kind=digi cp=1251 mask=* PLU 1 was not "
                   "acknowledged",
                   "file={path} ip={ip1} name=second kind=digi cp=1251 mask=* sent 2 PLU"},
         .Finished = true},
        {.Title = "NoEnabledScaleParsesIn1251AndFilesItAsProcessed",
         .Text = GoodText,
         .Scales = {{.Sim = 0, .CodePage = 866, .Enabled = false}},
         .Folder = "processed",
         .ErrText = "",
         .Recent = "prices.csv | разобрано, не отправлено 2 PLU",
         .Balloon = "Весы / Разобрано 2 PLU, не отправлено",
         .Refreshes = 1,
         .Parses = {{1251, 1}},
         .Frames = {0, 0, 0},
         .Journal = {{"INFO", "file={path} parsed 2 PLU, no enabled scales"}, {"WARN", Warning}},
         .Finished = true},
        {.Title = "OnlyAScaleWithAnEmptyHostCountsAsFailed",
         .Text = GoodText,
         .Scales = {{.Sim = -1, .Host = " \t", .Port = 2001, .CodePage = 866}},
         .Folder = "error",
         .ErrText = "one or more scales did not accept the file",
         .Recent = "prices.csv | ошибка отправки",
         .Balloon = "Весы / Ошибка отправки: prices.csv",
         .Refreshes = 1,
         .Parses = {{1251, 1}},
         .Frames = {0, 0, 0},
         .Journal = {{"WARN", "skipped scale with empty host"},
                     {"INFO", "file={path} parsed 2 PLU, no enabled scales"}},
         .Finished = true},
        {.Title = "ScalesWithAPortOutsideTheRangeAreSkippedAsFailed",
         .Text = GoodText,
         .Scales = {{.Sim = -1, .Host = "127.0.0.21", .Port = 65536},
                    {.Sim = -1, .Host = "127.0.0.22", .Port = -1},
                    {.Sim = 2}},
         .Folder = "error",
         .ErrText = "one or more scales did not accept the file",
         .Recent = "prices.csv | ошибка отправки",
         .Balloon = "Весы / Ошибка отправки: prices.csv",
         .Refreshes = 1,
         .Parses = {{1251, 1}},
         .Frames = {0, 0, 2},
         .Lines = {"file={path} ip={ip2} name=scale kind=digi cp=1251 mask=* sent 2 PLU"},
         .Journal = {{"WARN", "skipped scale with invalid port: 127.0.0.21"},
                     {"WARN", "skipped scale with invalid port: 127.0.0.22"}},
         .Finished = true},
        {.Title = "OnlyMakesWithoutProtocolParseButSendNothing",
         .Text = GoodText,
         .Scales = {{.Sim = 0, .Kind = TK::skCas, .Name = "cas"},
                    {.Sim = 1, .CodePage = 866, .Kind = TK::skMer, .Name = "mer"}},
         .Folder = "processed",
         .ErrText = "",
         .Recent = "prices.csv | разобрано, не отправлено 2 PLU",
         .Balloon = "Весы / Разобрано 2 PLU, не отправлено",
         .Refreshes = 1,
         .Parses = {{866, 1}, {1251, 1}},
         .Frames = {0, 0, 0},
         .Lines = {"file={path} ip={ip0} name=cas kind=cas cp=1251 mask=* CAS protocol is not "
                   "connected yet",
                   "file={path} ip={ip1} name=mer kind=m-er cp=866 mask=* M-ER protocol is not "
                   "connected yet"},
         .Absent = {"no enabled scales"},
         .Finished = true},
        {.Title = "FileDeletedBeforeProcessingIsAReadFailure",
         .Text = GoodText,
         .Scales = {{.Sim = 0}},
         .Before = TBefore::bfDeleteFile,
         .Folder = "",
         .ErrText = "",
         .Recent = "prices.csv | ошибка чтения",
         .Balloon = "",
         .Refreshes = 0,
         .Parses = {{1251, 1}},
         .Frames = {0, 0, 0},
         .Prefixes = {{"ERROR", ReadFailedLine}},
         .Finished = false},
        {.Title = "UnterminatedSetInAScaleMaskLeavesTheFileInPlace",
         .Text = GoodText,
         .Scales = {{.Sim = 0}, {.Sim = 1, .Mask = "[abc"}},
         .Folder = "",
         .ErrText = "",
         .Recent = "prices.csv | ошибка чтения",
         .Balloon = "",
         .Refreshes = 0,
         .Parses = {{1251, 1}},
         .Frames = {0, 0, 0},
         .Journal = {{"ERROR", ReadFailedLine + UnterminatedMaskError}},
         .Finished = false},
        // A scale without host is left out of the first look at the masks; its bad mask must
        // still stop the file before the scale ahead of it is sent anything, or every retry
        // would send it there again.
        {.Title = "UnterminatedMaskBehindAnEmptyHostStopsTheFileBeforeAnyUpload",
         .Text = GoodText,
         .Scales = {{.Sim = 0}, {.Sim = -1, .Host = "", .Mask = "[abc"}},
         .Folder = "",
         .ErrText = "",
         .Recent = "prices.csv | ошибка чтения",
         .Balloon = "",
         .Refreshes = 0,
         .Parses = {{1251, 1}},
         .Frames = {0, 0, 0},
         .Journal = {{"ERROR", ReadFailedLine + UnterminatedMaskError}},
         .Absent = {" name="},
         .Finished = false},
        {.Title = "FailedMoveAfterTheUploadLeavesTheFileForARetry",
         .Text = GoodText,
         .Scales = {{.Sim = 0}},
         .Before = TBefore::bfBlockProcessed,
         .Folder = "",
         .ErrText = "",
         .Recent = "prices.csv | отправлено 2 PLU",
         .Balloon = "Весы / Отправлено 2 PLU",
         .Refreshes = 1,
         .Parses = {{1251, 1}},
         .Frames = {2, 0, 0},
         .Lines = {"file={path} ip={ip0} name=scale kind=digi cp=1251 mask=* sent 2 PLU"},
         .Prefixes = {{"ERROR", "cannot move file: "}},
         .Finished = false},
    };
}

class ProcessFileOutcome : public ::testing::TestWithParam<TCase>
{
protected:
    void SetUp() override
    {
        fs::create_directories(Watched);
        for (int I = 0; I < SimCount; ++I) {
            Tool::TScaleSimOptions Options;
            Options.BindIp = SimIps[I];
            if (I == 0 && GetParam().NakSim0)
                Options.Answer = Tool::SimAnswerAfter(0, -1, -1);
            std::string Error;
            ASSERT_TRUE(Sims[I].Start(std::move(Options), Error)) << Error;
        }
        Settings.WatchFolder = PathToUtf8(Watched);
        Settings.ConnectTimeoutMs = 300;
        for (const TScaleRow& Row : GetParam().Scales) {
            TScaleConfig Scale;
            Scale.Enabled = Row.Enabled;
            Scale.Host = Row.Sim >= 0 ? SimIps[Row.Sim] : Row.Host;
            Scale.Port = Row.Sim >= 0 ? Sims[Row.Sim].Port() : Row.Port;
            Scale.Kind = Row.Kind;
            Scale.FileCodePage = Row.CodePage;
            Scale.FileMask = Row.Mask;
            Scale.Name = Row.Name;
            Settings.Scales.push_back(Scale);
        }
        Hooks.ParseFile = [this](const fs::path& File, int CodePage, TPluParseResult& Result) {
            ++Parses[CodePage];
            ParsePluFile(File, CodePage, Result);
        };
    }

    std::string Expand(std::string Text) const
    {
        ReplaceAll(Text, "{path}", Path);
        for (int I = 0; I < SimCount; ++I)
            ReplaceAll(Text, "{ip" + std::to_string(I) + "}", SimIps[I]);
        return Text;
    }

    Kit::TTempDataFolder Data;
    Kit::TTempDir Dir;
    fs::path Watched = Dir.Path() / "in";
    Tool::TScaleSim Sims[SimCount];
    TLoaderSettings Settings;
    TProcessHooks Hooks;
    std::map<int, int> Parses;
    TRecordingReporter Reporter;
    std::string Path;
};

TEST_P(ProcessFileOutcome, EndsAsItShould)
{
    const TCase& Case = GetParam();
    const fs::path File = Watched / "prices.csv";
    const std::string Bytes = Cp1251(Case.Text);
    WriteBytes(File, Bytes);

    TWatchProbe Probe(Watched);
    const auto Reported = Probe.Offered(1000, 5000ms);
    ASSERT_TRUE(Reported) << "the watch never reported the file";
    Path = *Reported;
    ASSERT_EQ(PathFromUtf8(Path), File);

    if (Case.Before == TBefore::bfDeleteFile)
        fs::remove(File);
    if (Case.Before == TBefore::bfBlockProcessed)
        WriteBytes(Watched / "processed", "in the way");

    const TLocalDateTime Before = LocalNow();
    TProcessMemory Memory;
    ProcessFile(Path, &Settings, Probe.Watch(), Reporter, Memory, Hooks);
    const TLocalDateTime After = LocalNow();

    // Where the file went, whole, and what lies beside it.
    const std::string Folder = Case.Folder;
    if (Folder.empty()) {
        EXPECT_EQ(fs::exists(File), Case.Before != TBefore::bfDeleteFile);
        if (Case.Before != TBefore::bfDeleteFile) {
            EXPECT_EQ(Kit::ReadFileBytes(File), Bytes);
        }
        for (const char* Result : {"error", "skipped"})
            EXPECT_FALSE(fs::exists(Watched / Result)) << Result;
        if (Case.Before != TBefore::bfBlockProcessed) {
            EXPECT_FALSE(fs::exists(Watched / "processed"));
        }
    } else {
        EXPECT_FALSE(fs::exists(File));
        fs::path Target = Watched / Folder;
        if (Folder == "processed") {
            Target /= DateFolder(Before);
            if (!fs::exists(Target))
                Target = Watched / Folder / DateFolder(After);
        }
        EXPECT_EQ(Kit::ReadFileBytes(Target / "prices.csv"), Bytes);
        const std::string Err = Case.ErrText;
        if (Err.empty()) {
            EXPECT_FALSE(fs::exists(Target / "prices.csv.err"));
        } else {
            EXPECT_EQ(Kit::ReadFileBytes(Target / "prices.csv.err"), "\xEF\xBB\xBF" + Err);
        }
    }

    // The user's view.
    EXPECT_EQ(Reporter.Recent, std::vector<std::string>{Case.Recent});
    const std::string Balloon = Case.Balloon;
    EXPECT_EQ(Reporter.Balloons,
              Balloon.empty() ? std::vector<std::string>{} : std::vector<std::string>{Balloon});
    EXPECT_EQ(Reporter.Refreshes, Case.Refreshes);

    // What was read and what the scales received.
    EXPECT_EQ(Parses, Case.Parses);
    for (int I = 0; I < SimCount; ++I)
        EXPECT_EQ(Sims[I].FrameCount(), Case.Frames.at(static_cast<std::size_t>(I)))
            << "simulator " << I;

    // The journal: exactly the expected per-scale lines, in settings order, and the rest once.
    std::vector<std::string> Lines;
    for (const std::string& Text : Kit::JournalTexts("INFO"))
        if (Text.rfind("file=" + Path + " ip=", 0) == 0 && Text.find(" name=") != std::string::npos)
            Lines.push_back(Text);
    std::vector<std::string> Expected;
    for (const std::string& Line : Case.Lines)
        Expected.push_back(Expand(Line));
    EXPECT_EQ(Lines, Expected);
    const std::size_t CodePages = Case.Parses.size();
    for (const auto& [Level, Text] : Case.Journal) {
        const std::string Line = Expand(Text);
        const auto Texts = Kit::JournalTexts(Level);
        // Warnings are journaled once per code page the file was read in.
        const std::size_t Want =
            Line.find("ingredient without") != std::string::npos ? CodePages : 1;
        EXPECT_EQ(static_cast<std::size_t>(std::count(Texts.begin(), Texts.end(), Line)), Want)
            << Level << " " << Line;
    }
    for (const auto& [Level, Start] : Case.Prefixes) {
        const std::string Prefix = Expand(Start);
        int Count = 0;
        for (const std::string& Text : Kit::JournalTexts(Level))
            Count += Text.rfind(Prefix, 0) == 0 ? 1 : 0;
        EXPECT_EQ(Count, 1) << Level << " " << Prefix;
    }
    for (const std::string& Piece : Case.Absent)
        EXPECT_EQ(Kit::CountJournal("INFO", Piece) + Kit::CountJournal("WARN", Piece) +
                      Kit::CountJournal("ERROR", Piece),
                  0)
            << Piece;

    // What the watch was told: a file that went away is offered at once when one of that name
    // comes again; one that stayed only after the cool-down.
    if (!fs::exists(File))
        WriteBytes(File, Bytes);
    if (Case.Before == TBefore::bfBlockProcessed)
        fs::remove(Watched / "processed");
    if (Case.Finished) {
        EXPECT_TRUE(Probe.Offered(1000, 5000ms)) << "not offered again after a finished file";
    } else {
        EXPECT_FALSE(Probe.Offered(1000, 500ms)) << "offered again within the cool-down";
        Probe.MoveClock(TFolderWatch::CooldownMs);
        const auto Again = Probe.Offered(1000, 5000ms);
        ASSERT_TRUE(Again.has_value()) << "not offered again after the cool-down";
        // A file uploaded but not filed away is only moved once it can be: sent again, it would
        // put an older list over a newer one on the scale.
        if (Case.Before == TBefore::bfBlockProcessed) {
            ProcessFile(*Again, &Settings, Probe.Watch(), Reporter, Memory, Hooks);
            EXPECT_EQ(Sims[0].FrameCount(), Case.Frames[0]);
            EXPECT_EQ(Parses, Case.Parses) << "read again for a move alone";
            EXPECT_FALSE(fs::exists(File));
            EXPECT_TRUE(fs::exists(Watched / "processed" / DateFolder(LocalNow()) / "prices.csv"));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Outcomes, ProcessFileOutcome, ::testing::ValuesIn(Cases()),
                         [](const auto& Info) { return std::string(Info.param.Title); });

// ---------------------------------------------------------------------------------------------

// Records every upload instead of sending it.
class TSpyDriver : public IScaleDriver
{
public:
    struct TCall
    {
        TScaleKind Kind;
        std::string Host;
        std::int32_t Port;
        std::int32_t TimeoutMs;
        std::string LocalIp;
        std::string Model;
        std::string SourceFile;
        std::size_t Items;
    };

    TSpyDriver(TScaleKind Kind, std::vector<TCall>& Calls, TUploadResult Result)
        : FKind(Kind), FCalls(Calls), FResult(std::move(Result))
    {
    }
    TScaleKind Kind() const override { return FKind; }
    bool Identify(const std::string&, std::int32_t, std::int32_t, std::string& Model) override
    {
        Model.clear();
        return false;
    }
    TUploadResult Upload(const std::string& Host, std::int32_t Port, std::int32_t TimeoutMs,
                         const std::string& LocalIp, const std::string& Model,
                         const std::string& SourceFile,
                         const std::vector<TPluRecord>& Items) override
    {
        FCalls.push_back({FKind, Host, Port, TimeoutMs, LocalIp, Model, SourceFile, Items.size()});
        return FResult;
    }

private:
    TScaleKind FKind;
    std::vector<TCall>& FCalls;
    TUploadResult FResult;
};

class ProcessFileTest : public ::testing::Test
{
protected:
    Kit::TTempDataFolder Data;
    Kit::TTempDir Dir;
    TRecordingReporter Reporter;
};

TEST_F(ProcessFileTest, EveryDriverGetsTheSettingsValuesAndANewDriverEachTime)
{
    const fs::path File = Dir.Path() / "prices.csv";
    WriteBytes(File, Cp1251(GoodText));
    TLoaderSettings Settings;
    Settings.ConnectTimeoutMs = 1234; // passed on as it is; the driver decides what it allows
    Settings.AdapterIp = "127.0.0.1";
    TScaleConfig Digi;
    Digi.Enabled = true;
    Digi.Host = "127.0.0.9";
    Digi.Port = 0; // the driver works the default out
    Digi.Model = "SM-120";
    TScaleConfig Cas = Digi;
    Cas.Kind = TScaleKind::skCas;
    Cas.Host = "127.0.0.10";
    Cas.Port = 65535;
    Cas.Model = "";
    Settings.Scales = {Digi, Cas};

    std::vector<TSpyDriver::TCall> Calls;
    int Created = 0;
    TProcessHooks Hooks;
    Hooks.CreateDriver = [&](TScaleKind Kind) -> TScaleDriverRef {
        ++Created;
        return std::make_shared<TSpyDriver>(Kind, Calls,
                                            TUploadResult{TUploadStatus::usSent, "ok"});
    };
    const std::string Path = PathToUtf8(File);
    ProcessFile(Path, &Settings, nullptr, Reporter, Hooks);

    EXPECT_EQ(Created, 2);
    ASSERT_EQ(Calls.size(), 2u);
    EXPECT_EQ(Calls[0].Kind, TScaleKind::skDigi);
    EXPECT_EQ(Calls[0].Host, "127.0.0.9");
    EXPECT_EQ(Calls[0].Port, 0);
    EXPECT_EQ(Calls[0].TimeoutMs, 1234);
    EXPECT_EQ(Calls[0].LocalIp, "127.0.0.1");
    EXPECT_EQ(Calls[0].Model, "SM-120");
    EXPECT_EQ(Calls[0].SourceFile, Path);
    EXPECT_EQ(Calls[0].Items, 2u);
    EXPECT_EQ(Calls[1].Kind, TScaleKind::skCas);
    EXPECT_EQ(Calls[1].Port, 65535);
    EXPECT_EQ(Reporter.Recent, std::vector<std::string>{"prices.csv | отправлено 2 PLU"});
}

// Without settings nothing is decided: the file stays untouched and unreported, and the watch is
// told so, so the file is offered again after the cool-down instead of never.
TEST_F(ProcessFileTest, WithoutSettingsTheFileStaysForTheCooldown)
{
    const fs::path File = Dir.WriteFile("prices.csv", Cp1251(GoodText));
    TWatchProbe Probe(Dir.Path());
    const auto Reported = Probe.Offered(1000, 5000ms);
    ASSERT_TRUE(Reported.has_value());
    ProcessFile(*Reported, nullptr, Probe.Watch(), Reporter);
    EXPECT_EQ(Kit::ReadFileBytes(File), Cp1251(GoodText));
    EXPECT_TRUE(Reporter.Recent.empty());
    EXPECT_TRUE(Reporter.Balloons.empty());
    EXPECT_TRUE(Kit::JournalEntries().empty());
    EXPECT_FALSE(Probe.Offered(1000, 500ms).has_value());
    Probe.MoveClock(TFolderWatch::CooldownMs);
    EXPECT_TRUE(Probe.Offered(1000, 5000ms).has_value());
}

// Nothing that escapes while a file is handled may reach the caller: a driver or parser that
// throws is a failure of that file, journaled, and the file stays for a retry.
TEST_F(ProcessFileTest, AFailureEscapingADriverIsCaughtAndTheFileStays)
{
    const fs::path File = Dir.WriteFile("prices.csv", Cp1251(GoodText));
    TLoaderSettings Settings;
    TScaleConfig Scale;
    Scale.Enabled = true;
    Scale.Host = "127.0.0.9";
    Settings.Scales = {Scale};
    TProcessHooks Hooks;
    Hooks.CreateDriver = [](TScaleKind) -> TScaleDriverRef {
        throw std::runtime_error("out of drivers");
    };
    const std::string Path = PathToUtf8(File);
    EXPECT_NO_THROW(ProcessFile(Path, &Settings, nullptr, Reporter, Hooks));
    EXPECT_TRUE(fs::exists(File));
    EXPECT_EQ(Kit::CountJournal("ERROR", "read failed: " + Path + " out of drivers"), 1);
    EXPECT_EQ(Reporter.Recent, std::vector<std::string>{"prices.csv | ошибка чтения"});
    EXPECT_TRUE(Reporter.Balloons.empty());
}

// The 866 scale gets the file's bytes read as 866, the 1251 scale the same bytes read as 1251;
// both arrive in the scale's own code page 866.
TEST_F(ProcessFileTest, EachScaleGetsTheTextsOfItsOwnCodePage)
{
    Tool::TScaleSim Sim866, Sim1251;
    std::string Error;
    Tool::TScaleSimOptions Options;
    Options.BindIp = "127.0.0.24";
    ASSERT_TRUE(Sim866.Start(Options, Error)) << Error;
    ASSERT_TRUE(Sim1251.Start(Options, Error)) << Error;
    const fs::path File = Dir.WriteFile("prices.csv", Cp1251(GoodText));
    TLoaderSettings Settings;
    Settings.ConnectTimeoutMs = 300;
    TScaleConfig Scale;
    Scale.Enabled = true;
    Scale.Host = "127.0.0.24";
    Scale.FileCodePage = 866;
    Scale.Port = Sim866.Port();
    Settings.Scales.push_back(Scale);
    Scale.FileCodePage = 1251;
    Scale.Port = Sim1251.Port();
    Settings.Scales.push_back(Scale);

    ProcessFile(PathToUtf8(File), &Settings, nullptr, Reporter);

    const auto Got866 = Sim866.Frames();
    const auto Got1251 = Sim1251.Frames();
    ASSERT_EQ(Got866.size(), 2u);
    ASSERT_EQ(Got1251.size(), 2u);
    const std::string Raw = Cp1251("Хлеб"); // D5 EB E5 E1: "╒ыхс" when read as 866
    std::string Bread866;
    ASSERT_TRUE(EncodeCodePage("Хлеб", 866, Bread866));
    EXPECT_TRUE(Contains(Got866[0].Bytes, Raw));
    EXPECT_FALSE(Contains(Got866[0].Bytes, Bread866));
    EXPECT_TRUE(Contains(Got1251[0].Bytes, Bread866));
    EXPECT_FALSE(Contains(Got1251[0].Bytes, Raw));
}

// ---------------------------------------------------------------------------------------------
// The newest prices win

// The same article, first at yesterday's price, then at today's.
const char* const OldPrices = "A;1;1234567;10,00;0;0;5;Хлеб вчерашний\r\n";
const char* const NewPrices = "A;1;1234567;20,00;0;0;5;Хлеб свежий\r\n";

std::string Cp866(const std::string& Utf8)
{
    std::string Bytes;
    EXPECT_TRUE(EncodeCodePage(Utf8, 866, Bytes));
    return Bytes;
}

/// Whether the last frame the simulator received carries `Name`.
bool LastFrameNames(const Tool::TScaleSim& Sim, const std::string& Name)
{
    const auto Frames = Sim.Frames();
    return !Frames.empty() && Contains(Frames.back().Bytes, Cp866(Name));
}

class NewestPricesTest : public ::testing::Test
{
protected:
    void StartScale(Tool::TScaleSimOptions Options)
    {
        fs::create_directories(Watched);
        Options.BindIp = "127.0.0.27";
        std::string Error;
        ASSERT_TRUE(Sim.Start(std::move(Options), Error)) << Error;
        Settings.WatchFolder = PathToUtf8(Watched);
        Settings.ConnectTimeoutMs = 300;
        TScaleConfig Scale;
        Scale.Enabled = true;
        Scale.Host = "127.0.0.27";
        Scale.Port = Sim.Port();
        Settings.Scales = {Scale};
    }

    Kit::TTempDataFolder Data;
    Kit::TTempDir Dir;
    fs::path Watched = Dir.Path() / "in";
    Tool::TScaleSim Sim;
    TLoaderSettings Settings;
    TRecordingReporter Reporter;
    TProcessMemory Memory;
};

// The back office renames a new list over the file while the old one is being sent: the new
// file is not filed away as sent. It stays, is offered again at once (no cool-down), and is sent
// whole in its own turn.
TEST_F(NewestPricesTest, AFileReplacedWhileItIsSentStaysAndIsSentWholeInItsOwnTurn)
{
    const fs::path File = Watched / "prices.csv";
    Tool::TScaleSimOptions Options;
    Options.OnFrame = [&](const Tool::TSimFrame& Frame) {
        if (Frame.Connection != 1 || Frame.Number != 1)
            return;
        WriteBytes(Watched / "prices.tmp", Cp1251(NewPrices));
        fs::rename(Watched / "prices.tmp", File);
    };
    StartScale(std::move(Options));
    WriteBytes(File, Cp1251(OldPrices));
    TWatchProbe Probe(Watched);
    const auto Reported = Probe.Offered(1000, 5000ms);
    ASSERT_TRUE(Reported);
    const std::string Path = *Reported;

    ProcessFile(Path, &Settings, Probe.Watch(), Reporter, Memory);
    EXPECT_EQ(Kit::ReadFileBytes(File), Cp1251(NewPrices));
    EXPECT_FALSE(fs::exists(Watched / "processed")) << "the new list was filed as sent";
    EXPECT_EQ(Kit::CountJournal("WARN", "file=" + Path + " was replaced while it was processed"),
              1);

    const auto Again = Probe.Offered(1000, 5000ms);
    ASSERT_TRUE(Again) << "the new file waits for a cool-down it does not need";
    ProcessFile(*Again, &Settings, Probe.Watch(), Reporter, Memory);
    EXPECT_FALSE(fs::exists(File));
    EXPECT_EQ(Kit::ReadFileBytes(Watched / "processed" / DateFolder(LocalNow()) / "prices.csv"),
              Cp1251(NewPrices));
    EXPECT_EQ(Sim.Connections(), 2);
    EXPECT_TRUE(LastFrameNames(Sim, "Хлеб свежий"));
}

// The result folder cannot be made (something in its way, as with a full disk): each file is
// uploaded once, and its later turns only try the move. A newer file sent meanwhile stays the
// last one on the scale, and each failure is journaled once, not at every retry.
TEST_F(NewestPricesTest, AFailedMoveIsRetriedWithoutANewUploadSoTheNewerListStaysOnTheScale)
{
    StartScale({});
    WriteBytes(Watched / "processed", "in the way");
    const fs::path Older = Watched / "a.csv";
    const fs::path Newer = Watched / "b.csv";
    WriteBytes(Older, Cp1251(OldPrices));
    WriteBytes(Newer, Cp1251(NewPrices));
    const std::string OlderPath = PathToUtf8(Older);
    const std::string NewerPath = PathToUtf8(Newer);

    for (const std::string& Path : {OlderPath, NewerPath, OlderPath, NewerPath, OlderPath})
        ProcessFile(Path, &Settings, nullptr, Reporter, Memory);
    EXPECT_EQ(Sim.Connections(), 2) << "a file whose move failed was uploaded again";
    EXPECT_TRUE(LastFrameNames(Sim, "Хлеб свежий"));
    EXPECT_TRUE(fs::exists(Older));
    EXPECT_TRUE(fs::exists(Newer));

    fs::remove(Watched / "processed");
    for (const std::string& Path : {OlderPath, NewerPath})
        ProcessFile(Path, &Settings, nullptr, Reporter, Memory);
    EXPECT_EQ(Sim.Connections(), 2);
    EXPECT_TRUE(LastFrameNames(Sim, "Хлеб свежий"));
    const fs::path Today = Watched / "processed" / DateFolder(LocalNow());
    EXPECT_EQ(Kit::ReadFileBytes(Today / "a.csv"), Cp1251(OldPrices));
    EXPECT_EQ(Kit::ReadFileBytes(Today / "b.csv"), Cp1251(NewPrices));
    EXPECT_EQ(Kit::CountJournal("ERROR", "cannot move file: "), 2);
    EXPECT_EQ(Kit::CountJournal("WARN", "was given to the scales already"), 2);
    EXPECT_EQ(Kit::CountJournal("INFO", "after its earlier move failed"), 2);
    EXPECT_EQ(Memory.Size(), 0u);
}

// A file whose move is due but that was replaced in the meantime is a new file: it is sent.
TEST_F(NewestPricesTest, ANewFileUnderTheNameOfOneWhoseMoveFailedIsSent)
{
    StartScale({});
    WriteBytes(Watched / "processed", "in the way");
    const fs::path File = Watched / "prices.csv";
    WriteBytes(File, Cp1251(OldPrices));
    const std::string Path = PathToUtf8(File);
    ProcessFile(Path, &Settings, nullptr, Reporter, Memory);
    WriteBytes(Watched / "prices.tmp", Cp1251(NewPrices));
    fs::rename(Watched / "prices.tmp", File);
    fs::remove(Watched / "processed");
    ProcessFile(Path, &Settings, nullptr, Reporter, Memory);
    EXPECT_EQ(Sim.Connections(), 2);
    EXPECT_TRUE(LastFrameNames(Sim, "Хлеб свежий"));
    EXPECT_EQ(Kit::ReadFileBytes(Watched / "processed" / DateFolder(LocalNow()) / "prices.csv"),
              Cp1251(NewPrices));
}

} // namespace
} // namespace Plumeria
