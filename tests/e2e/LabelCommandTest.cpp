// `plumeria label` as integrators use it: a new file listed back as JSON, fields placed, moved,
// resized and cleared through the document model, exactly the digits of changed bytes rewritten
// in a hand-spaced file, and clear answers for bad files and bad arguments.

#include "core/DigiFrame/LabelRecords.h"
#include "core/LabelGeom/LabelGeom.h"

#include "support/JsonReader.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"
#include "tool/ScaleSim.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

namespace Plumeria {
namespace {

using Test::ParseJson;
using Test::ReadFileBytes;
using Test::RunTool;
using Test::TJsonValue;
using Test::TProcessResult;
using Test::TTempDir;
using TBytes = std::vector<std::uint8_t>;

std::string Describe(const TProcessResult& R)
{
    return "exit=" + std::to_string(R.ExitCode) + "\nstdout: " + R.Out.substr(0, 2000) +
           "\nstderr: " + R.Err.substr(0, 2000);
}

TJsonValue ShowJson(const std::filesystem::path& Path)
{
    const auto R = RunTool({"label", "show", Path.string(), "--json"});
    EXPECT_EQ(R.ExitCode, 0) << Describe(R);
    return ParseJson(R.Out);
}

TBytes MakeFormat(std::uint32_t Id)
{
    TBytes Record(1400, 0);
    Record[3] = static_cast<std::uint8_t>(Id);
    Record[4] = 1400 >> 8;
    Record[5] = 1400 & 0xFF;
    Record[7] = 200; // 200 x 160 dots
    Record[9] = 160;
    for (std::size_t I = 1310; I < Record.size(); ++I)
        Record[I] = static_cast<std::uint8_t>(I * 7); // nobody's bytes, kept as they are
    return Record;
}

/// Lower-case digits with blanks between bytes, inside every fifth byte and CR LF every 24 bytes;
/// the bytes whose stream index is in `Upper` are spelled in upper case.
std::string Spell(const std::vector<TBytes>& Records, const std::set<std::size_t>& Upper = {})
{
    static const char Lower[] = "0123456789abcdef";
    static const char Capital[] = "0123456789ABCDEF";
    std::string Text;
    std::size_t N = 0;
    for (const TBytes& Record : Records)
        for (const auto Byte : Record) {
            const char* Digits = Upper.count(N) ? Capital : Lower;
            Text += Digits[Byte >> 4];
            if (N % 5 == 2)
                Text += "\t";
            Text += Digits[Byte & 0x0F];
            Text += ++N % 24 == 0 ? "\r\n" : " ";
        }
    return Text;
}

TEST(LabelCommand, NewThenShowListsTwoEmptyFormats)
{
    TTempDir Dir;
    auto R = RunTool({"label", "new", Dir.Path().string(), "--size", "54x37"});
    ASSERT_EQ(R.ExitCode, 0) << Describe(R);
    EXPECT_EQ(R.Out, "");
    const auto File = Dir.Path() / "f34.dat";
    EXPECT_EQ(ReadFileBytes(File).size(), 5600u);

    const TJsonValue Json = ShowJson(Dir.Path());
    EXPECT_EQ(Json.Keys(), (std::vector<std::string>{"file", "formats"}));
    EXPECT_EQ(Json["file"].String, File.string());
    ASSERT_EQ(Json["formats"].Array.size(), 2u);
    for (std::size_t I = 0; I < 2; ++I) {
        const TJsonValue& Format = Json["formats"].Array[I];
        EXPECT_EQ(Format.Keys(),
                  (std::vector<std::string>{"index", "id", "width", "height", "fields"}));
        EXPECT_EQ(Format["index"].Int(), static_cast<std::int64_t>(I));
        EXPECT_EQ(Format["id"].Int(), static_cast<std::int64_t>(I + 1));
        EXPECT_EQ(Format["width"].Int(), 432);
        EXPECT_EQ(Format["height"].Int(), 296);
        EXPECT_TRUE(Format["fields"].IsArray());
        EXPECT_TRUE(Format["fields"].Array.empty());
    }

    // An existing file is kept unless --replace asks otherwise.
    Dir.WriteFile("f34.dat", "keep me");
    R = RunTool({"label", "new", Dir.Path().string(), "--size", "30x20"});
    EXPECT_EQ(R.ExitCode, 2) << Describe(R);
    EXPECT_EQ(ReadFileBytes(File), "keep me");
    R = RunTool({"label", "new", Dir.Path().string(), "--size", "30x20", "--replace"});
    EXPECT_EQ(R.ExitCode, 0) << Describe(R);
    EXPECT_EQ(ShowJson(File)["formats"].Array[1]["width"].Int(), 240);
}

TEST(LabelCommand, PlacedFieldsShowWhereTheyWerePut)
{
    TTempDir Dir;
    ASSERT_EQ(RunTool({"label", "new", Dir.Path().string(), "--size", "54x37"}).ExitCode, 0);
    const std::string Path = Dir.Path().string();
    const std::vector<std::vector<std::string>> Edits = {
        {"--place", "7", "32", "32"},    // Название, a block
        {"--place", "16", "32", "32"},   // Рамка 1
        {"--move", "16", "40", "20"},    // the frame moves as a whole
        {"--place", "0", "80", "240"},   // Номер PLU, in the band
        {"--place", "11", "10", "10"},   // EAN-13
        {"--resize", "11", "500", "60"}, // only its height counts
        {"--place", "13", "0", "0"},     // the logo, cleared again
        {"--clear", "13"},
    };
    for (const auto& Edit : Edits) {
        std::vector<std::string> Args = {"label", "edit", Path, "--format", "2"};
        Args.insert(Args.end(), Edit.begin(), Edit.end());
        const auto R = RunTool(Args);
        ASSERT_EQ(R.ExitCode, 0) << Edit[0] << " " << Describe(R);
        EXPECT_EQ(R.Out + R.Err, "");
    }
    const TJsonValue Json = ShowJson(Dir.Path());
    EXPECT_TRUE(Json["formats"].Array[0]["fields"].Array.empty());
    const auto& Fields = Json["formats"].Array[1]["fields"].Array;
    ASSERT_EQ(Fields.size(), 4u);
    EXPECT_EQ(Fields[0].Keys(),
              (std::vector<std::string>{"slot", "caption", "kind", "x", "y", "w", "h", "resizable",
                                        "rotation", "print", "screen"}));
    const struct
    {
        int Slot;
        const char* Caption;
        const char* Kind;
        int X, Y, W, H;
        bool Resizable;
        std::vector<int> Screen;
    } Expected[] = {
        {0, "Номер PLU", "line", 80, 240, 64, 16, false, {80, 240, 64, 16}},
        {7, "Название", "block", 32, 32, 102, 51, true, {32, 133, 102, 51}},
        {11, "EAN-13", "ean", 10, 10, 120, 60, true, {10, 146, 120, 60}},
        {16, "Рамка 1", "bevel", 40, 20, 51, 51, true, {40, 145, 51, 51}},
    };
    for (std::size_t I = 0; I < Fields.size(); ++I) {
        const auto& Field = Fields[I];
        const auto& Want = Expected[I];
        EXPECT_EQ(Field["slot"].Int(), Want.Slot);
        EXPECT_EQ(Field["caption"].String, Want.Caption);
        EXPECT_EQ(Field["kind"].String, Want.Kind);
        EXPECT_EQ(Field["x"].Int(), Want.X) << Want.Slot;
        EXPECT_EQ(Field["y"].Int(), Want.Y) << Want.Slot;
        EXPECT_EQ(Field["w"].Int(), Want.W) << Want.Slot;
        EXPECT_EQ(Field["h"].Int(), Want.H) << Want.Slot;
        EXPECT_EQ(Field["resizable"].Bool, Want.Resizable) << Want.Slot;
        EXPECT_EQ(Field["rotation"].Int(), 0);
        EXPECT_EQ(Field["print"].Int(), 0x70);
        std::vector<int> Screen;
        for (const auto& V : Field["screen"].Array)
            Screen.push_back(static_cast<int>(V.Int()));
        EXPECT_EQ(Screen, Want.Screen) << Want.Slot;
    }
    const auto R = RunTool({"label", "show", Path});
    EXPECT_EQ(R.ExitCode, 0);
    EXPECT_NE(R.Out.find("format 1: id 2, 432 x 296 dots\n"), std::string::npos) << R.Out;
    EXPECT_NE(R.Out.find("  slot 16 bevel \"Рамка 1\": x 40, y 20, w 51, h 51, rotation 0, "
                         "print 0x70\n"),
              std::string::npos)
        << R.Out;
}

// Two formats numbered 1: the edit goes to the last, as in the designer, and only the digits of
// the bytes that changed are rewritten, in upper case; spacing, line breaks and the case of every
// other digit stay.
TEST(LabelCommand, EditRewritesOnlyTheChangedDigits)
{
    TTempDir Dir;
    const std::vector<TBytes> Before = {MakeFormat(1), MakeFormat(1)};
    const std::string Original = Spell(Before);
    const auto File = Dir.WriteFile("f34.dat", Original);
    const auto R =
        RunTool({"label", "edit", File.string(), "--format", "1", "--place", "7", "100", "40"});
    ASSERT_EQ(R.ExitCode, 0) << Describe(R);

    std::vector<TBytes> After = Before;
    const int Block = GetSlot(7).Offset;
    const std::pair<int, int> Written[] = {{1, 100}, {3, 40}, {5, 0x70}, {7, 51}, {9, 102}};
    std::set<std::size_t> Changed;
    for (const auto& [Offset, Value] : Written) {
        After[1][static_cast<std::size_t>(Block + Offset)] = static_cast<std::uint8_t>(Value);
        Changed.insert(1400 + static_cast<std::size_t>(Block + Offset));
    }
    EXPECT_EQ(ReadFileBytes(File), Spell(After, Changed));

    // Nothing to change: the file is not rewritten (a replaced file would lose its second link).
    std::filesystem::create_hard_link(File, Dir.Path() / "witness");
    const auto Again =
        RunTool({"label", "edit", File.string(), "--format", "1", "--move", "7", "100", "40"});
    EXPECT_EQ(Again.ExitCode, 0) << Describe(Again);
    EXPECT_EQ(std::filesystem::hard_link_count(File), 2u);
    // A change replaces the file as a whole.
    ASSERT_EQ(RunTool({"label", "edit", File.string(), "--format", "1", "--move", "7", "1", "2"})
                  .ExitCode,
              0);
    EXPECT_EQ(std::filesystem::hard_link_count(File), 1u);
    EXPECT_EQ(ReadFileBytes(Dir.Path() / "witness"), Spell(After, Changed));
}

// The whole road of an integrator: a new layout, fields placed and moved, sent with `send-label`;
// the scale gets the records of the file as the designer's document reads them.
TEST(LabelCommand, MadeAndEditedFileIsSentAsItsRecords)
{
    Plumeria::Test::TTempDataFolder
        Data; // send-label journals into it (the environment is inherited)
    TTempDir Dir;
    const std::string Folder = Dir.Path().string();
    ASSERT_EQ(RunTool({"label", "new", Folder, "--size", "58x40"}).ExitCode, 0);
    for (const std::vector<std::string>& Edit :
         {std::vector<std::string>{"--place", "7", "16", "120"},
          {"--place", "0", "200", "260"},
          {"--place", "20", "8", "8"},
          {"--move", "20", "12", "16"},
          {"--resize", "7", "300", "48"}}) {
        std::vector<std::string> Args = {"label", "edit", Folder, "--format", "1"};
        Args.insert(Args.end(), Edit.begin(), Edit.end());
        ASSERT_EQ(RunTool(Args).ExitCode, 0) << Edit[0];
    }
    Dir.WriteFile("f38.dat", "00000001000a41424344\r\n");
    TDigiLabelDoc Doc;
    std::string Error;
    ASSERT_TRUE(Doc.Load(Dir.Path() / "f34.dat", Error)) << Error;
    ASSERT_TRUE(Doc.Occupied(0, 20));

    Tool::TScaleSim Sim;
    ASSERT_TRUE(Sim.Start({}, Error)) << Error;
    const auto R = RunTool({"send-label", Folder, "--host", "127.0.0.1", "--port",
                            std::to_string(Sim.Port()), "--bind", "127.0.0.1"});
    ASSERT_EQ(R.ExitCode, 0) << Describe(R);
    EXPECT_EQ(R.Out, "sent label, 2 format records, 1 texts\n");
    const auto Frames = Sim.Frames();
    ASSERT_EQ(Frames.size(), 3u);
    for (int Format = 0; Format < 2; ++Format) {
        TBytes Expected = {0xF1, 0x34};
        Expected.insert(Expected.end(), Doc.Record(Format).begin(), Doc.Record(Format).end());
        EXPECT_EQ(Frames[static_cast<std::size_t>(Format)].Bytes, Expected) << Format;
    }
    EXPECT_EQ(Frames[2].Bytes,
              (TBytes{0xF1, 0x38, 0x00, 0x00, 0x00, 0x01, 0x00, 0x0A, 0x41, 0x42, 0x43, 0x44}));
}

TEST(LabelCommand, BadFilesAndBadArguments)
{
    TTempDir Dir;
    TBytes Short(1309, 0);
    Short[4] = 1309 >> 8;
    Short[5] = 1309 & 0xFF;
    Dir.WriteFile("short/f34.dat", Spell({Short}));
    Dir.WriteFile("hex/f34.dat", "00 zz");
    std::filesystem::create_directories(Dir.Path() / "none");
    const auto Good = Dir.Path() / "good";
    std::filesystem::create_directories(Good);
    ASSERT_EQ(RunTool({"label", "new", Good.string(), "--size", "40x30"}).ExitCode, 0);
    const std::string Kept = ReadFileBytes(Good / "f34.dat");

    const struct
    {
        std::vector<std::string> Args;
        int Exit;
        const char* Out;     // exact standard output
        const char* ErrPart; // a piece of the error output
    } Rows[] = {
        {{"show", (Dir.Path() / "short").string(), "--json"},
         1,
         "{\"error\":\"short\"}\n",
         "Слишком короткая запись"},
        {{"show", (Dir.Path() / "hex").string()}, 1, "", "Файл не похож на f34"},
        {{"show", (Dir.Path() / "none").string(), "--json"},
         1,
         "{\"error\":\"missing\"}\n",
         "Нет файла f34.dat"},
        {{"show", (Dir.Path() / "nowhere").string()}, 2, "", "no such file or folder"},
        {{"show"}, 2, "", "usage"},
        {{"frobnicate"}, 2, "", "unknown label command"},
        {{"new", (Dir.Path() / "nowhere").string(), "--size", "40x30"}, 2, "", "no such folder"},
        {{"new", Good.string(), "--size", "9x30", "--replace"}, 2, "", "--size"},
        {{"new", Good.string(), "--size", "40x201", "--replace"}, 2, "", "--size"},
        {{"new", Good.string(), "--size", "40", "--replace"}, 2, "", "--size"},
        {{"edit", Good.string(), "--format", "1"}, 2, "", "give one of"},
        {{"edit", Good.string(), "--format", "1", "--clear", "1", "--clear", "2"},
         2,
         "",
         "give one of"},
        {{"edit", Good.string(), "--format", "1", "--clear", "59"}, 2, "", "SLOT"},
        {{"edit", Good.string(), "--format", "1", "--place", "7", "1"}, 2, "", "--place"},
        {{"edit", Good.string(), "--format", "1", "--place", "7", "x", "1"}, 2, "", "whole"},
        {{"edit", Good.string(), "--format", "x", "--clear", "7"}, 2, "", "--format"},
        {{"edit", Good.string(), "--format", "3", "--clear", "7"}, 1, "", "no format 3"},
        {{"edit", Good.string(), "--format", "1", "--move", "7", "5", "5"},
         1,
         "",
         "not on format 1"},
        {{"edit", Good.string(), "--format", "1", "--clear", "7"}, 0, "", ""},
    };
    for (const auto& Row : Rows) {
        std::vector<std::string> Args = {"label"};
        Args.insert(Args.end(), Row.Args.begin(), Row.Args.end());
        const auto R = RunTool(Args);
        EXPECT_EQ(R.ExitCode, Row.Exit) << Row.Args[0] << " " << Describe(R);
        EXPECT_EQ(R.Out, Row.Out) << Describe(R);
        EXPECT_NE(R.Err.find(Row.ErrPart), std::string::npos) << Describe(R);
    }
    EXPECT_EQ(ReadFileBytes(Good / "f34.dat"), Kept);
}

} // namespace
} // namespace Plumeria
