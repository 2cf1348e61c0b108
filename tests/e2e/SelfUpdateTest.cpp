// End to end: a built stand-in of the program, copied into a temporary folder under the
// executable's real name, updates itself from a loopback HTTPS server; the new build starts on
// its own, outlives the old process and removes the backup at its start. Also the single-
// instance lock between real processes.

#include "core/Journal/Journal.h"
#include "core/Update/Update.h"
#include "platform/SingleInstance.h"
#include "support/HttpsTestServer.h"
#include "support/RunProcess.h"
#include "support/ScaleNet.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace Plumeria {
namespace {

namespace fs = std::filesystem;
namespace Support = Plumeria::Test;

/// Each test gets its own runtime folder, so its lock meets no other test's or a real instance.
class SelfUpdateTest : public ::testing::Test
{
protected:
    Support::TTempDataFolder Data;
    Support::TTempDir Runtime;
    Support::TScopedEnv RuntimeDir{"XDG_RUNTIME_DIR", Runtime.Path().string()};
};

TEST_F(SelfUpdateTest, ProgramUpdatesItselfAndTheNextStartRemovesTheBackup)
{
    Support::THttpsTestServer Server;
    Support::TTempDir Install;
    const fs::path Exe = Install.Path() / UpdateExeName();
    fs::copy_file(PLUMERIA_STANDIN_PATH, Exe);
    fs::permissions(Exe, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    const std::string Current = Support::ReadFileBytes(Exe);
    const std::string Next = Support::ReadFileBytes(PLUMERIA_STANDIN_NEXT_PATH);
    ASSERT_FALSE(Next.empty());
    ASSERT_NE(Current, Next);

    const std::string VersionPath = "/download/plumeriabridge/ver.txt";
    const std::string ArchivePath = "/download/plumeriabridge/PlumeriaBridge.zip";
    Server.Serve(VersionPath, "1.0.4\r\n");
    Server.Serve(ArchivePath, Support::BuildZip({{"readme.txt", "PlumeriaBridge 1.0.4", true},
                                                 {UpdateExeName(), Next, true}}));

    const auto Old = Support::RunProcess(
        Exe, {"update", Server.BaseUrl() + "/", Server.CaFile().string()}, 60000);
    ASSERT_EQ(Old.ExitCode, 0) << ::testing::PrintToString(Support::JournalLines());

    // The new build was started by the old one, which has ended by now.
    ASSERT_TRUE(Support::WaitForFile(Install.Path() / "next-ran.txt", 20000))
        << ::testing::PrintToString(Support::JournalLines());
    EXPECT_EQ(Support::ReadFileBytes(Exe), Next);
    TUpdateOptions Installed;
    Installed.ExePath = Exe;
    EXPECT_FALSE(fs::exists(BackupPath(Installed)));
    EXPECT_EQ(Server.Requests(), (std::vector<std::string>{VersionPath, ArchivePath}));
    EXPECT_EQ(Support::JournalLines(),
              (std::vector<std::string>{
                  "INFO | started 1.0.3",
                  "INFO | update check: " + Server.BaseUrl() + VersionPath,
                  "INFO | update: local=1.0.3 remote=1.0.4",
                  "INFO | update: exe replaced (" + std::to_string(Next.size()) + " bytes)",
                  "INFO | update: launching new process",
                  "INFO | removed previous exe backup",
                  "INFO | started next",
              }));
}

TEST_F(SelfUpdateTest, SecondStartGivesUpWhileTheFirstHoldsTheLock)
{
    ASSERT_TRUE(AcquireSingleInstance());
    const auto Start = std::chrono::steady_clock::now();
    const auto Second = Support::RunProcess(PLUMERIA_STANDIN_PATH, {"try-lock"}, 60000);
    const auto Waited = std::chrono::steady_clock::now() - Start;
    ReleaseSingleInstance();
    EXPECT_EQ(Second.ExitCode, 1);
    // It waited for the holder the whole five seconds before giving up.
    EXPECT_GE(Waited, std::chrono::milliseconds(SingleInstanceWaitMs));
}

TEST_F(SelfUpdateTest, SecondStartTakesOverWhenTheFirstLetsGoInTime)
{
    ASSERT_TRUE(AcquireSingleInstance());
    Support::TProcessResult Second;
    std::thread Starter(
        [&] { Second = Support::RunProcess(PLUMERIA_STANDIN_PATH, {"try-lock"}, 60000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ReleaseSingleInstance();
    Starter.join();
    EXPECT_EQ(Second.ExitCode, 0);
}

TEST_F(SelfUpdateTest, LockIsHeldOnceAndReleasedOnce)
{
    // Releasing what is not held does nothing; taking it twice keeps one hold.
    ReleaseSingleInstance();
    ASSERT_TRUE(AcquireSingleInstance());
    ASSERT_TRUE(AcquireSingleInstance());
    ReleaseSingleInstance();
    ReleaseSingleInstance();
    EXPECT_EQ(Support::RunProcess(PLUMERIA_STANDIN_PATH, {"try-lock"}, 60000).ExitCode, 0);
}

} // namespace
} // namespace Plumeria
