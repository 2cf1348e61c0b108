#include "core/Journal/Journal.h"

#include "platform/Environment.h"
#include "support/FileSizeLimit.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace Plumeria {
namespace {

namespace fs = std::filesystem;
using Test::ReadFileBytes;
using Test::TTempDataFolder;
using Test::TTempDir;

/// Sets or removes one environment variable for the life of the object (through the wide calls
/// on Windows, so a temporary folder under a Cyrillic user name survives).
using TEnvGuard = Test::TScopedEnv;

constexpr TLocalDateTime Morning{2024, 3, 5, 7, 8, 9};
constexpr const char* MorningStamp = "2024-03-05 07:08:09";

/// A fresh data folder and a clock the test sets by hand.
class JournalTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetJournalClock([this] { return FNow; });
    }
    void TearDown() override { SetJournalClock({}); }

    fs::path LogFile(const std::string& Date) const
    {
        return FData.DataDir() / "logs" / (Date + ".log");
    }
    std::string Today() const { return ReadFileBytes(LogFile("2024-03-05")); }
    /// Writes today's file directly, as another program (or an older run) would have left it.
    void WriteToday(const std::string& Bytes) const
    {
        fs::create_directories(FData.DataDir() / "logs");
        WriteBytes(LogFile("2024-03-05"), Bytes);
    }
    static void WriteBytes(const fs::path& Path, const std::string& Bytes)
    {
        std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
        Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
        ASSERT_TRUE(Out.good()) << Path;
    }

    TTempDataFolder FData;
    TLocalDateTime FNow = Morning;
};

/// The last `Count` lines of `Bytes` the simple way: split everything, drop the empty piece after
/// a final line feed, strip the CR of each CR LF.
std::string ReferenceTail(const std::string& Bytes, int Count)
{
    std::vector<std::string> Lines;
    std::size_t Begin = 0;
    while (Begin < Bytes.size()) {
        std::size_t End = Bytes.find('\n', Begin);
        if (End == std::string::npos)
            End = Bytes.size();
        std::string Line = Bytes.substr(Begin, End - Begin);
        if (!Line.empty() && Line.back() == '\r')
            Line.pop_back();
        Lines.push_back(Line);
        Begin = End + 1;
    }
    std::string Out;
    const std::size_t From =
        Lines.size() > static_cast<std::size_t>(Count) ? Lines.size() - Count : 0;
    for (std::size_t I = From; I < Lines.size(); ++I) {
        if (I > From)
            Out += "\r\n";
        Out += Lines[I];
    }
    return Out;
}

TEST_F(JournalTest, DataFolderIsUnderProgramDataAndProbeIsRemoved)
{
    EXPECT_EQ(DataFolder(), FData.DataDir());
    EXPECT_TRUE(fs::is_directory(FData.DataDir()));
    EXPECT_FALSE(fs::exists(FData.DataDir() / "write.probe"));

    EXPECT_EQ(LogFilePath(), LogFile("2024-03-05"));
    EXPECT_TRUE(fs::is_directory(FData.DataDir() / "logs")) << "worked out path creates logs";
    EXPECT_FALSE(fs::exists(LogFile("2024-03-05"))) << "no entry yet, no file";
}

TEST_F(JournalTest, EveryKindWritesOneLineInTheFixedFormat)
{
    const std::vector<std::uint8_t> Bytes = {0x0A, 0xFF};
    struct TCase
    {
        std::function<void()> Write;
        std::string Line;
    };
    const TCase Cases[] = {
        {[] { LogInfo("started 1.0.3"); }, " | INFO | started 1.0.3\r\n"},
        {[] { LogWarn("file=a.csv skipped"); }, " | WARN | file=a.csv skipped\r\n"},
        {[] { LogError("file=Цены.csv error=\"нет\""); },
         " | ERROR | file=Цены.csv error=\"нет\"\r\n"},
        {[&] { LogExchange("127.0.0.1", 2010, "tx", Bytes); },
         " | EXCH | ip=127.0.0.1 port=2010 dir=tx bytes=2 hex=0A FF\r\n"},
        {[] { LogExchange("127.0.0.5", 2005, "rx", {}); },
         " | EXCH | ip=127.0.0.5 port=2005 dir=rx bytes=0 hex=\r\n"},
        // A text with its own line breaks is written unchanged.
        {[] { LogInfo("two\nlines"); }, " | INFO | two\nlines\r\n"},
        {[] { LogInfo(""); }, " | INFO | \r\n"},
    };
    std::string Expected;
    for (const auto& Case : Cases) {
        Case.Write();
        Expected += MorningStamp + Case.Line;
        ASSERT_EQ(Today(), Expected);
    }
}

TEST_F(JournalTest, TimeIsZeroPaddedTwentyFourHour)
{
    FNow = {2025, 1, 2, 23, 4, 5};
    LogError("late");
    EXPECT_EQ(ReadFileBytes(LogFile("2025-01-02")), "2025-01-02 23:04:05 | ERROR | late\r\n");
}

TEST_F(JournalTest, ErrorsLevelWritesOnlyErrorLines)
{
    const std::vector<std::uint8_t> Bytes = {1, 2, 3};
    SetLogLevel(TLogLevel::llErrors);
    LogInfo("info");
    LogWarn("warn");
    LogExchange("127.0.0.1", 2001, "tx", Bytes);
    EXPECT_FALSE(fs::exists(LogFile("2024-03-05"))) << "nothing but errors leaves a trace";

    LogError("error");
    LogInfo("info again");
    EXPECT_EQ(Today(), std::string(MorningStamp) + " | ERROR | error\r\n");

    SetLogLevel(TLogLevel::llMaximum);
    LogInfo("info");
    EXPECT_EQ(Today(), std::string(MorningStamp) + " | ERROR | error\r\n" + MorningStamp +
                           " | INFO | info\r\n");
}

TEST(JournalHexDump, DumpRules)
{
    const std::vector<std::uint8_t> Three = {0x00, 0x7F, 0xAB};
    struct TCase
    {
        std::vector<std::uint8_t> Data;
        std::size_t Limit;
        std::string Dump;
    };
    const TCase Cases[] = {
        {{}, 4096, ""},          {{0x0A, 0xFF}, 4096, "0A FF"}, {Three, 3, "00 7F AB"},
        {Three, 2, "00 7F ..."}, {Three, 1, "00 ..."},          {{}, 0, ""},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(HexDump(Case.Data, Case.Limit), Case.Dump) << Case.Limit;
}

TEST_F(JournalTest, ExchangeDumpStopsAt4096Bytes)
{
    struct TCase
    {
        std::size_t Size;
        std::size_t Dumped;
        bool Cut;
    };
    const TCase Cases[] = {
        {4095, 4095, false}, {4096, 4096, false}, {4097, 4096, true}, {5000, 4096, true}};
    for (const auto& Case : Cases) {
        fs::remove(LogFile("2024-03-05"));
        std::vector<std::uint8_t> Data(Case.Size);
        for (std::size_t I = 0; I < Data.size(); ++I)
            Data[I] = static_cast<std::uint8_t>(I * 7);
        LogExchange("127.0.0.1", 2001, "rx", Data);

        std::string Dump;
        for (std::size_t I = 0; I < Case.Dumped; ++I) {
            static constexpr char Hex[] = "0123456789ABCDEF";
            if (I > 0)
                Dump += ' ';
            Dump += Hex[Data[I] >> 4];
            Dump += Hex[Data[I] & 15];
        }
        if (Case.Cut)
            Dump += " ...";
        EXPECT_EQ(Today(), std::string(MorningStamp) + " | EXCH | ip=127.0.0.1 port=2001 dir=rx " +
                               "bytes=" + std::to_string(Case.Size) + " hex=" + Dump + "\r\n")
            << Case.Size;
    }
}

TEST(JournalLevel, NamesAndParsing)
{
    EXPECT_EQ(LogLevelName(TLogLevel::llErrors), "errors");
    EXPECT_EQ(LogLevelName(TLogLevel::llMaximum), "max");

    struct TCase
    {
        std::string Text;
        std::optional<TLogLevel> Level;
    };
    const TCase Cases[] = {
        {"errors", TLogLevel::llErrors},
        {"error", TLogLevel::llErrors},
        {"\tERRORS\r\n", TLogLevel::llErrors},
        {"Error", TLogLevel::llErrors},
        {"max", TLogLevel::llMaximum},
        {"  Max  ", TLogLevel::llMaximum},
        {"MAXIMUM", TLogLevel::llMaximum},
        {"", TLogLevel::llMaximum},
        {" \t ", TLogLevel::llMaximum},
        {"debug", std::nullopt},
        {"max imum", std::nullopt},
        {"err", std::nullopt},
        {"0", std::nullopt},
        // Only ASCII letters fold: letters that Unicode case folding turns into ASCII ones
        // (LATIN CAPITAL I WITH DOT ABOVE to i, LATIN SMALL LONG S to s) are no level.
        {"MAX\xC4\xB0MUM", std::nullopt},
        {"ERROR\xC5\xBF", std::nullopt},
    };
    for (const auto& Case : Cases) {
        for (const TLogLevel Start : {TLogLevel::llErrors, TLogLevel::llMaximum}) {
            TLogLevel Level = Start;
            EXPECT_EQ(TryParseLogLevel(Case.Text, Level), Case.Level.has_value()) << Case.Text;
            EXPECT_EQ(Level, Case.Level.value_or(Start)) << "'" << Case.Text << "'";
        }
    }
}

TEST(JournalLevel, LevelIsProcessWideAndResetGoesBackToMaximum)
{
    SetLogLevel(TLogLevel::llErrors);
    EXPECT_EQ(GetLogLevel(), TLogLevel::llErrors);
    EXPECT_FALSE(IsLogVerbose());
    ResetJournal();
    EXPECT_EQ(GetLogLevel(), TLogLevel::llMaximum);
    EXPECT_TRUE(IsLogVerbose());
}

TEST_F(JournalTest, TailReturnsLastLinesWithoutFinalBreak)
{
    std::vector<std::string> Lines;
    for (int I = 1; I <= 50; ++I) {
        Lines.push_back(std::string(MorningStamp) + " | INFO | entry " + std::to_string(I));
        LogInfo("entry " + std::to_string(I));
    }
    const auto Join = [&](std::size_t From) {
        std::string Out;
        for (std::size_t I = From; I < Lines.size(); ++I)
            Out += (I > From ? "\r\n" : "") + Lines[I];
        return Out;
    };
    struct TCase
    {
        int Count;
        std::size_t From;
    };
    const TCase Cases[] = {{200, 0}, {50, 0}, {49, 1}, {3, 47}, {1, 49}, {0, 49}, {-5, 49}};
    for (const auto& Case : Cases)
        EXPECT_EQ(LogTail(Case.Count), Join(Case.From)) << Case.Count;
}

TEST_F(JournalTest, TailOfMissingOrEmptyFileIsEmpty)
{
    EXPECT_EQ(LogTail(200), "");
    EXPECT_FALSE(fs::exists(LogFile("2024-03-05")));
    WriteToday("");
    EXPECT_EQ(LogTail(200), "");
}

TEST_F(JournalTest, TailReadsTodaysFileOnly)
{
    FNow = {2024, 3, 4, 12, 0, 0};
    LogInfo("yesterday");
    FNow = Morning;
    EXPECT_EQ(LogTail(10), "");
    LogInfo("today");
    EXPECT_EQ(LogTail(10), std::string(MorningStamp) + " | INFO | today");
}

TEST_F(JournalTest, TailHandlesLineBreakVariants)
{
    struct TCase
    {
        std::string File;
        int Count;
        std::string Tail;
    };
    const TCase Cases[] = {
        {"a\r\nb\r\n", 5, "a\r\nb"},
        {"a\r\nb\r\n", 1, "b"},         // the final CR LF ends the last line, it starts none
        {"a\r\nb", 1, "b"},             // a last line without its break still counts
        {"a\r\nb\r", 1, "b"},           // ... also when the write stopped between CR and LF
        {"a\r\n\r\nb\r\n", 2, "\r\nb"}, // an empty line is a line
        {"\r\n", 3, ""},
        {"a\nb\r\nc\r\n", 2, "b\r\nc"}, // bare LF from a text with breaks
        {"a\rb\r\n", 1, "a\rb"},        // a lone CR is text
        {"x\r\n\r\n", 1, ""},
    };
    for (const auto& Case : Cases) {
        WriteToday(Case.File);
        EXPECT_EQ(LogTail(Case.Count), Case.Tail) << ::testing::PrintToString(Case.File);
        EXPECT_EQ(ReferenceTail(Case.File, Case.Count), Case.Tail)
            << "reference " << ::testing::PrintToString(Case.File);
    }
}

TEST_F(JournalTest, TailAcrossReadBlocksMatchesWholeFileSplit)
{
    // Lines far longer than any sensible read block, and line breaks shifted across every
    // position around 64 KiB and 4 KiB from the end, so CR and LF land on both sides of a block
    // boundary.
    std::vector<std::string> Files;
    Files.push_back("head\r\n" + std::string(150000, 'L') + "\r\n" + std::string(70000, 'M') +
                    "\r\n" + std::string(5, 'S') + "\r\n");
    for (const std::size_t Block : {std::size_t{4096}, std::size_t{65536}}) {
        for (int Shift = -3; Shift <= 3; ++Shift) {
            const std::string Last(Block - 2 + Shift, 'B');
            Files.push_back("first\r\n" + std::string(Block, 'A') + "\r\n" + Last + "\r\n");
            Files.push_back("first\r\n" + std::string(Block, 'A') + "\r\n" + Last);
        }
    }
    for (const auto& File : Files) {
        WriteToday(File);
        for (const int Count : {1, 2, 3, 4, 10}) {
            const std::string Tail = LogTail(Count);
            ASSERT_EQ(Tail, ReferenceTail(File, Count))
                << "size " << File.size() << " count " << Count;
        }
    }
}

TEST_F(JournalTest, TailReplacesBytesThatAreNotUtf8)
{
    WriteToday("ok\r\n\xCF\xF0\xE8\r\n");
    EXPECT_EQ(LogTail(2), "ok\r\n\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST_F(JournalTest, TailReadFailureReachesTheCaller)
{
    // Something that exists but cannot be read as a file.
    fs::create_directories(LogFile("2024-03-05"));
    EXPECT_THROW(LogTail(10), std::exception);
}

TEST_F(JournalTest, EntriesAroundMidnightLandInTwoFiles)
{
    FNow = {2024, 12, 31, 23, 59, 59};
    LogInfo("before midnight");
    EXPECT_EQ(LogFilePath().filename(), "2024-12-31.log");
    FNow = {2025, 1, 1, 0, 0, 0};
    LogInfo("after midnight");
    EXPECT_EQ(LogFilePath().filename(), "2025-01-01.log");

    EXPECT_EQ(ReadFileBytes(LogFile("2024-12-31")),
              "2024-12-31 23:59:59 | INFO | before midnight\r\n");
    EXPECT_EQ(ReadFileBytes(LogFile("2025-01-01")),
              "2025-01-01 00:00:00 | INFO | after midnight\r\n");
    EXPECT_EQ(LogTail(5), "2025-01-01 00:00:00 | INFO | after midnight");
}

TEST_F(JournalTest, FileIsReopenedForEveryEntry)
{
    WriteToday("written by someone else\r\n");
    LogInfo("one");
    EXPECT_EQ(Today(),
              "written by someone else\r\n" + std::string(MorningStamp) + " | INFO | one\r\n");

    // The user deletes the file between entries; the next entry starts a new one instead of
    // writing into a handle that was kept open.
    fs::remove(LogFile("2024-03-05"));
    LogInfo("two");
    EXPECT_EQ(Today(), std::string(MorningStamp) + " | INFO | two\r\n");
}

TEST_F(JournalTest, LogsFolderIsMadeAgainWhenItWentMissing)
{
    LogInfo("one");
    // The user deletes the whole logs folder between entries: the next entry makes it again
    // and starts a new file; a long entry is written whole.
    fs::remove_all(FData.DataDir() / "logs");
    const std::string Long(100000, 'x');
    LogError(Long);
    LogInfo("three");
    EXPECT_EQ(Today(), std::string(MorningStamp) + " | ERROR | " + Long + "\r\n" + MorningStamp +
                           " | INFO | three\r\n");
}

TEST_F(JournalTest, WriteFailuresAreSilent)
{
    ASSERT_EQ(DataFolder(), FData.DataDir());
    // A regular file where the logs folder should be: no entry can be written.
    WriteBytes(FData.DataDir() / "logs", "in the way");
    EXPECT_NO_THROW(LogError("lost"));
    EXPECT_NO_THROW(LogInfo("lost too"));
    EXPECT_EQ(ReadFileBytes(FData.DataDir() / "logs"), "in the way");
}

#ifdef __linux__
// Found by the fault campaign: on a full disk an entry was written in part, and the next entry
// ran on from that piece. The file-size limit lets the first bytes of a line through, as a disk
// with one block left does (the limit stops even root).
TEST_F(JournalTest, EntryThatDoesNotFitLeavesNoPieceOfALine)
{
    LogError("first");
    const std::string Before = Today();
    ASSERT_FALSE(Before.empty());

    ASSERT_TRUE(Plumeria::Test::WithFileSizeLimit(Before.size() + 20, [] {
        LogError("this entry is longer than the room left on the disk");
    }));

    EXPECT_EQ(Today(), Before);
    LogError("after");
    EXPECT_EQ(Today(), Before + std::string(MorningStamp) + " | ERROR | after\r\n");
}
#endif

TEST_F(JournalTest, ShutdownDropsLaterEntriesUntilReset)
{
    LogInfo("before");
    ShutdownJournal();
    LogError("after shutdown");
    LogInfo("after shutdown");
    EXPECT_EQ(Today(), std::string(MorningStamp) + " | INFO | before\r\n");

    ResetJournal();
    LogError("again");
    EXPECT_EQ(Today(), std::string(MorningStamp) + " | INFO | before\r\n" + MorningStamp +
                           " | ERROR | again\r\n");
}

TEST_F(JournalTest, ConcurrentWritersNeverInterleaveLines)
{
    constexpr int Threads = 8;
    constexpr int PerThread = 400;
    const auto Text = [](int Thread, int Seq) {
        return "thread=" + std::to_string(Thread) + " seq=" + std::to_string(Seq) + " " +
               std::string(300, static_cast<char>('a' + Thread));
    };
    std::vector<std::thread> Workers;
    for (int T = 0; T < Threads; ++T) {
        Workers.emplace_back([T, &Text] {
            for (int S = 0; S < PerThread; ++S)
                (S % 2 ? LogInfo : LogError)(Text(T, S));
        });
    }
    for (auto& Worker : Workers)
        Worker.join();

    const std::string File = Today();
    std::map<int, int> NextSeq;
    std::size_t Begin = 0;
    int Lines = 0;
    while (Begin < File.size()) {
        const std::size_t End = File.find("\r\n", Begin);
        ASSERT_NE(End, std::string::npos) << "last line has no CR LF";
        const std::string Line = File.substr(Begin, End - Begin);
        Begin = End + 2;
        ++Lines;

        int Thread = -1;
        int Seq = -1;
        const std::size_t At = Line.find("thread=");
        ASSERT_NE(At, std::string::npos) << Line;
        ASSERT_EQ(std::sscanf(Line.c_str() + At, "thread=%d seq=%d", &Thread, &Seq), 2) << Line;
        ASSERT_TRUE(Thread >= 0 && Thread < Threads) << Line;
        const std::string Kind = Seq % 2 ? "INFO" : "ERROR";
        ASSERT_EQ(Line, std::string(MorningStamp) + " | " + Kind + " | " + Text(Thread, Seq));
        ASSERT_EQ(Seq, NextSeq[Thread]) << "entries of one thread keep their order";
        NextSeq[Thread] = Seq + 1;
    }
    EXPECT_EQ(Lines, Threads * PerThread);
}

/// The data folder choices when the machine-wide base cannot be used.
class JournalFallbackTest : public ::testing::Test
{
protected:
    static fs::path ExecutableFolder() { return ExecutablePath().parent_path(); }

    TTempDataFolder FData; // restores ProgramData and resets the journal afterwards
    TTempDir FScratch;
};

TEST_F(JournalFallbackTest, UnusableBaseFallsBackToExecutableFolder)
{
    ASSERT_FALSE(ExecutableFolder().empty());
    const fs::path PlainFile = FScratch.WriteFile("plain.txt", "a file, not a folder");
    FScratch.WriteFile("taken/PlumeriaBridge", "a file where the data folder belongs");

    struct TCase
    {
        const char* Name;
        fs::path ProgramData;
    };
    const TCase Cases[] = {
        {"base below a regular file", PlainFile / "sub"},
        {"base is a regular file", PlainFile},
        {"data folder name taken by a file", FScratch.Path() / "taken"},
    };
    for (const auto& Case : Cases) {
        TEnvGuard Env("ProgramData", PathToUtf8(Case.ProgramData));
        ResetJournal();
        EXPECT_EQ(DataFolder(), ExecutableFolder()) << Case.Name;
    }
    EXPECT_EQ(ReadFileBytes(PlainFile), "a file, not a folder");
}

TEST_F(JournalFallbackTest, EmptyBaseFallsBackToExecutableFolder)
{
    TEnvGuard ProgramData("ProgramData", std::nullopt);
    TEnvGuard Xdg("XDG_DATA_HOME", std::nullopt);
    TEnvGuard Home("HOME", std::nullopt);
    ASSERT_TRUE(MachineDataBase().empty());
    ResetJournal();
    EXPECT_EQ(DataFolder(), ExecutableFolder());
}

#ifndef _WIN32
TEST_F(JournalFallbackTest, XdgDataHomeCountsOnlyWhenAbsolute)
{
    // Without ProgramData the base is the XDG data home; a relative value is invalid and would
    // move the data with the working folder, so it is ignored like an unset one.
    TEnvGuard ProgramData("ProgramData", std::nullopt);
    TEnvGuard Home("HOME", PathToUtf8(FScratch.Path() / "home"));
    const std::pair<const char*, fs::path> Rows[] = {
        {"relative/data", FScratch.Path() / "home" / ".local" / "share"},
        {"./data", FScratch.Path() / "home" / ".local" / "share"},
        {"", FScratch.Path() / "home" / ".local" / "share"},
    };
    for (const auto& [Value, Base] : Rows) {
        TEnvGuard Xdg("XDG_DATA_HOME", std::string(Value));
        EXPECT_EQ(MachineDataBase(), Base) << Value;
    }
    TEnvGuard Xdg("XDG_DATA_HOME", PathToUtf8(FScratch.Path() / "xdg"));
    EXPECT_EQ(MachineDataBase(), FScratch.Path() / "xdg");
    ResetJournal();
    EXPECT_EQ(DataFolder(), FScratch.Path() / "xdg" / "PlumeriaBridge");
}
#endif

TEST_F(JournalFallbackTest, FolderIsDecidedOnceUntilReset)
{
    const fs::path PlainFile = FScratch.WriteFile("plain.txt", "x");
    {
        TEnvGuard Env("ProgramData", PathToUtf8(PlainFile / "sub"));
        ResetJournal();
        ASSERT_EQ(DataFolder(), ExecutableFolder());
    }
    // ProgramData is usable again, but the choice already made stands for the process.
    EXPECT_EQ(DataFolder(), ExecutableFolder());
    ResetJournal();
    EXPECT_EQ(DataFolder(), FData.DataDir());
}

} // namespace
} // namespace Plumeria
