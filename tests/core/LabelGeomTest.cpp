#include "core/LabelGeom/LabelGeom.h"
#include "core/DigiFrame/LabelRecords.h"
#include "core/LabelGeom/LabelPlace.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <random>
#include <set>
#include <stdexcept>

namespace Plumeria {
namespace {

namespace Kit = Plumeria::Test;
using enum TDigiFieldKind;
using TBytes = std::vector<std::uint8_t>;

constexpr int NameSlot = 7;    // dfBlock 1
constexpr int PluSlot = 0;     // dfLine 1
constexpr int EanSlot = 11;    // dfEan 1
constexpr int LogoSlot = 13;   // dfLogo 1
constexpr int Frame1Slot = 16; // dfBevel 1

/// A format record of `Length` bytes with a recognisable filler in the bytes nobody interprets.
TBytes MakeFormat(std::uint32_t Id, int Length, int Width = 432, int Height = 296)
{
    TBytes Record(static_cast<std::size_t>(Length), 0);
    Record[0] = static_cast<std::uint8_t>(Id >> 24);
    Record[1] = static_cast<std::uint8_t>(Id >> 16);
    Record[2] = static_cast<std::uint8_t>(Id >> 8);
    Record[3] = static_cast<std::uint8_t>(Id);
    Record[4] = static_cast<std::uint8_t>(Length >> 8);
    Record[5] = static_cast<std::uint8_t>(Length);
    Record[6] = static_cast<std::uint8_t>(Width >> 8);
    Record[7] = static_cast<std::uint8_t>(Width);
    Record[8] = static_cast<std::uint8_t>(Height >> 8);
    Record[9] = static_cast<std::uint8_t>(Height);
    Record[11] = 3;
    // Bytes between blocks and past the last block: kept as they are.
    Record[80] = 0xAB;
    if (Length > 1310)
        Record[1310] = 0xCD;
    return Record;
}

std::string CompactHex(const TBytes& Bytes)
{
    std::string Text;
    char Buf[3];
    for (const auto Byte : Bytes) {
        std::snprintf(Buf, sizeof Buf, "%02X", Byte);
        Text += Buf;
    }
    return Text;
}

/// Lower-case digits, and every kind of blank somewhere: between bytes, inside bytes, CR LF.
std::string MessyHex(const std::vector<TBytes>& Records)
{
    static const char* const Blanks[] = {" ", "\t", "\r\n", "", "\n ", "\r", "  \t"};
    std::string Text = "\r\n";
    char Buf[3];
    int N = 0;
    for (const TBytes& Record : Records) {
        for (const auto Byte : Record) {
            std::snprintf(Buf, sizeof Buf, "%02x", Byte);
            Text += Buf[0];
            if (N % 7 == 3)
                Text += Blanks[N % 5]; // splits the byte
            Text += Buf[1];
            Text += Blanks[N % 7];
            ++N;
        }
        Text += "\r\n";
    }
    return Text;
}

/// Positions (0-based) where two texts of equal length differ.
std::vector<std::size_t> Differences(const std::string& A, const std::string& B)
{
    std::vector<std::size_t> Out;
    for (std::size_t I = 0; I < std::min(A.size(), B.size()); ++I)
        if (A[I] != B[I])
            Out.push_back(I);
    return Out;
}

class LabelDoc : public ::testing::Test
{
protected:
    std::filesystem::path Write(const std::string& Text, const char* Name = "f34.dat")
    {
        return Folder.WriteFile(Name, Text);
    }
    void LoadOk(const std::string& Text)
    {
        std::string Error;
        ASSERT_TRUE(Doc.Load(Write(Text), Error)) << Error;
        ASSERT_TRUE(Error.empty());
        ASSERT_TRUE(Doc.RecordsMatchText());
    }
    void CreateOk(int Width = 432, int Height = 296)
    {
        std::string Error;
        ASSERT_TRUE(Doc.CreateEmpty(Folder.Path() / "f34.dat", Width, Height, Error)) << Error;
    }
    std::string SavedFile() const { return Kit::ReadFileBytes(Folder.Path() / "f34.dat"); }
    int BlockWord(int Slot, int Offset) const
    {
        return Doc.WordAt(0, GetSlot(Slot).Offset + Offset);
    }
    int BlockByte(int Slot, int Offset) const
    {
        return Doc.ByteAt(0, GetSlot(Slot).Offset + Offset);
    }

    Kit::TTempDir Folder;
    TDigiLabelDoc Doc;
};

TEST(LabelUnits, ConversionsRoundAndClamp)
{
    const struct
    {
        std::int64_t Value;
        int Clamped;
    } Words[] = {{-5, 0}, {0, 0}, {65535, 65535}, {70000, 65535}, {1234, 1234}};
    for (const auto& Row : Words)
        EXPECT_EQ(ClampWord(Row.Value), Row.Clamped) << Row.Value;
    const struct
    {
        int From;
        int To;
    } Dots[] = {{64, 51}, {128, 102}, {130, 104}, {280, 224}, {1, 1}, {0, 0}, {-7, 0}},
      Tenths[] = {{32, 40}, {51, 64}, {2, 3}, {0, 0}, {-3, 0}};
    for (const auto& Row : Dots)
        EXPECT_EQ(DotsFromTenths(Row.From), Row.To) << Row.From;
    for (const auto& Row : Tenths)
        EXPECT_EQ(TenthsFromDots(Row.From), Row.To) << Row.From;
    EXPECT_EQ(TenthsFromDots(INT32_MAX), INT32_MAX);
}

TEST(LabelSlots, TableRowsAndCaptions)
{
    ASSERT_EQ(SlotCount(), 59);
    const struct
    {
        int Index;
        TDigiSlot Slot;
        const char* Caption;
    } Rows[] = {
        {0, {dfLine, 1, 12, 8, 8}, "Номер PLU"},
        {4, {dfLine, 5, 44, 8, 6}, "В упаковке"},
        {7, {dfBlock, 1, 68, 12, 0}, "Название"},
        {11, {dfEan, 1, 106, 12, 0}, "EAN-13"},
        {13, {dfLogo, 1, 146, 12, 0}, "Логотип"},
        {18, {dfBevel, 3, 274, 12, 0}, "Рамка 3"},
        {37, {dfPicture, 10, 494, 12, 0}, "Картинка 10"},
        {38, {dfText, 1, 758, 12, 0}, "СУММА, РУБ"},
        {53, {dfText, 16, 938, 12, 0}, "Text msg.16"},
        {54, {dfBlock, 5, 1014, 12, 0}, "Адрес"},
        {56, {dfLine, 14, 1166, 8, 8}, "Тара, %"},
        {58, {dfMultiBar, 2, 1298, 12, 0}, "Мультиштрихкод 2"},
    };
    for (const auto& Row : Rows) {
        EXPECT_EQ(GetSlot(Row.Index), Row.Slot) << Row.Index;
        EXPECT_EQ(FieldCaption(GetSlot(Row.Index)), Row.Caption) << Row.Index;
    }
}

// The blocks tile the record exactly as the file layout says: no overlaps, none in the stretches
// nobody interprets, the last one ending at 1310, and every caption distinct.
TEST(LabelSlots, BlocksLeaveTheUninterpretedStretchesAlone)
{
    const std::pair<int, int> Gaps[] = {{80, 81},     {130, 145},  {158, 181},  {194, 207},
                                        {220, 249},   {506, 757},  {950, 1013}, {1026, 1133},
                                        {1142, 1165}, {1174, 1285}};
    std::vector<int> Owner(1310, -1);
    std::set<std::string> Captions;
    for (int I = 0; I < SlotCount(); ++I) {
        const TDigiSlot Slot = GetSlot(I);
        EXPECT_EQ(Slot.Bytes, Slot.Kind == dfLine ? 8 : 12) << I;
        EXPECT_EQ(Slot.DefaultSymbols != 0, Slot.Kind == dfLine) << I;
        for (int B = Slot.Offset; B < Slot.Offset + Slot.Bytes; ++B) {
            ASSERT_LT(B, 1310) << I;
            EXPECT_EQ(Owner[static_cast<std::size_t>(B)], -1) << "slot " << I << " byte " << B;
            Owner[static_cast<std::size_t>(B)] = I;
        }
        Captions.insert(FieldCaption(Slot));
    }
    // "Вес" names both the weight line and text message 13; every other caption is unique.
    EXPECT_EQ(Captions.size(), 58u);
    EXPECT_EQ(FieldCaption(GetSlot(3)), FieldCaption(GetSlot(50)));
    EXPECT_EQ(Captions.count(""), 0u);
    for (int B = 12; B < 1310; ++B) {
        const bool InGap = std::any_of(std::begin(Gaps), std::end(Gaps), [B](const auto& G) {
            return B >= G.first && B <= G.second;
        });
        EXPECT_EQ(Owner[static_cast<std::size_t>(B)] == -1, InGap) << B;
    }
    EXPECT_EQ(Owner[1309], 58);
}

TEST_F(LabelDoc, SpacedLowerCaseFileLoadsAndOneByteChangesTwoCharacters)
{
    TBytes First = MakeFormat(2, 1400, 400, 240);
    TBytes Second = MakeFormat(1, 1500, 432, 296);
    First[GetSlot(NameSlot).Offset + 1] = 0x2A;
    const std::string Text = MessyHex({First, Second});
    LoadOk(Text);
    ASSERT_EQ(Doc.FormatCount(), 2);
    EXPECT_EQ(Doc.FormatId(0), 2u);
    EXPECT_EQ(Doc.FormatId(1), 1u);
    EXPECT_EQ(Doc.Record(0), First);
    EXPECT_EQ(Doc.Record(1), Second);
    EXPECT_EQ(Doc.RecordStart(1), 1400);
    EXPECT_EQ(Doc.Text(), Text);
    int W = 0;
    int H = 0;
    Doc.ReadSize(1, W, H);
    EXPECT_EQ(W, 432);
    EXPECT_EQ(H, 296);
    EXPECT_TRUE(Doc.Occupied(0, NameSlot));
    EXPECT_FALSE(Doc.Occupied(1, NameSlot));
    EXPECT_FALSE(Doc.Dirty());
    // Any control character is a blank to the document, not only the four the upload skips.
    {
        TDigiLabelDoc Other;
        std::string Error;
        EXPECT_TRUE(Other.Load(Write("\f" + Text + "\x01\x1F", "other.dat"), Error)) << Error;
        EXPECT_EQ(Other.Record(1), Second);
    }

    // Every byte of the second record, one at a time, lands in its own two digits; here one that
    // is split by blanks in the file.
    Doc.PutByte(1, 1003, 0xBE);
    EXPECT_TRUE(Doc.Dirty());
    EXPECT_TRUE(Doc.RecordsMatchText());
    std::string Error;
    ASSERT_TRUE(Doc.Save(Error)) << Error;
    EXPECT_FALSE(Doc.Dirty());
    const std::string Saved = SavedFile();
    ASSERT_EQ(Saved.size(), Text.size());
    const auto Changed = Differences(Text, Saved);
    ASSERT_EQ(Changed.size(), 2u);
    EXPECT_EQ(Saved[Changed[0]], 'B');
    EXPECT_EQ(Saved[Changed[1]], 'E');
    EXPECT_EQ(static_cast<int>(Changed[0]) + 1, Doc.HiPos(1400 + 1003));
    EXPECT_EQ(static_cast<int>(Changed[1]) + 1, Doc.LoPos(1400 + 1003));

    // What the document saved is what the upload's reader reads.
    std::vector<TLabelRecord> Records;
    std::string Message;
    ASSERT_TRUE(ParseLabelRecords(Saved, Records, Message)) << Message;
    ASSERT_EQ(Records.size(), 2u);
    EXPECT_EQ(Records[0], Doc.Record(0));
    EXPECT_EQ(Records[1], Doc.Record(1));
    EXPECT_EQ(Records[1][1003], 0xBE);
}

TEST_F(LabelDoc, EqualValuesKeepTheDocumentCleanAndSaveWritesNothing)
{
    TBytes Format = MakeFormat(1, 1400);
    Format[GetSlot(PluSlot).Offset] = 0x01;
    Format[GetSlot(PluSlot).Offset + 1] = 0x02;
    const std::string Text = MessyHex({Format});
    LoadOk(Text);
    Doc.PutByte(0, 80, 0xAB);
    Doc.PutByte(0, 80, 0x1AB); // only the low 8 bits count
    Doc.PutWord(0, GetSlot(PluSlot).Offset, 0x0102);
    Doc.MoveSlot(0, PluSlot, 0x0102, 0);
    Doc.ResizeSlot(0, LogoSlot, 10, 10);
    EXPECT_FALSE(Doc.Dirty());
    // A clean save does not touch the file: it is not even re-created when it is gone.
    std::filesystem::remove(Folder.Path() / "f34.dat");
    std::string Error;
    EXPECT_TRUE(Doc.Save(Error));
    EXPECT_TRUE(Error.empty());
    EXPECT_FALSE(std::filesystem::exists(Folder.Path() / "f34.dat"));
}

TEST_F(LabelDoc, PutWordClampsAndWritesBigEndian)
{
    CreateOk();
    const struct
    {
        std::int64_t Value;
        int Stored;
    } Rows[] = {{-1, 0}, {70000, 65535}, {0x1234, 0x1234}, {INT64_MIN, 0}};
    for (const auto& Row : Rows) {
        Doc.PutWord(0, 300, Row.Value);
        EXPECT_EQ(Doc.WordAt(0, 300), Row.Stored) << Row.Value;
        EXPECT_EQ(Doc.ByteAt(0, 300), Row.Stored >> 8) << Row.Value;
    }
    EXPECT_TRUE(Doc.RecordsMatchText());
}

TEST_F(LabelDoc, LoadErrors)
{
    const std::string Good = CompactHex(MakeFormat(1, 1400));
    TBytes LengthNine = MakeFormat(1, 1400);
    LengthNine[4] = 0;
    LengthNine[5] = 9;
    TBytes LengthPast = MakeFormat(1, 1400);
    LengthPast[4] = 0x05; // 1401
    LengthPast[5] = 0x79;
    const struct
    {
        std::string Text;
        const char* Code;
    } Rows[] = {
        {CompactHex(MakeFormat(1, 1309)), "short"},
        {Good + CompactHex(MakeFormat(2, 1309)), "short"},
        {CompactHex(LengthNine), "truncated"},
        {CompactHex(LengthPast), "truncated"},
        {Good + "0102030400", "truncated"},   // 5 bytes left: no room for a header
        {Good + "000000010000", "truncated"}, // a length of 0
        {"", "empty"},
        {" \r\n\t \x01\x1F ", "empty"},
        {Good + "A", "hex"}, // odd number of digits
        {Good.substr(0, 100) + "G" + Good.substr(100), "hex"},
        {Good.substr(0, 100) + "\x7F" + Good.substr(100), "hex"},
        {Good.substr(0, 100) + "\xC3\xA9" + Good.substr(100), "hex"},
        // A good label padded with blanks to one byte over the limit.
        {Good + std::string(static_cast<std::size_t>(MaxLabelFileBytes) + 1 - Good.size(), ' '),
         "large"},
    };
    for (const auto& Row : Rows) {
        std::string Error = "stale";
        EXPECT_FALSE(Doc.Load(Write(Row.Text), Error)) << Row.Code;
        EXPECT_EQ(Error, Row.Code) << Row.Text.substr(0, 40);
        TDigiLabelDoc InMemory;
        EXPECT_FALSE(InMemory.LoadContent(Row.Text, Error));
        EXPECT_EQ(Error, Row.Code);
    }
    std::string Error;
    EXPECT_FALSE(Doc.Load(Folder.Path() / "nothing-here.dat", Error));
    EXPECT_EQ(Error, "missing");
    EXPECT_EQ(Doc.FileName(), Folder.Path() / "nothing-here.dat");
}

TEST_F(LabelDoc, UnreadableFileThrowsAndSaveWithoutNameIsMissing)
{
    std::filesystem::create_directory(Folder.Path() / "f34.dat");
    std::string Error;
    EXPECT_THROW(Doc.Load(Folder.Path() / "f34.dat", Error), std::runtime_error);
    TDigiLabelDoc Fresh;
    EXPECT_FALSE(Fresh.Save(Error));
    EXPECT_EQ(Error, "missing");
    EXPECT_EQ(Fresh.FormatCount(), 0);
}

// The read-only mark of the file is honoured whoever runs the program, the superuser included.
TEST_F(LabelDoc, AReadOnlyFileIsNeitherSavedOverNorReplacedByANewLabel)
{
    CreateOk();
    const auto File = Folder.Path() / "f34.dat";
    const std::string Before = SavedFile();
    using std::filesystem::perms;
    std::filesystem::permissions(File, perms::owner_read | perms::group_read | perms::others_read);
    Doc.PlaceDefault(0, NameSlot, 32, 32);
    std::string Error;
    EXPECT_FALSE(Doc.Save(Error));
    EXPECT_EQ(Error, "readonly");
    EXPECT_TRUE(Doc.Dirty());
    EXPECT_EQ(SavedFile(), Before);
    TDigiLabelDoc Other;
    EXPECT_FALSE(Other.CreateEmpty(File, 240, 160, Error));
    EXPECT_EQ(Error, "readonly");
    EXPECT_EQ(SavedFile(), Before);
    EXPECT_EQ(LabelErrorText("readonly"), "Файл f34.dat только для чтения");
    EXPECT_EQ(LabelErrorText("large"), "Файл этикетки больше 16 МБ");

    std::filesystem::permissions(File, perms::owner_write, std::filesystem::perm_options::add);
    EXPECT_TRUE(Doc.Save(Error)) << Error;
    EXPECT_FALSE(Doc.Dirty());
}

TEST_F(LabelDoc, CreateEmptyWritesTwoEmptyFormatsOnOneLine)
{
    CreateOk(432, 296);
    const std::string Saved = SavedFile();
    ASSERT_EQ(Saved.size(), 5600u);
    EXPECT_TRUE(std::all_of(Saved.begin(), Saved.end(), [](char C) {
        return (C >= '0' && C <= '9') || (C >= 'A' && C <= 'F');
    }));
    EXPECT_EQ(Saved.substr(0, 24), "00000001057801B001280003");
    EXPECT_EQ(Saved.substr(2800, 24), "00000002057801B001280003");
    EXPECT_FALSE(Doc.Dirty());
    EXPECT_EQ(Doc.FileName(), Folder.Path() / "f34.dat");
    ASSERT_EQ(Doc.FormatCount(), 2);
    for (int F = 0; F < 2; ++F) {
        EXPECT_EQ(Doc.FormatId(F), static_cast<std::uint32_t>(F + 1));
        int W = 0;
        int H = 0;
        Doc.ReadSize(F, W, H);
        EXPECT_EQ(W, 432);
        EXPECT_EQ(H, 296);
        EXPECT_EQ(Doc.WordAt(F, 4), 1400);
        EXPECT_EQ(Doc.WordAt(F, 10), 3);
        for (int S = 0; S < SlotCount(); ++S)
            EXPECT_FALSE(Doc.Occupied(F, S)) << S;
    }
    // Sizes are taken modulo 65536.
    CreateOk(65536 + 8, 80);
    int W = 0;
    int H = 0;
    Doc.ReadSize(1, W, H);
    EXPECT_EQ(W, 8);
    EXPECT_EQ(H, 80);
}

TEST_F(LabelDoc, CreateEmptyReplacesAnExistingFileAndFailsCleanly)
{
    Write("old content");
    CreateOk();
    EXPECT_EQ(SavedFile().size(), 5600u);
    // A folder that does not exist: the error reaches the caller, the document stays as it was.
    std::string Error;
    EXPECT_THROW(Doc.CreateEmpty(Folder.Path() / "no-such-folder" / "f34.dat", 80, 80, Error),
                 std::runtime_error);
    EXPECT_EQ(Doc.FileName(), Folder.Path() / "f34.dat");
    EXPECT_EQ(Doc.FormatCount(), 2);
    std::vector<std::filesystem::path> Left;
    for (const auto& Entry : std::filesystem::directory_iterator(Folder.Path()))
        Left.push_back(Entry.path().filename());
    EXPECT_EQ(Left, std::vector<std::filesystem::path>{"f34.dat"});
}

TEST_F(LabelDoc, FailedSaveKeepsTheDocumentDirtyWithItsText)
{
    CreateOk();
    Doc.PlaceDefault(0, NameSlot, 32, 32);
    const std::string Text = Doc.Text();
    Doc.SaveAs(Folder.Path() / "no-such-folder" / "f34.dat");
    std::string Error;
    EXPECT_THROW(Doc.Save(Error), std::runtime_error);
    EXPECT_TRUE(Doc.Dirty());
    EXPECT_EQ(Doc.Text(), Text);
    // Once the path is good again, the same text is written, in full.
    Doc.SaveAs(Folder.Path() / "copy.dat");
    ASSERT_TRUE(Doc.Save(Error));
    EXPECT_EQ(Kit::ReadFileBytes(Folder.Path() / "copy.dat"), Text);
}

// A file with a byte-order mark is read in its encoding and written back in the same one.
TEST_F(LabelDoc, ByteOrderMarkIsKeptOnSave)
{
    const std::string Ascii = MessyHex({MakeFormat(1, 1400)});
    std::string Utf16 = "\xFF\xFE";
    for (const char C : Ascii) {
        Utf16 += C;
        Utf16 += '\0';
    }
    const struct
    {
        std::string Bytes;
        std::size_t CharSize;
        std::size_t Skip;
    } Rows[] = {{"\xEF\xBB\xBF" + Ascii, 1, 3}, {Utf16, 2, 2}};
    for (const auto& Row : Rows) {
        std::string Error;
        ASSERT_TRUE(Doc.Load(Write(Row.Bytes), Error)) << Error;
        EXPECT_EQ(Doc.Text(), Ascii);
        Doc.PutByte(0, 500, 0x5C);
        ASSERT_TRUE(Doc.Save(Error));
        const std::string Saved = SavedFile();
        ASSERT_EQ(Saved.size(), Row.Bytes.size());
        const auto Changed = Differences(Row.Bytes, Saved);
        ASSERT_EQ(Changed.size(), 2u);
        EXPECT_EQ(Changed[0], Row.Skip + (Doc.HiPos(500) - 1) * Row.CharSize);
        EXPECT_EQ(Saved[Changed[1]], 'C');
    }
    std::string Error;
    EXPECT_FALSE(Doc.Load(Write(Utf16 + "\x30"), Error)); // half a UTF-16 unit
    EXPECT_EQ(Error, "hex");
    EXPECT_FALSE(Doc.Load(Write("\xFF\xFE\x10\x04"), Error)); // a Cyrillic letter
    EXPECT_EQ(Error, "hex");
}

TEST_F(LabelDoc, PlaceDefaultByKind)
{
    CreateOk();
    const struct
    {
        int Slot;
        int W6; // word (or, for a line, byte) at 6
        int W8; // word at 8 (for a line: byte at 7)
        int W10;
    } Rows[] = {
        {PluSlot, 2, 8, 0},      {4, 2, 6, 0},        {NameSlot, 51, 102, 0},
        {38, 51, 102, 0},        {EanSlot, 81, 0, 0}, {57, 104, 224, 0x0300},
        {Frame1Slot, 83, 83, 1}, {28, 51, 102, 1},    {LogoSlot, 64, 128, 16},
    };
    for (const auto& Row : Rows) {
        Doc.PlaceDefault(0, Row.Slot, 32, 32);
        EXPECT_TRUE(Doc.Occupied(0, Row.Slot)) << Row.Slot;
        EXPECT_EQ(BlockWord(Row.Slot, 0), 32) << Row.Slot;
        EXPECT_EQ(BlockWord(Row.Slot, 2), 32) << Row.Slot;
        EXPECT_EQ(BlockByte(Row.Slot, 4), 0x00) << Row.Slot;
        EXPECT_EQ(BlockByte(Row.Slot, 5), 0x70) << Row.Slot;
        if (GetSlot(Row.Slot).Kind == dfLine) {
            EXPECT_EQ(BlockByte(Row.Slot, 6), Row.W6);
            EXPECT_EQ(BlockByte(Row.Slot, 7), Row.W8);
            continue;
        }
        EXPECT_EQ(BlockWord(Row.Slot, 6), Row.W6) << Row.Slot;
        EXPECT_EQ(BlockWord(Row.Slot, 8), Row.W8) << Row.Slot;
        EXPECT_EQ(BlockWord(Row.Slot, 10), Row.W10) << Row.Slot;
    }
    // Placing again starts from a cleared block.
    Doc.PutWord(0, GetSlot(NameSlot).Offset + 10, 77);
    Doc.PlaceDefault(0, NameSlot, 0, 0);
    EXPECT_EQ(BlockWord(NameSlot, 10), 0);
    EXPECT_TRUE(Doc.RecordsMatchText());
    // Nothing outside the blocks was written.
    EXPECT_EQ(Doc.ByteAt(0, 80), 0);
    Doc.ClearSlot(0, NameSlot);
    EXPECT_FALSE(Doc.Occupied(0, NameSlot));
}

TEST_F(LabelDoc, MoveSlotMovesAFrameAsAWhole)
{
    CreateOk();
    Doc.PlaceDefault(0, Frame1Slot, 32, 32);
    Doc.MoveSlot(0, Frame1Slot, 40, 20);
    EXPECT_EQ(SlotBox(Doc, 0, Frame1Slot), (TSlotBox{40, 20, 51, 51, true}));
    EXPECT_EQ(BlockWord(Frame1Slot, 6), 91);
    EXPECT_EQ(BlockWord(Frame1Slot, 8), 71);
    // The second corner clamps at 0 when the move would push it below.
    Doc.PutWord(0, GetSlot(Frame1Slot).Offset + 8, 5);
    Doc.MoveSlot(0, Frame1Slot, 40, 0);
    EXPECT_EQ(BlockWord(Frame1Slot, 8), 0);

    Doc.PlaceDefault(0, NameSlot, 100, 100);
    Doc.MoveSlot(0, NameSlot, -10, 5);
    EXPECT_EQ(BlockWord(NameSlot, 0), 0);
    EXPECT_EQ(BlockWord(NameSlot, 2), 5);
    EXPECT_EQ(BlockWord(NameSlot, 6), 51); // other kinds keep their size
    EXPECT_EQ(BlockWord(NameSlot, 8), 102);
    Doc.MoveSlot(0, NameSlot, 70000, 70000);
    EXPECT_EQ(BlockWord(NameSlot, 0), 65535);
    EXPECT_TRUE(Doc.RecordsMatchText());
}

TEST_F(LabelDoc, ResizeSlotByKind)
{
    CreateOk();
    for (const int Slot : {NameSlot, PluSlot, EanSlot, LogoSlot, Frame1Slot, 28, 57})
        Doc.PlaceDefault(0, Slot, 32, 32);
    std::string Error;
    ASSERT_TRUE(Doc.Save(Error));

    Doc.ResizeSlot(0, PluSlot, 0, 0);
    Doc.ResizeSlot(0, LogoSlot, 300, 300);
    EXPECT_FALSE(Doc.Dirty());

    const struct
    {
        int Slot;
        int NewW;
        int NewH;
        TSlotBox Box;
    } Rows[] = {
        {NameSlot, 0, 0, {32, 32, 1, 1, true}},
        {NameSlot, 200, 40, {32, 32, 200, 40, true}},
        {EanSlot, 500, 60, {32, 32, 120, 60, true}},
        {EanSlot, 500, 2, {32, 32, 16, 8, true}}, // shown at least 8 high
        {Frame1Slot, 100, 0, {32, 32, 100, 1, true}},
        {28, 70, 30, {32, 32, 70, 30, true}},
        {57, -4, 300, {32, 32, 1, 300, true}},
    };
    for (const auto& Row : Rows) {
        Doc.ResizeSlot(0, Row.Slot, Row.NewW, Row.NewH);
        EXPECT_EQ(SlotBox(Doc, 0, Row.Slot), Row.Box) << Row.Slot << " " << Row.NewW;
    }
    EXPECT_EQ(BlockWord(EanSlot, 8), 0); // the EAN's width word is not touched
    EXPECT_EQ(BlockWord(EanSlot, 6), 2);
}

TEST_F(LabelDoc, SlotBoxAndRotationByKind)
{
    CreateOk();
    const auto Set = [this](int Slot, std::initializer_list<int> Bytes) {
        int Offset = GetSlot(Slot).Offset;
        for (const int Byte : Bytes)
            Doc.PutByte(0, Offset++, Byte);
    };
    Set(PluSlot, {0, 10, 0, 20, 0x40, 0x70, 5, 0}); // "M1", symbols 0
    EXPECT_EQ(SlotBox(Doc, 0, PluSlot), (TSlotBox{10, 20, 8, 24, false}));
    Set(PluSlot, {0, 10, 0, 20, 0x40, 0x70, 4, 12});
    EXPECT_EQ(SlotBox(Doc, 0, PluSlot), (TSlotBox{10, 20, 96, 16, false}));
    Set(Frame1Slot, {0, 100, 0, 90, 0, 0x70, 0, 40, 0, 30, 0, 1}); // corners the other way round
    EXPECT_EQ(SlotBox(Doc, 0, Frame1Slot), (TSlotBox{100, 90, -60, -60, true}));
    Set(LogoSlot, {0, 1, 0, 2, 0, 0x70, 0, 64, 0, 128, 0, 16});
    EXPECT_EQ(SlotBox(Doc, 0, LogoSlot), (TSlotBox{1, 2, 102, 51, false}));

    const std::pair<int, int> Rotations[] = {{0x00, 0}, {0x40, 90}, {0x80, 180}, {0xC0, 270},
                                             {0x41, 0}, {0x70, 0},  {0xFF, 0}};
    for (const auto& [Code, Degrees] : Rotations) {
        Doc.PutByte(0, GetSlot(NameSlot).Offset + 4, Code);
        EXPECT_EQ(SlotRotation(Doc, 0, NameSlot), Degrees) << Code;
    }
}

// Many edits of every kind on a spaced, lower-case file: after each one the records still equal
// the digits at their positions, and only the digits of bytes that differ from the file as
// loaded differ in the text.
TEST_F(LabelDoc, RandomEditsKeepRecordsAndTextInStep)
{
    const std::vector<TBytes> Loaded = {MakeFormat(1, 1400), MakeFormat(2, 1310)};
    const std::string Text = MessyHex(Loaded);
    LoadOk(Text);
    std::mt19937 Random(1234);
    const auto Pick = [&Random](int From, int To) {
        return std::uniform_int_distribution<int>(From, To)(Random);
    };
    for (int Step = 0; Step < 3000; ++Step) {
        const int Format = Pick(0, 1);
        const int Slot = Pick(0, SlotCount() - 1);
        switch (Pick(0, 5)) {
        case 0:
            Doc.PlaceDefault(Format, Slot, Pick(-100, 70000), Pick(-100, 400));
            break;
        case 1:
            Doc.MoveSlot(Format, Slot, Pick(-100, 70000), Pick(-100, 400));
            break;
        case 2:
            Doc.ResizeSlot(Format, Slot, Pick(-5, 70000), Pick(-5, 500));
            break;
        case 3:
            Doc.ClearSlot(Format, Slot);
            break;
        case 4:
            Doc.PutWord(Format, Pick(12, 1308),
                        Pick(-10, 70000)); // the header is the callers' to keep
            break;
        default:
            Doc.PutByte(Format, Pick(12, 1309), Pick(0, 511));
            break;
        }
        ASSERT_TRUE(Doc.RecordsMatchText()) << Step;
    }
    ASSERT_EQ(Doc.Text().size(), Text.size());
    std::set<std::size_t> Allowed;
    for (int K = 0; K < 2; ++K)
        for (std::size_t O = 0; O < Loaded[static_cast<std::size_t>(K)].size(); ++O)
            if (Doc.Record(K)[O] != Loaded[static_cast<std::size_t>(K)][O]) {
                const int P = Doc.RecordStart(K) + static_cast<int>(O);
                Allowed.insert(static_cast<std::size_t>(Doc.HiPos(P) - 1));
                Allowed.insert(static_cast<std::size_t>(Doc.LoPos(P) - 1));
            }
    for (const std::size_t At : Differences(Text, Doc.Text())) {
        EXPECT_TRUE(Allowed.count(At)) << At;
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(Doc.Text()[At])) ||
                    (Doc.Text()[At] >= 'A' && Doc.Text()[At] <= 'F'))
            << At;
    }
    std::string Error;
    ASSERT_TRUE(Doc.Save(Error));
    TDigiLabelDoc Reloaded;
    ASSERT_TRUE(Reloaded.Load(Folder.Path() / "f34.dat", Error)) << Error;
    EXPECT_EQ(Reloaded.Record(0), Doc.Record(0));
    EXPECT_EQ(Reloaded.Record(1), Doc.Record(1));
}

TEST(LabelBand, VerticalMapping)
{
    EXPECT_EQ(BandLine(296), 216);
    EXPECT_EQ(BandLine(81), 1);
    EXPECT_EQ(BandLine(80), 80);
    EXPECT_EQ(BandLine(40), 40);
    EXPECT_FALSE(InBand(296, 215));
    EXPECT_TRUE(InBand(296, 216));
    EXPECT_TRUE(InBand(80, 80));
    EXPECT_FALSE(InBand(80, 79));
    const struct
    {
        int Height;
        int X, Y, W, H;
        TScreenBox Drawn;
    } Rows[] = {
        {296, 10, 32, 60, 51, {10, 133, 60, 51}},   {296, 10, 220, 60, 51, {10, 220, 60, 51}},
        {296, 10, 0, 60, 51, {10, 165, 60, 51}},    // Y = 0 rests on the band line
        {296, 10, 200, 60, 51, {10, 0, 60, 51}},    // lifted past the top: clamps at 0
        {296, 91, 83, -51, -51, {40, 133, 51, 51}}, // a frame drawn from its far corner
        {80, 0, 40, 8, 8, {0, 32, 8, 8}},
    };
    for (const auto& Row : Rows)
        EXPECT_EQ(ToScreenBox(Row.Height, Row.X, Row.Y, Row.W, Row.H), Row.Drawn) << Row.Y;
}

TEST(LabelPlace, StoredTopForADrawnTop)
{
    // Label 296 dots high: the band line at 216; a field 51 dots high.
    const struct
    {
        int ScreenTop;
        int Y;
    } Rows[] = {
        {133, 32},  {0, 165},   {165, 0}, // above the line: Y counts up from it
        {216, 216}, {250, 250},           // in the band: Y counts down from the top
        {190, 0},                         // across the line, more of it above: lower edge on it
        {191, 216},                       // more of it below: upper edge on it
    };
    for (const auto& Row : Rows)
        EXPECT_EQ(StoredTopFor(296, Row.ScreenTop, 51), Row.Y) << Row.ScreenTop;
}

// Up from just below the line: onto the line, over it, on to the top edge, and back down; every
// press moves the drawn box the way the arrow points or leaves it where it is.
TEST(LabelPlace, StepsCrossTheBandLineInTheirOwnDirection)
{
    TSlotBox Box{32, 219, 102, 51, true};
    std::vector<int> Tops;
    const auto Top = [&Box] { return ToScreenBox(296, Box.X, Box.Y, Box.W, Box.H).Y; };
    for (int Press = 0; Press < 30; ++Press) {
        const int Before = Top();
        Box = SteppedBox(296, Box, 0, 0, -8);
        ASSERT_LE(Top(), Before) << Press;
        if (Top() < Before)
            Tops.push_back(Top());
    }
    EXPECT_EQ(Tops.at(0), 216);
    EXPECT_EQ(Tops.at(1), 165);
    EXPECT_EQ(Tops.at(2), 157);
    EXPECT_EQ(Tops.back(), 0);
    EXPECT_EQ(Box.Y, 165);
    for (int Press = 0; Press < 30; ++Press) {
        const int Before = Top();
        Box = SteppedBox(296, Box, 0, 0, 8);
        ASSERT_GT(Top(), Before) << Press;
    }
    // Left stops at the edge; a frame's corners move together.
    EXPECT_EQ(SteppedBox(296, {3, 20, 51, 51, true}, 0, -8, 0).X, 0);
    EXPECT_EQ(SteppedBox(296, {0, 20, 51, 51, true}, 0, -1, 0), (TSlotBox{0, 20, 51, 51, true}));
    EXPECT_EQ(SteppedBox(296, {83, 83, -51, -51, true}, 0, 8, 0),
              (TSlotBox{91, 83, -51, -51, true}));
}

TEST(LabelPlace, ResizingKeepsTheCornerOrderAndTheUpperEdge)
{
    // Above the band: the upper edge stays, so Y goes down by the growth.
    EXPECT_EQ(ResizedBox(dfBlock, 296, {32, 32, 102, 51, true}, 0, 10, 20),
              (TSlotBox{32, 12, 112, 71, true}));
    // In the band the stored top is the upper edge.
    EXPECT_EQ(ResizedBox(dfBlock, 296, {32, 220, 102, 51, true}, 0, 10, 20),
              (TSlotBox{32, 220, 112, 71, true}));
    // A frame stored the other way round grows to the right and down and stays the other way round.
    EXPECT_EQ(ResizedBox(dfBevel, 296, {83, 83, -51, -51, true}, 0, 10, 10),
              (TSlotBox{93, 83, -61, -61, true}));
    EXPECT_EQ(ResizedBox(dfBevel, 296, {83, 83, -51, -51, true}, 0, 0, 0),
              (TSlotBox{83, 83, -51, -51, true}));
    EXPECT_EQ(ResizedBox(dfBevel, 296, {83, 83, -51, -51, true}, 0, -100, 0).W, -1);
    // Above the band the lower edge stops at the line; an EAN keeps twice its height as width.
    EXPECT_EQ(ResizedBox(dfBlock, 296, {32, 10, 102, 51, true}, 0, 0, 40).Y, 0);
    EXPECT_EQ(ResizedBox(dfBlock, 296, {32, 10, 102, 51, true}, 0, 0, 40).H, 61);
    EXPECT_EQ(ResizedBox(dfEan, 296, {32, 220, 162, 81, true}, 0, 50, -77),
              (TSlotBox{32, 220, 16, 8, true}));
}

TEST_F(LabelDoc, ANewFieldIsPlacedWhereItCoversNoOther)
{
    CreateOk();
    PlaceFree(Doc, 0, NameSlot, 432, 296, 80, 32);
    PlaceFree(Doc, 0, EanSlot, 432, 296, 80, 32);
    PlaceFree(Doc, 0, Frame1Slot, 432, 296, 80, 32);
    const TScreenBox Name = DrawnBox(Doc, 0, NameSlot, 296);
    const TScreenBox Ean = DrawnBox(Doc, 0, EanSlot, 296);
    EXPECT_EQ(Name, (TScreenBox{80, 133, 102, 51}));
    // The EAN (162 x 81) fits nowhere below the block in its column (not across the band line,
    // not past the lower edge), so it went right in 1 mm steps until it was clear of the block.
    EXPECT_EQ(Ean, (TScreenBox{184, 103, 162, 81}));
    // A line (64 x 16) first drawn over the block finds room right below it.
    PlaceFree(Doc, 0, PluSlot, 432, 296, 80, 60);
    EXPECT_EQ(DrawnBox(Doc, 0, PluSlot, 296), (TScreenBox{80, 188, 64, 16}));
    // Frames cover nothing: the frame keeps its first place over both.
    EXPECT_EQ(BlockWord(Frame1Slot, 0), 80);
    EXPECT_EQ(BlockWord(Frame1Slot, 2), 32);

    // A label with no room left keeps the first place.
    TDigiLabelDoc Small;
    std::string Error;
    ASSERT_TRUE(Small.CreateEmpty(Folder.Path() / "small.dat", 120, 80, Error)) << Error;
    PlaceFree(Small, 0, NameSlot, 120, 80, 8, 8);
    PlaceFree(Small, 0, 12, 120, 80, 8, 8);
    EXPECT_EQ(Small.WordAt(0, GetSlot(12).Offset), 8);
    EXPECT_EQ(Small.WordAt(0, GetSlot(12).Offset + 2), 8);
}

} // namespace
} // namespace Plumeria
