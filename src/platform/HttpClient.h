#pragma once
// HTTPS GET for the self-update: libcurl on Linux, WinHTTP on Windows. Only https:// addresses
// are fetched and the server's certificate is always verified; nothing here can switch that off.
// A caller may name its own CA file to trust (tests with a self-signed CA), never less.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>

namespace Plumeria {

struct THttpRequest
{
    std::string Url;
    int ConnectTimeoutMs = 0;     ///< bounds connecting (name lookup, TCP and TLS handshake)
    int ResponseTimeoutMs = 0;    ///< bounds each wait for response bytes, not the whole transfer
    int OverallTimeoutMs = 0;     ///< bounds the whole exchange, however the bytes trickle; 0: none
    std::size_t ReadChunk = 8192; ///< the body is handed over in pieces of at most this size
    /// Empty: the system's trusted authorities. Otherwise a PEM file of authorities to trust for
    /// this request (a test's own CA). Not supported on Windows, where the request then fails.
    std::filesystem::path CaFile;
};

struct THttpResult
{
    bool Ok = false;   ///< the exchange completed (any status) or a callback chose to stop it
    int Status = 0;    ///< the final status code, 0 when none was received
    std::string Error; ///< the client's own message when not `Ok`
};

/// Issues the GET. `OnStatus` is called once with the final status code (redirections are
/// followed, to https only) before any body byte; returning false stops there with `Ok` true.
/// A final redirection status (3xx: one that was refused, or one without a target) is a
/// failure: `Ok` false, `OnStatus` not called.
/// `OnData` then receives the body piece by piece; returning false aborts with `Ok` false and
/// `Error` "transfer stopped by the receiver". An exception thrown by a callback is caught here;
/// it aborts the transfer the same way, with its own message as `Error`.
THttpResult SendHttpGet(const THttpRequest& Request,
                        const std::function<bool(int Status)>& OnStatus,
                        const std::function<bool(std::span<const std::uint8_t> Piece)>& OnData);

} // namespace Plumeria
