#include "support/HttpsTestServer.h"

#include "platform/Sockets.h"

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

#ifndef _WIN32
#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace Plumeria::Test {

namespace {

void WriteAtomically(const std::filesystem::path& Path, const std::string& Bytes)
{
    std::filesystem::create_directories(Path.parent_path());
    const auto Temporary = Path.string() + ".tmp";
    {
        std::ofstream Out(Temporary, std::ios::binary | std::ios::trunc);
        Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
        if (!Out)
            throw std::runtime_error("cannot write " + Temporary);
    }
    std::filesystem::rename(Temporary, Path);
}

std::string JsonString(const std::string& Text)
{
    std::string Out = "\"";
    for (const char C : Text) {
        if (C == '"' || C == '\\')
            Out += '\\';
        Out += C;
    }
    return Out + "\"";
}

} // namespace

#ifndef _WIN32

THttpsTestServer::THttpsTestServer()
{
    const std::string Python = PLUMERIA_PYTHON3;
    const std::string OpenSsl = PLUMERIA_OPENSSL;
    if (Python.empty())
        throw std::runtime_error("the HTTPS test server needs python3 (Debian package python3)");
    if (OpenSsl.empty())
        throw std::runtime_error("the HTTPS test server needs the openssl command (Debian "
                                 "package openssl)");

    const std::string Folder = FDir.Path().string();
    const std::string OutPath = (FDir.Path() / "server.err").string();
    std::vector<std::string> Storage = {
        Python, PLUMERIA_HTTPS_SERVER_SCRIPT, "--dir", Folder, "--openssl", OpenSsl};
    std::vector<char*> Argv;
    for (auto& Arg : Storage)
        Argv.push_back(Arg.data());
    Argv.push_back(nullptr);

    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_addopen(&Actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&Actions, 1, OutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&Actions, 1, 2);
    pid_t Pid = 0;
    const int Spawned = posix_spawn(&Pid, Python.c_str(), &Actions, nullptr, Argv.data(), environ);
    posix_spawn_file_actions_destroy(&Actions);
    if (Spawned != 0)
        throw std::runtime_error("cannot start " + Python + ": " + std::strerror(Spawned));
    FPid = Pid;

    const auto PortFile = FDir.Path() / "port";
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!std::filesystem::exists(PortFile)) {
        int Status = 0;
        if (waitpid(Pid, &Status, WNOHANG) == Pid) {
            FPid = -1;
            throw std::runtime_error("the HTTPS test server ended: " + ReadFileBytes(OutPath));
        }
        if (std::chrono::steady_clock::now() >= Deadline) {
            kill(Pid, SIGKILL);
            waitpid(Pid, &Status, 0);
            FPid = -1;
            throw std::runtime_error("the HTTPS test server did not start: " +
                                     ReadFileBytes(OutPath));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    FPort = std::stoi(ReadFileBytes(PortFile));
}

THttpsTestServer::~THttpsTestServer()
{
    if (FPid <= 0)
        return;
    kill(FPid, SIGTERM);
    int Status = 0;
    for (int Waited = 0; Waited < 200; ++Waited) {
        if (waitpid(FPid, &Status, WNOHANG) == FPid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(FPid, SIGKILL);
    waitpid(FPid, &Status, 0);
}

int UnusedLoopbackPort()
{
    const int Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (Fd < 0)
        throw std::runtime_error("cannot open a socket");
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Address.sin_port = 0;
    socklen_t Length = sizeof(Address);
    if (bind(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)) != 0 ||
        getsockname(Fd, reinterpret_cast<sockaddr*>(&Address), &Length) != 0) {
        close(Fd);
        throw std::runtime_error("cannot bind a loopback socket");
    }
    close(Fd);
    return ntohs(Address.sin_port);
}

#else

THttpsTestServer::THttpsTestServer()
{
    throw std::runtime_error("the HTTPS test server runs on POSIX hosts only");
}

THttpsTestServer::~THttpsTestServer() = default;

int UnusedLoopbackPort()
{
    int Error = 0;
    const TSocketHandle Socket = SocketListen(0x7F000001, 0, 1, Error);
    if (Socket == NoSocket)
        throw std::runtime_error("cannot bind a loopback socket: " + SocketErrorText(Error));
    const int Port = SocketLocalPort(Socket);
    SocketClose(Socket);
    if (Port == 0)
        throw std::runtime_error("cannot read the port of a loopback socket");
    return Port;
}

#endif

std::string THttpsTestServer::BaseUrl() const
{
    return "https://127.0.0.1:" + std::to_string(FPort);
}

void THttpsTestServer::Serve(const std::string& Path, const std::string& Bytes)
{
    FRoutes.erase(Path);
    WriteRoutes();
    WriteAtomically(FDir.Path() / "www" / Path.substr(Path.find_first_not_of('/')), Bytes);
}

void THttpsTestServer::ServeStatus(const std::string& Path, int Status)
{
    FRoutes[Path] = "{\"status\": " + std::to_string(Status) + "}";
    WriteRoutes();
}

void THttpsTestServer::ServeRedirect(const std::string& Path, const std::string& Target)
{
    FRoutes[Path] = "{\"redirect\": " + JsonString(Target) + "}";
    WriteRoutes();
}

void THttpsTestServer::ServeStall(const std::string& Path, int Seconds)
{
    FRoutes[Path] = "{\"stall\": " + std::to_string(Seconds) + "}";
    WriteRoutes();
}

void THttpsTestServer::ServeTrickle(const std::string& Path, int Bytes, int EveryMs)
{
    FRoutes[Path] = "{\"trickle\": {\"bytes\": " + std::to_string(Bytes) +
                    ", \"every\": " + std::to_string(EveryMs / 1000.0) + "}}";
    WriteRoutes();
}

void THttpsTestServer::Reset()
{
    FRoutes.clear();
    WriteRoutes();
    std::error_code Ignored;
    std::filesystem::remove_all(FDir.Path() / "www", Ignored);
    std::filesystem::create_directories(FDir.Path() / "www");
    std::filesystem::remove(FDir.Path() / "requests.log", Ignored);
}

std::vector<std::string> THttpsTestServer::Requests() const
{
    std::vector<std::string> Paths;
    std::ifstream In(FDir.Path() / "requests.log");
    for (std::string Line; std::getline(In, Line);)
        if (!Line.empty())
            Paths.push_back(Line);
    return Paths;
}

void THttpsTestServer::WriteRoutes() const
{
    std::string Json = "{";
    for (const auto& [Path, Route] : FRoutes) {
        if (Json.size() > 1)
            Json += ", ";
        Json += JsonString(Path) + ": " + Route;
    }
    Json += "}";
    WriteAtomically(FDir.Path() / "routes.json", Json);
}

} // namespace Plumeria::Test
