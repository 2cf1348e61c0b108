#pragma once
// The few TCP/IPv4 socket operations the scale transport needs, over BSD sockets or Winsock 2.
// Addresses are IPv4 numbers in host byte order; the seam converts. Every call reports the
// platform's own error number through `Error` (errno or WSAGetLastError), which the transport
// writes into its journal lines. Nothing here logs or throws.

#include <cstddef>
#include <cstdint>
#include <string>

namespace Plumeria {

/// The platform's socket handle. 0 is never a socket: the POSIX side moves a socket that would
/// land on descriptor 0 (closed standard input) elsewhere, Winsock never hands out 0.
using TSocketHandle = std::uintptr_t;
inline constexpr TSocketHandle NoSocket = 0;

/// True when the socket library was started (WSAStartup 2.2 once per process; always true on
/// POSIX, which needs no start-up). Safe to call from any thread.
bool SocketLibraryReady();

/// A new TCP/IPv4 socket that is not inherited by child processes (close-on-exec, or a
/// non-inheritable handle on Windows) and never raises SIGPIPE. NoSocket and `Error` on failure.
TSocketHandle SocketCreateTcp(int& Error);
/// Switches the socket to non-blocking mode.
bool SocketSetNonBlocking(TSocketHandle Socket, int& Error);
/// Turns off the small-write delay: stop-and-wait exchanges would otherwise wait for it.
bool SocketSetNoDelay(TSocketHandle Socket, int& Error);
/// Binds to a local IPv4 address with any local port.
bool SocketBind(TSocketHandle Socket, std::uint32_t LocalIp, int& Error);

enum class TConnectStart : std::uint8_t
{
    csConnected,  ///< connected at once
    csInProgress, ///< would block / in progress: wait with SocketWaitConnected
    csFailed,     ///< failed at once; `Error` holds the reason
};
TConnectStart SocketConnectStart(TSocketHandle Socket, std::uint32_t Ip, int Port, int& Error);

enum class TWaitResult : std::uint8_t
{
    wrReady,   ///< the condition came
    wrTimeout, ///< nothing within the time-out
    wrFailed,  ///< the wait itself failed; `Error` holds the reason
};
/// Waits until a non-blocking connect has finished, successfully or not. On Windows a failed
/// connect shows in the exception set, not the write set, so both are watched there.
TWaitResult SocketWaitConnected(TSocketHandle Socket, int TimeoutMs, int& Error);
TWaitResult SocketWaitWritable(TSocketHandle Socket, int TimeoutMs, int& Error);
TWaitResult SocketWaitReadable(TSocketHandle Socket, int TimeoutMs, int& Error);

/// The socket's pending error (SO_ERROR); false when it cannot be read.
bool SocketPendingError(TSocketHandle Socket, int& PendingError, int& Error);

/// One send/recv call. A positive result is the byte count; 0 from recv means the peer closed;
/// a negative result is an error in `Error`.
std::ptrdiff_t SocketSend(TSocketHandle Socket, const std::uint8_t* Data, std::size_t Size,
                          int& Error);
std::ptrdiff_t SocketReceive(TSocketHandle Socket, std::uint8_t* Data, std::size_t Size,
                             int& Error);
void SocketClose(TSocketHandle Socket);

/// Server side, for the scale simulator and loopback benchmarks: a blocking listening socket
/// on Ip:Port (Port 0 picks a free one) with the given backlog; the local address may be reused
/// at once after an earlier listener closed (never shared with a live one).
TSocketHandle SocketListen(std::uint32_t Ip, int Port, int Backlog, int& Error);
/// Accepts one connection, waiting at most `TimeoutMs` (negative: without limit). The new
/// socket is blocking and close-on-exec. NoSocket on time-out (Error 0) or failure.
TSocketHandle SocketAccept(TSocketHandle Listener, int TimeoutMs, int& Error);
/// The local port of a bound socket, 0 when unknown.
int SocketLocalPort(TSocketHandle Socket);
/// Ends both directions of a connection; a thread blocked receiving on it returns at once.
void SocketShutdown(TSocketHandle Socket);

/// The error means "try again later" (EWOULDBLOCK/EAGAIN/EINTR, WSAEWOULDBLOCK).
bool SocketErrorWouldBlock(int Error);
/// The error means the peer refused the connection (ECONNREFUSED, WSAECONNREFUSED).
bool SocketErrorRefused(int Error);
/// A short text for an error number, for the tool's messages.
std::string SocketErrorText(int Error);

} // namespace Plumeria
