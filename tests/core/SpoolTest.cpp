#include "core/Delivery/Spool.h"

#include "platform/Environment.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace Plumeria {
namespace {

namespace fs = std::filesystem;
namespace Support = Plumeria::Test;
using Support::ReadFileBytes;

// "цены.csv" and "Весы" as UTF-8 bytes.
const std::string Prices = "\xD1\x86\xD0\xB5\xD0\xBD\xD1\x8B.csv";
const std::string Vesy = "\xD0\x92\xD0\xB5\xD1\x81\xD1\x8B";

std::int64_t NowSeconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::vector<std::string> NamesOf(const std::vector<TSpoolEntry>& Entries)
{
    std::vector<std::string> Names;
    for (const TSpoolEntry& Entry : Entries)
        Names.push_back(Entry.FileName);
    return Names;
}

/// Makes the copy look as if it had been made `Seconds` ago.
void AgeBy(const TSpoolEntry& Entry, std::int64_t Seconds)
{
    fs::last_write_time(Entry.Path,
                        fs::last_write_time(Entry.Path) - std::chrono::seconds(Seconds));
}

class SpoolTest : public ::testing::Test
{
protected:
    fs::path Folder() const { return Dir.Path() / "spool"; }

    void Add(TSpool& Spool, const std::string& Host, int Port, const std::string& Name,
             const std::string& Bytes)
    {
        std::string Error;
        ASSERT_TRUE(Spool.Add(Host, Port, Name, Bytes, Error)) << Error;
    }

    /// Every file below the spool, as "folder/name".
    std::vector<std::string> AllFiles() const
    {
        std::vector<std::string> Names;
        for (const std::string& Scale : Support::ListFolder(Folder()))
            for (const std::string& Name : Support::ListFolder(Folder() / Scale))
                Names.push_back(Scale + "/" + Name);
        return Names;
    }

    Support::TTempDir Dir;
};

TEST_F(SpoolTest, NothingIsCreatedBeforeTheFirstCopy)
{
    TSpool Spool(Folder());
    EXPECT_TRUE(Spool.Entries("10.0.0.1", 2001).empty());
    EXPECT_EQ(Spool.Count("10.0.0.1", 2001), 0u);
    EXPECT_TRUE(Spool.Scales().empty());
    EXPECT_TRUE(Spool.Trim(NowSeconds()).empty());
    EXPECT_TRUE(Spool.DropScale("10.0.0.1", 2001).empty());
    EXPECT_FALSE(fs::exists(Folder()));
}

// Arrival order, not name order: "b" came first and is re-sent first; twelve copies also show
// that the order does not come from comparing names as text.
TEST_F(SpoolTest, EntriesComeBackInArrivalOrderWithTheirBytes)
{
    TSpool Spool(Folder());
    std::vector<std::pair<std::string, std::string>> Added = {
        {"b.csv", std::string("A;1;;1;0;0;0;x\r\n\0\xFF", 18)},
        {"a.csv", ""},
        {Prices, "A;2;;3;0;0;0;" + Vesy + "\r\n"},
        {"b.csv", "second copy of b"},
    };
    for (int I = 0; I < 8; ++I)
        Added.emplace_back("z" + std::to_string(I) + ".txt", std::string(1000 + I, 'x'));
    for (const auto& [Name, Bytes] : Added)
        Add(Spool, "10.0.0.1", 2001, Name, Bytes);

    const std::vector<TSpoolEntry> Entries = Spool.Entries("10.0.0.1", 2001);
    ASSERT_EQ(Entries.size(), Added.size());
    EXPECT_EQ(Spool.Count("10.0.0.1", 2001), Added.size());
    const std::int64_t Now = NowSeconds();
    for (std::size_t I = 0; I < Entries.size(); ++I) {
        SCOPED_TRACE(I);
        EXPECT_EQ(Entries[I].FileName, Added[I].first);
        EXPECT_EQ(Entries[I].Bytes, static_cast<std::int64_t>(Added[I].second.size()));
        EXPECT_NEAR(static_cast<double>(Entries[I].AddedUnixSeconds), static_cast<double>(Now),
                    60.0);
        if (I > 0) {
            EXPECT_GT(Entries[I].Seq, Entries[I - 1].Seq);
        }
        std::string Bytes;
        std::string Error;
        ASSERT_TRUE(Spool.Read(Entries[I], Bytes, Error)) << Error;
        EXPECT_EQ(Bytes, Added[I].second);
    }
    // The copy carries its arrival number and its own name.
    EXPECT_EQ(PathToUtf8(Entries[2].Path.filename()), "0000000003-" + Prices);
    // Other scales see none of it.
    EXPECT_TRUE(Spool.Entries("10.0.0.1", 2002).empty());
    EXPECT_TRUE(Spool.Entries("10.0.0.2", 2001).empty());
}

TEST_F(SpoolTest, RemovedEntryIsGoneAndNewCopiesStillGoLast)
{
    TSpool Spool(Folder());
    for (const char* Name : {"1.csv", "2.csv", "3.csv"})
        Add(Spool, "10.0.0.1", 2001, Name, Name);
    std::vector<TSpoolEntry> Entries = Spool.Entries("10.0.0.1", 2001);
    ASSERT_EQ(Entries.size(), 3u);
    EXPECT_TRUE(Spool.Remove(Entries[0]));
    EXPECT_TRUE(Spool.Remove(Entries[2]));
    Add(Spool, "10.0.0.1", 2001, "0.csv", "0");
    EXPECT_EQ(NamesOf(Spool.Entries("10.0.0.1", 2001)),
              (std::vector<std::string>{"2.csv", "0.csv"}));

    std::string Bytes;
    std::string Error;
    EXPECT_FALSE(Spool.Read(Entries[0], Bytes, Error));
    EXPECT_NE(Error.find("1.csv"), std::string::npos) << Error;
}

TEST_F(SpoolTest, DropScaleTakesEveryEntryOfThatScaleOnly)
{
    TSpool Spool(Folder());
    Add(Spool, "10.0.0.1", 2001, "a.csv", "a");
    Add(Spool, "10.0.0.1", 2001, "b.csv", "b");
    Add(Spool, "10.0.0.2", 2002, "c.csv", "c");
    const std::vector<TSpoolEntry> Dropped = Spool.DropScale("10.0.0.1", 2001);
    EXPECT_EQ(NamesOf(Dropped), (std::vector<std::string>{"a.csv", "b.csv"}));
    EXPECT_TRUE(Spool.Entries("10.0.0.1", 2001).empty());
    EXPECT_EQ(NamesOf(Spool.Entries("10.0.0.2", 2002)), std::vector<std::string>{"c.csv"});
    EXPECT_EQ(Spool.Scales(), (std::vector<std::pair<std::string, int>>{{"10.0.0.2", 2002}}));
    EXPECT_EQ(Support::ListFolder(Folder()), std::vector<std::string>{"10.0.0.2_2002"});
}

struct TTrimCase
{
    const char* Title;
    TSpoolLimits Limits;
    std::vector<std::int64_t> AgesSeconds; ///< per copy, oldest arrival first; 10 bytes each
    std::vector<std::string> Dropped;      ///< names, in the order handed back
};

TEST_F(SpoolTest, TrimDropsByAgeAndBySizeOldestFirst)
{
    constexpr std::int64_t Day = 24 * 3600;
    const std::vector<TTrimCase> Cases = {
        {"all fit", {7 * Day, 100}, {0, 0, 0, 0}, {}},
        {"too old", {7 * Day, 100}, {8 * Day, 0, 8 * Day, 0}, {"f0", "f2"}},
        {"just inside the age", {7 * Day, 100}, {7 * Day - 60, 0, 0, 0}, {}},
        {"too big: oldest go until the rest fits", {7 * Day, 25}, {0, 0, 0, 0}, {"f0", "f1"}},
        {"exactly the size bound", {7 * Day, 40}, {0, 0, 0, 0}, {}},
        {"age and size together", {7 * Day, 15}, {0, 8 * Day, 0, 0}, {"f0", "f1", "f2"}},
    };
    for (const TTrimCase& Case : Cases) {
        SCOPED_TRACE(Case.Title);
        std::error_code Ignored;
        fs::remove_all(Folder(), Ignored);
        TSpool Spool(Folder(), Case.Limits);
        for (std::size_t I = 0; I < Case.AgesSeconds.size(); ++I)
            Add(Spool, "10.0.0.1", 2001, "f" + std::to_string(I), "0123456789");
        // Another scale under the same bounds: its copies are counted on their own.
        Add(Spool, "10.0.0.2", 2002, "other", "0123456789");
        const std::vector<TSpoolEntry> Entries = Spool.Entries("10.0.0.1", 2001);
        ASSERT_EQ(Entries.size(), Case.AgesSeconds.size());
        for (std::size_t I = 0; I < Entries.size(); ++I)
            AgeBy(Entries[I], Case.AgesSeconds[I]);

        const std::vector<TSpoolEntry> Dropped = Spool.Trim(NowSeconds());
        EXPECT_EQ(NamesOf(Dropped), Case.Dropped);
        std::vector<std::string> Kept;
        for (std::size_t I = 0; I < Entries.size(); ++I) {
            const std::string Name = "f" + std::to_string(I);
            if (std::find(Case.Dropped.begin(), Case.Dropped.end(), Name) == Case.Dropped.end())
                Kept.push_back(Name);
        }
        EXPECT_EQ(NamesOf(Spool.Entries("10.0.0.1", 2001)), Kept);
        EXPECT_EQ(Spool.Count("10.0.0.2", 2002), 1u);
        for (const TSpoolEntry& Entry : Dropped) {
            EXPECT_EQ(Entry.Bytes, 10);
            EXPECT_FALSE(fs::exists(Entry.Path));
        }
    }
}

TEST_F(SpoolTest, TrimTakesTheAgeFromTheCopysModificationTime)
{
    TSpool Spool(Folder(), {3600, 1000});
    Add(Spool, "10.0.0.1", 2001, "a.csv", "a");
    const TSpoolEntry Entry = Spool.Entries("10.0.0.1", 2001).at(0);
    AgeBy(Entry, 7200);
    EXPECT_NEAR(static_cast<double>(Spool.Entries("10.0.0.1", 2001).at(0).AddedUnixSeconds),
                static_cast<double>(NowSeconds() - 7200), 60.0);
    // Seen from a clock two hours back, it is new.
    EXPECT_TRUE(Spool.Trim(NowSeconds() - 7200).empty());
    EXPECT_EQ(NamesOf(Spool.Trim(NowSeconds())), std::vector<std::string>{"a.csv"});
}

TEST_F(SpoolTest, ScalesReportsHostsWhateverCharactersTheyHave)
{
    TSpool Spool(Folder());
    const std::vector<std::pair<std::string, int>> Scales = {
        {"10.0.0.1", 2001},
        {"scale " + Vesy + "/1:\\*?", 2002},
        // Sanitizes to the same folder name as the host before it, with another owner.
        {"scale " + Vesy + "?1_\\*?", 2002},
        {"10.0.0.1", 2002},
        {"weigh-1.shop.local", 0},
        // Where file names ignore case these two would share a folder named after the host.
        {"Scale7", 2007},
        {"scale7", 2007},
    };
    for (const auto& [Host, Port] : Scales)
        Add(Spool, Host, Port, Prices, Host);
    std::vector<std::pair<std::string, int>> Expected = Scales;
    std::sort(Expected.begin(), Expected.end());
    EXPECT_EQ(Spool.Scales(), Expected);
    for (const auto& [Host, Port] : Scales) {
        SCOPED_TRACE(Host);
        const std::vector<TSpoolEntry> Entries = Spool.Entries(Host, Port);
        ASSERT_EQ(Entries.size(), 1u);
        std::string Bytes;
        std::string Error;
        ASSERT_TRUE(Spool.Read(Entries[0], Bytes, Error)) << Error;
        EXPECT_EQ(Bytes, Host);
        // One folder per scale, right under the spool, named from the host's safe characters.
        EXPECT_EQ(Entries[0].Path.parent_path().parent_path(), Folder());
    }
    EXPECT_EQ(Support::ListFolder(Folder()),
              (std::vector<std::string>{"10.0.0.1_2001", "10.0.0.1_2002", "scale7_2007",
                                        "scale7_2007+2", "scale__________1_____2002",
                                        "scale__________1_____2002+2", "weigh-1.shop.local_0"}));

    // A scale whose copies have all been taken is no longer reported.
    for (const TSpoolEntry& Entry : Spool.Entries("10.0.0.1", 2002))
        EXPECT_TRUE(Spool.Remove(Entry));
    Expected.erase(
        std::find(Expected.begin(), Expected.end(), std::pair<std::string, int>("10.0.0.1", 2002)));
    EXPECT_EQ(Spool.Scales(), Expected);

    // Dropping the first of two look-alike hosts leaves the other one findable.
    Spool.DropScale(Scales[1].first, Scales[1].second);
    EXPECT_EQ(Spool.Count(Scales[2].first, Scales[2].second), 1u);
    Add(Spool, Scales[1].first, Scales[1].second, "again.csv", "x");
    EXPECT_EQ(NamesOf(Spool.Entries(Scales[1].first, Scales[1].second)),
              std::vector<std::string>{"again.csv"});
    EXPECT_EQ(Spool.Count(Scales[2].first, Scales[2].second), 1u);
}

// A crash part way through a copy leaves "~<seq>-<name>.part": never an entry, and the next
// copy or trim clears it away.
TEST_F(SpoolTest, LeftoverPartIsNeverAnEntryAndIsCleared)
{
    TSpool Spool(Folder());
    Add(Spool, "10.0.0.1", 2001, "a.csv", "a");
    const fs::path ScaleDir = Spool.Entries("10.0.0.1", 2001).at(0).Path.parent_path();
    const auto Leave = [&] {
        std::ofstream(ScaleDir / PathFromUtf8("~0000000002-" + Prices + ".part")) << "half";
    };
    Leave();
    EXPECT_EQ(NamesOf(Spool.Entries("10.0.0.1", 2001)), std::vector<std::string>{"a.csv"});
    Add(Spool, "10.0.0.1", 2001, "b.csv", "b");
    EXPECT_EQ(NamesOf(Spool.Entries("10.0.0.1", 2001)),
              (std::vector<std::string>{"a.csv", "b.csv"}));
    EXPECT_EQ(Support::ListFolder(ScaleDir),
              (std::vector<std::string>{"0000000001-a.csv", "0000000002-b.csv", "scale.txt"}));

    Leave();
    EXPECT_TRUE(Spool.Trim(NowSeconds()).empty());
    EXPECT_EQ(Support::ListFolder(ScaleDir),
              (std::vector<std::string>{"0000000001-a.csv", "0000000002-b.csv", "scale.txt"}));
}

TEST_F(SpoolTest, CopyThatCannotBeMadeLeavesNothingBehind)
{
    // The spool's place is taken by a file: no folder can be made there.
    Support::TTempDir Other;
    const fs::path Blocked = Other.WriteFile("spool", "not a folder");
    TSpool Spool(Blocked);
    std::string Error;
    EXPECT_FALSE(Spool.Add("10.0.0.1", 2001, "a.csv", "a", Error));
    EXPECT_FALSE(Error.empty());
    EXPECT_EQ(ReadFileBytes(Blocked), "not a folder");

    // A name that is not a plain file name never reaches the disk.
    TSpool Good(Folder());
    for (const std::string Name : {"", ".", "..", "../x.csv", "sub/x.csv"}) {
        SCOPED_TRACE(Name);
        EXPECT_FALSE(Good.Add("10.0.0.1", 2001, Name, "a", Error));
    }
    EXPECT_FALSE(fs::exists(Folder()));
}

#ifdef __linux__
// The disk fills up half way through a copy: no half copy and no temporary file stay behind.
TEST_F(SpoolTest, CopyThatFailsMidwayLeavesNoPart)
{
    TSpool Spool(Folder());
    Add(Spool, "10.0.0.1", 2001, "a.csv", "a");
    const std::vector<std::string> Before = AllFiles();
    std::string Error;
    bool Added = true;
    ASSERT_TRUE(Support::WithFileSizeLimit(4096, [&] {
        Added = Spool.Add("10.0.0.1", 2001, "b.csv", std::string(100000, 'b'), Error);
    }));
    EXPECT_FALSE(Added);
    EXPECT_NE(Error.find("b.csv"), std::string::npos) << Error;
    EXPECT_EQ(AllFiles(), Before);
    EXPECT_EQ(NamesOf(Spool.Entries("10.0.0.1", 2001)), std::vector<std::string>{"a.csv"});

    // A first copy for a new scale that fails takes its new folder with it.
    ASSERT_TRUE(Support::WithFileSizeLimit(4096, [&] {
        Added = Spool.Add("10.0.0.2", 2002, "c.csv", std::string(100000, 'c'), Error);
    }));
    EXPECT_FALSE(Added);
    EXPECT_EQ(AllFiles(), Before);
}
#endif

// Any name a watched folder can hold is kept, listed under its own name, read back whole and
// removed without a trace: names longer than an entry's name can carry, a backslash (a separator
// on Windows, an ordinary byte here), a "%", bytes in code page 1251.
TEST_F(SpoolTest, AnyFileNameIsKeptListedAndRemovedWhole)
{
    std::string Cyrillic;
    for (int I = 0; I < 130; ++I)
        Cyrillic += "\xD0\xB6"; // 260 bytes
    const std::vector<std::string> Names = {
        Cyrillic + ".csv",
        std::string(239, 'a') + ".csv",
        "a\\b.csv",
        "50%25 off %.csv",
        "\xd6\xe5\xed\xfb.csv",
        std::string(100, 'x') + "\xd6" + std::string(150, 'y'),
    };
    TSpool Spool(Folder());
    for (std::size_t I = 0; I < Names.size(); ++I)
        Add(Spool, "10.0.0.1", 2001, Names[I], "copy " + std::to_string(I));
    const std::vector<TSpoolEntry> Entries = Spool.Entries("10.0.0.1", 2001);
    EXPECT_EQ(NamesOf(Entries), Names);
    for (std::size_t I = 0; I < Entries.size() && I < Names.size(); ++I) {
        std::string Bytes;
        std::string Error;
        ASSERT_TRUE(Spool.Read(Entries[I], Bytes, Error)) << Error;
        EXPECT_EQ(Bytes, "copy " + std::to_string(I));
        EXPECT_LE(Entries[I].Path.filename().string().size(), 220u);
    }
    for (const TSpoolEntry& Entry : Entries)
        EXPECT_TRUE(Spool.Remove(Entry));
    EXPECT_EQ(AllFiles(), std::vector<std::string>{"10.0.0.1_2001/scale.txt"});
}

} // namespace
} // namespace Plumeria
