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

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>

namespace Plumeria {
namespace {

namespace fs = std::filesystem;
namespace Support = Plumeria::Test;

const std::string VersionPath = "/download/plumeriabridge/ver.txt";
const std::string ArchivePath = "/download/plumeriabridge/PlumeriaBridge.zip";

/// Each test gets its own runtime folder, so its lock meets no other test's or a real instance.
class SelfUpdateTest : public ::testing::Test
{
protected:
    /// The current build installed under the executable's real name in a folder of its own.
    void Install()
    {
        fs::copy_file(PLUMERIA_STANDIN_PATH, Exe);
        fs::permissions(Exe, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
        Current = Support::ReadFileBytes(Exe);
        Installed.ExePath = Exe;
    }

    /// The site publishes 1.0.4 with `Program` as its executable.
    void Publish(const std::string& Program)
    {
        Server.Serve(VersionPath, "1.0.4\r\n");
        Server.Serve(ArchivePath, Support::BuildZip({{"readme.txt", "PlumeriaBridge 1.0.4", true},
                                                     {UpdateExeName(), Program, true}}));
    }

    Support::TProcessResult RunInstalled(const std::string& Mode)
    {
        return Support::RunProcess(Exe, {Mode, Server.BaseUrl() + "/", Server.CaFile().string()},
                                   60000);
    }

    /// The old program is in place as it was, runnable, and nothing else is beside it.
    void ExpectOldProgramOnly()
    {
        EXPECT_EQ(Support::ReadFileBytes(Exe), Current);
        EXPECT_EQ(Support::ListFolder(InstallDir.Path()),
                  std::vector<std::string>{UpdateExeName()});
        EXPECT_EQ(Support::RunProcess(Exe, {"try-lock"}, 60000).ExitCode, 0);
        EXPECT_FALSE(fs::exists(Data.DataDir() / "update-installed.txt"))
            << "a version that never ran was recorded";
    }

    Support::TTempDataFolder Data;
    Support::TTempDir Runtime;
    Support::TScopedEnv RuntimeDir{"XDG_RUNTIME_DIR", Runtime.Path().string()};
    Support::THttpsTestServer Server;
    Support::TTempDir InstallDir;
    fs::path Exe = InstallDir.Path() / UpdateExeName();
    std::string Current;
    TUpdateOptions Installed;
};

TEST_F(SelfUpdateTest, ProgramUpdatesItselfAndTheBackupGoesAfterTheNewOnesNextStart)
{
    Install();
    const std::string Next = Support::ReadFileBytes(PLUMERIA_STANDIN_NEXT_PATH);
    ASSERT_FALSE(Next.empty());
    ASSERT_NE(Current, Next);
    Publish(Next);

    const auto Old = RunInstalled("update");
    ASSERT_EQ(Old.ExitCode, 0) << ::testing::PrintToString(Support::JournalLines());

    // The new build was started by the old one, which waited for its report and has ended.
    ASSERT_TRUE(Support::WaitForFile(InstallDir.Path() / "next-ran.txt", 20000))
        << ::testing::PrintToString(Support::JournalLines());
    EXPECT_EQ(Support::ReadFileBytes(Exe), Next);
    EXPECT_EQ(Server.Requests(), (std::vector<std::string>{VersionPath, ArchivePath}));
    EXPECT_EQ(Support::ReadFileBytes(Data.DataDir() / "update-installed.txt"), "1.0.4\r\n");
    // Kept until the new program has run well.
    EXPECT_EQ(Support::ReadFileBytes(BackupPath(Installed)), Current);
    auto Lines = Support::JournalLines();
    ASSERT_EQ(Lines.size(), 8u) << ::testing::PrintToString(Lines);
    EXPECT_EQ(std::vector<std::string>(Lines.begin(), Lines.begin() + 6),
              (std::vector<std::string>{
                  "INFO | started 1.0.3",
                  "INFO | update check: " + Server.BaseUrl() + VersionPath,
                  "INFO | update: local=1.0.3 remote=1.0.4",
                  "INFO | update: exe replaced (" + std::to_string(Next.size()) + " bytes)",
                  "INFO | update: launching new process",
                  "INFO | update: started well; installed version 1.0.4",
              }));
    // The two processes write these at the same moment, in either order.
    std::sort(Lines.begin() + 6, Lines.end());
    EXPECT_EQ(std::vector<std::string>(Lines.begin() + 6, Lines.end()),
              (std::vector<std::string>{"INFO | started next",
                                        "INFO | update: the new exe reported a good start"}));

    // The next start of the new program: it ran well, the backup goes.
    fs::remove(LogFilePath());
    EXPECT_EQ(Support::RunProcess(Exe, {}, 60000).ExitCode, 0);
    EXPECT_FALSE(fs::exists(BackupPath(Installed)));
    EXPECT_EQ(Support::JournalLines(), (std::vector<std::string>{
                                           "INFO | removed previous exe backup",
                                           "INFO | started next",
                                       }));
}

TEST_F(SelfUpdateTest, KilledWhileWritingTheNewProgramLeavesTheOldOneRunnable)
{
    Install();
    Publish(Support::ReadFileBytes(PLUMERIA_STANDIN_NEXT_PATH));
    const auto Old = RunInstalled("update-killed");
    ASSERT_EQ(Old.Signal, SIGKILL) << ::testing::PrintToString(Support::JournalLines());
    EXPECT_EQ(Support::ReadFileBytes(Exe), Current);
    EXPECT_FALSE(fs::exists(BackupPath(Installed)));
    ASSERT_TRUE(fs::exists(NewExePath(Installed))) << "the half-written file was not left";

    // The next start clears what the killed one left.
    EXPECT_EQ(Support::RunProcess(Exe, {"start"}, 60000).ExitCode, 0);
    ExpectOldProgramOnly();
    const auto Lines = Support::JournalLines();
    ASSERT_GE(Lines.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(Lines.end() - 2, Lines.end()),
              (std::vector<std::string>{
                  "INFO | removed an unfinished new exe: " + NewExePath(Installed).string(),
                  "INFO | started 1.0.3",
              }));
}

TEST_F(SelfUpdateTest, NewProgramThatEndsAtOnceIsUndoneAndTheOldOneRunsOn)
{
    // Starts and dies before it could report, as one that misses a library does.
    Install();
    Publish("#!/bin/sh\nexit 1\n");
    const auto Old = RunInstalled("update");
    // 3: it ran on, holding both of its locks again.
    EXPECT_EQ(Old.ExitCode, 3) << ::testing::PrintToString(Support::JournalLines());
    ExpectOldProgramOnly();
    const auto Lines = Support::JournalLines();
    ASSERT_GE(Lines.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(Lines.end() - 3, Lines.end()),
              (std::vector<std::string>{
                  "INFO | update: launching new process",
                  "ERROR | update: the new exe ended before it reported a good start",
                  "ERROR | update: previous exe restored; running on",
              }));
    EXPECT_EQ(Support::ListFolder(Data.DataDir()),
              (std::vector<std::string>{"logs", "watch.lock"}));
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
