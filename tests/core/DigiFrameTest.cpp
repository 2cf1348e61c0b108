#include "core/DigiFrame/DigiFrame.h"
#include "core/DigiFrame/LabelRecords.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

namespace Plumeria {
namespace {

using namespace std::string_literals;

using TBytes = std::vector<std::uint8_t>;

TBytes Hex(const std::string& Text)
{
    TBytes Out;
    std::istringstream In(Text);
    unsigned Value = 0;
    while (In >> std::hex >> Value)
        Out.push_back(static_cast<std::uint8_t>(Value));
    return Out;
}

std::string ToHex(const TBytes& Bytes)
{
    std::string Out;
    char Buf[4];
    for (const auto B : Bytes) {
        std::snprintf(Buf, sizeof Buf, Out.empty() ? "%02X" : " %02X", B);
        Out += Buf;
    }
    return Out;
}

TPluRecord Article(int Plu, std::string Name, std::int64_t PriceCents = 0,
                   std::string Barcode = "0000001", int SellByDays = 0,
                   std::string Ingredients = {})
{
    TPluRecord R;
    R.Plu = Plu;
    R.Name = std::move(Name);
    R.PriceCents = PriceCents;
    R.Barcode = std::move(Barcode);
    R.SellByDays = SellByDays;
    R.Ingredients = std::move(Ingredients);
    return R;
}

TBytes Encode(const TPluRecord& R)
{
    TBytes Frame;
    std::string Message;
    EXPECT_TRUE(EncodeDigiPlu(R, Frame, Message)) << Message;
    EXPECT_EQ(Message, "");
    return Frame;
}

/// The name block starts at offset 30; returns its bytes up to (not including) the 0x0C after it.
TBytes NameBlock(const TBytes& Frame)
{
    std::size_t Pos = 30;
    std::size_t End = Pos;
    // Walk style/length/bytes groups, with 0x0D between two lines.
    End += 2 + Frame[Pos + 1];
    if (Frame[End] == 0x0D)
        End += 1 + 2 + Frame[End + 2];
    return TBytes(Frame.begin() + static_cast<long>(Pos), Frame.begin() + static_cast<long>(End));
}

// --- The three reference frames, byte for byte --------------------------------------------

TEST(EncodeDigiPlu, ReferenceFrames)
{
    struct Row
    {
        TPluRecord Item;
        const char* Expected;
    };
    const Row Rows[] = {
        {Article(1, "ABC", 0, "0000001", 0),
         "F1 25 00 00 00 01 00 28 74 00 0D E0 11 00 00 00 00 11 05 00 00 00 10 00 00 01 00 00 00 "
         "00 09 03 41 42 43 0C 00 01 20 0C 00 00"},
        {Article(123, "Сыр Российский", 45990, "1234567", 10, "молоко\nсоль"),
         "F1 25 00 00 01 23 00 42 74 00 0D E0 11 00 04 59 90 11 05 12 34 56 70 00 00 01 02 40 00 "
         "00 09 0E 91 EB E0 20 90 AE E1 E1 A8 A9 E1 AA A8 A9 0C 02 0C AC AE AB AE AA AE 3B E1 AE "
         "AB EC 3B 0C 00 01 20 0C 00 00"},
        {Article(7, "Колбаса докторская высший сорт", 54900, "2000000", 0),
         "F1 25 00 00 00 07 00 45 74 00 0D E0 11 00 05 49 00 11 05 20 00 00 00 00 00 01 00 00 00 "
         "00 07 07 8A AE AB A1 A0 E1 A0 0D 07 16 A4 AE AA E2 AE E0 E1 AA A0 EF 20 A2 EB E1 E8 A8 "
         "A9 20 E1 AE E0 E2 0C 00 01 20 0C 00 00"},
    };
    const std::size_t Lengths[] = {42, 68, 71};
    for (std::size_t I = 0; I < std::size(Rows); ++I) {
        const TBytes Frame = Encode(Rows[I].Item);
        EXPECT_EQ(ToHex(Frame), ToHex(Hex(Rows[I].Expected))) << "row " << I;
        EXPECT_EQ(Frame.size(), Lengths[I]);
    }
}

// --- Refusals: every message, in the order the checks run -----------------------------------

TEST(EncodeDigiPlu, RefusalsCarryTheirMessage)
{
    const auto With = [](auto Change) {
        TPluRecord R = Article(5, "Хлеб", 1000, "1234567", 3, "мука");
        Change(R);
        return R;
    };
    struct Row
    {
        TPluRecord Item;
        const char* Message;
    };
    const Row Rows[] = {
        {With([](TPluRecord& R) { R.ItemType = TItemType::itPiece; }),
         "piece items are not supported yet"},
        // The item type is checked before the price base and everything else.
        {With([](TPluRecord& R) {
             R.ItemType = TItemType::itPiece;
             R.PricePer100g = true;
             R.Plu = 0;
         }),
         "piece items are not supported yet"},
        {With([](TPluRecord& R) { R.PricePer100g = true; }),
         "price per 100 g is not supported yet"},
        {With([](TPluRecord& R) { R.Plu = 0; }), "PLU is out of range"},
        {With([](TPluRecord& R) { R.Plu = -4; }), "PLU is out of range"},
        {With([](TPluRecord& R) { R.Plu = 999998; }), "PLU is out of range"},
        {With([](TPluRecord& R) { R.Plu = 999999; }), "PLU is out of range"},
        {With([](TPluRecord& R) { R.Barcode = ""; }), "barcode must be 7 digits"},
        {With([](TPluRecord& R) { R.Barcode = "123456"; }), "barcode must be 7 digits"},
        {With([](TPluRecord& R) { R.Barcode = "4600000000017"; }), "barcode must be 7 digits"},
        // Seven characters that are not all digits would corrupt the BCD item code.
        {With([](TPluRecord& R) { R.Barcode = "12345A7"; }), "barcode must be 7 digits"},
        {With([](TPluRecord& R) { R.Barcode = "123 567"; }), "barcode must be 7 digits"},
        {With([](TPluRecord& R) { R.PriceCents = -1; }), "price does not fit 8 digits"},
        {With([](TPluRecord& R) { R.PriceCents = 100000000; }), "price does not fit 8 digits"},
        {With([](TPluRecord& R) { R.SellByDays = -1; }), "shelf life days are invalid"},
        {With([](TPluRecord& R) { R.SellByDays = 417; }), "shelf life does not fit 4 hour digits"},
        {With([](TPluRecord& R) { R.SellByDays = 2147483647; }),
         "shelf life does not fit 4 hour digits"},
        {With([](TPluRecord& R) { R.Name = "Caf\xC3\xA9"; }), "text does not fit CP866"},
        {With([](TPluRecord& R) { R.Name = "Цена \xE2\x82\xAC"; }), "text does not fit CP866"},
        {With([](TPluRecord& R) { R.Name = "bad \xFF utf8"; }), "text does not fit CP866"},
        {With([](TPluRecord& R) { R.Name = ""; }), "name is empty"},
        {With([](TPluRecord& R) { R.Name = std::string(81, 'N'); }),
         "name is longer than 80 characters"},
        {With([](TPluRecord& R) {
             R.Name.clear();
             for (int I = 0; I < 41; ++I)
                 R.Name += "Я"; // 41 characters, 82 UTF-8 bytes, 41 CP866 bytes
             R.Name += std::string(40, 'x');
         }),
         "name is longer than 80 characters"},
        {With([](TPluRecord& R) { R.Ingredients = "соль\n\xC3\xA9"; }), "text does not fit CP866"},
        {With([](TPluRecord& R) { R.Ingredients = std::string(255, 'i'); }),
         "ingredients are longer than 255 bytes"},
    };
    for (std::size_t I = 0; I < std::size(Rows); ++I) {
        TBytes Frame{1, 2, 3};
        std::string Message;
        EXPECT_FALSE(EncodeDigiPlu(Rows[I].Item, Frame, Message)) << "row " << I;
        EXPECT_EQ(Message, Rows[I].Message) << "row " << I;
    }
}

TEST(EncodeDigiPlu, LimitsThatAreStillAccepted)
{
    // PLU 999997, price 99999999, 416 days (9984 hours).
    const TBytes Frame = Encode(Article(999997, "X", 99999999, "9876543", 416));
    EXPECT_EQ(ToHex(TBytes(Frame.begin() + 2, Frame.begin() + 6)), "00 99 99 97");
    EXPECT_EQ(ToHex(TBytes(Frame.begin() + 13, Frame.begin() + 17)), "99 99 99 99");
    EXPECT_EQ(ToHex(TBytes(Frame.begin() + 19, Frame.begin() + 23)), "98 76 54 30");
    EXPECT_EQ(ToHex(TBytes(Frame.begin() + 26, Frame.begin() + 28)), "99 84");
    // A one-byte name without ingredients is the shortest frame: 40 bytes, length field 38.
    EXPECT_EQ(Frame.size(), 40u);
    EXPECT_EQ(Frame[6], 0);
    EXPECT_EQ(Frame[7], 38);
    // 80 bytes of name are accepted, and its CP866 size counts, not its UTF-8 size.
    std::string Cyrillic;
    for (int I = 0; I < 80; ++I)
        Cyrillic += "ж";
    EXPECT_EQ(Encode(Article(1, Cyrillic)).size(), 40u - 1 + 80 + 3);
}

TEST(EncodeDigiPlu, NameLines)
{
    struct Row
    {
        std::string Name;
        const char* Block; // hex of the name block
    };
    const std::string S18 = "ABCDEFGHIJKLMNOPQR";
    const Row Rows[] = {
        // 18 bytes stay one line with style 09.
        {S18, "09 12 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52"},
        // 19 bytes without a space: 18 + 1.
        {S18 + "S", "07 12 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 0D 07 01 53"},
        // The only space is at position 0: cut after 18 bytes, the second line starts at byte 18.
        {" BCDEFGHIJKLMNOPQRST",
         "07 12 20 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 0D 07 02 53 54"},
        // A space at position 18 is not a cut point: the cut is after 18 bytes and the space
        // starts the second line.
        {S18 + " T", "07 12 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 0D 07 02 20 54"},
        // A space at position 17 is the cut; it is dropped.
        {"ABCDEFGHIJKLMNOPQ RS",
         "07 11 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 0D 07 02 52 53"},
        // The last space in 0..17 wins over earlier ones.
        {"AB CD EF GHIJKLMNOPQRS", "07 08 41 42 20 43 44 20 45 46 0D 07 0D 47 48 49 4A 4B 4C 4D "
                                   "4E 4F 50 51 52 53"},
    };
    for (const Row& R : Rows)
        EXPECT_EQ(ToHex(NameBlock(Encode(Article(1, R.Name)))), ToHex(Hex(R.Block))) << R.Name;

    // Second line of 25 bytes keeps 07, 26 bytes gets 04; the first line stays 07.
    const TBytes Line25 = NameBlock(Encode(Article(1, "AAAA " + std::string(25, 'B'))));
    EXPECT_EQ(Line25[0], 0x07);
    EXPECT_EQ(Line25[2 + 4], 0x0D);
    EXPECT_EQ(Line25[7], 0x07);
    EXPECT_EQ(Line25[8], 25);
    const TBytes Line26 = NameBlock(Encode(Article(1, "AAAA " + std::string(26, 'B'))));
    EXPECT_EQ(Line26[0], 0x07);
    EXPECT_EQ(Line26[7], 0x04);
    EXPECT_EQ(Line26[8], 26);
    // The longest second line: an 80-byte name cut at a space at position 1.
    const TBytes Longest = NameBlock(Encode(Article(1, "A " + std::string(78, 'B'))));
    EXPECT_EQ(Longest[1], 1);
    EXPECT_EQ(Longest[2 + 1 + 1], 0x04);
    EXPECT_EQ(Longest[2 + 1 + 2], 78);
    // The name is used untrimmed: a leading blank is part of the line.
    EXPECT_EQ(ToHex(NameBlock(Encode(Article(1, " A")))), "09 02 20 41");
}

TEST(EncodeDigiPlu, IngredientBlock)
{
    struct Row
    {
        std::string Ingredients;
        const char* Tail; // hex from the 0x0C after the name to the end
    };
    const Row Rows[] = {
        {"", "0C 00 01 20 0C 00 00"},
        {"\n \n\t\r\n", "0C 00 01 20 0C 00 00"},
        {"a", "0C 02 02 61 3B 0C 00 01 20 0C 00 00"},
        {" a \r\n\n\x01 b\x1f", "0C 02 04 61 3B 62 3B 0C 00 01 20 0C 00 00"},
        {"соль", "0C 02 05 E1 AE AB EC 3B 0C 00 01 20 0C 00 00"},
    };
    for (const Row& R : Rows) {
        const TBytes Frame = Encode(Article(1, "A", 0, "0000001", 0, R.Ingredients));
        const TBytes Tail(Frame.begin() + 33, Frame.end());
        EXPECT_EQ(ToHex(Tail), ToHex(Hex(R.Tail))) << R.Ingredients;
        EXPECT_EQ(Frame[6] * 256 + Frame[7], static_cast<int>(Frame.size()) - 2);
    }
}

TEST(BuildIngredientBytes, LengthLimitCountsTheTrailingSemicolon)
{
    TBytes Bytes;
    std::string Message;
    // 254 characters + ";" = 255 bytes: accepted.
    EXPECT_TRUE(BuildIngredientBytes(std::string(254, 'z'), Bytes, Message));
    EXPECT_EQ(Bytes.size(), 255u);
    EXPECT_EQ(Bytes.back(), ';');
    // Two pieces: 127 + ";" + 126 + ";" = 255.
    EXPECT_TRUE(
        BuildIngredientBytes(std::string(127, 'a') + "\n" + std::string(126, 'b'), Bytes, Message));
    EXPECT_EQ(Bytes.size(), 255u);
    // 256 bytes: refused, nothing left in the output.
    EXPECT_FALSE(BuildIngredientBytes(std::string(255, 'z'), Bytes, Message));
    EXPECT_EQ(Message, "ingredients are longer than 255 bytes");
    EXPECT_TRUE(Bytes.empty());
    // Cyrillic counts in CP866 bytes: 254 letters (508 UTF-8 bytes) + ";" fit.
    std::string Cyr;
    for (int I = 0; I < 254; ++I)
        Cyr += "ы";
    EXPECT_TRUE(BuildIngredientBytes(Cyr, Bytes, Message)) << Message;
    EXPECT_EQ(Bytes.size(), 255u);
}

TEST(ToCp866, RoundTripOrRefusal)
{
    TBytes Bytes;
    std::string Message;
    EXPECT_TRUE(ToCp866("Ёё №", Bytes, Message));
    EXPECT_EQ(ToHex(Bytes), "F0 F1 20 FC");
    EXPECT_EQ(Message, "");
    EXPECT_TRUE(ToCp866("", Bytes, Message));
    EXPECT_TRUE(Bytes.empty());
    for (const char* Bad : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x8D\x8E", "\xC0\x80", "\xD0"}) {
        EXPECT_FALSE(ToCp866(Bad, Bytes, Message)) << Bad;
        EXPECT_EQ(Message, "text does not fit CP866");
    }
}

TEST(EncodeDigiPlu, LengthFieldMatchesEveryShape)
{
    for (int NameLen : {1, 17, 18, 19, 40, 80})
        for (int IngLen : {0, 1, 100, 254}) {
            const TBytes Frame =
                Encode(Article(42, std::string(static_cast<std::size_t>(NameLen), 'n'), 1,
                               "1111111", 1, std::string(static_cast<std::size_t>(IngLen), 'i')));
            EXPECT_EQ(Frame[6] * 256 + Frame[7], static_cast<int>(Frame.size()) - 2);
            EXPECT_EQ(Frame[0], 0xF1);
            EXPECT_EQ(Frame[1], 0x25);
        }
}

// --- Label file reader ------------------------------------------------------------------------

std::string Record(int FillerBytes, std::uint8_t Tag)
{
    // A record: 4 bytes, the length (big-endian) in bytes 4-5, then filler.
    const int Length = 6 + FillerBytes;
    std::string Hex;
    char Buf[8];
    std::snprintf(Buf, sizeof Buf, "%02X", Tag);
    Hex += std::string(Buf) + "000000";
    std::snprintf(Buf, sizeof Buf, "%02X%02X", Length >> 8, Length & 0xFF);
    Hex += Buf;
    for (int I = 0; I < FillerBytes; ++I)
        Hex += "AB";
    return Hex;
}

TEST(ParseLabelRecords, CutsRecordsByTheirLengthField)
{
    std::vector<TLabelRecord> Records;
    std::string Message;
    ASSERT_TRUE(ParseLabelRecords(Record(0, 1) + Record(3, 2) + Record(300, 3), Records, Message))
        << Message;
    ASSERT_EQ(Records.size(), 3u);
    EXPECT_EQ(Records[0].size(), 6u);
    EXPECT_EQ(Records[1].size(), 9u);
    EXPECT_EQ(Records[2].size(), 306u);
    EXPECT_EQ(Records[1][0], 2);
    EXPECT_EQ(Records[2][4], 0x01);
    EXPECT_EQ(Records[2][5], 0x32);
    EXPECT_EQ(Message, "");
}

TEST(ParseLabelRecords, BlanksAndCaseDoNotMatter)
{
    const std::string Compact = "0102030400080A0B";
    const std::string Loose = "01 0\r\n2\t03 04\r\n00 08\n0a 0b \r\n";
    std::vector<TLabelRecord> A, B, C, D;
    std::string Message;
    ASSERT_TRUE(ParseLabelRecords(Compact, A, Message));
    ASSERT_TRUE(ParseLabelRecords(Loose, B, Message)) << Message;
    EXPECT_EQ(A, B);
    // With a UTF-8 byte-order mark, and as UTF-16 LE and BE with theirs.
    ASSERT_TRUE(ParseLabelRecords("\xEF\xBB\xBF" + Loose, C, Message)) << Message;
    EXPECT_EQ(A, C);
    std::string Le = "\xFF\xFE", Be = "\xFE\xFF";
    for (const char Ch : Loose) {
        Le += Ch;
        Le += '\0';
        Be += '\0';
        Be += Ch;
    }
    ASSERT_TRUE(ParseLabelRecords(Le, D, Message)) << Message;
    EXPECT_EQ(A, D);
    ASSERT_TRUE(ParseLabelRecords(Be, D, Message)) << Message;
    EXPECT_EQ(A, D);
}

TEST(ParseLabelRecords, Refusals)
{
    struct Row
    {
        std::string Text;
        const char* Message;
    };
    const Row Rows[] = {
        {"", "label file has no records"},
        {" \r\n\t ", "label file has no records"},
        {"\xEF\xBB\xBF", "label file has no records"},
        {Record(0, 1) + "A", "label file is not hex"}, // odd digit count
        {Record(0, 1) + "0", "label file is not hex"},
        {"01020304000G", "label file is not hex"},      // not a digit
        {Record(0, 1) + "\f", "label file is not hex"}, // form feed
        {Record(0, 1) + "\v", "label file is not hex"},
        {Record(0, 1) + "\x01", "label file is not hex"},
        {"0x" + Record(0, 1), "label file is not hex"},
        {Record(0, 1) + "\xD0\x90", "label file is not hex"}, // non-ASCII
        {"\xFF\xFE"
         "0\0"
         "1\0"
         "0"s,
         "label file is not hex"}, // half a UTF-16 unit
        {Record(0, 1) + "01", "label record is truncated"},
        {Record(0, 1) + "0102030405", "label record is truncated"},
        {"010203040005", "label record length does not match the file"},   // length 5
        {"010203040000", "label record length does not match the file"},   // length 0
        {"01020304000800", "label record length does not match the file"}, // beyond the end
        {Record(0, 1) + "0102030400FF0000", "label record length does not match the file"},
    };
    for (const Row& R : Rows) {
        std::vector<TLabelRecord> Records{{1}};
        std::string Message;
        EXPECT_FALSE(ParseLabelRecords(R.Text, Records, Message)) << R.Text;
        EXPECT_EQ(Message, R.Message) << R.Text;
        EXPECT_TRUE(Records.empty());
    }
}

TEST(ReadLabelRecords, FilesMissingPresentAndUnreadable)
{
    Plumeria::Test::TTempDir Dir;
    std::vector<TLabelRecord> Records;
    std::string Message;
    EXPECT_FALSE(ReadLabelRecords(Dir.Path() / "f34.dat", Records, Message));
    EXPECT_EQ(Message, "label file is missing");

    const auto File = Dir.WriteFile("f34.dat", Record(2, 9) + "\r\n" + Record(0, 8) + "\r\n");
    ASSERT_TRUE(ReadLabelRecords(File, Records, Message)) << Message;
    EXPECT_EQ(Records.size(), 2u);

    // A folder of that name exists but cannot be read as a file: an error for the caller.
    std::filesystem::create_directories(Dir.Path() / "f38.dat");
    EXPECT_THROW(ReadLabelRecords(Dir.Path() / "f38.dat", Records, Message), std::runtime_error);
}

} // namespace
} // namespace Plumeria
