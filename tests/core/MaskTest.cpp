#include "core/FolderWatch/Mask.h"
#include "platform/TextCase.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cwctype>
#include <string>

namespace Plumeria {
namespace {

struct TMaskCase
{
    const char* Name;
    const char* Masks;
    bool Expected;
};

TEST(MaskTest, MaskListTable)
{
    const TMaskCase Cases[] = {
        // A list of masks: any part may match; case does not matter.
        {"PRICES.CSV", "*.csv;*.txt", true},
        {"prices.txt", "*.csv;*.txt", true},
        {"prices.xml", "*.csv;*.txt", false},
        {"prices.csv", " *.xml ;\t*.CSV ", true},
        {"prices.csv", "*.csv.bak", false},
        {"prices.csv.bak", "*.csv", false},
        // Lists without any non-empty part match nothing.
        {"prices.csv", "", false},
        {"prices.csv", " ; ;\t;", false},
        {"a", ";;", false},
        // "*" runs (empty included), "?" exactly one character.
        {"a1.csv", "A*.CSV", true},
        {"A.CSV", "a*.csv", true},
        {"ba1.csv", "A*.CSV", false},
        {"abc", "a?c", true},
        {"ac", "a?c", false},
        {"abbc", "a?c", false},
        {"abcbcd", "*bc*d", true},
        {"abcbce", "*bc*d", false},
        {"", "*", true},
        {"x", "", false},
        // Locale upper-casing: Cyrillic names against Cyrillic masks in either case.
        {"ЦЕНЫ.csv", "цены*.CSV", true},
        {"цены_2024.csv", "ЦЕНЫ*.csv", true},
        {"ёлка.txt", "ЁЛКА.TXT", true},
        {"цены.csv", "товары*.csv", false},
        {"Straße.csv", "STRASSE.CSV", false}, // one character never becomes two
        // Sets, negated sets and ranges (compared after upper-casing).
        {"p1.csv", "p[0-9].csv", true},
        {"px.csv", "p[0-9].csv", false},
        {"pb.csv", "p[abc].csv", true},
        {"pB.csv", "p[abc].csv", true},
        {"pd.csv", "p[abc].csv", false},
        {"px.csv", "p[!0-9].csv", true},
        {"p5.csv", "p[!0-9].csv", false},
        {"pq.csv", "p[a-fq-z].csv", true},
        {"pg.csv", "p[a-fq-z].csv", false},
        {"p-.csv", "p[-a].csv", true},
        {"p-.csv", "p[a-].csv", true},
        {"pб.csv", "p[а-я].csv", true},
        {"pБ.csv", "p[а-я].csv", true},
        {"pz.csv", "p[а-я].csv", false},
        {"p.csv", "p[0-9].csv", false}, // a set needs one character
        {"pz.csv", "p[].csv", false},   // an empty set matches nothing
        {"pz.csv", "p[!].csv", true},   // ... and its negation anything
        // Literal characters that are wildcards elsewhere.
        {"a!b", "a!b", true},
        {"a]b", "a]b", true},
        // Non-UTF-8 bytes in a name match themselves, "?" and "*" only.
        {"\xFF.csv", "?.csv", true},
        {"\xFF.csv", "*.csv", true},
        {"\xFF.csv", "\xFF.csv", true},
        {"\xFE.csv", "\xFF.csv", false},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(std::string("name=") + Case.Name + " masks=" + Case.Masks);
        EXPECT_EQ(MatchesMaskList(Case.Name, Case.Masks), Case.Expected);
        EXPECT_EQ(TMaskList(Case.Masks).Matches(Case.Name), Case.Expected);
    }
}

TEST(MaskTest, ScaleMaskTable)
{
    const TMaskCase Cases[] = {
        {"anything.xml", "", true},    {"anything.xml", "   ", true}, {"anything.xml", "*", true},
        {"anything.xml", " * ", true}, {"a1.csv", "A*.CSV", true},    {"b1.csv", "A*.CSV", false},
        {"b1.csv", "A*.CSV;b*", true}, {"b1.csv", ";", false},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(std::string("name=") + Case.Name + " mask=" + Case.Masks);
        EXPECT_EQ(MatchesScaleMask(Case.Name, Case.Masks), Case.Expected);
    }
}

TEST(MaskTest, UnterminatedSetIsAnError)
{
    // The matcher raises the error when it reaches the bad part; a part that matched before it
    // decides first.
    EXPECT_THROW(MatchesMaskList("prices.csv", "[abc"), TMaskError);
    EXPECT_THROW(MatchesMaskList("prices.txt", "*.csv;p[!0-9"), TMaskError);
    EXPECT_TRUE(MatchesMaskList("prices.csv", "*.csv;p[!0-9"));
    EXPECT_THROW(MatchesScaleMask("prices.csv", "[a-z"), TMaskError);

    try {
        MatchesScaleMask("prices.csv", "*.txt; p[a-z");
        FAIL() << "no error for an unterminated set";
    } catch (const TMaskError& Error) {
        EXPECT_NE(std::string(Error.what()).find("p[a-z"), std::string::npos) << Error.what();
    }

    EXPECT_EQ(ValidateMaskList("*.csv; *.txt"), "");
    EXPECT_EQ(ValidateMaskList(""), "");
    EXPECT_NE(ValidateMaskList("*.csv;[x"), "");
    EXPECT_NE(ValidateMaskList("*.csv;[x").find("[x"), std::string::npos);
    EXPECT_NE(ValidateMaskList("a[]b;c[!d"), "");

    // The watch's compiled list skips the bad part and keeps the good ones.
    const TMaskList List("*.csv; [x ;*.txt");
    ASSERT_EQ(List.Errors().size(), 1u);
    EXPECT_NE(List.Errors()[0].find("[x"), std::string::npos);
    EXPECT_TRUE(List.Matches("a.csv"));
    EXPECT_TRUE(List.Matches("a.txt"));
    EXPECT_FALSE(List.Matches("[x"));
    EXPECT_FALSE(TMaskList("[").Matches("["));
}

TEST(MaskTest, LongNamesDoNotBlowUp)
{
    // Many stars against a long name that almost matches: must finish, with the right answer.
    const std::string Name(2000, 'a');
    EXPECT_FALSE(MatchesMaskList(Name, "*a*a*a*a*a*a*a*a*b"));
    EXPECT_TRUE(MatchesMaskList(Name + "b", "*a*a*a*a*a*a*a*a*b"));
}

TEST(MaskTest, UpperCasingCoversLatinGreekAndCyrillic)
{
    std::u32string Text = U"abzàÿčđœ ωα абвгдеёжзийклмнопрстуфхцчшщъыьэюя їєґў ß 1-_";
    UpperCaseText(Text);
    EXPECT_EQ(Text, U"ABZÀŸČĐŒ ΩΑ АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ ЇЄҐЎ ß 1-_");
}

TEST(MaskTest, UpperCasingAgreesWithTheUtf8Locale)
{
    // Where the system has a UTF-8 locale, the built-in table must agree with it for every
    // character of the basic plane.
#ifdef _WIN32
    GTEST_SKIP() << "Windows upper-cases with the system's own CharUpperBuffW, not the built-in "
                    "table this compares";
#endif
    const char* Previous = std::setlocale(LC_CTYPE, nullptr);
    const std::string Saved = Previous ? Previous : "C";
    if (!std::setlocale(LC_CTYPE, "C.UTF-8") && !std::setlocale(LC_CTYPE, "C.utf8"))
        GTEST_SKIP() << "no C.UTF-8 locale on this machine";
    if (sizeof(wchar_t) < 4) {
        std::setlocale(LC_CTYPE, Saved.c_str());
        GTEST_SKIP() << "wchar_t cannot hold every character";
    }
    std::u32string All;
    for (char32_t C = 0; C < 0x10000; ++C)
        if (C < 0xD800 || C > 0xDFFF)
            All.push_back(C);
    std::u32string Upper = All;
    UpperCaseText(Upper);
    int Mismatches = 0;
    for (std::size_t I = 0; I < All.size(); ++I) {
        const auto Expected = static_cast<char32_t>(std::towupper(static_cast<wint_t>(All[I])));
        if (Upper[I] != Expected && ++Mismatches <= 10)
            ADD_FAILURE() << std::hex << "U+" << static_cast<unsigned>(All[I]) << " -> U+"
                          << static_cast<unsigned>(Upper[I]) << ", locale says U+"
                          << static_cast<unsigned>(Expected);
    }
    std::setlocale(LC_CTYPE, Saved.c_str());
    EXPECT_EQ(Mismatches, 0);
}

} // namespace
} // namespace Plumeria
