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

/// The label commands journal nothing, but they are programs of this build all the same: each runs
/// in a data folder of its own (`send-label` journals into it; the environment is inherited).
class LabelCommand : public ::testing::Test
{
protected:
    Plumeria::Test::TTempDataFolder Data;
};

TEST_F(LabelCommand, NewThenShowListsTwoEmptyFormats)
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

TEST_F(LabelCommand, PlacedFieldsShowWhereTheyWerePut)
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
TEST_F(LabelCommand, EditRewritesOnlyTheChangedDigits)
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
TEST_F(LabelCommand, MadeAndEditedFileIsSentAsItsRecords)
{
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

TEST_F(LabelCommand, BadFilesAndBadArguments)
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

// A label file that is there but cannot be read is a failure of the file (exit 1, its reason on
// the error output, "read" as the JSON error), not of the command line.
TEST_F(LabelCommand, AnUnreadableFileFailsWithItsReason)
{
    TTempDir Dir;
    std::filesystem::create_directories(Dir.Path() / "f34.dat"); // a folder where the file belongs
    for (const bool Json : {false, true}) {
        std::vector<std::string> Args = {"label", "show", Dir.Path().string()};
        if (Json)
            Args.push_back("--json");
        const auto R = RunTool(Args);
        EXPECT_EQ(R.ExitCode, 1) << Describe(R);
        EXPECT_EQ(R.Out, Json ? "{\"error\":\"read\"}\n" : "") << Describe(R);
        EXPECT_NE(R.Err.find((Dir.Path() / "f34.dat").string() + ": cannot be read: "),
                  std::string::npos)
            << Describe(R);
    }
    const auto R = RunTool({"label", "edit", Dir.Path().string(), "--format", "1", "--clear", "7"});
    EXPECT_EQ(R.ExitCode, 1) << Describe(R);
}

TEST_F(LabelCommand, HelpAndTheSlotTable)
{
    for (const char* Help : {"--help", "-h", "help"}) {
        const auto R = RunTool({"label", Help});
        EXPECT_EQ(R.ExitCode, 0) << Describe(R);
        EXPECT_EQ(R.Err, "");
        EXPECT_EQ(R.Out.rfind("usage: plumeria label show PATH [--json]\n", 0), 0u) << R.Out;
        EXPECT_NE(R.Out.find("X, Y, W and H are printer dots, 8 per mm"), std::string::npos);
        EXPECT_NE(R.Out.find("`plumeria label show --slots` lists all of them"), std::string::npos);
    }
    // A usage error still goes to the error output with exit 2.
    EXPECT_EQ(RunTool({"label"}).ExitCode, 2);

    const auto R = RunTool({"label", "show", "--slots"});
    ASSERT_EQ(R.ExitCode, 0) << Describe(R);
    std::vector<std::string> Lines;
    for (std::size_t From = 0, To; (To = R.Out.find('\n', From)) != std::string::npos;
         From = To + 1)
        Lines.push_back(R.Out.substr(From, To - From));
    ASSERT_EQ(Lines.size(), 59u);
    EXPECT_EQ(Lines[0], "slot 0 line \"Номер PLU\" (fixed size)");
    EXPECT_EQ(Lines[7], "slot 7 block \"Название\"");
    EXPECT_EQ(Lines[13], "slot 13 logo \"Логотип\" (fixed size)");
    EXPECT_EQ(Lines[58], "slot 58 multibar \"Мультиштрихкод 2\"");
    EXPECT_EQ(RunTool({"label", "show", "--slots", "--json"}).ExitCode, 2);
}

// Edits that would not do what they say are refused and leave the file as it was.
TEST_F(LabelCommand, PlacingAgainAndResizingAFixedFieldAreRefused)
{
    TTempDir Dir;
    const std::string Folder = Dir.Path().string();
    ASSERT_EQ(RunTool({"label", "new", Folder, "--size", "54x37"}).ExitCode, 0);
    for (const char* Slot : {"0", "7", "13"})
        ASSERT_EQ(RunTool({"label", "edit", Folder, "--format", "1", "--place", Slot, "40", "40"})
                      .ExitCode,
                  0);
    ASSERT_EQ(
        RunTool({"label", "edit", Folder, "--format", "1", "--resize", "7", "200", "80"}).ExitCode,
        0);
    const std::string Kept = ReadFileBytes(Dir.Path() / "f34.dat");
    const struct
    {
        std::vector<std::string> Edit;
        const char* Err;
    } Rows[] = {
        {{"--place", "7", "8", "8"}, "field 7 is already placed on format 1"},
        {{"--resize", "0", "100", "100"}, "field 0 (line) cannot be resized"},
        {{"--resize", "13", "100", "100"}, "field 13 (logo) cannot be resized"},
    };
    for (const auto& Row : Rows) {
        std::vector<std::string> Args = {"label", "edit", Folder, "--format", "1"};
        Args.insert(Args.end(), Row.Edit.begin(), Row.Edit.end());
        const auto R = RunTool(Args);
        EXPECT_EQ(R.ExitCode, 1) << Row.Edit[0] << " " << Describe(R);
        EXPECT_NE(R.Err.find(Row.Err), std::string::npos) << Describe(R);
        EXPECT_EQ(ReadFileBytes(Dir.Path() / "f34.dat"), Kept) << Row.Edit[0];
    }
    // The block kept the size it was given.
    const auto& Fields = ShowJson(Dir.Path())["formats"].Array[0]["fields"].Array;
    ASSERT_EQ(Fields.size(), 3u);
    EXPECT_EQ(Fields[1]["w"].Int(), 200);
    EXPECT_EQ(Fields[1]["h"].Int(), 80);
}

// A read-only f34.dat is never replaced, whoever runs the tool; a file far larger than any label
// is refused before it is read.
TEST_F(LabelCommand, ReadOnlyAndOversizedFilesAreRefused)
{
    TTempDir Dir;
    const auto Folder = Dir.Path() / "readonly";
    std::filesystem::create_directories(Folder);
    ASSERT_EQ(RunTool({"label", "new", Folder.string(), "--size", "54x37"}).ExitCode, 0);
    const auto File = Folder / "f34.dat";
    const std::string Kept = ReadFileBytes(File);
    using std::filesystem::perms;
    std::filesystem::permissions(File, perms::owner_read | perms::group_read | perms::others_read);
    for (const std::vector<std::string>& Args :
         {std::vector<std::string>{"edit", Folder.string(), "--format", "1", "--place", "7", "8",
                                   "8"},
          {"new", Folder.string(), "--size", "40x30", "--replace"}}) {
        std::vector<std::string> Command = {"label"};
        Command.insert(Command.end(), Args.begin(), Args.end());
        const auto R = RunTool(Command);
        EXPECT_EQ(R.ExitCode, 1) << Args[0] << " " << Describe(R);
        EXPECT_NE(R.Err.find(File.string() + ": Файл f34.dat только для чтения"), std::string::npos)
            << Describe(R);
        EXPECT_EQ(ReadFileBytes(File), Kept) << Args[0];
    }
    std::filesystem::permissions(File, perms::owner_write, std::filesystem::perm_options::add);

    // Two good formats followed by blanks up to one byte over 16 MiB.
    std::string Large = Spell({MakeFormat(1), MakeFormat(2)});
    const auto Big =
        Dir.WriteFile("big/f34.dat", Large + std::string(16 * 1024 * 1024 + 1 - Large.size(), ' '));
    auto R = RunTool({"label", "show", Big.string(), "--json"});
    EXPECT_EQ(R.ExitCode, 1) << Describe(R);
    EXPECT_EQ(R.Out, "{\"error\":\"large\"}\n");
    EXPECT_NE(R.Err.find("Файл этикетки больше 16 МБ"), std::string::npos) << Describe(R);
    // At the limit itself the file is still a label.
    std::filesystem::resize_file(Big, 16 * 1024 * 1024);
    R = RunTool({"label", "show", Big.string(), "--json"});
    EXPECT_EQ(R.ExitCode, 0) << Describe(R);
}

} // namespace
} // namespace Plumeria
