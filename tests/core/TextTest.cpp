#include "core/Text/Text.h"

#include <gtest/gtest.h>

#include <cstdlib> // defines __GLIBC__ on glibc systems
#include <optional>
#include <set>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <iconv.h>
#define PLUMERIA_HAVE_SYSTEM_CONVERTER 1
#elif defined(_WIN32)
#include <windows.h>
#define PLUMERIA_HAVE_SYSTEM_CONVERTER 1
#endif

namespace Plumeria {
namespace {

std::string Utf8Of(char32_t Code)
{
    return Utf16ToUtf8(
        Code >= 0x10000 ? std::u16string{static_cast<char16_t>(0xD800 + ((Code - 0x10000) >> 10)),
                                         static_cast<char16_t>(0xDC00 + ((Code - 0x10000) & 0x3FF))}
                        : std::u16string(1, static_cast<char16_t>(Code)));
}

std::string AllBytes()
{
    std::string Bytes;
    for (int B = 0; B < 256; ++B)
        Bytes.push_back(static_cast<char>(B));
    return Bytes;
}

TEST(TextTest, TrimRemovesCodesUpTo32AtBothEndsOnly)
{
    struct TCase
    {
        std::string In;
        std::string Out;
    };
    const TCase Cases[] = {
        {"", ""},
        {" \t\r\n", ""},
        {"  a b \t\r\n", "a b"},
        {std::string("\0\x01\x1F x\x20", 6), "x"},
        {"\x7F"
         "a\x7F",
         "\x7F"
         "a\x7F"},                                  // DEL is above 32
        {"\xC2\xA0x\xC2\xA0", "\xC2\xA0x\xC2\xA0"}, // no-break space is not trimmed
        {"a\t\tb", "a\t\tb"},                       // inner blanks stay
        {"\x21!", "\x21!"},
    };
    for (const auto& Case : Cases) {
        EXPECT_EQ(Trim(Case.In), Case.Out) << "input size " << Case.In.size();
        EXPECT_EQ(TrimView(Case.In), Case.Out);
    }
}

TEST(TextTest, AsciiFoldingTouchesOnlyLatinLetters)
{
    EXPECT_EQ(AsciiLower("DIGI Ж Mettler-Toledo [@]"), "digi Ж mettler-toledo [@]");
    EXPECT_EQ(AsciiUpper("digi ж m-er {`}"), "DIGI ж M-ER {`}");

    struct TCase
    {
        std::string A;
        std::string B;
        bool Same;
    };
    const TCase Cases[] = {
        {"DIGI", "digi", true},
        {"MaSsA-K", "massa-k", true},
        {"", "", true},
        {"Ж", "ж", false},
        {"[", "{", false},
        {"@", "`", false},
        {"abc", "abcd", false},
        {"digi", "digi ", false},
        {"\xC3\x80", "\xC3\xA0", false},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(SameTextAscii(Case.A, Case.B), Case.Same) << Case.A << " vs " << Case.B;
}

TEST(TextTest, SplitTextKeepsEmptyParts)
{
    struct Row
    {
        std::string_view Text;
        std::vector<std::string_view> Parts;
    };
    const Row Rows[] = {
        {"", {""}},           {"10.0.0.5", {"10", "0", "0", "5"}}, {"1.2.", {"1", "2", ""}},
        {"..", {"", "", ""}}, {"no separator", {"no separator"}},
    };
    for (const Row& R : Rows)
        EXPECT_EQ(SplitText(R.Text, '.'), R.Parts) << R.Text;
}

TEST(TextTest, Utf16LengthCountsCodeUnits)
{
    struct TCase
    {
        std::string Utf8;
        std::size_t Units;
    };
    const TCase Cases[] = {
        {"", 0},
        {"abc", 3},
        {"Жж", 2},
        {"\xE2\x82\xAC", 1},     // €
        {"\xF0\x9F\x98\x80", 2}, // a character outside the BMP needs a pair
        {"a\xF0\x9F\x98\x80z", 4},
        {"\xFF", 1},     // an invalid byte counts as one unit
        {"\xE2\x82", 2}, // a cut sequence: two bad bytes
        {"\xC0\xAF", 2}, // overlong form: two bad bytes
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(Utf16Length(Case.Utf8), Case.Units) << Case.Utf8;
}

TEST(TextTest, Utf16PrefixNeverSplitsACharacter)
{
    const std::string Smile = "\xF0\x9F\x98\x80";
    struct TCase
    {
        std::string Utf8;
        std::size_t Max;
        std::string Prefix;
    };
    const TCase Cases[] = {
        {"abc", 0, ""},
        {"abc", 2, "ab"},
        {"abc", 10, "abc"},
        {"Жжж", 2, "Жж"},
        {"a" + Smile + "b", 1, "a"},
        {"a" + Smile + "b", 2, "a"}, // one unit left, the pair does not fit
        {"a" + Smile + "b", 3, "a" + Smile},
        {"a" + Smile + "b", 4, "a" + Smile + "b"},
        {std::string(79, 'x') + Smile, 80, std::string(79, 'x')},
        {std::string(78, 'x') + Smile, 80, std::string(78, 'x') + Smile},
    };
    for (const auto& Case : Cases) {
        const std::string Prefix = Utf16Prefix(Case.Utf8, Case.Max);
        EXPECT_EQ(Prefix, Case.Prefix) << Case.Utf8 << " / " << Case.Max;
        EXPECT_LE(Utf16Length(Prefix), Case.Max);
        EXPECT_TRUE(IsValidUtf8(Prefix));
    }
}

TEST(TextTest, Utf8ValidityIsStrict)
{
    const std::string Valid[] = {"",
                                 "plain",
                                 "Привет",
                                 "\xE2\x82\xAC",
                                 "\xF0\x9F\x98\x80",
                                 "\xF4\x8F\xBF\xBF", // U+10FFFF
                                 std::string("a\0b", 3)};
    for (const auto& Text : Valid)
        EXPECT_TRUE(IsValidUtf8(Text)) << Text;

    const std::string Invalid[] = {
        "\x80",
        "\xC3",
        "a\xC3",
        "\xC0\xAF",
        "\xC1\xBF",
        "\xE0\x80\xAF", // overlong forms
        "\xED\xA0\x80",
        "\xED\xBF\xBF",     // surrogates
        "\xF4\x90\x80\x80", // above U+10FFFF
        "\xF8\x88\x80\x80\x80",
        "\xFF",
        "\xE2\x28\xA1",
        "\xCF\xF0\xE8", // 1251 bytes
    };
    for (const auto& Text : Invalid)
        EXPECT_FALSE(IsValidUtf8(Text)) << ::testing::PrintToString(Text);
}

TEST(TextTest, Utf8AndUtf16ConvertBothWays)
{
    const std::string Text = "Весы DIGI \xE2\x82\xAC 12,50 \xF0\x9F\x98\x80 \xC2\x98";
    const std::u16string Wide = Utf8ToUtf16(Text);
    EXPECT_EQ(Utf16ToUtf8(Wide), Text);
    EXPECT_EQ(Wide.size(), Utf16Length(Text));

    EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), (std::u16string{0xD83D, 0xDE00}));
    EXPECT_EQ(Utf8ToUtf16("a\xFF"
                          "b"),
              u"a\uFFFDb");
    // Lone surrogates have no UTF-8 form and come out as the replacement character.
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', 0xD800, u'b'}), "a\xEF\xBF\xBD"
                                                               "b");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDC00}), "\xEF\xBF\xBD");
}

TEST(TextTest, CodePagesDecodeKnownWords)
{
    struct TCase
    {
        int CodePage;
        std::string Bytes;
        std::string Utf8;
    };
    const TCase Cases[] = {
        {866, "\x8F\xE0\xA8\xA2\xA5\xE2", "Привет"},
        {1251, "\xCF\xF0\xE8\xE2\xE5\xF2", "Привет"},
        {866, "\xF0\xF1\xFC", "Ёё№"},
        {1251, "\xA8\xB8\xB9", "Ёё№"},
        {1251, "\x88\x98", "\xE2\x82\xAC\xC2\x98"}, // € and the unassigned 0x98
        {0, "\xCF", "П"},                           // any other value means 1251
        {65001, "\xCF", "П"},
        {866, std::string("a\0b;12,50\r\n", 11), std::string("a\0b;12,50\r\n", 11)},
        {1251, "", ""},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(DecodeCodePage(Case.Bytes, Case.CodePage), Case.Utf8)
            << "code page " << Case.CodePage;
}

TEST(TextTest, CodePagesRoundTripEveryByte)
{
    for (const int CodePage : {866, 1251}) {
        const std::string Decoded = DecodeCodePage(AllBytes(), CodePage);
        EXPECT_TRUE(IsValidUtf8(Decoded));
        EXPECT_EQ(Utf16Length(Decoded), 256u);
        std::string Encoded;
        char32_t Bad = 0;
        ASSERT_TRUE(EncodeCodePage(Decoded, CodePage, Encoded, &Bad))
            << CodePage << " bad U+" << std::hex << static_cast<unsigned>(Bad);
        EXPECT_EQ(Encoded, AllBytes()) << CodePage;
    }
}

TEST(TextTest, EncodingRefusesCharactersWithoutAByte)
{
    const std::string Euro = "\xE2\x82\xAC";
    const std::string Smile = "\xF0\x9F\x98\x80";
    struct TCase
    {
        int CodePage;
        std::string Utf8;
        char32_t Bad;
    };
    const TCase Cases[] = {
        {866, "ok " + Euro, U'\u20AC'},
        {866, "Ж" + Euro + Smile, U'\u20AC'}, // the first bad character is reported
        {1251, "a" + Smile + Euro, U'\U0001F600'},
        {866, "\xC2\x98", U'\u0098'}, // U+0098 has a byte in 1251 only
        {866, "\xC3\xBF", U'\u00FF'}, // ÿ is in neither page
        {1251, "\xC3\xBF", U'\u00FF'},
        {1251, "\xC2\x81", U'\u0081'}, // C1 controls other than U+0098 have no byte
        {1251, "ab\xFF", U'\uFFFD'},   // bytes that are not UTF-8 are not characters
        {866, "\xE2\x82", U'\uFFFD'},
    };
    for (const auto& Case : Cases) {
        std::string Out;
        char32_t Bad = 0;
        EXPECT_FALSE(EncodeCodePage(Case.Utf8, Case.CodePage, Out, &Bad)) << Case.Utf8;
        EXPECT_EQ(static_cast<std::uint32_t>(Bad), static_cast<std::uint32_t>(Case.Bad))
            << Case.Utf8 << " in " << Case.CodePage;
        EXPECT_FALSE(EncodeCodePage(Case.Utf8, Case.CodePage, Out)); // no report wanted
    }

    std::string Out;
    ASSERT_TRUE(EncodeCodePage("Сыр \xE2\x84\x96"
                               "5 " +
                                   Euro,
                               1251, Out));
    EXPECT_EQ(Out, "\xD1\xFB\xF0 \xB9"
                   "5 \x88");
    ASSERT_TRUE(EncodeCodePage("\xC2\x98", 1251, Out));
    EXPECT_EQ(Out, "\x98");
}

#if defined(__GLIBC__)
// What glibc's converter makes of one byte: the character, or nothing when it refuses the byte.
std::optional<char32_t> SystemDecodeByte(int CodePage, unsigned char Byte)
{
    const std::string Name = "CP" + std::to_string(CodePage);
    iconv_t Converter = iconv_open("UTF-32LE", Name.c_str());
    EXPECT_NE(Converter, reinterpret_cast<iconv_t>(-1)) << Name;
    if (Converter == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    char In[1] = {static_cast<char>(Byte)};
    char32_t OutChars[4] = {};
    char* InPtr = In;
    std::size_t InLeft = 1;
    char* OutPtr = reinterpret_cast<char*>(OutChars);
    std::size_t OutLeft = sizeof OutChars;
    const bool Refused =
        iconv(Converter, &InPtr, &InLeft, &OutPtr, &OutLeft) == static_cast<std::size_t>(-1);
    iconv_close(Converter);
    if (Refused)
        return std::nullopt;
    EXPECT_EQ(sizeof OutChars - OutLeft, sizeof(char32_t)) << "one byte, one character";
    return OutChars[0];
}
#elif defined(_WIN32)
// What the Windows converter makes of one byte: the character, or nothing when it refuses it.
std::optional<char32_t> SystemDecodeByte(int CodePage, unsigned char Byte)
{
    const char In[1] = {static_cast<char>(Byte)};
    wchar_t Out[4] = {};
    const int Count =
        MultiByteToWideChar(static_cast<UINT>(CodePage), MB_ERR_INVALID_CHARS, In, 1, Out, 4);
    if (Count <= 0)
        return std::nullopt;
    EXPECT_EQ(Count, 1) << "one byte, one character";
    return static_cast<char32_t>(static_cast<char16_t>(Out[0]));
}
#endif

TEST(TextTest, CodePagesMatchTheSystemConverterForAllBytes)
{
#ifndef PLUMERIA_HAVE_SYSTEM_CONVERTER
    GTEST_SKIP() << "neither glibc iconv nor the Windows converter is available in this build; "
                    "the tables are checked by the round-trip tests only";
#else
    for (const int CodePage : {866, 1251}) {
        std::set<char32_t> Mapped;
        for (int B = 0; B < 256; ++B) {
            const auto Byte = static_cast<unsigned char>(B);
            std::optional<char32_t> Expected = SystemDecodeByte(CodePage, Byte);
            if (!Expected) {
                // The only byte a converter may refuse (iconv does) is 1251's unassigned 0x98,
                // which we decode to U+0098 like the Windows converter.
                EXPECT_TRUE(CodePage == 1251 && Byte == 0x98) << "refused byte " << B;
                Expected = U'\u0098';
            }
            Mapped.insert(*Expected);
            const std::string Single(1, static_cast<char>(Byte));
            EXPECT_EQ(DecodeCodePage(Single, CodePage), Utf8Of(*Expected))
                << "code page " << CodePage << " byte " << B;
        }
        ASSERT_EQ(Mapped.size(), 256u) << "code page " << CodePage << " maps two bytes to one char";

        // Every BMP character encodes exactly when the page has a byte for it.
        for (char32_t Code = 1; Code < 0x10000; ++Code) {
            if (Code >= 0xD800 && Code <= 0xDFFF)
                continue;
            std::string Out;
            const bool Encoded = EncodeCodePage(Utf8Of(Code), CodePage, Out);
            ASSERT_EQ(Encoded, Mapped.count(Code) == 1)
                << "code page " << CodePage << " U+" << std::hex << static_cast<unsigned>(Code);
            if (Encoded) {
                ASSERT_EQ(Out.size(), 1u);
                ASSERT_EQ(DecodeCodePage(Out, CodePage), Utf8Of(Code));
            }
        }
    }
#endif
}

TEST(TextTest, DecodingLargeTextMatchesBytewiseDecoding)
{
    // Bytes in a repeating pattern that covers ASCII, Cyrillic letters and 3-byte characters.
    std::string Big;
    for (int I = 0; I < 300000; ++I)
        Big.push_back(static_cast<char>((I * 37) & 0xFF));
    for (const int CodePage : {866, 1251}) {
        std::string Expected;
        for (const char C : Big)
            Expected += DecodeCodePage(std::string_view(&C, 1), CodePage);
        EXPECT_EQ(DecodeCodePage(Big, CodePage), Expected) << CodePage;
    }
}

TEST(TextTest, TryParseInt32FollowsThePlatformReader)
{
    struct TCase
    {
        std::string Text;
        bool Ok;
        std::int32_t Value;
    };
    const TCase Cases[] = {
        {"0", true, 0},
        {"5", true, 5},
        {"+5", true, 5},
        {"-5", true, -5},
        {"-0", true, 0},
        {"007", true, 7},
        {"000000000000000000012", true, 12}, // long runs of zeros do not overflow
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999999999999", false, 0},
        {"$10", true, 16},
        {"x1F", true, 31},
        {"X1f", true, 31},
        {"0x7FFFFFFF", true, 2147483647},
        {"0XaBc", true, 0xABC},
        {"-$10", true, -16}, // the sign comes before the prefix
        {"+0x10", true, 16},
        {"-0x80000000", true, -2147483647 - 1},
        {"$80000000", false, 0}, // no wrap-around into negative numbers
        {"$FFFFFFFF", false, 0},
        {"", false, 0},
        {"+", false, 0},
        {"-", false, 0},
        {"$", false, 0},
        {"0x", false, 0},
        {"-$", false, 0},
        {"x", false, 0},
        {" 5", false, 0}, // callers trim; the reader itself does not
        {"5 ", false, 0},
        {"--5", false, 0},
        {"+-5", false, 0},
        {"$-5", false, 0},
        {"0x-5", false, 0},
        {"$$5", false, 0},
        {"00x10", false, 0},
        {"1e3", false, 0},
        {"12.0", false, 0},
        {"1 000", false, 0},
        {"0xG", false, 0},
        {"$1G", false, 0},
        {"FF", false, 0},       // hexadecimal only after a prefix
        {"\xD9\xA3", false, 0}, // Arabic-Indic digit three
    };
    for (const auto& Case : Cases) {
        std::int32_t Value = 12345;
        EXPECT_EQ(TryParseInt32(Case.Text, Value), Case.Ok) << "'" << Case.Text << "'";
        EXPECT_EQ(Value, Case.Ok ? Case.Value : 12345) << "'" << Case.Text << "'";
    }
}

} // namespace
} // namespace Plumeria
