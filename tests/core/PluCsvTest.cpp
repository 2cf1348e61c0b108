#include "core/PluCsv/PluCsv.h"

#include "core/Text/Text.h"
#include "core/Types/Threads.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace Plumeria {
namespace {

using Test::TTempDir;

TPluParseResult Parse(std::string_view Text)
{
    TPluParseResult Result;
    ParsePluText(Text, Result);
    return Result;
}

std::string Repeat(std::string_view Piece, int Count)
{
    std::string Out;
    for (int I = 0; I < Count; ++I)
        Out += Piece;
    return Out;
}

void ExpectSameResult(const TPluParseResult& A, const TPluParseResult& B)
{
    EXPECT_EQ(A.Items, B.Items);
    EXPECT_EQ(A.Errors, B.Errors);
    EXPECT_EQ(A.Warnings, B.Warnings);
}

// ---------------------------------------------------------------------------------------------
// Price rule

TEST(PluPrice, RuleTable)
{
    struct Row
    {
        const char* Text;
        bool Ok;
        std::int64_t Cents;
    };
    const Row Rows[] = {
        {"12", true, 1200},
        {"12,5", true, 1250},
        {"12.5", true, 1250},
        {"12.345", true, 1235},
        {"12.344", true, 1234},
        {"0.999", true, 100},
        {"9.995", true, 1000},
        {".5", true, 50},
        {",05", true, 5},
        {"+3", true, 300},
        {"12.", true, 1200},
        {"1.23x", true, 123},
        {"12,50 \xd1\x80\xd1\x83\xd0\xb1", true, 1250}, // "12,50 руб"
        {"  7,1\t", true, 710},
        {"0", true, 0},
        {"007.07", true, 707},
        {".", true, 0},
        {"1.239.9", true, 124},
        // The largest amount that still fits 64 bits, reached directly and by rounding.
        {"92233720368547758.07", true, INT64_MAX},
        {"92233720368547758.065", true, INT64_MAX},
        // Invalid.
        {"", false, 0},
        {"   ", false, 0},
        {"-1", false, 0},
        {"+-1", false, 0},
        {"1 000", false, 0},
        {"1e3", false, 0},
        {"++1", false, 0},
        {"+", false, 0},
        {"1.2.3", false, 0},
        {"1.x", false, 0},
        {"1,2,3", false, 0},
        {"1.-5", false, 0},
        {"abc", false, 0},
        {"\xd0\xa1\xd0\xbe", false, 0},
        // Amounts in hundredths beyond 64 bits.
        {"92233720368547758.08", false, 0},
        {"92233720368547758.075", false, 0},
        {"92233720368547759", false, 0},
        {"9223372036854775807", false, 0},
        {"9223372036854775808", false, 0},
        {"99999999999999999999999999999999", false, 0},
    };
    for (const Row& R : Rows) {
        std::int64_t Cents = -7;
        EXPECT_EQ(TryParsePriceCents(R.Text, Cents), R.Ok) << '"' << R.Text << '"';
        EXPECT_EQ(Cents, R.Cents) << '"' << R.Text << '"';
    }
}

TEST(PluPrice, InvalidPriceRejectsTheArticleLine)
{
    const auto Result = Parse("A;1;;92233720368547758.08;0;0;0;Milk\n"
                              "A;2;;92233720368547758.07;0;0;0;Milk\n");
    ASSERT_EQ(Result.Items.size(), 1u);
    EXPECT_EQ(Result.Items[0].PriceCents, INT64_MAX);
    EXPECT_EQ(Result.Errors, (std::vector<TPluParseError>{{1, "price is invalid"}}));
}

TEST(PluCodePage, Normalize)
{
    EXPECT_EQ(NormalizeCodePage(866), 866);
    EXPECT_EQ(NormalizeCodePage(1251), 1251);
    EXPECT_EQ(NormalizeCodePage(0), 1251);
    EXPECT_EQ(NormalizeCodePage(65001), 1251);
    EXPECT_EQ(NormalizeCodePage(-866), 1251);
}

// ---------------------------------------------------------------------------------------------
// One line, one verdict: every message, the field boundaries and the order of the checks.

TEST(PluLine, MessagesAndBoundaries)
{
    struct Row
    {
        std::string Line;
        const char* Error; // nullptr: the line is accepted
    };
    const std::string Name80 = Repeat("\xd0\xaf", 80); // "Я" x 80
    const std::string Name81 = Repeat("\xd0\xaf", 81);
    const std::string Emoji = "\xf0\x9f\x8d\x8e"; // one character, two UTF-16 units
    const Row Rows[] = {
        {"A;1;;1;0;0;0;Milk", nullptr},
        {"a;1;;1;0;0;0;Milk", nullptr},
        {" \tA ;1;;1;0;0;0;Milk", nullptr},
        // Field count comes first.
        {"A", "PLU record needs 8 fields"},
        {"A;1;;1;0;0;0", "PLU record needs 8 fields"},
        {"A;0;;bad;9;9;bad", "PLU record needs 8 fields"},
        // PLU.
        {"A;0;;1;0;0;0;Milk", "PLU is out of range"},
        {"A;-1;;1;0;0;0;Milk", "PLU is out of range"},
        {"A;999997;;1;0;0;0;Milk", nullptr},
        {"A;999998;;1;0;0;0;Milk", "PLU is out of range"},
        {"A;;;1;0;0;0;Milk", "PLU is out of range"},
        {"A;12a;;1;0;0;0;Milk", "PLU is out of range"},
        {"A;4294967297;;1;0;0;0;Milk", "PLU is out of range"},
        {"A;1.0;;1;0;0;0;Milk", "PLU is out of range"},
        {"A; 42 ;;1;0;0;0;Milk", nullptr},
        {"A;$10;;1;0;0;0;Milk", nullptr},
        {"A;0x10;;1;0;0;0;Milk", nullptr},
        {"A;+7;;1;0;0;0;Milk", nullptr},
        // Barcode.
        {"A;1;12345678901234;1;0;0;0;Milk", nullptr},
        {"A;1;123456789012345;1;0;0;0;Milk", "barcode must be 1 to 14 digits"},
        {"A;1;12a;1;0;0;0;Milk", "barcode must be 1 to 14 digits"},
        {"A;1;12 34;1;0;0;0;Milk", "barcode must be 1 to 14 digits"},
        {"A;1;-1;1;0;0;0;Milk", "barcode must be 1 to 14 digits"},
        {"A;1; 4600 ;1;0;0;0;Milk", nullptr},
        // Price.
        {"A;1;;;0;0;0;Milk", "price is invalid"},
        {"A;1;;-5;0;0;0;Milk", "price is invalid"},
        {"A;1;;1e3;0;0;0;Milk", "price is invalid"},
        // Item type and price base: exactly one digit 0 or 1.
        {"A;1;;1;1;1;0;Milk", nullptr},
        {"A;1;;1;2;0;0;Milk", "item type must be 0 or 1"},
        {"A;1;;1;;0;0;Milk", "item type must be 0 or 1"},
        {"A;1;;1;00;0;0;Milk", "item type must be 0 or 1"},
        {"A;1;;1;0;2;0;Milk", "price base must be 0 or 1"},
        {"A;1;;1;0;;0;Milk", "price base must be 0 or 1"},
        {"A;1;;1;0;x;0;Milk", "price base must be 0 or 1"},
        // Shelf life.
        {"A;1;;1;0;0;999;Milk", nullptr},
        {"A;1;;1;0;0;1000;Milk", "shelf life days are invalid"},
        {"A;1;;1;0;0;-1;Milk", "shelf life days are invalid"},
        {"A;1;;1;0;0;;Milk", "shelf life days are invalid"},
        {"A;1;;1;0;0;7d;Milk", "shelf life days are invalid"},
        // Name.
        {"A;1;;1;0;0;0;", "name is empty"},
        {"A;1;;1;0;0;0; \t ", "name is empty"},
        {"A;1;;1;0;0;0;" + Name80, nullptr},
        {"A;1;;1;0;0;0;  " + Name80 + "  ", nullptr},
        {"A;1;;1;0;0;0;" + Name81, "name is longer than 80 characters"},
        {"A;1;;1;0;0;0;" + Repeat("x", 81), "name is longer than 80 characters"},
        {"A;1;;1;0;0;0;" + Repeat("\xd0\xaf", 78) + Emoji, nullptr},
        {"A;1;;1;0;0;0;" + Repeat("\xd0\xaf", 79) + Emoji, "name is longer than 80 characters"},
        // The first broken field in table order decides the message.
        {"A;0;x;x;9;9;x;", "PLU is out of range"},
        {"A;1;x;x;9;9;x;", "barcode must be 1 to 14 digits"},
        {"A;1;;x;9;9;x;", "price is invalid"},
        {"A;1;;1;9;9;x;", "item type must be 0 or 1"},
        {"A;1;;1;0;9;x;", "price base must be 0 or 1"},
        {"A;1;;1;0;0;x;", "shelf life days are invalid"},
        // Record letters.
        {"X;1;;1;0;0;0;Milk", "expected record A or I"},
        {"AA;1;;1;0;0;0;Milk", "expected record A or I"},
        {";1;;1;0;0;0;Milk", "expected record A or I"},
        {"\xd0\x90;1;;1;0;0;0;Milk", "expected record A or I"}, // Cyrillic "А"
        {"D;1;;1;0;0;0;Milk", "delete records are not sent"},
        {"d", "delete records are not sent"},
        {" D ;garbage", "delete records are not sent"},
        // Ingredient lines that cannot name their article.
        {"I", "ingredient record needs a PLU"},
        {"i", "ingredient record needs a PLU"},
        {"I;0;salt", "PLU is out of range"},
        {"I;;salt", "PLU is out of range"},
        {"I;999998;salt", "PLU is out of range"},
    };
    for (const Row& R : Rows) {
        const auto Result = Parse(R.Line + "\n");
        if (R.Error == nullptr) {
            EXPECT_TRUE(Result.Errors.empty()) << R.Line << " -> " << Result.Errors[0].Text;
            EXPECT_EQ(Result.Items.size(), 1u) << R.Line;
        } else {
            EXPECT_EQ(Result.Errors, (std::vector<TPluParseError>{{1, R.Error}})) << R.Line;
            EXPECT_TRUE(Result.Items.empty()) << R.Line;
        }
        EXPECT_TRUE(Result.Warnings.empty()) << R.Line;
    }
}

TEST(PluArticle, AcceptedLineFillsEveryField)
{
    const auto Result = Parse("A; 17 ; 4600123456789 ; 12,345 ; 1 ; 1 ; 30 ;  "
                              "\xd0\x9c\xd0\xbe\xd0\xbb\xd0\xbe\xd0\xba\xd0\xbe 3,2% \n"
                              "a;$1F;;0,5;0;0;0;Salt;extra;fields;;\n");
    ASSERT_TRUE(Result.Errors.empty());
    ASSERT_EQ(Result.Items.size(), 2u);

    TPluRecord Milk;
    Milk.Plu = 17;
    Milk.Name = "\xd0\x9c\xd0\xbe\xd0\xbb\xd0\xbe\xd0\xba\xd0\xbe 3,2%"; // "Молоко 3,2%"
    Milk.PriceCents = 1235;
    Milk.Barcode = "4600123456789";
    Milk.ItemType = TItemType::itPiece;
    Milk.PricePer100g = true;
    Milk.SellByDays = 30;
    EXPECT_EQ(Result.Items[0], Milk);

    TPluRecord Salt;
    Salt.Plu = 31;
    Salt.Name = "Salt";
    Salt.PriceCents = 50;
    EXPECT_EQ(Result.Items[1], Salt);
}

TEST(PluArticle, SemicolonCutsTheNameAndExtraFieldsAreIgnored)
{
    const auto Result = Parse("A;1;;1;0;0;0;Milk;  fresh; 1l\n"
                              "A;2;;1;0;0;0;Cheese;\n");
    ASSERT_TRUE(Result.Errors.empty());
    ASSERT_EQ(Result.Items.size(), 2u);
    EXPECT_EQ(Result.Items[0].Name, "Milk");
    EXPECT_EQ(Result.Items[1].Name, "Cheese");
}

TEST(PluArticle, DuplicateAfterAcceptedIsRejectedAfterRejectedIsAccepted)
{
    const auto Result = Parse("A;5;;bad;0;0;0;First try\n" // 1: rejected
                              "A;5;;2;0;0;0;Second try\n"  // 2: accepted
                              "A;5;;3;0;0;0;Third try\n"   // 3: duplicate
                              "A;0x5;;3;0;0;0;Hex alias\n" // 4: same number, duplicate
                              "A;6;;4;0;0;0;Other\n");     // 5: accepted
    ASSERT_EQ(Result.Items.size(), 2u);
    EXPECT_EQ(Result.Items[0].Name, "Second try");
    EXPECT_EQ(Result.Items[0].PriceCents, 200);
    EXPECT_EQ(Result.Items[1].Plu, 6);
    EXPECT_EQ(Result.Errors,
              (std::vector<TPluParseError>{
                  {1, "price is invalid"}, {3, "duplicate PLU"}, {4, "duplicate PLU"}}));
}

// ---------------------------------------------------------------------------------------------
// Lines

TEST(PluLines, NumberingCountsBlankAndCommentLines)
{
    const auto Result = Parse("# header comment\n"                   // 1
                              "\n"                                   // 2
                              "   \t\n"                              // 3
                              "A;1;;1;0;0;0;Milk\n"                  // 4
                              "  # indented comment\n"               // 5
                              "A;x;;1;0;0;0;Bad\n"                   // 6
                              "\r\n"                                 // 7
                              "A;2;;1;0;0;0;Bread # not a comment\n" // 8
                              "#A;3;;bad;0;0;0;Hidden\n"             // 9
                              "Q\n");                                // 10
    ASSERT_EQ(Result.Items.size(), 2u);
    EXPECT_EQ(Result.Items[1].Name, "Bread # not a comment");
    EXPECT_EQ(Result.Errors, (std::vector<TPluParseError>{{6, "PLU is out of range"},
                                                          {10, "expected record A or I"}}));
}

TEST(PluLines, CrLfAndLfGiveTheSameResult)
{
    const std::string Lf = "# c\nA;1;;1;0;0;0;Milk\nI;1;salt\n\nA;x;;1;0;0;0;Bad\nI;9;pepper\n";
    std::string CrLf;
    for (const char C : Lf)
        CrLf += C == '\n' ? std::string("\r\n") : std::string(1, C);
    const auto A = Parse(Lf);
    const auto B = Parse(CrLf);
    ExpectSameResult(A, B);
    ASSERT_EQ(A.Items.size(), 1u);
    EXPECT_EQ(A.Items[0].Ingredients, "salt");
    EXPECT_EQ(A.Errors, (std::vector<TPluParseError>{{5, "PLU is out of range"}}));
}

TEST(PluLines, CarriageReturnInsideALineStaysInIt)
{
    const auto Result = Parse("A;1;;1;0;0;0;Milk\rFresh\n"     // 1: CR inside the name
                              "A;2;;1;0;0;0\rA;3;;1;0;0;0;X\n" // 2: not a line break
                              "A;4;;1;0;0;0;Two CRs\r\r\n"     // 3: one CR removed, one trimmed
                              "\rA;5;;1;0;0;0;Leading CR\n");  // 4: trimmed with the letter
    ASSERT_EQ(Result.Items.size(), 3u);
    EXPECT_EQ(Result.Items[0].Name, "Milk\rFresh");
    EXPECT_EQ(Result.Items[1].Name, "Two CRs");
    EXPECT_EQ(Result.Items[2].Plu, 5);
    EXPECT_EQ(Result.Errors, (std::vector<TPluParseError>{{2, "shelf life days are invalid"}}));
}

TEST(PluLines, ByteOrderMarkIsRemovedFromEveryLineOfDecodedText)
{
    const auto Result = Parse("\xEF\xBB\xBF"
                              "A;1;;1;0;0;0;Milk\n"
                              "\xEF\xBB\xBF"
                              "A;2;;1;0;0;0;Bread\r\n");
    EXPECT_TRUE(Result.Errors.empty());
    EXPECT_EQ(Result.Items.size(), 2u);
}

TEST(PluLines, NoLineFeedAtTheEnd)
{
    const auto Result = Parse("A;1;;1;0;0;0;Milk\nA;2;;1;0;0;0;Last");
    ASSERT_EQ(Result.Items.size(), 2u);
    EXPECT_EQ(Result.Items[1].Name, "Last");
}

TEST(PluLines, ControlBytesAreTextNotTerminators)
{
    using namespace std::string_literals;
    const auto Result = Parse("A;1;;1;0;0;0;Mi\0lk\n"s
                              "A;2\0;;1;0;0;0;Bread\n"s // a NUL at a field end is trimmed
                              "A;4\0x;;1;0;0;0;Bread\n"s
                              "\0A;3;;1;0;0;0;Nul-led\n"s);
    ASSERT_EQ(Result.Items.size(), 3u);
    EXPECT_EQ(Result.Items[0].Name, "Mi\0lk"s);
    EXPECT_EQ(Result.Items[1].Plu, 2);
    EXPECT_EQ(Result.Items[2].Plu, 3);
    EXPECT_EQ(Result.Errors, (std::vector<TPluParseError>{{3, "PLU is out of range"}}));
}

// ---------------------------------------------------------------------------------------------
// Ingredients

TEST(PluIngredients, BeforeAndAfterTheArticleInFileOrder)
{
    const auto Result = Parse("I;7;first\n"
                              "I;7; second ;; third ;\n"
                              "A;8;;1;0;0;0;Other\n"
                              "A;7;;1;0;0;0;Sausage\n"
                              "I;7;fourth\n"
                              "I;8;only for eight\n"
                              "I;7;fifth\n");
    ASSERT_TRUE(Result.Errors.empty());
    EXPECT_TRUE(Result.Warnings.empty());
    ASSERT_EQ(Result.Items.size(), 2u);
    EXPECT_EQ(Result.Items[0].Ingredients, "only for eight");
    EXPECT_EQ(Result.Items[1].Ingredients, "first\nsecond\nthird\nfourth\nfifth");
}

TEST(PluIngredients, ArticlesAcceptedAfterTheFirstAttachmentStillGetTheirs)
{
    const auto Result = Parse("A;3;;1;0;0;0;Three\n"
                              "I;3;for three\n"
                              "A;9;;1;0;0;0;Nine\n"
                              "A;1;;1;0;0;0;One\n"
                              "I;1;for one\n"
                              "I;9;for nine\n"
                              "I;3;again three\n");
    ASSERT_TRUE(Result.Errors.empty());
    ASSERT_EQ(Result.Items.size(), 3u);
    EXPECT_EQ(Result.Items[0].Ingredients, "for three\nagain three");
    EXPECT_EQ(Result.Items[1].Ingredients, "for nine");
    EXPECT_EQ(Result.Items[2].Ingredients, "for one");
}

TEST(PluIngredients, EmptyTextIsIgnoredWithoutWarning)
{
    const auto Result = Parse("I;3\n"
                              "I;3; ; ;\t\n"
                              "A;1;;1;0;0;0;Milk\n"
                              "I;1;;\n"
                              "I;1;cream\n");
    EXPECT_TRUE(Result.Errors.empty());
    EXPECT_TRUE(Result.Warnings.empty());
    ASSERT_EQ(Result.Items.size(), 1u);
    EXPECT_EQ(Result.Items[0].Ingredients, "cream");
}

TEST(PluIngredients, RejectedArticleGivesErrorAndWarning)
{
    const auto Result = Parse("I;12;flour\n"
                              "A;12;;bad;0;0;0;Bun\n"
                              "I;12;sugar\n"
                              "I;13;orphan\n"
                              "A;1;;1;0;0;0;Milk\n");
    ASSERT_EQ(Result.Items.size(), 1u);
    EXPECT_TRUE(Result.Items[0].Ingredients.empty());
    EXPECT_EQ(Result.Errors, (std::vector<TPluParseError>{{2, "price is invalid"}}));
    EXPECT_EQ(Result.Warnings, (std::vector<std::string>{"ingredient without a PLU record: 12",
                                                         "ingredient without a PLU record: 13"}));
}

TEST(PluIngredients, WaitingTextGoesToTheArticleAcceptedAfterARejectedOne)
{
    const auto Result = Parse("I;4;water\n"
                              "A;4;;1;0;0;1000;Rejected\n"
                              "I;4;salt\n"
                              "A;4;;1;0;0;10;Accepted\n"
                              "I;4;pepper\n");
    ASSERT_EQ(Result.Items.size(), 1u);
    EXPECT_EQ(Result.Items[0].Ingredients, "water\nsalt\npepper");
    EXPECT_EQ(Result.Errors, (std::vector<TPluParseError>{{2, "shelf life days are invalid"}}));
    EXPECT_TRUE(Result.Warnings.empty());
}

// ---------------------------------------------------------------------------------------------
// Whole files

TEST(PluFile, NothingToSendIsOneErrorOnLineZero)
{
    struct Row
    {
        const char* Text;
        std::vector<std::string> Warnings;
    };
    const Row Rows[] = {
        {"", {}},
        {"\n\n\r\n", {}},
        {"# only\n   # comments\n", {}},
        {"I;1;salt\nI;2;pepper\nI;1;more salt\n",
         {"ingredient without a PLU record: 1", "ingredient without a PLU record: 2"}},
    };
    for (const Row& R : Rows) {
        const auto Result = Parse(R.Text);
        EXPECT_TRUE(Result.Items.empty()) << R.Text;
        EXPECT_EQ(Result.Errors, (std::vector<TPluParseError>{{0, "no PLU records"}})) << R.Text;
        EXPECT_EQ(Result.Warnings, R.Warnings) << R.Text;
    }
}

TEST(PluFile, LineErrorsAloneGiveNoExtraError)
{
    const auto Result = Parse("A;0;;1;0;0;0;Milk\n");
    EXPECT_EQ(Result.Errors, (std::vector<TPluParseError>{{1, "PLU is out of range"}}));
}

TEST(PluFile, DeleteRecordAmongValidArticles)
{
    const auto Result = Parse("A;1;;1;0;0;0;Milk\n"
                              "D;2\n"
                              "A;3;;1;0;0;0;Bread\n");
    EXPECT_EQ(Result.Items.size(), 2u);
    EXPECT_EQ(Result.Errors, (std::vector<TPluParseError>{{2, "delete records are not sent"}}));
    EXPECT_TRUE(Result.Rejected());
}

TEST(PluFile, ParseEmptiesAPreviousResult)
{
    TPluParseResult Result;
    ParsePluText("A;1;;1;0;0;0;Milk\nX\nI;9;x\n", Result);
    ASSERT_FALSE(Result.Items.empty());
    ParsePluText("A;2;;1;0;0;0;Bread\n", Result);
    ASSERT_EQ(Result.Items.size(), 1u);
    EXPECT_EQ(Result.Items[0].Plu, 2);
    EXPECT_TRUE(Result.Errors.empty());
    EXPECT_TRUE(Result.Warnings.empty());
}

TEST(PluFile, Utf8ByteOrderMarkReadAs1251IsNoRecordLetter)
{
    const auto Path = std::filesystem::path(PLUMERIA_FIXTURES_DIR) / "plu" / "utf8-bom.csv";
    TPluParseResult Result;
    ParsePluFile(Path, 1251, Result);
    ASSERT_FALSE(Result.Errors.empty());
    EXPECT_EQ(Result.Errors[0], (TPluParseError{1, "expected record A or I"}));
    // The rest of the file is read as 1251 too: the UTF-8 name turns into other letters.
    ASSERT_EQ(Result.Items.size(), 1u);
    EXPECT_EQ(Result.Items[0].Plu, 2);
    EXPECT_EQ(Result.Items[0].Name, DecodeCodePage("\xd0\xa5\xd0\xbb\xd0\xb5\xd0\xb1", 1251));
    EXPECT_EQ(Result.Errors.size(), 1u);
}

TEST(PluFile, SameBytesIn866And1251)
{
    TTempDir Dir;
    // "молоко" in code page 866; in 1251 the same bytes are other characters.
    const auto Path = Dir.WriteFile("cp.csv", "A;1;;1;0;0;0;\xAC\xAE\xAB\xAE\xAA\xAE\r\n"
                                              "I;1;\xE1\xAE\xAB\xEC\r\n");
    TPluParseResult Dos;
    ParsePluFile(Path, 866, Dos);
    ASSERT_EQ(Dos.Items.size(), 1u);
    EXPECT_EQ(Dos.Items[0].Name, "\xd0\xbc\xd0\xbe\xd0\xbb\xd0\xbe\xd0\xba\xd0\xbe");
    EXPECT_EQ(Dos.Items[0].Ingredients, "\xd1\x81\xd0\xbe\xd0\xbb\xd1\x8c"); // "соль"

    for (const int CodePage : {1251, 0, 65001}) {
        TPluParseResult Win;
        ParsePluFile(Path, CodePage, Win);
        ASSERT_EQ(Win.Items.size(), 1u);
        // 0xAC 0xAE 0xAB in 1251: NOT SIGN, REGISTERED SIGN, LEFT GUILLEMET.
        EXPECT_EQ(Win.Items[0].Name, "\xc2\xac\xc2\xae\xc2\xab\xc2\xae\xd0\x84\xc2\xae");
        EXPECT_EQ(Win.Items[0].Name, DecodeCodePage("\xAC\xAE\xAB\xAE\xAA\xAE", 1251));
    }
}

TEST(PluFile, NameLimitCountsCharactersNotBytes)
{
    TTempDir Dir;
    // 80 and 81 Cyrillic letters in 1251: 80/81 bytes on disk, 160/162 bytes decoded.
    const auto Path = Dir.WriteFile("names.csv", "A;1;;1;0;0;0;" + Repeat("\xDF", 80) + "\n" +
                                                     "A;2;;1;0;0;0;" + Repeat("\xDF", 81) + "\n");
    TPluParseResult Result;
    ParsePluFile(Path, 1251, Result);
    ASSERT_EQ(Result.Items.size(), 1u);
    EXPECT_EQ(Result.Items[0].Name, Repeat("\xd0\xaf", 80));
    EXPECT_EQ(Result.Errors,
              (std::vector<TPluParseError>{{2, "name is longer than 80 characters"}}));
}

TEST(PluFile, ReadInPiecesGivesTheSameResultAsTheDecodedText)
{
    // Lines of many lengths so that line ends, CR LF pairs and Cyrillic bytes fall on every kind
    // of boundary of the pieces the file is read in; plus lines placed to end exactly at 1 MiB.
    std::string Bytes;
    const auto Pad = [&](std::size_t Target) {
        // A comment line that makes the next line start at `Target`.
        const std::size_t Need = Target - Bytes.size();
        Bytes += "#" + std::string(Need - 2, '.') + "\n";
    };
    int Plu = 1;
    const auto Article = [&](int NameLength, const char* Eol) {
        Bytes += "A;" + std::to_string(Plu) + ";;" + std::to_string(Plu % 997) + ",5;0;0;3;";
        for (int I = 0; I < NameLength; ++I)
            Bytes += static_cast<char>(I % 3 == 0 ? '\xC0' + (Plu + I) % 32 : 'a' + I % 26);
        Bytes += Eol;
        if (Plu % 5 == 0)
            Bytes += "I;" + std::to_string(Plu) + ";\xF1\xEE\xEB\xFC;water\r\n";
        ++Plu;
    };
    int Length = 1;
    const auto Articles = [&](std::size_t Until) {
        for (; Bytes.size() < Until; Length = Length % 80 + 1)
            Article(Length, Length % 2 ? "\r\n" : "\n");
    };
    Articles((1u << 20) - 400);
    const std::string LfAtEnd = "A;999000;;1;0;0;0;E\n"; // its LF is the last byte of piece 1
    Pad((1u << 20) - LfAtEnd.size());
    Bytes += LfAtEnd;
    Articles((2u << 20) - 400);
    const std::string CrAtEnd = "A;999001;;1;0;0;0;\xC0\xC1\xC2\r\n"; // CR ends piece 2
    Pad((2u << 20) + 1 - CrAtEnd.size());
    Bytes += CrAtEnd;
    Articles((3u << 20) + 5000);
    Bytes += "A;999002;;1;0;0;0;no line feed at the end";

    TTempDir Dir;
    const auto Path = Dir.WriteFile("big.csv", Bytes);
    TPluParseResult FromFile;
    ParsePluFile(Path, 1251, FromFile);
    const auto FromText = Parse(DecodeCodePage(Bytes, 1251));
    ExpectSameResult(FromFile, FromText);
    EXPECT_TRUE(FromText.Errors.empty())
        << FromText.Errors[0].LineNo << " " << FromText.Errors[0].Text;
    EXPECT_EQ(FromText.Items.size(), static_cast<std::size_t>(Plu - 1 + 3));
    EXPECT_EQ(FromText.Items.back().Name, "no line feed at the end");
}

TEST(PluFile, LargeFileGivesTheSameResultAsTheDecodedText)
{
    // Several MiB, so a parse reads many pieces and (on a machine with two cores or more)
    // decodes the names on a second thread while it checks the next piece. Rejected lines,
    // ingredient text for articles whose names are still being decoded, a line longer than a
    // piece and names of every length must all come out as in the one-thread text parse.
    std::string Bytes;
    for (int I = 0; I < 90000; ++I) {
        const int Plu = I % 11 == 10 ? I - 3 : I + 1; // every eleventh line a duplicate PLU
        if (I % 97 == 0)
            Bytes += "I;" + std::to_string(Plu + 1) + "; \xF1\xEE\xEB\xFC ;water\n";
        Bytes += "A;" + std::to_string(Plu) + ";" + std::to_string(4600000000000LL + I) + ";";
        Bytes += I % 53 == 0 ? "1.2.3" : std::to_string(I % 700) + "," + std::to_string(I % 100);
        Bytes += ";" + std::to_string(I % 2) + ";" + std::to_string((I / 2) % 2) + ";";
        Bytes += std::to_string(I % 1000) + "; ";
        for (int C = 0; C < I % 82; ++C) // lengths 0 to 81: empty and too long names too
            Bytes += static_cast<char>(C % 4 == 3 ? ' ' : '\xC0' + (I + C) % 64);
        Bytes += I % 3 ? " \r\n" : "\n";
        if (I % 89 == 0)
            Bytes += "I;" + std::to_string(Plu) + ";\xE2\xEE\xE4\xE0;;\r\n# comment\n\r\n";
        if (I % 500 == 0)
            Bytes += "D;" + std::to_string(Plu) + "\n";
        if (I == 40000) // one line of 1.5 MiB
            Bytes += "I;7;" + Repeat("\xF1\xEE\xEB\xFC;", 300000) + "\n";
    }
    ASSERT_GT(Bytes.size(), 4u << 20);

    TTempDir Dir;
    const auto Path = Dir.WriteFile("large.csv", Bytes);
    for (const int CodePage : {866, 1251}) {
        TPluParseResult FromFile;
        ParsePluFile(Path, CodePage, FromFile);
        const auto FromText = Parse(DecodeCodePage(Bytes, CodePage));
        ExpectSameResult(FromFile, FromText);
        EXPECT_GT(FromText.Items.size(), 50000u);
        EXPECT_GT(FromText.Errors.size(), 10000u);
        EXPECT_FALSE(FromText.Warnings.empty());
        const auto Seven = std::find_if(FromText.Items.begin(), FromText.Items.end(),
                                        [](const TPluRecord& Item) { return Item.Plu == 7; });
        ASSERT_NE(Seven, FromText.Items.end());
        EXPECT_GT(Seven->Ingredients.size(), 1u << 20); // took the long line
    }
}

TEST(PluFile, NoSecondThreadParsesTheSameOnOne)
{
    // Large enough for the names to go to a second thread; when the system gives none, the
    // file is parsed on one thread with the same result instead of failing as unreadable.
    std::string Bytes;
    for (int I = 1; Bytes.size() < (5u << 19); ++I)
        Bytes += "A;" + std::to_string(I) + ";;" + std::to_string(I % 900) +
                 ",5;0;0;3;\xCC\xEE\xEB\xEE\xEA\xEE " + std::to_string(I) + "\r\n";
    TTempDir Dir;
    const auto Path = Dir.WriteFile("two-threads.csv", Bytes);
    TPluParseResult WithThread;
    ParsePluFile(Path, 1251, WithThread);
    TPluParseResult OneThread;
    FailThreadStartsForTests(0);
    EXPECT_NO_THROW(ParsePluFile(Path, 1251, OneThread));
    FailThreadStartsForTests(-1);
    ExpectSameResult(OneThread, WithThread);
    ASSERT_GT(OneThread.Items.size(), 40000u);
    EXPECT_EQ(OneThread.Items.back().Name, "Молоко " + std::to_string(OneThread.Items.size()));
}

TEST(PluFile, FileBytesAndDecodedTextAgreeOnTrickyLines)
{
    // Bytes from 0x80 up in every field, and the bytes that decode to blanks outside 0-32
    // (0xA0 is NO-BREAK SPACE in 1251 and CYRILLIC A in 866): none of them is trimmed, none is a
    // digit or a record letter, and each counts as one character of a name.
    const std::string Bytes = "\xC0;1;;1;0;0;0;Cyrillic record letter\n"
                              "A;1\xB9;;1;0;0;0;Number sign after the PLU\n"
                              "A;2;\xB9;1;0;0;0;Barcode\n"
                              "A;3;;1\xA0;0;0;0;Price with a no-break space\n"
                              "A;4;;1;\xA0\x30;0;0;Item type\n"
                              "A;5;;1;0;0;\xB3\xB3;Shelf life\n"
                              "A;6;;1;0;0;0;\xA0\n"
                              "A;7;;1;0;0;0;" +
                              Repeat("\xE9", 80) + "\n" + "A;8;;1;0;0;0;" + Repeat("\xE9", 81) +
                              "\n"
                              "A;9;;1,5\xF0\xF3\xE1;0;0;0;\xA0\xCC\xEE\xEB\xEE\xEA\xEE\xA0\n"
                              "I;9;\xA0;\xF1\xEE\xEB\xFC ;\n"
                              "I;10;\xE2\xEE\xE4\xE0\n"
                              "\xEF\xBB\xBF"
                              "A;11;;1;0;0;0;After a byte-order mark\n";
    TTempDir Dir;
    const auto Path = Dir.WriteFile("tricky.csv", Bytes);
    for (const int CodePage : {866, 1251}) {
        TPluParseResult FromFile;
        ParsePluFile(Path, CodePage, FromFile);
        const auto FromText = Parse(DecodeCodePage(Bytes, CodePage));
        ExpectSameResult(FromFile, FromText);
        EXPECT_FALSE(FromText.Items.empty());
        EXPECT_FALSE(FromText.Errors.empty());
    }

    // Agreeing is not enough: in 1251 every line gets what the rules give it. NO-BREAK SPACE
    // is no blank, so the name of PLU 6 is that character and the ingredient text of line 11
    // keeps it; the byte-order mark makes line 13's record letter something else than "A".
    TPluParseResult Result;
    ParsePluFile(Path, 1251, Result);
    EXPECT_EQ(Result.Errors, (std::vector<TPluParseError>{
                                 {1, "expected record A or I"},
                                 {2, "PLU is out of range"},
                                 {3, "barcode must be 1 to 14 digits"},
                                 {4, "price is invalid"},
                                 {5, "item type must be 0 or 1"},
                                 {6, "shelf life days are invalid"},
                                 {9, "name is longer than 80 characters"},
                                 {10, "price is invalid"},
                                 {13, "expected record A or I"},
                             }));
    ASSERT_EQ(Result.Items.size(), 2u);
    EXPECT_EQ(Result.Items[0].Plu, 6);
    EXPECT_EQ(Result.Items[0].Name, "\xC2\xA0");
    EXPECT_EQ(Result.Items[1].Plu, 7);
    EXPECT_EQ(Result.Items[1].Name, Repeat("\xD0\xB9", 80));
    auto Warnings = Result.Warnings;
    std::sort(Warnings.begin(), Warnings.end());
    EXPECT_EQ(Warnings, (std::vector<std::string>{"ingredient without a PLU record: 10",
                                                  "ingredient without a PLU record: 9"}));
}

TEST(PluFile, UnreadableFileRaisesWithTheReason)
{
    TTempDir Dir;
    TPluParseResult Result;
    Result.Items.resize(3);
    const auto Missing = Dir.Path() / "missing.csv";
    try {
        ParsePluFile(Missing, 1251, Result);
        FAIL() << "no exception for a missing file";
    } catch (const TPluReadError& Error) {
        const std::string Message = Error.what();
        EXPECT_NE(Message.find("missing.csv"), std::string::npos) << Message;
        EXPECT_NE(Message.find("No such file or directory"), std::string::npos) << Message;
    }
    EXPECT_TRUE(Result.Items.empty());

    try {
        ParsePluFile(Dir.Path(), 1251, Result);
        FAIL() << "no exception for a folder";
    } catch (const TPluReadError& Error) {
        EXPECT_NE(std::string(Error.what()).find("directory"), std::string::npos) << Error.what();
    }
}

TEST(PluFile, EmptyFileHasNoRecords)
{
    TTempDir Dir;
    TPluParseResult Result;
    ParsePluFile(Dir.WriteFile("empty.csv", ""), 866, Result);
    EXPECT_EQ(Result.Errors, (std::vector<TPluParseError>{{0, "no PLU records"}}));
}

} // namespace
} // namespace Plumeria
