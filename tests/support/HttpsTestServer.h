#pragma once
// A real HTTPS server on 127.0.0.1 for the self-update tests: a Python process that makes its
// own certificate authority with the openssl command line, picks a free port and serves files
// that the test places, with statuses, redirections, stalls or trickles on chosen paths. Every
// request path is recorded, so a test can tell whether anything reached the server. The process is
// ended when the object dies.

#include "support/TempDir.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace Plumeria::Test {

class THttpsTestServer
{
public:
    /// Starts the server and waits until it listens. Throws std::runtime_error when python3 or
    /// openssl is missing or the server does not come up.
    THttpsTestServer();
    ~THttpsTestServer();
    THttpsTestServer(const THttpsTestServer&) = delete;
    THttpsTestServer& operator=(const THttpsTestServer&) = delete;

    /// "https://127.0.0.1:<port>".
    std::string BaseUrl() const;
    /// The PEM file of the server's own certificate authority, to trust in a request.
    std::filesystem::path CaFile() const { return FDir.Path() / "ca.pem"; }

    /// Serves `Bytes` at `Path` ("/download/...") with status 200.
    void Serve(const std::string& Path, const std::string& Bytes);
    /// Answers `Path` with the bare status instead.
    void ServeStatus(const std::string& Path, int Status);
    /// Answers `Path` with a 302 to `Target` instead.
    void ServeRedirect(const std::string& Path, const std::string& Target);
    /// Accepts requests for `Path` and never answers them (for `Seconds`).
    void ServeStall(const std::string& Path, int Seconds);
    /// Answers `Path` with status 200 and a body of `Bytes` bytes sent one at a time, one every
    /// `EveryMs`: slow, but never stalled.
    void ServeTrickle(const std::string& Path, int Bytes, int EveryMs);
    /// Forgets all files, routes and recorded requests.
    void Reset();

    /// The paths requested so far, in order.
    std::vector<std::string> Requests() const;

private:
    void WriteRoutes() const;

    TTempDir FDir;
    std::map<std::string, std::string> FRoutes; ///< path -> JSON object text
    int FPid = -1;
    int FPort = 0;
};

/// A loopback port on which nothing listens (bound and closed again at once).
int UnusedLoopbackPort();

} // namespace Plumeria::Test
