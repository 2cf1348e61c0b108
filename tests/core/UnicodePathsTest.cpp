// Cyrillic folder and file names on the whole road: the data folder (settings and journal), the
// watched folder, the PLU file itself, its result folders and the DIGI label files. On Windows
// every one of these reaches the system through the wide calls; a narrow call anywhere would turn
// the names into question marks or fail to find the files.

#include "core/DigiFrame/LabelRecords.h"
#include "core/FolderWatch/FolderWatch.h"
#include "core/Journal/Journal.h"
#include "core/PluCsv/PluCsv.h"
#include "core/Processing/ProcessFile.h"
#include "core/Settings/Settings.h"
#include "core/Text/Text.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/FileOps.h"
#include "support/PostQueue.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "tool/ScaleSim.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace Plumeria {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace Kit = Plumeria::Test;

// "Данные программ", "Обмен с весами", "Цены молочные.csv", "Этикетки", as UTF-8.
const std::string DataName = "\xD0\x94\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5 "
                             "\xD0\xBF\xD1\x80\xD0\xBE\xD0\xB3\xD1\x80\xD0\xB0\xD0\xBC\xD0\xBC";
const std::string WatchName = "\xD0\x9E\xD0\xB1\xD0\xBC\xD0\xB5\xD0\xBD \xD1\x81 "
                              "\xD0\xB2\xD0\xB5\xD1\x81\xD0\xB0\xD0\xBC\xD0\xB8";
const std::string FileName = "\xD0\xA6\xD0\xB5\xD0\xBD\xD1\x8B "
                             "\xD0\xBC\xD0\xBE\xD0\xBB\xD0\xBE\xD1\x87\xD0\xBD\xD1\x8B\xD0\xB5.csv";
const std::string LabelName = "\xD0\xAD\xD1\x82\xD0\xB8\xD0\xBA\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB8";

// Two articles and their ingredients, as a back office writes them in code page 1251.
const std::string GoodText =
    "A;1;1234567;12,50;0;0;5;\xD0\xA5\xD0\xBB\xD0\xB5\xD0\xB1\r\n"
    "A;2;2345678;3;0;0;0;\xD0\x9C\xD0\xBE\xD0\xBB\xD0\xBE\xD0\xBA\xD0\xBE\r\n";
// A price that is no number: the file ends in "error" with its ".err" text beside it.
const std::string BadText = "A;1;1234567;abc;0;0;5;\xD0\xA5\xD0\xBB\xD0\xB5\xD0\xB1\r\n";

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
    ASSERT_TRUE(Out.good()) << PathToUtf8(Path);
}

std::string DateFolder(const TLocalDateTime& Now)
{
    char Text[16];
    std::snprintf(Text, sizeof Text, "%04d-%02d-%02d", Now.Year, Now.Month, Now.Day);
    return Text;
}

class TNullReporter : public IProcessReporter
{
public:
    void AddRecent(const std::string& Line) override { Recent.push_back(Line); }
    void ShowBalloon(const std::string&, const std::string&) override {}
    void RefreshView() override {}

    std::vector<std::string> Recent;
};

/// A temporary root with a Cyrillic `ProgramData` below it and the journal pointed there.
class UnicodePathsTest : public ::testing::Test
{
protected:
    UnicodePathsTest()
        : DataRoot(Root.Path() / PathFromUtf8(DataName)), Env("ProgramData", PathToUtf8(DataRoot))
    {
        fs::create_directories(DataRoot);
        ResetJournal();
    }
    ~UnicodePathsTest() override { ResetJournal(); }

    Kit::TTempDir Root;
    fs::path DataRoot;
    Kit::TScopedEnv Env;
};

TEST_F(UnicodePathsTest, DataFolderHoldsSettingsAndJournal)
{
    EXPECT_EQ(DataFolder(), DataRoot / "PlumeriaBridge");

    TLoaderSettings Settings;
    Settings.WatchFolder = PathToUtf8(Root.Path() / PathFromUtf8(WatchName));
    Settings.AutoUpdate = false;
    Settings.RunWithWindows = false;
    Settings.Save();
    EXPECT_TRUE(fs::is_regular_file(DataRoot / "PlumeriaBridge" / "settings.ini"));
    TLoaderSettings Loaded;
    Loaded.Load();
    EXPECT_EQ(Loaded.WatchFolder, Settings.WatchFolder);

    LogInfo("file=" + FileName + " status=sent");
    const fs::path Log = LogFilePath();
    EXPECT_EQ(Log.parent_path(), DataRoot / "PlumeriaBridge" / "logs");
    EXPECT_NE(Kit::ReadFileBytes(Log).find(" | INFO | file=" + FileName + " status=sent\r\n"),
              std::string::npos);
    EXPECT_NE(LogTail(1).find(FileName), std::string::npos);
}

TEST_F(UnicodePathsTest, PluAndLabelFilesAreReadUnderCyrillicNames)
{
    const fs::path Folder = Root.Path() / PathFromUtf8(WatchName);
    fs::create_directories(Folder);
    const fs::path Plu = Folder / PathFromUtf8(FileName);
    WriteBytes(Plu, Cp1251(GoodText));
    TPluParseResult Parsed;
    ParsePluFile(Plu, 1251, Parsed);
    ASSERT_EQ(Parsed.Items.size(), 2u);
    EXPECT_EQ(Parsed.Items[1].Name, "\xD0\x9C\xD0\xBE\xD0\xBB\xD0\xBE\xD0\xBA\xD0\xBE");
    EXPECT_TRUE(Parsed.Errors.empty());

    const fs::path Labels = Root.Path() / PathFromUtf8(LabelName);
    fs::create_directories(Labels);
    WriteBytes(Labels / "f38.dat", "01 02 03 04 00 06\r\n0A0B0C0D00070E\r\n");
    std::vector<TLabelRecord> Records;
    std::string Message;
    ASSERT_TRUE(ReadLabelRecords(Labels / "f38.dat", Records, Message)) << Message;
    EXPECT_EQ(Records.size(), 2u);
    EXPECT_FALSE(ReadLabelRecords(Labels / "f34.dat", Records, Message));
    EXPECT_EQ(Message, "label file is missing");
}

TEST_F(UnicodePathsTest, WatchedFileTravelsToItsResultFolder)
{
    Tool::TScaleSim Sim;
    std::string Error;
    ASSERT_TRUE(Sim.Start({}, Error)) << Error;

    const fs::path Watched = Root.Path() / PathFromUtf8(WatchName);
    fs::create_directories(Watched);
    TLoaderSettings Settings;
    Settings.WatchFolder = PathToUtf8(Watched);
    TScaleConfig Scale;
    Scale.Enabled = true;
    Scale.Host = "127.0.0.1";
    Scale.Port = Sim.Port();
    Scale.FileCodePage = 1251;
    Settings.Scales.push_back(Scale);

    struct TCase
    {
        std::string Text;
        const char* Folder; ///< the result folder
        int Frames;         ///< frames the scale receives for it
    };
    const TCase Cases[] = {{GoodText, "processed", 2}, {BadText, "error", 0}};
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Folder);
        const int FramesBefore = Sim.FrameCount();
        Kit::TPostQueue Queue;
        std::vector<std::string> Reported;
        TFolderWatchOptions Options;
        Options.RescanMs = 50;
        TFolderWatch Watch(
            Settings.WatchFolder, "*.csv",
            [&](const std::string& Name) { Reported.push_back(Name); }, Queue.Poster(), Options);
        const fs::path File = Watched / PathFromUtf8(FileName);
        WriteBytes(File, Cp1251(Case.Text));

        ASSERT_TRUE(Queue.RunUntil([&] { return !Reported.empty(); }, 10s));
        ASSERT_EQ(Reported.size(), 1u);
        EXPECT_EQ(PathFromUtf8(Reported[0]), File);

        TNullReporter Reporter;
        const TLocalDateTime Before = LocalNow();
        ProcessFile(Reported[0], &Settings, &Watch, Reporter);
        const TLocalDateTime After = LocalNow();
        EXPECT_FALSE(fs::exists(File));

        fs::path Target = Watched / Case.Folder;
        if (std::string(Case.Folder) == "processed") {
            Target /= DateFolder(Before);
            if (!fs::exists(Target))
                Target = Watched / Case.Folder / DateFolder(After); // midnight passed meanwhile
        }
        EXPECT_EQ(Kit::ReadFileBytes(Target / PathFromUtf8(FileName)), Cp1251(Case.Text));
        if (std::string(Case.Folder) == "error") {
            // The reasons, in UTF-8 with a byte order mark, beside the file.
            const std::string Reasons =
                Kit::ReadFileBytes(Target / PathFromUtf8(FileName + ".err"));
            EXPECT_EQ(Reasons.rfind("\xEF\xBB\xBF", 0), 0u) << Reasons;
            EXPECT_GT(Reasons.size(), 3u);
        }
        EXPECT_EQ(Sim.FrameCount() - FramesBefore, Case.Frames);
        EXPECT_NE(Kit::ReadFileBytes(LogFilePath()).find(FileName), std::string::npos);
        EXPECT_FALSE(Reporter.Recent.empty());
    }
}

} // namespace
} // namespace Plumeria
