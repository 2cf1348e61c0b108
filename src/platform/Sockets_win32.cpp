#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601 // Windows 7: CancelIoEx, non-inheritable sockets
#endif
// Winsock 2 must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#ifndef WSA_FLAG_NO_HANDLE_INHERIT
#define WSA_FLAG_NO_HANDLE_INHERIT 0x80 // older SDK headers lack the name; Windows 7 SP1 knows it
#endif

#include "platform/Sockets.h"
#include "platform/win32/WinText.h"

#include <climits>

namespace Plumeria {

namespace {

/// Winsock is started once, on first use, and shut down when the process ends.
class TWinsock
{
public:
    TWinsock()
    {
        WSADATA Data{};
        FReady = WSAStartup(MAKEWORD(2, 2), &Data) == 0;
        if (FReady && (LOBYTE(Data.wVersion) != 2 || HIBYTE(Data.wVersion) != 2)) {
            WSACleanup();
            FReady = false;
        }
    }
    ~TWinsock()
    {
        if (FReady)
            WSACleanup();
    }
    TWinsock(const TWinsock&) = delete;
    TWinsock& operator=(const TWinsock&) = delete;

    bool Ready() const { return FReady; }

private:
    bool FReady = false;
};

const TWinsock& Winsock()
{
    static const TWinsock Instance;
    return Instance;
}

SOCKET ToSocket(TSocketHandle Socket)
{
    return static_cast<SOCKET>(Socket);
}

sockaddr_in MakeAddress(std::uint32_t Ip, int Port)
{
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(Ip);
    Address.sin_port = htons(static_cast<u_short>(Port));
    return Address;
}

timeval MakeTimeval(int TimeoutMs)
{
    if (TimeoutMs < 0)
        TimeoutMs = 0;
    timeval Tv{};
    Tv.tv_sec = TimeoutMs / 1000;
    Tv.tv_usec = (TimeoutMs % 1000) * 1000;
    return Tv;
}

/// One select over the socket. `Read`, `Write` and `Except` choose the sets watched.
TWaitResult Select(TSocketHandle Socket, bool Read, bool Write, bool Except, int TimeoutMs,
                   int& Error)
{
    Error = 0;
    fd_set ReadSet, WriteSet, ExceptSet;
    FD_ZERO(&ReadSet);
    FD_ZERO(&WriteSet);
    FD_ZERO(&ExceptSet);
    if (Read)
        FD_SET(ToSocket(Socket), &ReadSet);
    if (Write)
        FD_SET(ToSocket(Socket), &WriteSet);
    if (Except)
        FD_SET(ToSocket(Socket), &ExceptSet);
    timeval Tv = MakeTimeval(TimeoutMs);
    const int Count = select(0, Read ? &ReadSet : nullptr, Write ? &WriteSet : nullptr,
                             Except ? &ExceptSet : nullptr, &Tv);
    if (Count == SOCKET_ERROR) {
        Error = WSAGetLastError();
        return TWaitResult::wrFailed;
    }
    return Count > 0 ? TWaitResult::wrReady : TWaitResult::wrTimeout;
}

SOCKET NewSocket(int& Error)
{
    // Not inherited by processes we start (the updater starts the new executable).
    SOCKET S = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (S == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
        // Systems before Windows 7 SP1 do not know the flag: clear the inherit bit afterwards.
        S = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (S != INVALID_SOCKET)
            SetHandleInformation(reinterpret_cast<HANDLE>(S), HANDLE_FLAG_INHERIT, 0);
    }
    if (S == INVALID_SOCKET)
        Error = WSAGetLastError();
    return S;
}

} // namespace

bool SocketLibraryReady()
{
    return Winsock().Ready();
}

TSocketHandle SocketCreateTcp(int& Error)
{
    Error = 0;
    if (!SocketLibraryReady()) {
        Error = WSANOTINITIALISED;
        return NoSocket;
    }
    const SOCKET S = NewSocket(Error);
    if (S == INVALID_SOCKET)
        return NoSocket;
    return static_cast<TSocketHandle>(S);
}

bool SocketSetNonBlocking(TSocketHandle Socket, int& Error)
{
    Error = 0;
    u_long On = 1;
    if (ioctlsocket(ToSocket(Socket), FIONBIO, &On) != 0) {
        Error = WSAGetLastError();
        return false;
    }
    return true;
}

bool SocketSetNoDelay(TSocketHandle Socket, int& Error)
{
    Error = 0;
    const BOOL On = TRUE;
    if (setsockopt(ToSocket(Socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&On),
                   sizeof On) != 0) {
        Error = WSAGetLastError();
        return false;
    }
    return true;
}

bool SocketBind(TSocketHandle Socket, std::uint32_t LocalIp, int& Error)
{
    Error = 0;
    const sockaddr_in Address = MakeAddress(LocalIp, 0);
    if (bind(ToSocket(Socket), reinterpret_cast<const sockaddr*>(&Address), sizeof Address) != 0) {
        Error = WSAGetLastError();
        return false;
    }
    return true;
}

TConnectStart SocketConnectStart(TSocketHandle Socket, std::uint32_t Ip, int Port, int& Error)
{
    Error = 0;
    const sockaddr_in Address = MakeAddress(Ip, Port);
    if (connect(ToSocket(Socket), reinterpret_cast<const sockaddr*>(&Address), sizeof Address) == 0)
        return TConnectStart::csConnected;
    Error = WSAGetLastError();
    if (Error == WSAEWOULDBLOCK) {
        Error = 0;
        return TConnectStart::csInProgress;
    }
    return TConnectStart::csFailed;
}

TWaitResult SocketWaitConnected(TSocketHandle Socket, int TimeoutMs, int& Error)
{
    // Winsock reports a failed non-blocking connect in the exception set only; watching the
    // write set alone would turn every refusal into a time-out.
    return Select(Socket, false, true, true, TimeoutMs, Error);
}

TWaitResult SocketWaitWritable(TSocketHandle Socket, int TimeoutMs, int& Error)
{
    return Select(Socket, false, true, false, TimeoutMs, Error);
}

TWaitResult SocketWaitReadable(TSocketHandle Socket, int TimeoutMs, int& Error)
{
    return Select(Socket, true, false, false, TimeoutMs, Error);
}

bool SocketPendingError(TSocketHandle Socket, int& PendingError, int& Error)
{
    Error = 0;
    int Value = 0;
    int Size = sizeof Value;
    if (getsockopt(ToSocket(Socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&Value),
                   &Size) != 0) {
        Error = WSAGetLastError();
        return false;
    }
    PendingError = Value;
    return true;
}

std::ptrdiff_t SocketSend(TSocketHandle Socket, const std::uint8_t* Data, std::size_t Size,
                          int& Error)
{
    Error = 0;
    const int Chunk = Size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(Size);
    const int Sent = send(ToSocket(Socket), reinterpret_cast<const char*>(Data), Chunk, 0);
    if (Sent == SOCKET_ERROR) {
        Error = WSAGetLastError();
        return -1;
    }
    return Sent;
}

std::ptrdiff_t SocketReceive(TSocketHandle Socket, std::uint8_t* Data, std::size_t Size, int& Error)
{
    Error = 0;
    const int Chunk = Size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(Size);
    const int Count = recv(ToSocket(Socket), reinterpret_cast<char*>(Data), Chunk, 0);
    if (Count == SOCKET_ERROR) {
        Error = WSAGetLastError();
        return -1;
    }
    return Count;
}

void SocketClose(TSocketHandle Socket)
{
    if (Socket != NoSocket)
        closesocket(ToSocket(Socket));
}

bool SocketErrorWouldBlock(int Error)
{
    return Error == WSAEWOULDBLOCK || Error == WSAEINTR;
}

bool SocketErrorRefused(int Error)
{
    return Error == WSAECONNREFUSED;
}

std::string SocketErrorText(int Error)
{
    // The shared lookup: English where the system has it, else the system's own language (a
    // Russian-only Windows has no English texts), else the number.
    return Win32::SystemMessage(static_cast<DWORD>(Error), nullptr, "socket error");
}

TSocketHandle SocketListen(std::uint32_t Ip, int Port, int Backlog, int& Error)
{
    const TSocketHandle Socket = SocketCreateTcp(Error);
    if (Socket == NoSocket)
        return NoSocket;
    // Exclusive use: SO_REUSEADDR on Windows would let another program take over the port.
    const BOOL On = TRUE;
    setsockopt(ToSocket(Socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&On), sizeof On);
    const sockaddr_in Address = MakeAddress(Ip, Port);
    if (bind(ToSocket(Socket), reinterpret_cast<const sockaddr*>(&Address), sizeof Address) != 0 ||
        listen(ToSocket(Socket), Backlog) != 0) {
        Error = WSAGetLastError();
        SocketClose(Socket);
        return NoSocket;
    }
    return Socket;
}

TSocketHandle SocketAccept(TSocketHandle Listener, int TimeoutMs, int& Error)
{
    Error = 0;
    if (TimeoutMs >= 0) {
        if (Select(Listener, true, false, false, TimeoutMs, Error) != TWaitResult::wrReady)
            return NoSocket;
    }
    // The accepted socket takes over the listener's properties: blocking, not inheritable.
    const SOCKET S = accept(ToSocket(Listener), nullptr, nullptr);
    if (S == INVALID_SOCKET) {
        Error = WSAGetLastError();
        return NoSocket;
    }
    return static_cast<TSocketHandle>(S);
}

void SocketShutdown(TSocketHandle Socket)
{
    if (Socket == NoSocket)
        return;
    shutdown(ToSocket(Socket), SD_BOTH);
    // A blocking recv in another thread is not always woken by shutdown alone; cancelling the
    // socket's pending I/O (it was created overlapped) makes it return.
    CancelIoEx(reinterpret_cast<HANDLE>(ToSocket(Socket)), nullptr);
}

int SocketLocalPort(TSocketHandle Socket)
{
    sockaddr_in Address{};
    int Size = sizeof Address;
    if (getsockname(ToSocket(Socket), reinterpret_cast<sockaddr*>(&Address), &Size) != 0)
        return 0;
    return ntohs(Address.sin_port);
}

} // namespace Plumeria
