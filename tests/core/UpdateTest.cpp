// The self-update against a real HTTPS server on loopback (its own CA, trusted through the
// test-only CA setting), with the executable swapped in a temporary folder. Every journal entry
// and its level are checked, and the server's request log shows what was fetched.

#include "core/Update/Update.h"

#include "core/Journal/Journal.h"
#include "core/Text/Text.h"
#include "platform/Environment.h"
#include "platform/Process.h"
#include "platform/SingleInstance.h"
#include "support/HttpsTestServer.h"
#include "support/RunProcess.h"
#include "support/ScaleNet.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cctype>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

namespace Plumeria {
namespace {

namespace Support = Plumeria::Test;

namespace fs = std::filesystem;
using Support::BuildZip;
using Support::Bytes;
using Support::JournalLines;
using Support::ReadFileBytes;
using Support::WaitForFile;

const std::string VersionPath = "/download/plumeriabridge/ver.txt";
const std::string ArchivePath = "/download/plumeriabridge/PlumeriaBridge.zip";

bool HasRunBits(const fs::path& Path)
{
    const auto Perms = fs::status(Path).permissions();
    if (ExecutableSuffix() == ".exe")
        return true;
    return (Perms & fs::perms::owner_exec) != fs::perms::none &&
           (Perms & fs::perms::group_exec) != fs::perms::none &&
           (Perms & fs::perms::others_exec) != fs::perms::none;
}

/// A program in the form the platform runs it: here a shell script that leaves a marker and
/// lives on a little, as a program that started well does.
std::string MarkerProgram(const fs::path& Marker)
{
    return "#!/bin/sh\necho started > '" + Marker.string() + "'\nsleep 2\n";
}

/// The part of a new program that a shell script cannot play: once the script has shown that
/// it runs, its good start is reported from here, through the program's own code.
class TReportWhenStarted
{
public:
    explicit TReportWhenStarted(fs::path Marker)
        : FThread([Marker = std::move(Marker)](std::stop_token Stop) {
              while (!Stop.stop_requested()) {
                  if (fs::exists(Marker)) {
                      ReportStartedWell();
                      return;
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
              }
          })
    {
    }

private:
    std::jthread FThread;
};

std::string InstalledVersion()
{
    return ReadFileBytes(DataFolder() / "update-installed.txt");
}

/// The executable in a temporary folder, with its own data folder.
class UpdateTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Exe = ExeDir.Path() / UpdateExeName();
        ExeDir.WriteFile(UpdateExeName(), "old program");
        Options.ExePath = Exe;
    }

    /// The update leaves the old executable as it was and no backup.
    void ExpectUntouched() const
    {
        EXPECT_EQ(ReadFileBytes(Exe), "old program");
        EXPECT_FALSE(fs::exists(BackupPath(Options)));
    }

    Support::TTempDataFolder Data;
    Support::TTempDir ExeDir;
    fs::path Exe;
    TUpdateOptions Options;
};

/// The same, with the site served by the HTTPS server on loopback and its CA trusted.
class UpdateServerTest : public UpdateTest
{
protected:
    static void SetUpTestSuite()
    {
#ifndef _WIN32
        Server = std::make_unique<Support::THttpsTestServer>();
#endif
    }
    static void TearDownTestSuite()
    {
        Server.reset();
    }

    void SetUp() override
    {
#ifdef _WIN32
        GTEST_SKIP() << "the HTTPS test server is the build machine's python3 with a private CA, "
                        "and WinHTTP trusts only the system's certificate store";
#else
        UpdateTest::SetUp();
        Server->Reset();
        Options.SiteUrl = Server->BaseUrl() + "/";
        Options.CaFile = Server->CaFile();
#endif
    }

    std::string VersionUrl() const
    {
        return Server->BaseUrl() + VersionPath;
    }
    std::string ArchiveUrl() const
    {
        return Server->BaseUrl() + ArchivePath;
    }

    static std::unique_ptr<Support::THttpsTestServer> Server;
};

std::unique_ptr<Support::THttpsTestServer> UpdateServerTest::Server;

struct TVersionCase
{
    const char* Body;
    const char* Remote; ///< the version read, nullptr when none
    bool Updates;
};

TEST_F(UpdateServerTest, VersionFileDecidesWhetherToDownload)
{
    const std::vector<TVersionCase> Cases = {
        {"1.0.3\r\n", "1.0.3", false},
        {"1.0.3", "1.0.3", false},
        {" \t1.0.3 \r\nanything after the first line\n", "1.0.3", false},
        {"1.0.3\n1.0.9\n", "1.0.3", false},
        {"1.0.2\r\n", "1.0.2", true},
        {"1.0.4", "1.0.4", true},
        {"1.0.3-beta\n", "1.0.3-beta", true},
        {"v1.0.3", "v1.0.3", true},
        {" \r\n \n", nullptr, false},
        {"", nullptr, false},
        {"\r\n1.0.4\n", nullptr, false},
    };
    const fs::path Marker = ExeDir.Path() / "started.txt";
    const std::string NewProgram = MarkerProgram(Marker);
    for (const auto& Case : Cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(Case.Body)));
        Support::TTempDataFolder Journal;
        Server->Reset();
        fs::remove(BackupPath(Options));
        fs::remove(Marker);
        ExeDir.WriteFile(UpdateExeName(), "old program");
        Server->Serve(VersionPath, Case.Body);
        Server->Serve(ArchivePath, BuildZip({{UpdateExeName(), NewProgram, true}}));

        bool MustEnd = false;
        {
            TReportWhenStarted NewProgramReports(Marker);
            MustEnd = CheckForUpdate(true, Options);
        }

        std::vector<std::string> Expected = {"INFO | update check: " + VersionUrl()};
        if (!Case.Remote) {
            Expected.push_back("INFO | update check failed: empty version");
        } else {
            Expected.push_back("INFO | update: local=1.0.3 remote=" + std::string(Case.Remote));
            if (!Case.Updates) {
                Expected.push_back("INFO | update: already current");
            } else {
                Expected.push_back("INFO | update: exe replaced (" +
                                   std::to_string(NewProgram.size()) + " bytes)");
                Expected.push_back("INFO | update: launching new process");
                Expected.push_back("INFO | update: started well; installed version " +
                                   std::string(Case.Remote));
                Expected.push_back("INFO | update: the new exe reported a good start");
                std::sort(Expected.end() - 2, Expected.end());
            }
        }
        std::vector<std::string> Lines = JournalLines();
        if (Case.Updates && Lines.size() == Expected.size())
            // The new program's line and the old one's come from two processes: either order.
            std::sort(Lines.end() - 2, Lines.end());
        EXPECT_EQ(Lines, Expected);
        EXPECT_EQ(MustEnd, Case.Updates);
        if (Case.Updates) {
            EXPECT_EQ(Server->Requests(), (std::vector<std::string>{VersionPath, ArchivePath}));
            EXPECT_EQ(ReadFileBytes(Exe), NewProgram);
            EXPECT_TRUE(HasRunBits(Exe));
            EXPECT_EQ(ReadFileBytes(BackupPath(Options)), "old program");
            EXPECT_TRUE(WaitForFile(Marker, 10000)) << "the new program did not run";
            EXPECT_EQ(InstalledVersion(), std::string(Case.Remote) + "\r\n");
            EXPECT_EQ(Support::ListFolder(DataFolder()),
                      (std::vector<std::string>{"logs", "update-installed.txt"}));
        } else {
            EXPECT_EQ(Server->Requests(), std::vector<std::string>{VersionPath});
            ExpectUntouched();
            EXPECT_EQ(InstalledVersion(), "");
        }
    }
}

TEST_F(UpdateServerTest, AutomaticUpdateOffMakesNoRequest)
{
    Server->Serve(VersionPath, "1.0.4\r\n");
    EXPECT_FALSE(CheckForUpdate(false, Options));
    EXPECT_EQ(JournalLines(), std::vector<std::string>{"INFO | automatic update is off"});
    EXPECT_TRUE(Server->Requests().empty());
    ExpectUntouched();
}

TEST_F(UpdateServerTest, UnreachableVersionFileIsJournalledAndTheStartGoesOn)
{
    Server->ServeStatus(VersionPath, 404);
    EXPECT_FALSE(CheckForUpdate(true, Options));
    EXPECT_EQ(JournalLines(), (std::vector<std::string>{
                                  "INFO | update check: " + VersionUrl(),
                                  "INFO | update check failed: HTTP 404 for " + VersionUrl(),
                              }));
    ExpectUntouched();

    for (const int Status : {400, 500, 503}) {
        Support::TTempDataFolder Journal;
        Server->ServeStatus(VersionPath, Status);
        EXPECT_FALSE(CheckForUpdate(true, Options));
        EXPECT_EQ(JournalLines().back(), "INFO | update check failed: HTTP " +
                                             std::to_string(Status) + " for " + VersionUrl());
    }
}

TEST_F(UpdateTest, ClosedPortGivesTheClientsMessage)
{
    TUpdateOptions Closed = Options;
    Closed.SiteUrl = "https://127.0.0.1:" + std::to_string(Support::UnusedLoopbackPort());
    EXPECT_FALSE(CheckForUpdate(true, Closed));
    const auto Entries = JournalLines();
    ASSERT_EQ(Entries.size(), 2u);
    EXPECT_EQ(Entries[0], "INFO | update check: " + UpdateUrl(Closed.SiteUrl, VersionPath));
    const std::string Prefix = "INFO | update check failed: ";
    ASSERT_EQ(Entries[1].rfind(Prefix, 0), 0u) << Entries[1];
    // The client's own words follow, naming what went wrong.
    EXPECT_GT(Entries[1].size(), Prefix.size() + 5);
    EXPECT_NE(Entries[1].find("onnect"), std::string::npos) << Entries[1];
    ExpectUntouched();
}

TEST_F(UpdateServerTest, ServerNotTrustedIsRefused)
{
    // Without the test's CA the server's certificate cannot be verified, and nothing can make
    // the client accept it anyway.
    Server->Serve(VersionPath, "1.0.4\r\n");
    TUpdateOptions Untrusted = Options;
    Untrusted.CaFile.clear();
    EXPECT_FALSE(CheckForUpdate(true, Untrusted));
    const auto Entries = JournalLines();
    ASSERT_EQ(Entries.size(), 2u);
    EXPECT_EQ(Entries[1].rfind("INFO | update check failed: ", 0), 0u) << Entries[1];
    EXPECT_NE(Entries[1].find("certificate"), std::string::npos) << Entries[1];
    EXPECT_TRUE(Server->Requests().empty());
    ExpectUntouched();
}

struct TArchiveCase
{
    const char* Title;
    std::function<void(Support::THttpsTestServer&)> Serve;
    std::function<std::string(const std::string& ArchiveUrl)> Entry;
    std::function<void(TUpdateOptions&)> Adjust = {};
    bool Downloads = true; ///< the archive was asked for
};

/// Starts with what the journal entry of `Case` must start with (the client's words follow).
bool EntryMatches(const std::string& Actual, const std::string& Expected)
{
    return Expected.ends_with(": ")
               ? Actual.starts_with(Expected) && Actual.size() > Expected.size()
               : Actual == Expected;
}

TEST_F(UpdateServerTest, ArchiveFailuresAreJournalledAsErrors)
{
    const std::string Member = UpdateExeName();
    const std::vector<TArchiveCase> Cases = {
        {"archive missing", [](auto& S) { S.ServeStatus(ArchivePath, 404); },
         [](const std::string& Url) {
             return "ERROR | update download failed: HTTP 404 for " + Url;
         }},
        {"empty body", [](auto& S) { S.Serve(ArchivePath, ""); },
         [](const std::string&) { return std::string("ERROR | update: empty download"); }},
        {"not a ZIP archive", [](auto& S) { S.Serve(ArchivePath, "<html>maintenance</html>\n"); },
         [](const std::string&) {
             return std::string("ERROR | update: downloaded file is not a valid zip");
         }},
        {"archive cut short",
         [&](auto& S) {
             const std::string Zip = BuildZip({{Member, std::string(5000, 'x'), true}});
             S.Serve(ArchivePath, Zip.substr(0, Zip.size() - 10));
         },
         [](const std::string&) {
             return std::string("ERROR | update: downloaded file is not a valid zip");
         }},
        {"executable only under bin/",
         [&](auto& S) {
             S.Serve(ArchivePath, BuildZip({{"bin/", "", false}, {"bin/" + Member, "new", true}}));
         },
         [&](const std::string&) { return "ERROR | update: zip has no " + Member; }},
        {"other members only",
         [&](auto& S) {
             S.Serve(ArchivePath,
                     BuildZip({{"readme.txt", "hi", true},
                               {"PlumeriaBridge.old" + std::string(ExecutableSuffix()), "x", true},
                               {Member + ".sig", "x", false}}));
         },
         [&](const std::string&) { return "ERROR | update: zip has no " + Member; }},
        {"empty member",
         [&](auto& S) {
             S.Serve(ArchivePath, BuildZip({{Member, "", true}}));
         },
         [](const std::string&) { return std::string("ERROR | update: zip member is empty"); }},
        {"damaged member",
         [&](auto& S) {
             std::string Zip = BuildZip({{Member, std::string(5000, 'x'), false}});
             Zip[30 + Member.size() + 10] ^= 0x55;
             S.Serve(ArchivePath, Zip);
         },
         [](const std::string&) { return std::string("ERROR | update: zip member is empty"); }},
        {"the running program byte for byte",
         [&](auto& S) {
             S.Serve(ArchivePath, BuildZip({{Member, "old program", true}}));
         },
         [](const std::string&) {
             return std::string("WARN | update: the archive holds the running program; remote "
                                "version 1.0.4 is not installed");
         }},
        {"a server that trickles bytes", [](auto& S) { S.ServeTrickle(ArchivePath, 5000, 100); },
         [](const std::string&) { return std::string("ERROR | update download failed: "); },
         [](TUpdateOptions& O) { O.OverallTimeoutMs = 2500; }},
        {"a program folder that cannot be written", [](auto&) {},
         [&](const std::string&) {
             return "ERROR | update: cannot write to the program folder " +
                    PathToUtf8(Exe.parent_path()) + ": Read-only file system";
         },
         [](TUpdateOptions& O) {
             O.WriteFile = [](const fs::path&, std::span<const std::uint8_t>, std::string& Error) {
                 Error = "Read-only file system";
                 return false;
             };
         },
         false},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Title);
        Support::TTempDataFolder Journal;
        Server->Reset();
        Server->Serve(VersionPath, "1.0.4\r\n");
        Case.Serve(*Server);
        TUpdateOptions Adjusted = Options;
        if (Case.Adjust)
            Case.Adjust(Adjusted);

        const auto Start = std::chrono::steady_clock::now();
        EXPECT_FALSE(CheckForUpdate(true, Adjusted));
        // Not a speed check: only that nothing waited for the trickle to end (50 s).
        EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(20));
        const auto Lines = JournalLines();
        ASSERT_EQ(Lines.size(), 3u) << ::testing::PrintToString(Lines);
        EXPECT_EQ(Lines[0], "INFO | update check: " + VersionUrl());
        EXPECT_EQ(Lines[1], "INFO | update: local=1.0.3 remote=1.0.4");
        EXPECT_TRUE(EntryMatches(Lines[2], Case.Entry(ArchiveUrl()))) << Lines[2];
        std::vector<std::string> Asked = {VersionPath};
        if (Case.Downloads)
            Asked.push_back(ArchivePath);
        EXPECT_EQ(Server->Requests(), Asked);
        ExpectUntouched();
        EXPECT_EQ(Support::ListFolder(ExeDir.Path()), std::vector<std::string>{UpdateExeName()});
    }
}

TEST_F(UpdateServerTest, TheSameRemoteVersionIsInstalledOnce)
{
    // The archive's program still calls itself 1.0.3: without a guard every start would
    // install 1.0.4 again and restart, for ever.
    const fs::path Marker = ExeDir.Path() / "started.txt";
    Server->Serve(VersionPath, "1.0.4\r\n");
    Server->Serve(ArchivePath, BuildZip({{UpdateExeName(), MarkerProgram(Marker), true}}));
    {
        TReportWhenStarted NewProgramReports(Marker);
        EXPECT_TRUE(CheckForUpdate(true, Options));
    }
    RemovePreviousBackup(Options);
    fs::remove(Marker);

    fs::remove(LogFilePath());
    EXPECT_FALSE(CheckForUpdate(true, Options));
    EXPECT_EQ(JournalLines(),
              (std::vector<std::string>{
                  "INFO | update check: " + VersionUrl(),
                  "INFO | update: local=1.0.3 remote=1.0.4",
                  "WARN | update: remote version 1.0.4 was installed before and is not installed "
                  "again",
              }));
    EXPECT_EQ(Server->Requests(),
              (std::vector<std::string>{VersionPath, ArchivePath, VersionPath}));

    // A version published later is installed as usual.
    Server->Serve(VersionPath, "1.0.5\r\n");
    Server->Serve(ArchivePath,
                  BuildZip({{UpdateExeName(), MarkerProgram(Marker) + "# 1.0.5\n", true}}));
    TReportWhenStarted NewProgramReports(Marker);
    EXPECT_TRUE(CheckForUpdate(true, Options));
    EXPECT_EQ(Server->Requests().back(), ArchivePath);
    EXPECT_EQ(InstalledVersion(), "1.0.5\r\n");
}

TEST_F(UpdateTest, ExecutableMemberIsFoundByItsNameAfterBackslashOrColon)
{
    const std::string Member = UpdateExeName();
    // Lower-case name with an upper-case suffix: plumeriabridge.EXE on Windows.
    std::string Mixed = "plumeriabridge" + std::string(ExecutableSuffix());
    for (std::size_t I = std::string("plumeriabridge").size(); I < Mixed.size(); ++I)
        Mixed[I] = static_cast<char>(std::toupper(static_cast<unsigned char>(Mixed[I])));

    struct TCase
    {
        std::vector<Support::TZipMember> Members;
        std::string Expected; ///< content taken, empty when refused
    };
    const std::vector<TCase> Cases = {
        {{{Mixed, "deflated", true}}, "deflated"},
        {{{Mixed, "stored", false}}, "stored"},
        {{{"PLUMERIABRIDGE" + std::string(ExecutableSuffix()), "upper", true}}, "upper"},
        {{{"readme.txt", "r", true}, {Member, "second", true}}, "second"},
        {{{"dist\\" + Mixed, "backslash folder", true}}, "backslash folder"},
        {{{"C:" + Member, "drive", true}}, "drive"},
        {{{"a\\b:c\\" + Member, "last separator", true}}, "last separator"},
        {{{Member, "first", true}, {Mixed, "second", true}}, "first"},
        {{{"bin/" + Mixed, "slash folder", true}}, ""},
        {{{"bin/" + Member, "slash folder", true}, {"dist/x", "y", true}}, ""},
        {{{"x" + Member, "prefixed", true}}, ""},
        {{{Member + ".bak", "suffixed", true}}, ""},
        {{{Member + "\\", "folder named like it", true}}, ""},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Members.front().Name);
        Support::TTempDataFolder Journal;
        TByteStream Out = {1};
        const bool Found = ExtractExe(Bytes(BuildZip(Case.Members)), Out);
        EXPECT_EQ(Found, !Case.Expected.empty());
        EXPECT_TRUE(Out == Bytes(Case.Expected));
        if (Case.Expected.empty()) {
            EXPECT_EQ(JournalLines(),
                      std::vector<std::string>{"ERROR | update: zip has no " + Member});
        } else {
            EXPECT_EQ(ReadFileBytes(LogFilePath()), "");
        }
    }
}

TEST_F(UpdateServerTest, RedirectionsToHttpsAreFollowed)
{
    Server->ServeRedirect(VersionPath, "/elsewhere/ver.txt");
    Server->Serve("/elsewhere/ver.txt", "1.0.3\r\n");
    EXPECT_FALSE(CheckForUpdate(true, Options));
    EXPECT_EQ(JournalLines().back(), "INFO | update: already current");
    EXPECT_EQ(Server->Requests(), (std::vector<std::string>{VersionPath, "/elsewhere/ver.txt"}));
}

TEST_F(UpdateServerTest, RedirectionsNotFollowedAreFailures)
{
    struct TCase
    {
        const char* Title;
        std::function<void()> Serve;
        std::string Entry; ///< what the failure entry starts with
    };
    const std::vector<TCase> Cases = {
        {"a redirection without a target", [&] { Server->ServeStatus(VersionPath, 302); },
         "INFO | update check failed: HTTP 302 redirection not followed"},
        {"a redirection from https to http",
         [&] { Server->ServeRedirect(VersionPath, "http://127.0.0.1:9/ver.txt"); },
         "INFO | update check failed: "},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Title);
        Support::TTempDataFolder Journal;
        Server->Reset();
        Case.Serve();
        EXPECT_FALSE(CheckForUpdate(true, Options));
        const auto Lines = JournalLines();
        ASSERT_EQ(Lines.size(), 2u);
        EXPECT_TRUE(Lines[1].starts_with(Case.Entry)) << Lines[1];
        EXPECT_GT(Lines[1].size(), std::string("INFO | update check failed: ").size());
        EXPECT_EQ(Server->Requests(), std::vector<std::string>{VersionPath});
        ExpectUntouched();
    }
}

TEST_F(UpdateServerTest, HttpGetReadsWholeBodiesAndReportsFailures)
{
    const std::string Big = std::string(3 * 8192 + 1, 'a') + std::string(100000, 'b');
    Server->Serve("/big.bin", Big);
    TByteStream Stream = Bytes("stale content");
    EXPECT_EQ(HttpGet(Server->BaseUrl() + "/big.bin", Stream, 15000, Options), Big.size());
    EXPECT_TRUE(Stream == Bytes(Big));

    Server->Serve("/empty", "");
    EXPECT_EQ(HttpGet(Server->BaseUrl() + "/empty", Stream, 15000, Options), 0u);
    EXPECT_TRUE(Stream.empty());

    Server->ServeStatus("/gone", 410);
    try {
        HttpGet(Server->BaseUrl() + "/gone", Stream, 15000, Options);
        ADD_FAILURE() << "a 410 must fail";
    } catch (const TUpdateError& Error) {
        EXPECT_EQ(std::string(Error.what()), "HTTP 410 for " + Server->BaseUrl() + "/gone");
    }

    // Only https is spoken: a plain address is refused before any connection.
    Server->Serve("/plain", "1.0.4");
    const std::string Plain = "http" + Server->BaseUrl().substr(5) + "/plain";
    EXPECT_THROW(HttpGet(Plain, Stream, 1000, Options), TUpdateError);
    EXPECT_EQ(Server->Requests().back(), "/gone");
}

TEST_F(UpdateServerTest, StalledResponseEndsAtTheTimeOut)
{
    Server->ServeStall("/stall", 30);
    TByteStream Stream;
    const auto Start = std::chrono::steady_clock::now();
    EXPECT_THROW(HttpGet(Server->BaseUrl() + "/stall", Stream, 1000, Options), TUpdateError);
    // Not a speed check: only that the wait ended long before the server would have answered.
    EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(20));
}

/// This process plays the running program, with its locks in a session folder of its own.
class UpdateLocksTest : public UpdateServerTest
{
protected:
    void SetUp() override
    {
        UpdateServerTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(AcquireSingleInstance());
        ASSERT_EQ(AcquireDataFolderLock(DataFolder(), 0), TFolderLockResult::flTaken);
    }
    void TearDown() override
    {
        ReleaseDataFolderLock();
        ReleaseSingleInstance();
    }

    /// Another process cannot take the lock file `Lock` (this one holds it).
    static bool HeldForReal(const fs::path& Lock)
    {
        return Support::RunProcess("/usr/bin/flock", {"-n", Lock.string(), "true"}, 10000)
                   .ExitCode == 1;
    }

    Support::TTempDir Runtime;
    Support::TScopedEnv RuntimeDir{"XDG_RUNTIME_DIR", Runtime.Path().string()};
};

TEST_F(UpdateLocksTest, NewProgramThatDoesNotStartWellIsUndoneAndTheOldOneRunsOn)
{
    struct TCase
    {
        const char* Title;
        std::string Program;
        std::string Failure; ///< the entry between the launch and the restore
    };
    const std::vector<TCase> Cases = {
        // Written and in place, but not something the system can start.
        {"not a program", "not a program", "ERROR | update: failed to start the new exe"},
        // Starts, but dies before it could report, as one missing a library does.
        {"ends at once", "#!/bin/sh\nexit 1\n",
         "ERROR | update: the new exe ended before it reported a good start"},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Title);
        fs::remove(LogFilePath());
        Server->Reset();
        Server->Serve(VersionPath, "1.0.4\r\n");
        Server->Serve(ArchivePath, BuildZip({{UpdateExeName(), Case.Program, true}}));
        EXPECT_FALSE(CheckForUpdate(true, Options));
        const auto Entries = JournalLines();
        ASSERT_GE(Entries.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(Entries.end() - 3, Entries.end()),
                  (std::vector<std::string>{
                      "INFO | update: launching new process",
                      Case.Failure,
                      "ERROR | update: previous exe restored; running on",
                  }));
        ExpectUntouched();
        EXPECT_EQ(Support::ListFolder(ExeDir.Path()), std::vector<std::string>{UpdateExeName()});
        EXPECT_EQ(InstalledVersion(), "") << "a version that never ran was recorded";
        EXPECT_EQ(Support::ListFolder(Data.DataDir()),
                  (std::vector<std::string>{"logs", "watch.lock"}));
        EXPECT_TRUE(SingleInstanceHeld());
        EXPECT_EQ(HeldDataFolderLock(), DataFolder());
#ifndef _WIN32
        EXPECT_TRUE(HeldForReal(Runtime.Path() / "PlumeriaBridge.lock"));
        EXPECT_TRUE(HeldForReal(Data.DataDir() / "watch.lock"));
#endif
    }
}

TEST_F(UpdateLocksTest, SilentNewProgramIsUndoneAndALockTakenMeanwhileIsReportedLost)
{
    // The new program takes the data folder's watch lock while the old one has let it go, and
    // never reports: the old one puts itself back but must not watch beside it.
    const fs::path PidFile = ExeDir.Path() / "new.pid";
    const std::string Program = "#!/bin/sh\nexec 9<'" + (Data.DataDir() / "watch.lock").string() +
                                "'\n/usr/bin/flock -n 9 || exit 1\necho $$ > '" + PidFile.string() +
                                "'\nexec sleep 60\n";
    Options.StartReportWaitMs = 2000;
    Server->Serve(VersionPath, "1.0.4\r\n");
    Server->Serve(ArchivePath, BuildZip({{UpdateExeName(), Program, true}}));
    EXPECT_FALSE(CheckForUpdate(true, Options));
    ASSERT_TRUE(WaitForFile(PidFile, 1000));
    const std::string NewPid = ReadFileBytes(PidFile);

    const auto Entries = JournalLines();
    ASSERT_GE(Entries.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(Entries.end() - 4, Entries.end()),
              (std::vector<std::string>{
                  "INFO | update: launching new process",
                  "ERROR | update: the new exe did not report a good start within 2 s",
                  "ERROR | update: previous exe restored; running on",
                  "ERROR | update: cannot take the watch lock again: another program is watching "
                  "with the data folder " +
                      PathToUtf8(Data.DataDir()) + "; this one does not watch",
              }));
    EXPECT_EQ(ReadFileBytes(Exe), "old program");
    EXPECT_FALSE(fs::exists(BackupPath(Options)));
    EXPECT_EQ(InstalledVersion(), "");
    EXPECT_TRUE(SingleInstanceHeld());
    EXPECT_TRUE(HeldDataFolderLock().empty());
    // Late words from the silent program find nothing to report.
    ReportStartedWell();
    EXPECT_EQ(InstalledVersion(), "");

    const auto Killed = Support::RunProcess("/bin/kill", {Trim(NewPid)}, 10000);
    EXPECT_EQ(Killed.ExitCode, 0) << NewPid << Killed.Err;
}

TEST_F(UpdateTest, ReplaceExeKeepsTheOldFileAsBackup)
{
    const TByteStream NewData = Bytes(std::string(3 * 1048576 + 3, 'n'));
    ExeDir.WriteFile(BackupPath(Options).filename().string(), "older backup");
    ASSERT_TRUE(ReplaceExe(Exe, NewData, Options));
    EXPECT_TRUE(Bytes(ReadFileBytes(Exe)) == NewData);
    EXPECT_TRUE(HasRunBits(Exe));
    EXPECT_EQ(ReadFileBytes(BackupPath(Options)), "old program");
    EXPECT_EQ(JournalLines(), std::vector<std::string>{"INFO | update: exe replaced (" +
                                                       std::to_string(NewData.size()) + " bytes)"});
}

TEST_F(UpdateTest, RenameThatKeepsFailingIsRetriedFiveTimes)
{
    int Calls = 0;
    Options.RenameFile = [&](const fs::path&, const fs::path&, std::string& Error) {
        ++Calls;
        Error = "in use";
        return false;
    };
    const auto Start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ReplaceExe(Exe, Bytes("new"), Options));
    const auto Elapsed = std::chrono::steady_clock::now() - Start;
    EXPECT_EQ(Calls, 5);
    EXPECT_EQ(JournalLines(), (std::vector<std::string>{
                                  "INFO | update: rename busy, retry 1/5",
                                  "INFO | update: rename busy, retry 2/5",
                                  "INFO | update: rename busy, retry 3/5",
                                  "INFO | update: rename busy, retry 4/5",
                                  "INFO | update: rename busy, retry 5/5",
                                  "ERROR | update: cannot rename running exe",
                              }));
    // Five pauses of 500 ms, the last one included.
    EXPECT_GE(Elapsed, std::chrono::milliseconds(2500));
    ExpectUntouched();
    EXPECT_EQ(Support::ListFolder(ExeDir.Path()), std::vector<std::string>{UpdateExeName()});
}

TEST_F(UpdateTest, RenameThatSucceedsOnARetryGoesOn)
{
    int Calls = 0;
    Options.RenameFile = [&](const fs::path& From, const fs::path& To, std::string& Error) {
        if (++Calls <= 2) {
            Error = "in use";
            return false;
        }
        fs::rename(From, To);
        return true;
    };
    EXPECT_TRUE(ReplaceExe(Exe, Bytes("new"), Options));
    EXPECT_EQ(JournalLines(), (std::vector<std::string>{
                                  "INFO | update: rename busy, retry 1/5",
                                  "INFO | update: rename busy, retry 2/5",
                                  "INFO | update: exe replaced (3 bytes)",
                              }));
    EXPECT_EQ(ReadFileBytes(Exe), "new");
    EXPECT_EQ(ReadFileBytes(BackupPath(Options)), "old program");
}

TEST_F(UpdateTest, BackupThatCannotBeDeletedBlocksTheRename)
{
    // A folder with content under the backup's name: it can be neither deleted nor replaced.
    ExeDir.WriteFile(BackupPath(Options).filename().string() + "/keep.txt", "keep");
    EXPECT_FALSE(ReplaceExe(Exe, Bytes("new"), Options));
    const auto Entries = JournalLines();
    ASSERT_EQ(Entries.size(), 7u);
    EXPECT_EQ(Entries[0].rfind("INFO | update: cannot delete old backup: ", 0), 0u) << Entries[0];
    EXPECT_GT(Entries[0].size(), std::string("INFO | update: cannot delete old backup: ").size());
    EXPECT_EQ(Entries[5], "INFO | update: rename busy, retry 5/5");
    EXPECT_EQ(Entries[6], "ERROR | update: cannot rename running exe");
    EXPECT_EQ(ReadFileBytes(Exe), "old program");
    EXPECT_EQ(ReadFileBytes(BackupPath(Options) / "keep.txt"), "keep");
}

TEST_F(UpdateTest, FailedWritePutsTheOldExecutableBack)
{
    Options.WriteFile = [](const fs::path& Path, std::span<const std::uint8_t> Data,
                           std::string& Error) {
        // Half of the file reaches the disk, then the disk is full.
        std::ofstream(Path, std::ios::binary)
            .write(reinterpret_cast<const char*>(Data.data()),
                   static_cast<std::streamsize>(Data.size() / 2));
        Error = "No space left on device";
        return false;
    };
    EXPECT_FALSE(ReplaceExe(Exe, Bytes("a new program"), Options));
    EXPECT_EQ(JournalLines(), std::vector<std::string>{
                                  "ERROR | update: write new exe failed: No space left on device"});
    ExpectUntouched();
    EXPECT_EQ(Support::ListFolder(ExeDir.Path()), std::vector<std::string>{UpdateExeName()});
}

TEST_F(UpdateTest, NewFileMissingAfterWritePutsTheOldExecutableBack)
{
    Options.WriteFile = [](const fs::path&, std::span<const std::uint8_t>, std::string&) {
        return true;
    };
    EXPECT_FALSE(ReplaceExe(Exe, Bytes("a new program"), Options));
    EXPECT_EQ(JournalLines(),
              std::vector<std::string>{"ERROR | update: new exe is missing after write"});
    ExpectUntouched();
}

TEST_F(UpdateTest, RealWriteFailureIsReportedWithTheSystemsMessage)
{
    // The new program's own name is taken by a folder that cannot be removed.
    ExeDir.WriteFile(NewExePath(Options).filename().string() + "/keep.txt", "keep");
    EXPECT_FALSE(ReplaceExe(Exe, Bytes("new"), Options));
    const auto Entries = JournalLines();
    ASSERT_EQ(Entries.size(), 1u);
    const std::string Prefix = "ERROR | update: write new exe failed: ";
    EXPECT_EQ(Entries[0].rfind(Prefix, 0), 0u) << Entries[0];
    EXPECT_GT(Entries[0].size(), Prefix.size());
    ExpectUntouched();
}

TEST_F(UpdateTest, KilledWhileWritingTheNewProgramLeavesTheOldOneWhole)
{
    // The process dies part-way through writing: nothing after the write runs. The old program
    // must still be there, whole and runnable, and the next start clears the half-written file.
    ExeDir.WriteFile(UpdateExeName(), "#!/bin/sh\nexit 0\n");
    fs::permissions(Exe, fs::perms::owner_all);
    struct TKilled
    {
    };
    Options.WriteFile = [&](const fs::path& Path, std::span<const std::uint8_t> Data,
                            std::string&) -> bool {
        EXPECT_NE(Path, Exe) << "the new program is written over the running one";
        EXPECT_FALSE(fs::exists(BackupPath(Options))) << "the old program left its name first";
        std::ofstream(Path, std::ios::binary)
            .write(reinterpret_cast<const char*>(Data.data()),
                   static_cast<std::streamsize>(Data.size() / 2));
        throw TKilled{};
    };
    EXPECT_THROW(ReplaceExe(Exe, Bytes("a new program, written only half"), Options), TKilled);

    EXPECT_EQ(ReadFileBytes(Exe), "#!/bin/sh\nexit 0\n");
    EXPECT_FALSE(fs::exists(BackupPath(Options)));
#ifndef _WIN32
    EXPECT_EQ(Support::RunProcess(Exe, {}, 10000).ExitCode, 0);
#endif
    ASSERT_TRUE(fs::exists(NewExePath(Options)));

    RemovePreviousBackup(Options);
    EXPECT_EQ(Support::ListFolder(ExeDir.Path()), std::vector<std::string>{UpdateExeName()});
    EXPECT_EQ(JournalLines(), std::vector<std::string>{"INFO | removed an unfinished new exe: " +
                                                       PathToUtf8(NewExePath(Options))});
}

TEST_F(UpdateTest, BackupStaysUntilTheNewProgramHasRunWell)
{
    const fs::path Backup = BackupPath(Options);
    const fs::path Pending = Data.DataDir() / "update-pending.txt";
    ExeDir.WriteFile(Backup.filename().string(), "old program");
    fs::create_directories(Data.DataDir());
    std::ofstream(Pending, std::ios::binary) << "1.0.4\r\n";

    // The new program's first start: the old one waits for its word, the backup is its way back.
    RemovePreviousBackup(Options);
    EXPECT_EQ(ReadFileBytes(Backup), "old program");
    ReportStartedWell();
    EXPECT_FALSE(fs::exists(Pending));
    EXPECT_EQ(ReadFileBytes(Data.DataDir() / "update-started.txt"), "1.0.4\r\n");
    EXPECT_EQ(InstalledVersion(), "1.0.4\r\n");

    // Its next start: it has run well, the backup goes.
    fs::remove(Data.DataDir() / "update-started.txt");
    RemovePreviousBackup(Options);
    EXPECT_FALSE(fs::exists(Backup));
    EXPECT_EQ(JournalLines(), (std::vector<std::string>{
                                  "INFO | update: started well; installed version 1.0.4",
                                  "INFO | removed previous exe backup",
                              }));

    // A start that no update waits for reports nothing.
    ReportStartedWell();
    EXPECT_EQ(Support::ListFolder(Data.DataDir()),
              (std::vector<std::string>{"logs", "update-installed.txt"}));
}

TEST_F(UpdateTest, PreviousBackupIsRemovedAtStart)
{
    RemovePreviousBackup(Options);
    EXPECT_EQ(ReadFileBytes(LogFilePath()), "");

    ExeDir.WriteFile(BackupPath(Options).filename().string(), "backup");
    RemovePreviousBackup(Options);
    EXPECT_FALSE(fs::exists(BackupPath(Options)));
    EXPECT_EQ(JournalLines(), std::vector<std::string>{"INFO | removed previous exe backup"});
    EXPECT_EQ(ReadFileBytes(Exe), "old program");
}

TEST_F(UpdateTest, BackupThatCannotBeDeletedAtStartIsJournalled)
{
    ExeDir.WriteFile(BackupPath(Options).filename().string() + "/keep.txt", "keep");
    RemovePreviousBackup(Options);
    const auto Entries = JournalLines();
    ASSERT_EQ(Entries.size(), 1u);
    const std::string Prefix = "INFO | cannot delete previous exe backup: ";
    EXPECT_EQ(Entries[0].rfind(Prefix, 0), 0u) << Entries[0];
    EXPECT_GT(Entries[0].size(), Prefix.size());
}

TEST(UpdateNamesTest, BackupAndAddresses)
{
    const std::string Suffix(ExecutableSuffix());
    const fs::path Folder = fs::path("/opt") / "tools";
    struct TCase
    {
        std::string Exe;
        std::string Backup;
    };
    const std::vector<TCase> Cases = {
        {"PlumeriaBridge" + Suffix, "PlumeriaBridge.old" + Suffix},
        {"Other" + Suffix, "Other.old" + Suffix},
        // An executable already named like a backup must not be its own backup.
        {"Tool.old" + Suffix, "Tool.old.old" + Suffix},
    };
    for (const auto& Case : Cases) {
        TUpdateOptions Options;
        Options.ExePath = Folder / Case.Exe;
        EXPECT_EQ(BackupPath(Options), Folder / Case.Backup);
    }
    EXPECT_EQ(UpdateExeName(), "PlumeriaBridge" + Suffix);

    EXPECT_EQ(UpdateUrl("https://site.example/", "/download/plumeriabridge/ver.txt"),
              "https://site.example/download/plumeriabridge/ver.txt");
    EXPECT_EQ(UpdateUrl("https://site.example", "download/x.zip"),
              "https://site.example/download/x.zip");
    EXPECT_EQ(UpdateUrl("https://site.example/base//", "/a"), "https://site.example/base/a");
    // The build's own site address.
    EXPECT_EQ(TUpdateOptions().SiteUrl, PLUMERIA_SITE_URL);
}

TEST(UpdateNamesTest, StartingANonexistentProgramIsJournalled)
{
    Support::TTempDataFolder Data;
    Support::TTempDir Dir;
    EXPECT_FALSE(StartNewExe(Dir.Path() / "missing"));
    EXPECT_EQ(JournalLines(),
              std::vector<std::string>{"ERROR | update: failed to start the new exe"});
}

} // namespace
} // namespace Plumeria
