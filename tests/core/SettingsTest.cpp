#include "core/Settings/Settings.h"
#include "core/Journal/Journal.h"

#include "core/Settings/StartUp.h"
#include "core/Text/Text.h"
#include "platform/Autostart.h"
#include "platform/Environment.h"
#include "support/FileSizeLimit.h"
#include "support/ScaleNet.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace Plumeria {
namespace {

namespace fs = std::filesystem;
namespace Support = Plumeria::Test;
using Support::ReadFileBytes;

void WriteBytesTo(const std::filesystem::path& Path, const std::string& Bytes)
{
    std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
    Out << Bytes;
}

// "Весы" and a Cyrillic folder, as UTF-8 bytes.
const std::string Vesy = "\xD0\x92\xD0\xB5\xD1\x81\xD1\x8B";
const std::string CyrFolder = "C:\\\xD0\x9F\xD0\x9B\xD0\xA3\\\xD0\xB2\xD1\x85\xD0\xBE\xD0\xB4";

std::string Repeat(const std::string& Piece, int Count)
{
    std::string Text;
    for (int I = 0; I < Count; ++I)
        Text += Piece;
    return Text;
}

/// Section names of an INI text in file order.
std::vector<std::string> Sections(const std::string& Text)
{
    std::vector<std::string> Names;
    std::istringstream In(Text);
    std::string Line;
    while (std::getline(In, Line)) {
        const std::string Trimmed = Trim(Line);
        if (Trimmed.size() > 1 && Trimmed.front() == '[' && Trimmed.back() == ']')
            Names.push_back(Trimmed.substr(1, Trimmed.size() - 2));
    }
    return Names;
}

bool HasSection(const std::string& Text, const std::string& Name)
{
    for (const std::string& Section : Sections(Text)) {
        if (SameTextAscii(Section, Name))
            return true;
    }
    return false;
}

/// The "key=value" lines of one section, as written.
std::vector<std::string> SectionLines(const std::string& Text, const std::string& Name)
{
    std::vector<std::string> Lines;
    std::istringstream In(Text);
    std::string Line;
    bool Inside = false;
    while (std::getline(In, Line)) {
        if (!Line.empty() && Line.back() == '\r')
            Line.pop_back();
        const std::string Trimmed = Trim(Line);
        if (Trimmed.size() > 1 && Trimmed.front() == '[') {
            Inside = SameTextAscii(Trimmed, "[" + Name + "]");
            continue;
        }
        if (Inside && Trimmed.find('=') != std::string::npos)
            Lines.push_back(Trimmed);
    }
    return Lines;
}

bool HasLine(const std::vector<std::string>& Lines, const std::string& Line)
{
    return std::find(Lines.begin(), Lines.end(), Line) != Lines.end();
}

bool HasKey(const std::vector<std::string>& Lines, const std::string& Key)
{
    for (const std::string& Line : Lines) {
        if (SameTextAscii(Trim(Line.substr(0, Line.find('='))), Key))
            return true;
    }
    return false;
}

std::string Utf16Bytes(const std::string& Utf8, bool BigEndian, bool Bom)
{
    std::u16string Units = Utf8ToUtf16(Utf8);
    if (Bom)
        Units.insert(Units.begin(), u'\xFEFF');
    std::string Bytes;
    for (const char16_t Unit : Units) {
        const char Hi = static_cast<char>(Unit >> 8);
        const char Lo = static_cast<char>(Unit & 0xFF);
        Bytes += BigEndian ? Hi : Lo;
        Bytes += BigEndian ? Lo : Hi;
    }
    return Bytes;
}

std::string Cp1251Bytes(const std::string& Utf8)
{
    std::string Bytes;
    EXPECT_TRUE(EncodeCodePage(Utf8, 1251, Bytes));
    return Bytes;
}

class SettingsTest : public ::testing::Test
{
protected:
    fs::path Ini() const { return TLoaderSettings().IniPath(); }

    void WriteIni(const std::string& Bytes) const
    {
        const fs::path Path = Ini();
        fs::create_directories(Path.parent_path());
        std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
        Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
        ASSERT_TRUE(Out.good());
    }

    TLoaderSettings LoadFrom(const std::string& Bytes) const
    {
        WriteIni(Bytes);
        TLoaderSettings Settings;
        Settings.Load();
        return Settings;
    }

    /// Entries of the data folder other than settings.ini (temporary files would show here).
    std::vector<std::string> Leftovers() const
    {
        std::vector<std::string> Names;
        for (const auto& Entry : fs::directory_iterator(Data.DataDir())) {
            const std::string Name = Entry.path().filename().string();
            if (Name != "settings.ini" && Name != "logs")
                Names.push_back(Name);
        }
        return Names;
    }

    Support::TTempDataFolder Data;
};

TScaleConfig SampleScale(int Index)
{
    TScaleConfig Scale;
    Scale.Enabled = Index % 2 == 0;
    Scale.Host = "10.0.0." + std::to_string(Index + 1);
    Scale.Port = 2000 + Index;
    Scale.Kind = static_cast<TScaleKind>(Index % ScaleKindCount);
    Scale.Model = "SM-" + std::to_string(100 + Index);
    Scale.FileCodePage = Index % 3 == 0 ? 866 : 1251;
    Scale.FileMask = "shop" + std::to_string(Index) + "*.csv;*.txt";
    Scale.Name = Vesy + " " + std::to_string(Index);
    return Scale;
}

TLoaderSettings SampleSettings(int ScaleCount)
{
    TLoaderSettings Settings;
    Settings.WatchFolder = CyrFolder;
    Settings.FileMask = "*.plu;*.csv";
    Settings.AutoUpdate = false;
    Settings.RunWithWindows = false;
    Settings.ConnectTimeoutMs = 1500;
    Settings.AdapterIp = "192.168.1.10";
    Settings.LogLevel = TLogLevel::llErrors;
    for (int I = 0; I < ScaleCount; ++I)
        Settings.Scales.push_back(SampleScale(I));
    return Settings;
}

// --- Defaults -----------------------------------------------------------------------------------

TEST_F(SettingsTest, DefaultsAreTheDocumentedOnes)
{
    TLoaderSettings Settings = SampleSettings(3);
    Settings.ResetDefaults();
    EXPECT_EQ(Settings.WatchFolder, "");
    EXPECT_EQ(Settings.FileMask, "*.csv;*.txt");
    EXPECT_TRUE(Settings.AutoUpdate);
    EXPECT_TRUE(Settings.RunWithWindows);
    EXPECT_EQ(Settings.ConnectTimeoutMs, 500);
    EXPECT_EQ(Settings.AdapterIp, "");
    EXPECT_EQ(Settings.LogLevel, TLogLevel::llMaximum);
    EXPECT_TRUE(Settings.Scales.empty());
    EXPECT_EQ(Settings, TLoaderSettings());

    const TScaleConfig Scale;
    EXPECT_FALSE(Scale.Enabled);
    EXPECT_EQ(Scale.Port, 2000);
    EXPECT_EQ(Scale.Kind, TScaleKind::skDigi);
    EXPECT_EQ(Scale.FileCodePage, 1251);
    EXPECT_EQ(Scale.FileMask, "*");
}

TEST_F(SettingsTest, IniPathIsInTheDataFolder)
{
    EXPECT_EQ(Ini(), DataFolder() / "settings.ini");
    EXPECT_EQ(fs::weakly_canonical(Ini()), fs::weakly_canonical(Data.DataDir() / "settings.ini"));
}

TEST_F(SettingsTest, MissingFileLoadsDefaultsOverEarlierValues)
{
    TLoaderSettings Settings = SampleSettings(4);
    Settings.Load();
    EXPECT_EQ(Settings, TLoaderSettings());
    EXPECT_FALSE(fs::exists(Ini())) << "loading never writes";
}

TEST_F(SettingsTest, AssignCopiesEveryFieldAndOwnsItsScales)
{
    TLoaderSettings Source = SampleSettings(3);
    TLoaderSettings Target;
    Target.Assign(Source);
    EXPECT_EQ(Target, Source);
    Source.Scales[0].Host = "changed";
    Source.Scales.pop_back();
    EXPECT_EQ(Target.Scales.size(), 3u);
    EXPECT_EQ(Target.Scales[0].Host, "10.0.0.1");
    Target.Assign(Target);
    EXPECT_EQ(Target.Scales.size(), 3u);
}

// --- Load rules, section General ----------------------------------------------------------------

TEST_F(SettingsTest, GeneralKeysLoadWithTheirRulesAndFallbacks)
{
    struct Row
    {
        std::string Lines; // body of [General]
        std::function<void(TLoaderSettings&)> Expect;
    };
    const std::vector<Row> Rows = {
        {"", [](TLoaderSettings&) {}},
        {"WatchFolder=/srv/plu\n", [](TLoaderSettings& S) { S.WatchFolder = "/srv/plu"; }},
        {"WatchFolder=" + CyrFolder + "\n", [](TLoaderSettings& S) { S.WatchFolder = CyrFolder; }},
        {"FileMask=*.plu\n", [](TLoaderSettings& S) { S.FileMask = "*.plu"; }},
        {"FileMask=   \n", [](TLoaderSettings&) {}},
        {"FileMask=\x01\x1F\n", [](TLoaderSettings&) {}},
        {"FileMask=\n", [](TLoaderSettings&) {}},
        {"AutoUpdate=0\n", [](TLoaderSettings& S) { S.AutoUpdate = false; }},
        {"AutoUpdate=2\n", [](TLoaderSettings&) {}},
        {"AutoUpdate=true\n", [](TLoaderSettings&) {}},
        {"AutoUpdate=0x0\n", [](TLoaderSettings& S) { S.AutoUpdate = false; }},
        {"RunWithWindows=0\n", [](TLoaderSettings& S) { S.RunWithWindows = false; }},
        {"RunWithWindows=-1\n", [](TLoaderSettings&) {}},
        {"RunWithWindows=false\n", [](TLoaderSettings& S) { S.RunWithWindows = false; }},
        {"RunWithWindows=Off ; not at logon\n",
         [](TLoaderSettings& S) { S.RunWithWindows = false; }},
        {"ConnectTimeoutMs=1500 ; slow network\n",
         [](TLoaderSettings& S) { S.ConnectTimeoutMs = 1500; }},
        {"ConnectTimeoutMs=99\n", [](TLoaderSettings&) {}},
        {"ConnectTimeoutMs=3001\n", [](TLoaderSettings&) {}},
        {"ConnectTimeoutMs=100\n", [](TLoaderSettings& S) { S.ConnectTimeoutMs = 100; }},
        {"ConnectTimeoutMs=3000\n", [](TLoaderSettings& S) { S.ConnectTimeoutMs = 3000; }},
        {"ConnectTimeoutMs=0x3E8\n", [](TLoaderSettings& S) { S.ConnectTimeoutMs = 1000; }},
        {"ConnectTimeoutMs=0X64\n", [](TLoaderSettings& S) { S.ConnectTimeoutMs = 100; }},
        {"ConnectTimeoutMs=750ms\n", [](TLoaderSettings&) {}},
        {"ConnectTimeoutMs=-200\n", [](TLoaderSettings&) {}},
        {"ConnectTimeoutMs=99999999999\n", [](TLoaderSettings&) {}},
        {"AdapterIp=\x01 10.0.0.2\t\x02\n", [](TLoaderSettings& S) { S.AdapterIp = "10.0.0.2"; }},
        {"LogLevel=errors\n", [](TLoaderSettings& S) { S.LogLevel = TLogLevel::llErrors; }},
        {"LogLevel=Error\n", [](TLoaderSettings& S) { S.LogLevel = TLogLevel::llErrors; }},
        {"LogLevel= Max \n", [](TLoaderSettings&) {}},
        {"LogLevel=debug\n", [](TLoaderSettings&) {}},
        {"LogLevel=\n", [](TLoaderSettings&) {}},
        // Names of sections and keys match without regard to case.
        {"WATCHFOLDER=/a\nloglevel=ERRORS\n",
         [](TLoaderSettings& S) {
             S.WatchFolder = "/a";
             S.LogLevel = TLogLevel::llErrors;
         }},
    };
    for (const Row& R : Rows) {
        for (const char* Header : {"[General]\n", "[general]\n", "[ GENERAL ]\n"}) {
            TLoaderSettings Expected;
            R.Expect(Expected);
            EXPECT_EQ(LoadFrom(Header + R.Lines), Expected) << Header << R.Lines;
        }
    }
}

TEST_F(SettingsTest, ScaleCountIsClampedAndLaterSectionsIgnored)
{
    struct Row
    {
        std::string Count;
        int Sections;
        std::size_t Expected;
    };
    const Row Rows[] = {
        // A count that cannot be read never drops the scales: the sections present count.
        {"600", 600, 500}, {"500", 501, 500}, {"-3", 3, 3},
        {"abc", 3, 3},     {"", 3, 3},        {"0x2", 3, 2},
        {"2", 5, 2},       {"3", 0, 3},       {"1 ; весы в зале", 3, 1},
    };
    for (const Row& R : Rows) {
        std::string Text = "[General]\nScaleCount=" + R.Count + "\n";
        for (int I = 0; I < R.Sections; ++I)
            Text += "[Scale" + std::to_string(I) + "]\nHost=h" + std::to_string(I) + "\n";
        const TLoaderSettings Settings = LoadFrom(Text);
        ASSERT_EQ(Settings.Scales.size(), R.Expected) << R.Count;
        for (std::size_t I = 0; I < Settings.Scales.size(); ++I) {
            const std::string Host =
                static_cast<int>(I) < R.Sections ? "h" + std::to_string(I) : "";
            ASSERT_EQ(Settings.Scales[I].Host, Host) << R.Count << " scale " << I;
        }
    }
}

// --- Load rules, scale sections -----------------------------------------------------------------

TEST_F(SettingsTest, ScaleKeysLoadWithTheirRulesAndFallbacks)
{
    const std::string Hundred = Repeat("n", 100);
    const std::string CyrHundred = Repeat("\xD0\xB6", 100); // "ж" × 100
    const std::string Emoji = "\xF0\x9F\x98\x80";           // needs two UTF-16 units
    struct Row
    {
        std::string Lines; // body of [Scale0]
        std::function<void(TScaleConfig&)> Expect;
    };
    const std::vector<Row> Rows = {
        {"", [](TScaleConfig&) {}},
        {"Enabled=1\n", [](TScaleConfig& C) { C.Enabled = true; }},
        {"Enabled=7\n", [](TScaleConfig& C) { C.Enabled = true; }},
        {"Enabled=0x1\n", [](TScaleConfig& C) { C.Enabled = true; }},
        {"Enabled=yes\n", [](TScaleConfig& C) { C.Enabled = true; }},
        {"Enabled=maybe\n", [](TScaleConfig&) {}},
        {"Enabled=0\n", [](TScaleConfig&) {}},
        {"Host=\x01 10.0.0.5 \x1F\n", [](TScaleConfig& C) { C.Host = "10.0.0.5"; }},
        {"Port=70000\n", [](TScaleConfig& C) { C.Port = 70000; }},
        {"Port=-1\n", [](TScaleConfig& C) { C.Port = -1; }},
        {"Port=0\n", [](TScaleConfig& C) { C.Port = 0; }},
        {"Port=0x1F90\n", [](TScaleConfig& C) { C.Port = 8080; }},
        {"Port=http\n", [](TScaleConfig&) {}},
        {"Kind=CAS\n", [](TScaleConfig& C) { C.Kind = TScaleKind::skCas; }},
        {"Kind= Massa-K \n", [](TScaleConfig& C) { C.Kind = TScaleKind::skMassaK; }},
        {"Kind=m-er\n", [](TScaleConfig& C) { C.Kind = TScaleKind::skMer; }},
        {"Kind=xyz\n", [](TScaleConfig&) {}},
        {"Kind=\n", [](TScaleConfig&) {}},
        {"Model=\x02SM-120\x03\n", [](TScaleConfig& C) { C.Model = "SM-120"; }},
        {"FileCodePage=866\n", [](TScaleConfig& C) { C.FileCodePage = 866; }},
        {"FileCodePage=0x362\n", [](TScaleConfig& C) { C.FileCodePage = 866; }},
        {"FileCodePage=65001\n", [](TScaleConfig&) {}},
        {"FileCodePage=1252\n", [](TScaleConfig&) {}},
        {"FileCodePage=dos\n", [](TScaleConfig&) {}},
        {"FileMask=\n", [](TScaleConfig&) {}},
        {"FileMask=\x01\x01\n", [](TScaleConfig&) {}},
        {"FileMask=shop1*.csv\n", [](TScaleConfig& C) { C.FileMask = "shop1*.csv"; }},
        {"Name=\x01" + Vesy + " 1\x01\n", [](TScaleConfig& C) { C.Name = Vesy + " 1"; }},
        {"Name=" + Hundred + "\n", [&](TScaleConfig& C) { C.Name = Repeat("n", 80); }},
        {"Name=" + CyrHundred + "\n", [&](TScaleConfig& C) { C.Name = Repeat("\xD0\xB6", 80); }},
        // A character of two UTF-16 units across the limit is left out whole.
        {"Name=" + Repeat("a", 79) + Emoji + "b\n",
         [](TScaleConfig& C) { C.Name = Repeat("a", 79); }},
        {"Name=" + Repeat("a", 78) + Emoji + "b\n",
         [&](TScaleConfig& C) { C.Name = Repeat("a", 78) + Emoji; }},
        // Found by fuzzing: blanks that the cut brings to the end are trimmed as well, or the
        // next load would trim them and read another name than this one.
        {"Name=" + Repeat("a", 78) + " \x0F" + Repeat("b", 5) + "\n",
         [](TScaleConfig& C) { C.Name = Repeat("a", 78); }},
        {"enabled=1\nHOST=h\nkind=cas\n",
         [](TScaleConfig& C) {
             C.Enabled = true;
             C.Host = "h";
             C.Kind = TScaleKind::skCas;
         }},
    };
    for (const Row& R : Rows) {
        for (const char* Header : {"[Scale0]\n", "[SCALE0]\n"}) {
            const TLoaderSettings Settings =
                LoadFrom(std::string("[General]\nScaleCount=1\n") + Header + R.Lines);
            TScaleConfig Expected;
            R.Expect(Expected);
            ASSERT_EQ(Settings.Scales.size(), 1u);
            EXPECT_EQ(Settings.Scales[0], Expected) << Header << R.Lines;
            EXPECT_LE(Utf16Length(Settings.Scales[0].Name), 80u);
        }
    }
}

TEST_F(SettingsTest, MissingScaleSectionLoadsDefaults)
{
    const TLoaderSettings Settings = LoadFrom("[General]\nScaleCount=2\n[Scale1]\nHost=b\n");
    ASSERT_EQ(Settings.Scales.size(), 2u);
    EXPECT_EQ(Settings.Scales[0], TScaleConfig());
    EXPECT_EQ(Settings.Scales[0].FileMask, "*");
    EXPECT_EQ(Settings.Scales[1].Host, "b");
}

// --- Save ---------------------------------------------------------------------------------------

TEST_F(SettingsTest, SaveThenLoadGivesTheSameSettings)
{
    for (const int Count : {0, 1, 7}) {
        const TLoaderSettings Saved = SampleSettings(Count);
        Saved.Save();
        TLoaderSettings Loaded;
        Loaded.Load();
        EXPECT_EQ(Loaded, Saved) << Count << " scales";
        Loaded.Save();
        TLoaderSettings Again;
        Again.Load();
        EXPECT_EQ(Again, Saved) << Count << " scales, second round";
    }
}

TEST_F(SettingsTest, SaveWritesPlainKeysInUtf8WithoutBom)
{
    TLoaderSettings Settings = SampleSettings(1);
    Settings.Scales[0].Kind = TScaleKind::skMettlerToledo;
    Settings.Scales[0].Enabled = true;
    Settings.Save();
    const std::string Text = ReadFileBytes(Ini());
    EXPECT_FALSE(Text.starts_with("\xEF\xBB\xBF"));
    EXPECT_TRUE(IsValidUtf8(Text));

    const auto General = SectionLines(Text, "General");
    for (const std::string& Line :
         {"WatchFolder=" + CyrFolder, std::string("FileMask=*.plu;*.csv"),
          std::string("AutoUpdate=0"), std::string("RunWithWindows=0"),
          std::string("ConnectTimeoutMs=1500"), std::string("AdapterIp=192.168.1.10"),
          std::string("LogLevel=errors"), std::string("ScaleCount=1")})
        EXPECT_TRUE(HasLine(General, Line)) << Line << "\n" << Text;

    const auto Scale = SectionLines(Text, "Scale0");
    for (const std::string& Line :
         {std::string("Enabled=1"), std::string("Host=10.0.0.1"), std::string("Port=2000"),
          std::string("Kind=mettler-toledo"), std::string("Model=SM-100"),
          std::string("FileCodePage=866"), std::string("FileMask=shop0*.csv;*.txt"),
          "Name=" + Vesy + " 0"})
        EXPECT_TRUE(HasLine(Scale, Line)) << Line << "\n" << Text;

    Settings.LogLevel = TLogLevel::llMaximum;
    Settings.AutoUpdate = true;
    Settings.Save();
    const auto After = SectionLines(ReadFileBytes(Ini()), "General");
    EXPECT_TRUE(HasLine(After, "LogLevel=max"));
    EXPECT_TRUE(HasLine(After, "AutoUpdate=1"));
}

TEST_F(SettingsTest, SaveCreatesAMissingDataFolder)
{
    const fs::path Path = Ini();
    fs::remove_all(Path.parent_path());
    SampleSettings(1).Save();
    TLoaderSettings Loaded;
    Loaded.Load();
    EXPECT_EQ(Loaded, SampleSettings(1));
}

TEST_F(SettingsTest, RemovedScalesLeaveNoSections)
{
    TLoaderSettings Settings = SampleSettings(5);
    Settings.Save();
    Settings.Scales.resize(2);
    Settings.Save();
    const std::string Text = ReadFileBytes(Ini());
    EXPECT_TRUE(HasSection(Text, "Scale0"));
    EXPECT_TRUE(HasSection(Text, "Scale1"));
    for (const char* Gone : {"Scale2", "Scale3", "Scale4"})
        EXPECT_FALSE(HasSection(Text, Gone)) << Gone << "\n" << Text;
    EXPECT_TRUE(HasLine(SectionLines(Text, "General"), "ScaleCount=2"));

    // Every scale section is erased whole before it is written again: nothing of an old scale
    // (an unknown key included) can leak into the new one at that index.
    WriteIni("[General]\nScaleCount=1\n[scale0]\nHost=old\nLegacy=1\n[Scale7]\nHost=stale\n");
    Settings.Save();
    const std::string Again = ReadFileBytes(Ini());
    EXPECT_FALSE(HasKey(SectionLines(Again, "Scale0"), "Legacy"));
    EXPECT_FALSE(HasSection(Again, "Scale7"));
    TLoaderSettings Loaded;
    Loaded.Load();
    EXPECT_EQ(Loaded, Settings);
}

TEST_F(SettingsTest, SectionsFromScale100OnAreKeptButNotReadBeyondTheCount)
{
    TLoaderSettings Settings = SampleSettings(120);
    Settings.Save();
    Settings.Scales.resize(3);
    Settings.Save();
    const std::string Text = ReadFileBytes(Ini());
    for (int I = 3; I < 100; ++I)
        ASSERT_FALSE(HasSection(Text, "Scale" + std::to_string(I))) << I;
    for (int I = 100; I < 120; ++I)
        ASSERT_TRUE(HasSection(Text, "Scale" + std::to_string(I))) << I;
    TLoaderSettings Loaded;
    Loaded.Load();
    EXPECT_EQ(Loaded, Settings);
}

// Found by fuzzing: a "[" line without its "]" became a section named across the line break,
// written back with one more line on every save.
TEST_F(SettingsTest, SectionHeaderWithoutBracketIsKeptAsTextAndSavesStayTheSame)
{
    const struct
    {
        const char* Name;
        std::string Bytes;
    } Cases[] = {
        {"before General",
         "[Broken\r\nKey=1\r\n[General]\r\nScaleCount=1\r\n[Scale0]\r\nHost=h\r\n"},
        {"General itself", "[General\nWatchFolder=/x\n[Scale0]\nHost=h\n"},
        {"indented, CR only", "[General]\rScaleCount=1\r  [Scale0\rHost=h\r[Custom]\rA=1\r"},
        {"behind a second byte-order mark",
         "\xEF\xBB\xBF\xEF\xBB\xBF[Broken\r\nKey=1\r\n[General]\r\nScaleCount=0\r\n"},
        // Found by fuzzing: a mark that begins a later line (two files joined) was part of the
        // first key; saved first in the file, it became the file's mark and was lost on reload.
        {"mark at the start of a later line", "\xEF\xBB\xBFoeral\x11\r\n\xEF\xBB\xBF"
                                              "chFolder=/srv/plu\r\n[Extra]\r\nKeep=me\r\n"},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        const TLoaderSettings First = LoadFrom(Case.Bytes);
        First.Save();
        const std::string Saved = ReadFileBytes(Ini());
        TLoaderSettings Second;
        Second.Load();
        EXPECT_EQ(Second, First);
        Second.Save();
        EXPECT_EQ(ReadFileBytes(Ini()), Saved);
        for (const auto& Section : Sections(Saved))
            EXPECT_EQ(Section.find_first_of("\r\n"), std::string::npos) << Section;
    }
    // The broken line does not swallow the sections after it.
    EXPECT_EQ(LoadFrom(Cases[0].Bytes).Scales.size(), 1u);
    EXPECT_EQ(LoadFrom(Cases[0].Bytes).Scales[0].Host, "h");
}

// After a UTF-8 mark, a line that is not UTF-8 (added by a tool that writes 1251) keeps its
// Cyrillic text, and saves stay the same.
TEST_F(SettingsTest, A1251LineAfterAUtf8MarkKeepsItsTextAndSavesStayTheSame)
{
    std::string Line1251;
    ASSERT_TRUE(EncodeCodePage("/Обмен", 1251, Line1251));
    const TLoaderSettings First = LoadFrom("\xEF\xBB\xBF[Custom]\nKey=" + Vesy +
                                           "\n[General]\nWatchFolder=" + Line1251 + "\n");
    EXPECT_EQ(First.WatchFolder, "/Обмен");
    First.Save();
    const std::string Saved = ReadFileBytes(Ini());
    EXPECT_TRUE(IsValidUtf8(Saved));
    EXPECT_TRUE(HasLine(SectionLines(Saved, "Custom"), "Key=" + Vesy));
    TLoaderSettings Second;
    Second.Load();
    EXPECT_EQ(Second, First);
    Second.Save();
    EXPECT_EQ(ReadFileBytes(Ini()), Saved);
}

// Hand-edited files: comments after values, booleans in words, values that make no sense (said
// in the journal, with the default used), a missing count (the sections present are read).
TEST_F(SettingsTest, HandEditedValuesAreReadAsMeantAndNonsenseIsJournaled)
{
    const struct
    {
        const char* Title;
        std::string Text;
        std::size_t Scales;
        bool Enabled;
        int Port;
        const char* Warning; ///< a piece of the expected WARN, or ""
    } Cases[] = {
        {"inline comments",
         "[General]\nScaleCount=1 ; весы в зале\n[Scale0]\nHost=h\n"
         "Enabled=1 ; да\nPort=2006 ; рыба\n",
         1, true, 2006, ""},
        {"boolean words", "[General]\nScaleCount=1\n[Scale0]\nHost=h\nEnabled=TRUE\n", 1, true,
         2000, ""},
        {"yes", "[General]\nScaleCount=1\n[Scale0]\nHost=h\nEnabled=yes\n", 1, true, 2000, ""},
        {"off", "[General]\nScaleCount=1\n[Scale0]\nHost=h\nEnabled=Off\n", 1, false, 2000, ""},
        {"port that is no number",
         "[General]\nScaleCount=1\n[Scale0]\nHost=h\nEnabled=1\n"
         "Port=рыба\n",
         1, true, 2000, "[Scale0] Port=рыба cannot be read"},
        {"boolean that is no word", "[General]\nScaleCount=1\n[Scale0]\nHost=h\nEnabled=maybe\n", 1,
         false, 2000, "[Scale0] Enabled=maybe cannot be read"},
        {"count missing",
         "[General]\nWatchFolder=/x\n[Scale0]\nHost=h\nEnabled=1\n[Scale1]\n"
         "Host=g\n",
         2, true, 2000, "ScaleCount=(missing) cannot be read"},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Title);
        Support::TTempDataFolder Fresh;
        const TLoaderSettings Settings = LoadFrom(Case.Text);
        ASSERT_EQ(Settings.Scales.size(), Case.Scales);
        EXPECT_EQ(Settings.Scales[0].Enabled, Case.Enabled);
        EXPECT_EQ(Settings.Scales[0].Port, Case.Port);
        const std::string Journal = ReadFileBytes(LogFilePath());
        if (*Case.Warning)
            EXPECT_NE(Journal.find(std::string("WARN | settings: ") +
                                   (Case.Warning[0] == '[' ? "" : "[General] ") + Case.Warning),
                      std::string::npos)
                << Journal;
        else
            EXPECT_EQ(Journal.find("WARN"), std::string::npos) << Journal;
    }
}

// A settings file that is a link to a share not mounted yet cannot be read: no defaults are
// saved through it. Through a live link a save replaces the target and keeps the link. A save
// cut short earlier left its temporary file, removed at the next start.
TEST_F(SettingsTest, LinksAndLeftoversOfInterruptedSaves)
{
    Support::TTempDir Share;
    const fs::path Path = Ini();
    fs::create_directories(Path.parent_path());
    std::error_code Error;
    fs::create_symlink(Share.Path() / "settings.ini", Path, Error);
    if (Error)
        GTEST_SKIP() << "no symbolic links here: " << Error.message();
    TLoaderSettings Dangling;
    EXPECT_FALSE(Dangling.Load());
    EXPECT_THROW(Dangling.Save(), std::exception);
    EXPECT_FALSE(fs::exists(Share.Path() / "settings.ini"));

    WriteBytesTo(Share.Path() / "settings.ini", "[General]\nScaleCount=0\n");
    WriteBytesTo(Path.parent_path() / "settings.ini.tmp.123.0", "half a save");
    TLoaderSettings Live;
    ASSERT_TRUE(Live.Load());
    EXPECT_FALSE(fs::exists(Path.parent_path() / "settings.ini.tmp.123.0"));
    Live.WatchFolder = "/srv/plu";
    Live.Save();
    EXPECT_TRUE(fs::is_symlink(Path));
    EXPECT_NE(ReadFileBytes(Share.Path() / "settings.ini").find("WatchFolder=/srv/plu"),
              std::string::npos);
}

TEST_F(SettingsTest, SaveDropsRetiredKeysAndKeepsUnknownOnes)
{
    WriteIni("; written by hand\n"
             "[General]\n"
             "ScanPort=2001\n"
             "WatchFolder=/old\n"
             "DefaultKind=cas\n"
             "ThemeColour=#FF00FF\n"
             "scanport=2002\n"
             "[Custom]\n"
             "Alpha=1\n"
             "Beta=" +
             Vesy +
             "\n"
             "[Scale150]\n"
             "Host=kept\n");
    TLoaderSettings Settings;
    Settings.Load();
    Settings.WatchFolder = "/new";
    Settings.Save();
    const std::string Text = ReadFileBytes(Ini());
    const auto General = SectionLines(Text, "General");
    EXPECT_FALSE(HasKey(General, "ScanPort")) << Text;
    EXPECT_FALSE(HasKey(General, "DefaultKind")) << Text;
    EXPECT_TRUE(HasLine(General, "ThemeColour=#FF00FF")) << Text;
    EXPECT_TRUE(HasLine(General, "WatchFolder=/new")) << Text;
    int WatchKeys = 0;
    for (const std::string& Line : General)
        WatchKeys += SameTextAscii(Line.substr(0, Line.find('=')), "WatchFolder") ? 1 : 0;
    EXPECT_EQ(WatchKeys, 1);
    const auto Custom = SectionLines(Text, "Custom");
    EXPECT_TRUE(HasLine(Custom, "Alpha=1"));
    EXPECT_TRUE(HasLine(Custom, "Beta=" + Vesy));
    EXPECT_TRUE(HasLine(SectionLines(Text, "Scale150"), "Host=kept"));
}

TEST_F(SettingsTest, KeysAreMatchedWithoutCaseOnSave)
{
    WriteIni("[GENERAL]\nwatchfolder=/old\nSCALECOUNT=9\n");
    TLoaderSettings Settings;
    Settings.WatchFolder = "/new";
    Settings.Save();
    const std::string Text = ReadFileBytes(Ini());
    int GeneralSections = 0;
    for (const std::string& Name : Sections(Text))
        GeneralSections += SameTextAscii(Name, "General") ? 1 : 0;
    EXPECT_EQ(GeneralSections, 1) << Text;
    TLoaderSettings Loaded;
    Loaded.Load();
    EXPECT_EQ(Loaded.WatchFolder, "/new");
    EXPECT_TRUE(Loaded.Scales.empty());
}

// A line break inside a value must not turn the rest of the value into keys of their own.
TEST_F(SettingsTest, LineBreaksInValuesCannotInjectKeys)
{
    TLoaderSettings Settings;
    Settings.Scales.push_back(SampleScale(0));
    Settings.Scales[0].Name = "evil\n[General]\nWatchFolder=/etc\r\nScaleCount=0";
    Settings.WatchFolder = "/plu";
    Settings.Save();
    TLoaderSettings Loaded;
    Loaded.Load();
    EXPECT_EQ(Loaded.WatchFolder, "/plu");
    ASSERT_EQ(Loaded.Scales.size(), 1u);
    EXPECT_EQ(Loaded.Scales[0].Name, "evil [General] WatchFolder=/etc  ScaleCount=0");
}

// --- Encodings ----------------------------------------------------------------------------------

TEST_F(SettingsTest, CyrillicTextLoadsFromEveryAcceptedEncoding)
{
    const std::string Text = "[General]\r\nWatchFolder=" + CyrFolder +
                             "\r\nScaleCount=1\r\n[Scale0]\r\nName=" + Vesy +
                             " 1\r\n[Custom]\r\nNote=" + Vesy + "\r\n";
    struct Row
    {
        const char* Encoding;
        std::string Bytes;
    };
    const Row Rows[] = {
        {"utf-8", Text},
        {"utf-8 with bom", "\xEF\xBB\xBF" + Text},
        {"utf-16le with bom", Utf16Bytes(Text, false, true)},
        {"utf-16be with bom", Utf16Bytes(Text, true, true)},
        {"utf-16le without bom", Utf16Bytes(Text, false, false)},
        {"cp1251", Cp1251Bytes(Text)},
    };
    for (const Row& R : Rows) {
        TLoaderSettings Settings = LoadFrom(R.Bytes);
        EXPECT_EQ(Settings.WatchFolder, CyrFolder) << R.Encoding;
        ASSERT_EQ(Settings.Scales.size(), 1u) << R.Encoding;
        EXPECT_EQ(Settings.Scales[0].Name, Vesy + " 1") << R.Encoding;

        // Whatever came in goes out as UTF-8 without BOM, unknown keys re-encoded with it.
        Settings.Save();
        const std::string Saved = ReadFileBytes(Ini());
        EXPECT_FALSE(Saved.starts_with("\xEF\xBB\xBF")) << R.Encoding;
        EXPECT_TRUE(IsValidUtf8(Saved)) << R.Encoding;
        EXPECT_TRUE(HasLine(SectionLines(Saved, "Custom"), "Note=" + Vesy)) << R.Encoding;
        TLoaderSettings Again;
        Again.Load();
        EXPECT_EQ(Again, Settings) << R.Encoding;
    }
}

TEST_F(SettingsTest, StrayNulDoesNotHideTheRestOfTheFile)
{
    const TLoaderSettings Settings = LoadFrom(std::string("[General]\nWatchFolder=/a") + '\0' +
                                              "\nScaleCount=1\n[Scale0]\nHost=h\n");
    EXPECT_EQ(Settings.WatchFolder, "/a");
    ASSERT_EQ(Settings.Scales.size(), 1u);
    EXPECT_EQ(Settings.Scales[0].Host, "h");
}

TEST_F(SettingsTest, OneStrayByteCostsOnlyItsOwnValue)
{
    // UTF-8 throughout, except one byte that is no UTF-8 in the second scale's name.
    const std::string Text =
        "[General]\r\nWatchFolder=" + CyrFolder + "\r\nScaleCount=3\r\n[Scale0]\r\nName=" + Vesy +
        " 1\r\n[Scale1]\r\nName=" + Vesy + " \xFF" + "\r\n[Scale2]\r\nName=" + Vesy +
        " 3\r\nModel=" + Vesy + "\r\n[Custom]\r\nNote=" + Vesy + "\r\n";
    TLoaderSettings Settings = LoadFrom(Text);
    const auto Check = [&](const TLoaderSettings& Loaded, const char* When) {
        EXPECT_EQ(Loaded.WatchFolder, CyrFolder) << When;
        ASSERT_EQ(Loaded.Scales.size(), 3u) << When;
        EXPECT_EQ(Loaded.Scales[0].Name, Vesy + " 1") << When;
        // The odd value alone is read as code page 1251, all of it.
        EXPECT_EQ(Loaded.Scales[1].Name, DecodeCodePage(Vesy + " \xFF", 1251)) << When;
        EXPECT_EQ(Loaded.Scales[2].Name, Vesy + " 3") << When;
        EXPECT_EQ(Loaded.Scales[2].Model, Vesy) << When;
    };
    Check(Settings, "after load");
    Settings.Save();
    const std::string Saved = ReadFileBytes(Ini());
    EXPECT_TRUE(IsValidUtf8(Saved));
    EXPECT_TRUE(HasLine(SectionLines(Saved, "Custom"), "Note=" + Vesy));
    TLoaderSettings Again;
    Again.Load();
    Check(Again, "after save");
}

// --- A file that exists but cannot be read
// --------------------------------------------------------

TEST_F(SettingsTest, UnreadableFileIsReportedAndNeverSavedOver)
{
    // A folder in the file's place stands for a file that exists but cannot be read (locked by
    // another program, rights taken away); it works the same for root.
    fs::create_directories(Ini());
    TLoaderSettings Settings;
    EXPECT_FALSE(Settings.Load());
    EXPECT_FALSE(Settings.Loaded());
    EXPECT_EQ(Settings, TLoaderSettings());
    const auto Lines = Support::JournalLines();
    ASSERT_EQ(Lines.size(), 1u);
    const std::string Prefix = "ERROR | cannot read settings: " + PathToUtf8(Ini()) + ": ";
    EXPECT_EQ(Lines[0].rfind(Prefix, 0), 0u) << Lines[0];
    EXPECT_GT(Lines[0].size(), Prefix.size()) << "the reason is named";

    Settings.Scales.push_back(SampleScale(0));
    EXPECT_THROW(Settings.Save(), std::runtime_error);
    EXPECT_TRUE(fs::is_directory(Ini()));

    // Readable again: a new load brings the object back to normal.
    fs::remove(Ini());
    SampleSettings(2).Save();
    EXPECT_TRUE(Settings.Load());
    EXPECT_TRUE(Settings.Loaded());
    EXPECT_EQ(Settings, SampleSettings(2));
    Settings.Save();
}

// --- The start-up sequence ---------------------------------------------------------------------

/// Records what the start-up asked of the start-with-the-session entry.
struct TAutostartCalls
{
    std::vector<bool> Calls;
    TAutostartStep Step()
    {
        return [this](bool Enabled) {
            Calls.push_back(Enabled);
            return true;
        };
    }
};

TEST_F(SettingsTest, StartUpLoadsSavesOnFirstStartAndAppliesTheStartEntry)
{
    struct Row
    {
        const char* Title;
        std::optional<std::string> File; ///< settings.ini before the start; none: missing
        bool SavedDefaults;
        std::vector<bool> Autostart;
        TLogLevel Level;
    };
    const std::string Existing = "[General]\r\nRunWithWindows=0\r\nLogLevel=errors\r\nX=1\r\n";
    const Row Rows[] = {
        {"first start", std::nullopt, true, {true}, TLogLevel::llMaximum},
        {"existing file", Existing, false, {false}, TLogLevel::llErrors},
    };
    for (const Row& R : Rows) {
        SCOPED_TRACE(R.Title);
        Support::TTempDataFolder Fresh;
        if (R.File)
            WriteIni(*R.File);
        TAutostartCalls Autostart;
        TLoaderSettings Settings;
        const TStartReport Report = StartWithSettings(Settings, Autostart.Step());
        EXPECT_TRUE(Report.SettingsRead);
        EXPECT_TRUE(Report.SaveError.empty());
        EXPECT_EQ(Autostart.Calls, R.Autostart);
        EXPECT_EQ(IsLogVerbose(), R.Level == TLogLevel::llMaximum);
        if (R.SavedDefaults)
            EXPECT_TRUE(fs::exists(Ini()));
        else
            EXPECT_EQ(ReadFileBytes(Ini()), *R.File);
        EXPECT_EQ(Support::CountJournal("INFO", "started 1.0.3"), R.Level == TLogLevel::llMaximum);
        SetLogLevel(TLogLevel::llMaximum);
    }
}

TEST_F(SettingsTest, UnreadableSettingsAtStartAreNeverReplacedByDefaults)
{
    const TLoaderSettings Users = SampleSettings(3);
    Users.Save();
    const std::string Original = ReadFileBytes(Ini()) + "[Custom]\r\nNote=" + Vesy + "\r\n";
    const fs::path Aside = Data.Root() / "aside.ini";
    {
        std::ofstream(Aside, std::ios::binary) << Original;
    }
    // At start the file is there but cannot be read.
    fs::remove(Ini());
    fs::create_directories(Ini());

    TAutostartCalls Autostart;
    TLoaderSettings Settings;
    const TStartReport Report = StartWithSettings(Settings, Autostart.Step());
    EXPECT_FALSE(Report.SettingsRead);
    EXPECT_TRUE(Report.SaveError.empty()); // no first-start save either: the file exists
    EXPECT_TRUE(Autostart.Calls.empty());
    EXPECT_EQ(Support::CountJournal("ERROR", "cannot read settings: " + PathToUtf8(Ini())), 1);
    EXPECT_EQ(Support::CountJournal("INFO", "started 1.0.3"), 1);

    // Then it becomes readable, and the user changes a setting.
    fs::remove(Ini());
    fs::copy_file(Aside, Ini());
    Settings.Scales.push_back(SampleScale(7));
    EXPECT_FALSE(SaveChangedSettings(Settings, Autostart.Step()));

    EXPECT_EQ(ReadFileBytes(Ini()), Original);
    EXPECT_TRUE(Autostart.Calls.empty());
    EXPECT_EQ(Support::CountJournal("ERROR", "cannot save settings: "), 1);
    TLoaderSettings Reloaded;
    ASSERT_TRUE(Reloaded.Load());
    EXPECT_EQ(Reloaded, Users);
}

TEST_F(SettingsTest, SavedChangeAppliesTheStartEntry)
{
    TAutostartCalls Autostart;
    TLoaderSettings Settings = SampleSettings(1);
    EXPECT_TRUE(SaveChangedSettings(Settings, Autostart.Step()));
    Settings.RunWithWindows = true;
    EXPECT_TRUE(SaveChangedSettings(Settings, Autostart.Step()));
    EXPECT_EQ(Autostart.Calls, (std::vector<bool>{false, true}));
    TLoaderSettings Reloaded;
    Reloaded.Load();
    EXPECT_EQ(Reloaded, Settings);
    // An empty step (the command-line tool) is simply left out.
    EXPECT_TRUE(SaveChangedSettings(Settings, {}));
}

// --- Failed saves -------------------------------------------------------------------------------

TEST_F(SettingsTest, SaveOverAnOccupiedPathThrowsAndLeavesNoTemporaryFile)
{
    fs::create_directories(Ini() / "inner");
    EXPECT_THROW(SampleSettings(2).Save(), std::runtime_error);
    EXPECT_TRUE(fs::is_directory(Ini() / "inner"));
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(SettingsTest, SaveIntoAFolderThatBecameAFileThrowsAndTouchesNothing)
{
    const TLoaderSettings Old = SampleSettings(2);
    Old.Save();
    const fs::path Folder = Ini().parent_path();
    const fs::path Aside = Data.Root() / "aside";
    const std::string Before = ReadFileBytes(Ini());
    fs::rename(Folder, Aside);
    {
        std::ofstream(Folder) << "not a folder";
    }

    EXPECT_THROW(SampleSettings(5).Save(), std::runtime_error);
    EXPECT_EQ(ReadFileBytes(Folder), "not a folder");
    EXPECT_EQ(ReadFileBytes(Aside / "settings.ini"), Before);
    EXPECT_TRUE(fs::is_regular_file(Folder));
}

#ifdef __linux__
// The disk "fills up" half way through the write (a file size limit makes every write past it
// fail, even for root): the old settings must survive byte for byte.
TEST_F(SettingsTest, WriteFailureMidwayKeepsTheOldFileByteIdentical)
{
    const TLoaderSettings Old = SampleSettings(1);
    Old.Save();
    const std::string Before = ReadFileBytes(Ini());
    ASSERT_FALSE(Before.empty());

    TLoaderSettings Bigger = SampleSettings(60);
    bool Threw = false;
    ASSERT_TRUE(Support::WithFileSizeLimit(Before.size() + 64, [&] {
        try {
            Bigger.Save();
        } catch (const std::runtime_error& Error) {
            Threw = true;
            EXPECT_NE(std::string(Error.what()).find("settings.ini"), std::string::npos)
                << Error.what();
        }
    }));

    EXPECT_TRUE(Threw);
    EXPECT_EQ(ReadFileBytes(Ini()), Before);
    EXPECT_TRUE(Leftovers().empty());
    TLoaderSettings Loaded;
    Loaded.Load();
    EXPECT_EQ(Loaded, Old);
}
#else
TEST_F(SettingsTest, WriteFailureMidwayKeepsTheOldFileByteIdentical)
{
    GTEST_SKIP() << "the disk filling up half way is forced with a file size limit (setrlimit), "
                    "which only Linux has";
}
#endif

// --- Display name -------------------------------------------------------------------------------

TEST(ScaleDisplayName, NameAndHostTrimmedAndJoinedByTwoSpaces)
{
    struct Row
    {
        std::string Name, Host, Expected;
    };
    const Row Rows[] = {
        {Vesy + " 1", "10.0.0.5", Vesy + " 1  10.0.0.5"},
        {"", "10.0.0.5", "10.0.0.5"},
        {Vesy + " 1", "", Vesy + " 1"},
        {"  " + Vesy + " 1\t", "\x01 10.0.0.5 ", Vesy + " 1  10.0.0.5"},
        {"   ", " host ", "host"},
        {"name", "\t", "name"},
        {"", "", ""},
    };
    for (const Row& R : Rows) {
        TScaleConfig Config;
        Config.Name = R.Name;
        Config.Host = R.Host;
        EXPECT_EQ(ScaleDisplayName(Config), R.Expected) << R.Name << "|" << R.Host;
    }
}

// --- Start with the session ---------------------------------------------------------------------

#ifndef _WIN32
class AutostartTest : public ::testing::Test
{
protected:
    fs::path EntryFile() const { return Config.Path() / "autostart" / "PlumeriaBridge.desktop"; }

    Support::TTempDir Config;
    Support::TScopedEnv Xdg{"XDG_CONFIG_HOME", Config.Path().string()};
};

TEST_F(AutostartTest, WriteThenRemove)
{
    const std::string Exe = ExecutablePath().string();
    ASSERT_FALSE(Exe.empty());
    Config.WriteFile("autostart/other.desktop", "[Desktop Entry]\nExec=other\n");

    EXPECT_TRUE(ApplyAutostart(true));
    const std::string Content = ReadFileBytes(EntryFile());
    EXPECT_TRUE(Content.starts_with("[Desktop Entry]\n")) << Content;
    EXPECT_NE(Content.find("\nType=Application\n"), std::string::npos) << Content;
    EXPECT_NE(Content.find("\nExec=\"" + Exe + "\"\n"), std::string::npos) << Content;
    EXPECT_EQ(ReadAutostartCommand(), "\"" + Exe + "\"");

    EXPECT_TRUE(ApplyAutostart(true)) << "rewriting is fine";
    EXPECT_EQ(ReadFileBytes(EntryFile()), Content);

    EXPECT_TRUE(ApplyAutostart(false));
    EXPECT_FALSE(fs::exists(EntryFile()));
    EXPECT_EQ(ReadAutostartCommand(), std::nullopt);
    EXPECT_EQ(ReadFileBytes(Config.Path() / "autostart" / "other.desktop"),
              "[Desktop Entry]\nExec=other\n");
    for (const auto& Entry : fs::directory_iterator(Config.Path() / "autostart"))
        EXPECT_EQ(Entry.path().filename(), "other.desktop");
}

TEST_F(AutostartTest, RemovingAnAbsentEntryChangesNothing)
{
    EXPECT_TRUE(ApplyAutostart(false));
    EXPECT_TRUE(fs::is_empty(Config.Path()));
    Config.WriteFile("autostart/other.desktop", "x");
    EXPECT_TRUE(ApplyAutostart(false));
    EXPECT_EQ(ReadFileBytes(Config.Path() / "autostart" / "other.desktop"), "x");
}

TEST_F(AutostartTest, FallsBackToHomeConfigWhenXdgIsUnsetOrRelative)
{
    Support::TTempDir Home;
    const Support::TScopedEnv HomeEnv("HOME", Home.Path().string());
    for (const std::optional<std::string>& Value :
         {std::optional<std::string>(), std::optional<std::string>("relative/config")}) {
        const Support::TScopedEnv XdgEnv("XDG_CONFIG_HOME", Value);
        const fs::path Expected = Home.Path() / ".config" / "autostart" / "PlumeriaBridge.desktop";
        EXPECT_TRUE(ApplyAutostart(true));
        EXPECT_TRUE(fs::is_regular_file(Expected));
        EXPECT_TRUE(ApplyAutostart(false));
        EXPECT_FALSE(fs::exists(Expected));
    }
    EXPECT_FALSE(fs::exists(EntryFile()));
}

TEST_F(AutostartTest, UnwritableLocationFailsQuietly)
{
    Config.WriteFile("autostart", "a file where the folder should be");
    bool Result = true;
    EXPECT_NO_THROW(Result = ApplyAutostart(true));
    EXPECT_FALSE(Result);
    EXPECT_EQ(ReadFileBytes(Config.Path() / "autostart"), "a file where the folder should be");
}

TEST_F(AutostartTest, ExecQuotesAndEscapesThePath)
{
    struct Row
    {
        std::string Path;
        std::string ExecLine; // as written in the file
        std::string Command;  // after the desktop-file string escapes are undone
    };
    const Row Rows[] = {
        {"/opt/plumeria/PlumeriaBridge", "Exec=\"/opt/plumeria/PlumeriaBridge\"",
         "\"/opt/plumeria/PlumeriaBridge\""},
        {"/opt/my apps/" + Vesy + "/pb", "Exec=\"/opt/my apps/" + Vesy + "/pb\"",
         "\"/opt/my apps/" + Vesy + "/pb\""},
        {"/o/a\"b", "Exec=\"/o/a\\\\\"b\"", "\"/o/a\\\"b\""},
        {"/o/$HOME`x`", "Exec=\"/o/\\\\$HOME\\\\`x\\\\`\"", "\"/o/\\$HOME\\`x\\`\""},
        {"/o/50%", "Exec=\"/o/50%%\"", "\"/o/50%%\""},
        {"/o/a\\b", "Exec=\"/o/a\\\\\\\\b\"", "\"/o/a\\\\b\""},
    };
    for (const Row& R : Rows) {
        ASSERT_TRUE(WriteAutostartEntry(R.Path));
        const std::string Content = ReadFileBytes(EntryFile());
        EXPECT_NE(Content.find("\n" + R.ExecLine + "\n"), std::string::npos) << R.Path << "\n"
                                                                             << Content;
        EXPECT_EQ(ReadAutostartCommand(), R.Command) << R.Path;
    }
}
#else
// The Run key is the user's own: every test puts back whatever it found there.
class AutostartTest : public ::testing::Test
{
protected:
    static constexpr const wchar_t* RunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    static constexpr const wchar_t* Ours = L"PlumeriaBridge";
    static constexpr const wchar_t* Neighbour = L"PlumeriaBridgeTestNeighbour";

    void SetUp() override { FSaved = RawValue(Ours); }
    void TearDown() override
    {
        if (FSaved)
            SetRaw(Ours, *FSaved);
        else
            DeleteRaw(Ours);
        DeleteRaw(Neighbour);
    }

    /// The value as the registry holds it, read past the seam under test.
    static std::optional<std::wstring> RawValue(const wchar_t* Name)
    {
        DWORD Bytes = 0;
        if (RegGetValueW(HKEY_CURRENT_USER, RunKey, Name, RRF_RT_REG_SZ, nullptr, nullptr,
                         &Bytes) != ERROR_SUCCESS)
            return std::nullopt;
        std::wstring Text(Bytes / sizeof(wchar_t) + 1, L'\0');
        Bytes = static_cast<DWORD>(Text.size() * sizeof(wchar_t));
        if (RegGetValueW(HKEY_CURRENT_USER, RunKey, Name, RRF_RT_REG_SZ, nullptr, Text.data(),
                         &Bytes) != ERROR_SUCCESS)
            return std::nullopt;
        Text.resize(Bytes / sizeof(wchar_t));
        while (!Text.empty() && Text.back() == L'\0')
            Text.pop_back();
        return Text;
    }
    static void SetRaw(const wchar_t* Name, const std::wstring& Value)
    {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, RunKey, Name, REG_SZ, Value.c_str(),
                                  static_cast<DWORD>((Value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    static void DeleteRaw(const wchar_t* Name)
    {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, RunKey, Name);
    }

    std::optional<std::wstring> FSaved;
};

TEST_F(AutostartTest, WriteThenRemove)
{
    const fs::path Exe = ExecutablePath();
    ASSERT_FALSE(Exe.empty());
    SetRaw(Neighbour, L"\"C:\\Other\\other.exe\"");

    EXPECT_TRUE(ApplyAutostart(true));
    EXPECT_EQ(RawValue(Ours), L"\"" + Exe.wstring() + L"\"");
    EXPECT_EQ(ReadAutostartCommand(), "\"" + PathToUtf8(Exe) + "\"");
    EXPECT_TRUE(ApplyAutostart(true)) << "rewriting is fine";
    EXPECT_EQ(RawValue(Ours), L"\"" + Exe.wstring() + L"\"");

    EXPECT_TRUE(ApplyAutostart(false));
    EXPECT_EQ(RawValue(Ours), std::nullopt);
    EXPECT_EQ(ReadAutostartCommand(), std::nullopt);
    EXPECT_EQ(RawValue(Neighbour), L"\"C:\\Other\\other.exe\"");
}

TEST_F(AutostartTest, RemovingAnAbsentEntryChangesNothing)
{
    DeleteRaw(Ours);
    SetRaw(Neighbour, L"x");
    EXPECT_TRUE(ApplyAutostart(false));
    EXPECT_TRUE(ApplyAutostart(false));
    EXPECT_EQ(RawValue(Ours), std::nullopt);
    EXPECT_EQ(RawValue(Neighbour), L"x");
}

TEST_F(AutostartTest, CyrillicAndSpacedPathsSurviveTheRegistry)
{
    const std::string Rows[] = {
        "C:\\Program Files\\PlumeriaBridge\\PlumeriaBridge.exe",
        CyrFolder + "\\" + Vesy + ".exe",
        "\\\\server\\share\\" + Vesy + " 2\\pb.exe",
    };
    for (const std::string& Path : Rows) {
        ASSERT_TRUE(WriteAutostartEntry(PathFromUtf8(Path))) << Path;
        EXPECT_EQ(RawValue(Ours), L"\"" + PathFromUtf8(Path).wstring() + L"\"") << Path;
        EXPECT_EQ(ReadAutostartCommand(), "\"" + Path + "\"");
    }
}
#endif

} // namespace
} // namespace Plumeria
