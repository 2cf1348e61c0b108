#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/Clock.h"

namespace Plumeria {

namespace {

int ToFd(TSocketHandle Socket)
{
    return static_cast<int>(Socket);
}

sockaddr_in MakeAddress(std::uint32_t Ip, int Port)
{
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(Ip);
    Address.sin_port = htons(static_cast<std::uint16_t>(Port));
    return Address;
}

/// Handle 0 means "no socket" to the callers, so a socket must never live on descriptor 0 (it
/// does when standard input was closed). Moves it to a descriptor above 0.
int AwayFromZero(int Fd, int& Error)
{
    if (Fd != 0)
        return Fd;
    const int Moved = fcntl(Fd, F_DUPFD_CLOEXEC, 1);
    if (Moved < 0)
        Error = errno;
    close(Fd);
    return Moved;
}

/// poll with a time-out that survives signals: an interrupted wait goes on for the time left.
TWaitResult WaitFor(TSocketHandle Socket, short Events, int TimeoutMs, int& Error)
{
    Error = 0;
    if (TimeoutMs < 0)
        TimeoutMs = 0;
    const std::uint64_t Deadline = MonotonicTickMs() + static_cast<std::uint64_t>(TimeoutMs);
    for (;;) {
        pollfd Entry{};
        Entry.fd = ToFd(Socket);
        Entry.events = Events;
        const std::uint64_t Now = MonotonicTickMs();
        const int Left = Now >= Deadline ? 0 : static_cast<int>(Deadline - Now);
        const int Count = poll(&Entry, 1, Left);
        if (Count > 0)
            return TWaitResult::wrReady; // POLLERR/POLLHUP count as ready: the next call tells
        if (Count == 0)
            return TWaitResult::wrTimeout;
        if (errno != EINTR) {
            Error = errno;
            return TWaitResult::wrFailed;
        }
    }
}

} // namespace

bool SocketLibraryReady()
{
    return true;
}

TSocketHandle SocketCreateTcp(int& Error)
{
    Error = 0;
    int Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (Fd < 0) {
        Error = errno;
        return NoSocket;
    }
    Fd = AwayFromZero(Fd, Error);
    if (Fd < 0)
        return NoSocket;
    return static_cast<TSocketHandle>(Fd);
}

bool SocketSetNonBlocking(TSocketHandle Socket, int& Error)
{
    Error = 0;
    const int Flags = fcntl(ToFd(Socket), F_GETFL, 0);
    if (Flags < 0 || fcntl(ToFd(Socket), F_SETFL, Flags | O_NONBLOCK) < 0) {
        Error = errno;
        return false;
    }
    return true;
}

bool SocketSetNoDelay(TSocketHandle Socket, int& Error)
{
    Error = 0;
    const int On = 1;
    if (setsockopt(ToFd(Socket), IPPROTO_TCP, TCP_NODELAY, &On, sizeof On) != 0) {
        Error = errno;
        return false;
    }
    return true;
}

bool SocketBind(TSocketHandle Socket, std::uint32_t LocalIp, int& Error)
{
    Error = 0;
    const sockaddr_in Address = MakeAddress(LocalIp, 0);
    if (bind(ToFd(Socket), reinterpret_cast<const sockaddr*>(&Address), sizeof Address) != 0) {
        Error = errno;
        return false;
    }
    return true;
}

TConnectStart SocketConnectStart(TSocketHandle Socket, std::uint32_t Ip, int Port, int& Error)
{
    Error = 0;
    const sockaddr_in Address = MakeAddress(Ip, Port);
    if (connect(ToFd(Socket), reinterpret_cast<const sockaddr*>(&Address), sizeof Address) == 0)
        return TConnectStart::csConnected;
    Error = errno;
    // An interrupted connect goes on in the background, like one in progress.
    if (Error == EINPROGRESS || Error == EINTR) {
        Error = 0;
        return TConnectStart::csInProgress;
    }
    return TConnectStart::csFailed;
}

TWaitResult SocketWaitConnected(TSocketHandle Socket, int TimeoutMs, int& Error)
{
    return WaitFor(Socket, POLLOUT, TimeoutMs, Error);
}

TWaitResult SocketWaitWritable(TSocketHandle Socket, int TimeoutMs, int& Error)
{
    return WaitFor(Socket, POLLOUT, TimeoutMs, Error);
}

TWaitResult SocketWaitReadable(TSocketHandle Socket, int TimeoutMs, int& Error)
{
    return WaitFor(Socket, POLLIN, TimeoutMs, Error);
}

bool SocketPendingError(TSocketHandle Socket, int& PendingError, int& Error)
{
    Error = 0;
    int Value = 0;
    socklen_t Size = sizeof Value;
    if (getsockopt(ToFd(Socket), SOL_SOCKET, SO_ERROR, &Value, &Size) != 0) {
        Error = errno;
        return false;
    }
    PendingError = Value;
    return true;
}

std::ptrdiff_t SocketSend(TSocketHandle Socket, const std::uint8_t* Data, std::size_t Size,
                          int& Error)
{
    Error = 0;
    // MSG_NOSIGNAL: a peer that closed must give an error here, not end the process.
    const ssize_t Sent = send(ToFd(Socket), Data, Size, MSG_NOSIGNAL);
    if (Sent < 0)
        Error = errno;
    return Sent;
}

std::ptrdiff_t SocketReceive(TSocketHandle Socket, std::uint8_t* Data, std::size_t Size, int& Error)
{
    Error = 0;
    const ssize_t Count = recv(ToFd(Socket), Data, Size, 0);
    if (Count < 0)
        Error = errno;
    return Count;
}

void SocketClose(TSocketHandle Socket)
{
    if (Socket != NoSocket)
        close(ToFd(Socket)); // never retried on EINTR: the descriptor is gone either way on Linux
}

bool SocketErrorWouldBlock(int Error)
{
    return Error == EWOULDBLOCK || Error == EAGAIN || Error == EINTR;
}

bool SocketErrorRefused(int Error)
{
    return Error == ECONNREFUSED;
}

std::string SocketErrorText(int Error)
{
    return std::strerror(Error);
}

TSocketHandle SocketListen(std::uint32_t Ip, int Port, int Backlog, int& Error)
{
    const TSocketHandle Socket = SocketCreateTcp(Error);
    if (Socket == NoSocket)
        return NoSocket;
    const int On = 1;
    setsockopt(ToFd(Socket), SOL_SOCKET, SO_REUSEADDR, &On, sizeof On);
    const sockaddr_in Address = MakeAddress(Ip, Port);
    if (bind(ToFd(Socket), reinterpret_cast<const sockaddr*>(&Address), sizeof Address) != 0 ||
        listen(ToFd(Socket), Backlog) != 0) {
        Error = errno;
        SocketClose(Socket);
        return NoSocket;
    }
    return Socket;
}

TSocketHandle SocketAccept(TSocketHandle Listener, int TimeoutMs, int& Error)
{
    Error = 0;
    if (TimeoutMs >= 0) {
        const TWaitResult Wait = WaitFor(Listener, POLLIN, TimeoutMs, Error);
        if (Wait != TWaitResult::wrReady)
            return NoSocket;
    }
    int Fd = -1;
    do {
        Fd = accept4(ToFd(Listener), nullptr, nullptr, SOCK_CLOEXEC);
    } while (Fd < 0 && errno == EINTR);
    if (Fd < 0) {
        Error = errno;
        return NoSocket;
    }
    Fd = AwayFromZero(Fd, Error);
    if (Fd < 0)
        return NoSocket;
    return static_cast<TSocketHandle>(Fd);
}

void SocketShutdown(TSocketHandle Socket)
{
    if (Socket != NoSocket)
        shutdown(ToFd(Socket), SHUT_RDWR);
}

int SocketLocalPort(TSocketHandle Socket)
{
    sockaddr_in Address{};
    socklen_t Size = sizeof Address;
    if (getsockname(ToFd(Socket), reinterpret_cast<sockaddr*>(&Address), &Size) != 0)
        return 0;
    return ntohs(Address.sin_port);
}

} // namespace Plumeria
