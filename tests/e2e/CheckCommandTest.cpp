// `plumeria check` as integrators use it: exit statuses, the human report, the JSON report read
// back with a strict reader, and hostile input that must end in a clear answer.

#include "support/JsonReader.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace Plumeria {
namespace {

using Test::ParseJson;
using Test::RunTool;
using Test::TJsonValue;
using Test::TProcessResult;
using Test::TTempDir;

std::string Describe(const TProcessResult& R)
{
    return "exit=" + std::to_string(R.ExitCode) + " signal=" + std::to_string(R.Signal) +
           (R.TimedOut ? " timed out" : "") + "\nstdout: " + R.Out.substr(0, 2000) +
           "\nstderr: " + R.Err.substr(0, 2000);
}

/// `check` journals nothing, but it is still a program of this build: it runs in a data folder
/// of its own.
class CheckCommand : public ::testing::Test
{
protected:
    Plumeria::Test::TTempDataFolder Data;
};

TEST_F(CheckCommand, AcceptedFile)
{
    TTempDir Dir;
    const auto File = Dir.WriteFile("ok.csv", "# prices\r\n"
                                              "A;1;4600000000017;12,50;0;0;5;Milk\r\n"
                                              "A;2;;3;1;1;0;Bread\r\n"
                                              "I;2;flour;water\r\n");
    const auto R = RunTool({"check", File.string()});
    EXPECT_EQ(R.ExitCode, 0) << Describe(R);
    EXPECT_EQ(R.Out, "accepted: 2 articles, 0 errors, 0 warnings, code page 1251\n");
    EXPECT_EQ(R.Err, "");
}

TEST_F(CheckCommand, RejectedFileListsErrorsThenWarningsThenSummary)
{
    TTempDir Dir;
    const auto File = Dir.WriteFile("bad.csv", "A;1;;1;0;0;0;Milk\n"
                                               "A;2;;-1;0;0;0;Bread\n"
                                               "\n"
                                               "A;1;;1;0;0;0;Milk again\n"
                                               "I;9;orphan\n"
                                               "D;1\n");
    const auto R = RunTool({"check", File.string(), "--cp", "866"});
    EXPECT_EQ(R.ExitCode, 1) << Describe(R);
    EXPECT_EQ(R.Out, "line 2: price is invalid\n"
                     "line 4: duplicate PLU\n"
                     "line 6: delete records are not sent\n"
                     "warning: ingredient without a PLU record: 9\n"
                     "rejected: 1 articles, 3 errors, 1 warnings, code page 866\n");
    EXPECT_EQ(R.Err, "");
}

TEST_F(CheckCommand, JsonReportReadsBackWithEveryField)
{
    TTempDir Dir;
    // Name with quote, backslash, tab, CR and the control byte 0x01; ingredients on two lines;
    // a Cyrillic name in 1251 ("Хлеб").
    const auto File = Dir.WriteFile(
        "json.csv", "A;7;4600000000017;12,345;1;1;30;Say \"hi\"\\ \t tab\rcr\x01 end\r\n"
                    "I;7;salt;pepper\r\n"
                    "A;8;;0;0;0;0;\xD5\xEB\xE5\xE1\r\n"
                    "A;x;;0;0;0;0;broken\r\n"
                    "I;99;lonely\r\n");
    const auto R = RunTool({"check", "--json", File.string()});
    EXPECT_EQ(R.ExitCode, 1) << Describe(R);
    EXPECT_EQ(R.Err, "");
    // Control characters are escaped in the text itself, never written raw.
    EXPECT_NE(R.Out.find(R"(Say \"hi\"\\ \t tab\rcr\u0001 end)"), std::string::npos) << R.Out;
    EXPECT_NE(R.Out.find(R"("salt\npepper")"), std::string::npos) << R.Out;
    ASSERT_EQ(R.Out.back(), '\n');

    const TJsonValue Doc = ParseJson(R.Out);
    ASSERT_TRUE(Doc.IsObject());
    EXPECT_EQ(Doc.Keys(), (std::vector<std::string>{"codepage", "items", "errors", "warnings"}));
    EXPECT_EQ(Doc["codepage"].Int(), 1251);

    const auto& Items = Doc["items"];
    ASSERT_TRUE(Items.IsArray());
    ASSERT_EQ(Items.Array.size(), 2u);
    const auto& First = Items.Array[0];
    EXPECT_EQ(First.Keys(), (std::vector<std::string>{"plu", "name", "price_cents", "barcode",
                                                      "item_type", "price_per_100g", "sell_by_days",
                                                      "used_by_days", "ingredients"}));
    EXPECT_EQ(First["plu"].Int(), 7);
    EXPECT_EQ(First["name"].String, "Say \"hi\"\\ \t tab\rcr\x01 end");
    EXPECT_EQ(First["price_cents"].Int(), 1235);
    EXPECT_EQ(First["barcode"].String, "4600000000017");
    EXPECT_EQ(First["item_type"].Int(), 1);
    ASSERT_TRUE(First["price_per_100g"].IsBool());
    EXPECT_TRUE(First["price_per_100g"].Bool);
    EXPECT_EQ(First["sell_by_days"].Int(), 30);
    EXPECT_EQ(First["used_by_days"].Int(), 0);
    EXPECT_EQ(First["ingredients"].String, "salt\npepper");
    const auto& Second = Items.Array[1];
    EXPECT_EQ(Second["name"].String, "\xd0\xa5\xd0\xbb\xd0\xb5\xd0\xb1");
    EXPECT_FALSE(Second["price_per_100g"].Bool);
    EXPECT_EQ(Second["item_type"].Int(), 0);
    EXPECT_EQ(Second["barcode"].String, "");
    EXPECT_EQ(Second["ingredients"].String, "");

    const auto& Errors = Doc["errors"];
    ASSERT_EQ(Errors.Array.size(), 1u);
    EXPECT_EQ(Errors.Array[0].Keys(), (std::vector<std::string>{"line", "text"}));
    EXPECT_EQ(Errors.Array[0]["line"].Int(), 4);
    EXPECT_EQ(Errors.Array[0]["text"].String, "PLU is out of range");
    const auto& Warnings = Doc["warnings"];
    ASSERT_EQ(Warnings.Array.size(), 1u);
    EXPECT_EQ(Warnings.Array[0].String, "ingredient without a PLU record: 99");
}

TEST_F(CheckCommand, JsonOfAnEmptyResultAndOfManyArticles)
{
    TTempDir Dir;
    const auto Empty = RunTool({"check", Dir.WriteFile("e.csv", "").string(), "--json"});
    EXPECT_EQ(Empty.ExitCode, 1) << Describe(Empty);
    EXPECT_EQ(Empty.Out, "{\"codepage\":1251,\"items\":[],\"errors\":[{\"line\":0,\"text\":"
                         "\"no PLU records\"}],\"warnings\":[]}\n");

    // Enough articles that the report is written out in several pieces.
    std::string Text;
    const int Count = 20000;
    for (int Plu = 1; Plu <= Count; ++Plu)
        Text += "A;" + std::to_string(Plu) + ";;" + std::to_string(Plu) + ",01;0;0;0;\xCA\xEE\xEB" +
                std::to_string(Plu) + "\r\n";
    const auto Many = RunTool({"check", Dir.WriteFile("m.csv", Text).string(), "--json"});
    EXPECT_EQ(Many.ExitCode, 0) << Describe(Many);
    const TJsonValue Doc = ParseJson(Many.Out);
    const auto& Items = Doc["items"].Array;
    ASSERT_EQ(Items.size(), static_cast<std::size_t>(Count));
    for (int I = 0; I < Count; I += 997) {
        EXPECT_EQ(Items[I]["plu"].Int(), I + 1);
        EXPECT_EQ(Items[I]["price_cents"].Int(), (I + 1) * 100 + 1);
        EXPECT_EQ(Items[I]["name"].String, "\xd0\x9a\xd0\xbe\xd0\xbb" + std::to_string(I + 1));
    }
}

TEST_F(CheckCommand, CodePageOptionChoosesTheDecoding)
{
    TTempDir Dir;
    const auto File = Dir.WriteFile("cp.csv", "A;1;;1;0;0;0;\xAC\xAE\xAB\xAE\xAA\xAE\n");
    const auto Dos = RunTool({"check", File.string(), "--cp=866", "--json"});
    ASSERT_EQ(Dos.ExitCode, 0) << Describe(Dos);
    const auto DosDoc = ParseJson(Dos.Out);
    EXPECT_EQ(DosDoc["codepage"].Int(), 866);
    EXPECT_EQ(DosDoc["items"].Array.at(0)["name"].String,
              "\xd0\xbc\xd0\xbe\xd0\xbb\xd0\xbe\xd0\xba\xd0\xbe"); // "молоко"

    const auto Win = RunTool({"check", File.string(), "--cp", "1251", "--json"});
    ASSERT_EQ(Win.ExitCode, 0) << Describe(Win);
    const auto WinDoc = ParseJson(Win.Out);
    EXPECT_EQ(WinDoc["codepage"].Int(), 1251);
    EXPECT_EQ(WinDoc["items"].Array.at(0)["name"].String,
              "\xc2\xac\xc2\xae\xc2\xab\xc2\xae\xd0\x84\xc2\xae");
}

TEST_F(CheckCommand, WrongArgumentsExitWithUsage)
{
    TTempDir Dir;
    const std::string File = Dir.WriteFile("ok.csv", "A;1;;1;0;0;0;Milk\n").string();
    const std::vector<std::vector<std::string>> Cases = {
        {"check"},
        {"check", File, File},
        {"check", File, "--cp", "1252"},
        {"check", File, "--cp", "abc"},
        {"check", File, "--cp", ""},
        {"check", File, "--cp"},
        {"check", File, "--cp", " 866"},
        {"check", File, "--codepage", "866"},
        {"check", File, "--json=yes"},
    };
    for (const auto& Args : Cases) {
        const auto R = RunTool(Args);
        std::string Shown;
        for (const auto& Arg : Args)
            Shown += "[" + Arg + "]";
        EXPECT_EQ(R.ExitCode, 2) << Shown << "\n" << Describe(R);
        EXPECT_EQ(R.Out, "") << Shown;
        EXPECT_NE(R.Err.find("plumeria check: "), std::string::npos) << Shown << R.Err;
    }
}

TEST_F(CheckCommand, UnreadableFileExitsWithTheReason)
{
    TTempDir Dir;
    const auto Missing = RunTool({"check", (Dir.Path() / "nope.csv").string()});
    EXPECT_EQ(Missing.ExitCode, 2) << Describe(Missing);
    EXPECT_EQ(Missing.Out, "");
    EXPECT_NE(Missing.Err.find("nope.csv"), std::string::npos) << Missing.Err;
    EXPECT_NE(Missing.Err.find("No such file or directory"), std::string::npos) << Missing.Err;

    const auto Folder = RunTool({"check", Dir.Path().string(), "--json"});
    EXPECT_EQ(Folder.ExitCode, 2) << Describe(Folder);
    EXPECT_EQ(Folder.Out, "");
    EXPECT_NE(Folder.Err.find("directory"), std::string::npos) << Folder.Err;

    // A device that never ends is refused at once instead of being read forever.
    const auto Device = RunTool({"check", "/dev/zero"}, 10000);
    EXPECT_FALSE(Device.TimedOut);
    EXPECT_EQ(Device.ExitCode, 2) << Describe(Device);
    EXPECT_NE(Device.Err.find("not a regular file"), std::string::npos) << Device.Err;
}

// Hostile files: each must end normally, quickly, with the parser's verdict and valid JSON.
TEST_F(CheckCommand, HostileInputGetsAnAnswer)
{
    TTempDir Dir;
    std::mt19937 Random(20240611);
    std::string Binary(1 << 20, '\0');
    for (char& C : Binary)
        C = static_cast<char>(Random() & 0xFF);
    std::string Noise(3 << 20, '\0'); // random bytes without any line feed
    for (char& C : Noise) {
        const unsigned Byte = Random() % 255 + 1;
        C = static_cast<char>(Byte == '\n' ? 'z' : Byte);
    }
    using namespace std::string_literals;

    struct Row
    {
        const char* Name;
        std::string Bytes;
        int Exit;
        const char* FirstError; // nullptr: none expected
        int FirstLine;
    };
    const Row Rows[] = {
        {"binary", Binary, 1, nullptr, 0},
        {"noise-one-line", Noise, 1, "expected record A or I", 1},
        {"long-name", "A;1;;1;0;0;0;" + std::string(50 << 20, 'x'), 1,
         "name is longer than 80 characters", 1},
        {"long-ingredient", "A;1;;1;0;0;0;Milk\nI;1;" + std::string(8 << 20, '\xE0'), 0, nullptr,
         0},
        {"nul-bytes", "\0\0\0\nA;1;;1;0;0;0;Mi\0lk\n\0A;2\0;;1;0;0;0;X\nA;\0003;;1;0;0;0;Y"s, 0,
         nullptr, 0},
        {"only-nuls", std::string(4096, '\0'), 1, "no PLU records", 0},
        {"empty", "", 1, "no PLU records", 0},
        {"only-line-feeds", std::string(100000, '\n'), 1, "no PLU records", 0},
        {"semicolons", std::string(1 << 20, ';'), 1, "expected record A or I", 1},
        {"many-ingredient-fields", "I;5" + std::string(1 << 20, ';') + "x\nA;5;;1;0;0;0;Y\n", 0,
         nullptr, 0},
    };
    for (const Row& Case : Rows) {
        const auto File = Dir.WriteFile(std::string(Case.Name) + ".csv", Case.Bytes);
        for (const bool Json : {false, true}) {
            std::vector<std::string> Args = {"check", File.string()};
            if (Json)
                Args.push_back("--json");
            const auto R = RunTool(Args, 30000);
            ASSERT_FALSE(R.TimedOut) << Case.Name;
            ASSERT_EQ(R.Signal, 0) << Case.Name << " " << Describe(R);
            EXPECT_EQ(R.ExitCode, Case.Exit) << Case.Name << " " << Describe(R);
            EXPECT_EQ(R.Err, "") << Case.Name;
            if (!Json) {
                const std::string Summary = Case.Exit == 0 ? "accepted: " : "rejected: ";
                EXPECT_NE(R.Out.find(Summary), std::string::npos) << Case.Name;
                if (Case.FirstError) {
                    EXPECT_EQ(R.Out.substr(0, R.Out.find('\n')),
                              "line " + std::to_string(Case.FirstLine) + ": " + Case.FirstError)
                        << Case.Name;
                }
                continue;
            }
            TJsonValue Doc;
            ASSERT_NO_THROW(Doc = ParseJson(R.Out)) << Case.Name;
            if (Case.FirstError) {
                ASSERT_FALSE(Doc["errors"].Array.empty()) << Case.Name;
                EXPECT_EQ(Doc["errors"].Array[0]["text"].String, Case.FirstError) << Case.Name;
                EXPECT_EQ(Doc["errors"].Array[0]["line"].Int(), Case.FirstLine) << Case.Name;
            }
        }
    }
}

TEST_F(CheckCommand, NulBytesSurviveIntoTheJsonText)
{
    using namespace std::string_literals;
    TTempDir Dir;
    const auto File = Dir.WriteFile("nul.csv", "A;1;;1;0;0;0;Mi\0lk\nI;1;a\0b\n"s);
    const auto R = RunTool({"check", File.string(), "--json"});
    ASSERT_EQ(R.ExitCode, 0) << Describe(R);
    EXPECT_NE(R.Out.find(R"("Mi\u0000lk")"), std::string::npos) << R.Out;
    const auto Doc = ParseJson(R.Out);
    EXPECT_EQ(Doc["items"].Array.at(0)["name"].String, "Mi\0lk"s);
    EXPECT_EQ(Doc["items"].Array.at(0)["ingredients"].String, "a\0b"s);
}

} // namespace
} // namespace Plumeria
