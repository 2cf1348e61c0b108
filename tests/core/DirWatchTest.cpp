#include "platform/DirWatch.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <system_error>

namespace Plumeria {
namespace {

namespace fs = std::filesystem;
using Test::TTempDir;

// Long enough for any event of the act to have arrived; a change arrives well within it.
constexpr std::uint32_t SettleMs = 300;

/// Opens a watch on `Folder` and swallows whatever the set-up itself caused.
void OpenQuiet(TDirWatch& Watch, const fs::path& Folder)
{
    ASSERT_TRUE(Watch.Open(Folder));
    ASSERT_TRUE(Watch.Request());
    while (Watch.Wait(SettleMs) == TDirWait::dwChange) {
    }
}

struct TAct
{
    const char* Name;
    std::function<void(const fs::path&)> Do;
    TDirWait Expected;
};

// Looking at the folder and its files changes nothing a listing could find, so it must not wake
// the watch: the watch lists the folder when woken, and a listing that wakes it again spins a core
// for as long as the program runs.
TEST(DirWatch, WakesForChangesButNotForLooking)
{
    const TAct Acts[] = {
        {"listing the folder",
         [](const fs::path& Folder) {
             for (const auto& Entry : fs::directory_iterator(Folder))
                 (void)Entry;
         },
         TDirWait::dwTimeout},
        {"reading a file",
         [](const fs::path& Folder) {
             std::ifstream In(Folder / "old.csv", std::ios::binary);
             std::string Text;
             std::getline(In, Text);
         },
         TDirWait::dwTimeout},
        {"listing a subfolder",
         [](const fs::path& Folder) {
             for (const auto& Entry : fs::directory_iterator(Folder / "processed"))
                 (void)Entry;
         },
         TDirWait::dwTimeout},
        {"a new file", [](const fs::path& Folder) { std::ofstream(Folder / "new.csv") << "1;x\n"; },
         TDirWait::dwChange},
        {"a file grows",
         [](const fs::path& Folder) {
             std::ofstream(Folder / "old.csv", std::ios::app) << "2;y\n";
         },
         TDirWait::dwChange},
        {"a file renamed",
         [](const fs::path& Folder) { fs::rename(Folder / "old.csv", Folder / "older.csv"); },
         TDirWait::dwChange},
        {"a file deleted", [](const fs::path& Folder) { fs::remove(Folder / "old.csv"); },
         TDirWait::dwChange},
    };
    for (const TAct& Act : Acts) {
        SCOPED_TRACE(Act.Name);
        TTempDir Dir;
        Dir.WriteFile("old.csv", "1;x\n");
        fs::create_directory(Dir.Path() / "processed");
        Dir.WriteFile("processed/kept.csv", "1;x\n");
        TDirWatch Watch;
        OpenQuiet(Watch, Dir.Path());
        Act.Do(Dir.Path());
        EXPECT_EQ(Watch.Wait(SettleMs), Act.Expected);
    }
}

} // namespace
} // namespace Plumeria
