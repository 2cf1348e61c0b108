#include "core/DigiSearch/TcpTransport.h"

#include "core/Journal/Journal.h"
#include "core/Text/Text.h"
#include "platform/Adapters.h"

#include <algorithm>
#include <chrono>

namespace Plumeria {

namespace {

constexpr std::uint32_t AddressNone = 0xFFFFFFFFu;
/// A cancellable connect first waits this long without asking (a scale that answers at all
/// mostly answers by then), then looks at its cancel check this often.
constexpr int FirstSliceMs = 100;
constexpr int CancelSliceMs = 25;

/// Waits for the connect to complete, at most `TimeoutMs`; with a cancel check the wait is cut
/// into short slices and ends early ("cancelled") once the check answers true.
std::string WaitConnected(TSocketHandle Socket, int TimeoutMs, const TConnectCancel& Cancelled)
{
    int Error = 0;
    if (!Cancelled)
        return SocketWaitConnected(Socket, TimeoutMs, Error) == TWaitResult::wrReady ? ""
                                                                                     : "timeout";
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    for (bool First = true;; First = false) {
        if (!First && Cancelled())
            return "cancelled";
        const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              Deadline - std::chrono::steady_clock::now())
                              .count();
        if (Left <= 0)
            return "timeout";
        const int Slice =
            static_cast<int>(std::min<long long>(Left, First ? FirstSliceMs : CancelSliceMs));
        switch (SocketWaitConnected(Socket, Slice, Error)) {
        case TWaitResult::wrReady:
            return "";
        case TWaitResult::wrFailed:
            return "timeout";
        case TWaitResult::wrTimeout:
            break;
        }
    }
}

/// "bind error N", and which adapter is missing when the address belongs to none of them.
std::string BindErrorWord(std::string_view BindIp, int Error)
{
    std::string Word = "bind error " + std::to_string(Error);
    if (!IsLocalAddress(BindIp))
        Word += " (" + MissingAdapterText(BindIp) + ")";
    return Word;
}

/// The steps after the socket exists: non-blocking mode, bind, connect and the wait for it.
/// Returns the result word.
std::string ConnectSocket(TSocketHandle Socket, std::uint32_t Ip, std::string_view BindIp, int Port,
                          int TimeoutMs, const TConnectCancel& Cancelled)
{
    int Error = 0;
    if (!SocketSetNonBlocking(Socket, Error))
        return "ioctlsocket error " + std::to_string(Error);
    if (!BindIp.empty()) {
        std::uint32_t Local = 0;
        if (!IsConnectableIpv4(BindIp) || !ParseIpv4(BindIp, Local))
            return "bad bind address";
        if (!SocketBind(Socket, Local, Error))
            return BindErrorWord(BindIp, Error);
    }
    switch (SocketConnectStart(Socket, Ip, Port, Error)) {
    case TConnectStart::csConnected:
        return "accept";
    case TConnectStart::csFailed:
        return "connect error " + std::to_string(Error);
    case TConnectStart::csInProgress:
        break;
    }
    if (std::string Word = WaitConnected(Socket, TimeoutMs, Cancelled); !Word.empty())
        return Word;
    int Pending = 0;
    if (!SocketPendingError(Socket, Pending, Error))
        return "getsockopt error " + std::to_string(Error);
    if (Pending == 0)
        return "accept";
    if (SocketErrorRefused(Pending))
        return "refused";
    return "error " + std::to_string(Pending);
}

/// The whole attempt up to its result word; the caller journals and cleans up. Leaves the
/// socket in `Socket` (NoSocket when none was created).
std::string ConnectAttempt(std::string_view Host, std::string_view BindIp, int Port, int TimeoutMs,
                           TSocketHandle& Socket, const TConnectCancel& Cancelled)
{
    Socket = NoSocket;
    if (!SocketLibraryReady())
        return "winsock off";
    if (Port < 1 || Port > 65535 || TimeoutMs < 1)
        return "bad endpoint";
    std::uint32_t Ip = 0;
    if (!IsConnectableIpv4(Host) || !ParseIpv4(Host, Ip))
        return "bad address";
    int Error = 0;
    Socket = SocketCreateTcp(Error);
    if (Socket == NoSocket)
        return "socket error " + std::to_string(Error);
    return ConnectSocket(Socket, Ip, BindIp, Port, TimeoutMs, Cancelled);
}

} // namespace

int DigiDefaultPort(std::string_view Host)
{
    const auto Parts = SplitText(Host, '.');
    if (Parts.size() != 4)
        return 0;
    std::int32_t Last = 0;
    if (!TryParseInt32(Parts[3], Last) || Last < 1 || Last > 254)
        return 0;
    return 2000 + Last;
}

bool ParseIpv4(std::string_view Text, std::uint32_t& Ip)
{
    const auto Parts = SplitText(Text, '.');
    if (Parts.size() != 4)
        return false;
    std::uint32_t Value = 0;
    for (const std::string_view Part : Parts) {
        if (Part.empty() || Part.size() > 3)
            return false;
        unsigned Octet = 0;
        for (const char C : Part) {
            if (C < '0' || C > '9')
                return false;
            Octet = Octet * 10 + static_cast<unsigned>(C - '0');
        }
        if (Octet > 255)
            return false;
        Value = (Value << 8) | Octet;
    }
    Ip = Value;
    return true;
}

bool IsConnectableIpv4(std::string_view Text)
{
    std::uint32_t Ip = 0;
    return ParseIpv4(Text, Ip) && Ip != 0 && Ip != AddressNone;
}

bool IsLocalAddress(std::string_view Ip)
{
    const std::vector<TPlatformAdapterAddress> Own = PlatformAdapterAddresses();
    return std::any_of(Own.begin(), Own.end(),
                       [Ip](const TPlatformAdapterAddress& Address) { return Address.Ip == Ip; });
}

std::string MissingAdapterText(std::string_view Ip)
{
    return "адаптер " + std::string(Ip) + " не найден";
}

bool TcpConnect(std::string_view Host, std::string_view BindIp, int Port, int TimeoutMs,
                TSocketHandle& Socket, const TConnectCancel& Cancelled)
{
    TSocketHandle Attempt = NoSocket;
    const std::string Word = ConnectAttempt(Host, BindIp, Port, TimeoutMs, Attempt, Cancelled);
    const bool Connected = Word == "accept";
    if (Connected) {
        // Each frame waits for its acknowledgement before the next: coalescing small writes
        // would only add delay. A failure here costs speed, not correctness.
        int Ignored = 0;
        SocketSetNoDelay(Attempt, Ignored);
        Socket = Attempt;
    } else {
        TcpClose(Attempt);
        Socket = NoSocket;
    }
    // The reasons that end an attempt before it reaches the network are journaled too: they are
    // the only trace of a scale saved with a host name or a wrong port.
    LogInfo("digi tcp ip=" + std::string(Host) + " port=" + std::to_string(Port) + " bind=" +
            (BindIp.empty() ? std::string("-") : std::string(BindIp)) + " result=" + Word);
    return Connected;
}

bool TcpProbe(std::string_view Host, int Port, int TimeoutMs, std::string_view BindIp,
              const TConnectCancel& Cancelled)
{
    TSocketHandle Socket = NoSocket;
    if (!TcpConnect(Host, BindIp, Port, TimeoutMs, Socket, Cancelled))
        return false;
    TcpClose(Socket);
    return true;
}

bool TcpSendAll(TSocketHandle Socket, std::span<const std::uint8_t> Data, int TimeoutMs)
{
    if (Socket == NoSocket || Data.empty())
        return false;
    if (TimeoutMs < 1)
        TimeoutMs = 1;
    std::size_t Done = 0;
    while (Done < Data.size()) {
        int Error = 0;
        const std::ptrdiff_t Sent =
            SocketSend(Socket, Data.data() + Done, Data.size() - Done, Error);
        if (Sent > 0) {
            Done += static_cast<std::size_t>(Sent);
            continue;
        }
        if (Sent == 0 || !SocketErrorWouldBlock(Error))
            return false;
        if (SocketWaitWritable(Socket, TimeoutMs, Error) != TWaitResult::wrReady)
            return false;
    }
    return true;
}

bool TcpReceive(TSocketHandle Socket, int MaxBytes, int TimeoutMs, std::vector<std::uint8_t>& Data)
{
    Data.clear();
    if (Socket == NoSocket || MaxBytes < 1)
        return false;
    if (TimeoutMs < 1)
        TimeoutMs = 1;
    int Error = 0;
    if (SocketWaitReadable(Socket, TimeoutMs, Error) != TWaitResult::wrReady)
        return false;
    Data.resize(static_cast<std::size_t>(MaxBytes));
    const std::ptrdiff_t Count = SocketReceive(Socket, Data.data(), Data.size(), Error);
    if (Count <= 0) {
        Data.clear();
        return false;
    }
    Data.resize(static_cast<std::size_t>(Count));
    return true;
}

void TcpClose(TSocketHandle Socket)
{
    if (Socket != NoSocket)
        SocketClose(Socket);
}

} // namespace Plumeria
