#pragma once
// The thin TCP client through which the program talks to DIGI scales: an IPv4 connect bounded by
// a time-out, optionally from a given local address; a send that pushes a whole buffer; a
// receive that takes the first bytes of an answer; a probe; and the DIGI default port rule.
// Every connect attempt leaves one journal line "digi tcp ip=... port=... bind=... result=..."
// with a one-word result, also one that ends before a socket exists ("bad address" for a scale
// saved with a host name, "bad endpoint", "socket error N", "winsock off").
//
// Re-entrant: the interface thread, the scan workers and the probe thread call it at once.
// Nothing throws; every failure is a false result. A connect can be given a cancel check: the
// wait for the scale then ends within about a tenth of a second of the check answering true
// (result word "cancelled"), so a window that closes never waits for a time-out.

#include "platform/Sockets.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Plumeria {

/// 2000 + the last of four dot-separated parts when it reads as an integer from 1 to 254
/// (decimal, or hexadecimal after "$"/"0x"); 0 when the host does not qualify.
int DigiDefaultPort(std::string_view Host);

/// Reads a dotted IPv4 address: exactly four decimal parts of at most three digits, 0 to 255
/// each. Leading zeros are decimal (192.168.001.010 is 192.168.1.10), never octal, so the
/// address always agrees with the port that DigiDefaultPort reads from the same text.
bool ParseIpv4(std::string_view Text, std::uint32_t& Ip);
/// ParseIpv4 that also refuses 0.0.0.0 and 255.255.255.255: an address a connect can go to or be
/// bound to.
bool IsConnectableIpv4(std::string_view Text);

/// True when a connect still waiting for its scale should give up; called from the connecting
/// thread, a few times a second at most.
using TConnectCancel = std::function<bool()>;

/// Connects to Host:Port, from `BindIp` when it is not empty, waiting at most `TimeoutMs`, and
/// less when `Cancelled` (may be empty) answers true meanwhile. True with an open, non-blocking
/// socket in `Socket` when the scale accepted; false with `Socket` = NoSocket otherwise (no
/// socket is left open on failure). A bind that fails because no local adapter has `BindIp`
/// is journalled with "адаптер <BindIp> не найден" after the error number.
bool TcpConnect(std::string_view Host, std::string_view BindIp, int Port, int TimeoutMs,
                TSocketHandle& Socket, const TConnectCancel& Cancelled = {});
/// TcpConnect and, when it succeeds, an immediate close. Returns the connect's result.
bool TcpProbe(std::string_view Host, int Port, int TimeoutMs, std::string_view BindIp,
              const TConnectCancel& Cancelled = {});

/// Whether `Ip` is one of the machine's own addresses (loopback included), so a socket can be
/// bound to it.
bool IsLocalAddress(std::string_view Ip);
/// "адаптер <Ip> не найден": what a connect from an address that no adapter has any more says in
/// the journal.
std::string MissingAdapterText(std::string_view Ip);
/// Hands every byte to the network; `TimeoutMs` (at least 1) bounds each wait for room, not the
/// whole transfer. False on an error, a time-out, empty data or no socket.
bool TcpSendAll(TSocketHandle Socket, std::span<const std::uint8_t> Data, int TimeoutMs);
/// Waits at most `TimeoutMs` (at least 1) for data, then makes exactly one receive of up to
/// `MaxBytes`. True with 1..MaxBytes bytes; false (and no bytes) on time-out, error or when the
/// peer closed. Bytes beyond `MaxBytes` stay in the socket.
bool TcpReceive(TSocketHandle Socket, int MaxBytes, int TimeoutMs, std::vector<std::uint8_t>& Data);
/// Closes the socket unless it is NoSocket.
void TcpClose(TSocketHandle Socket);

/// Owns a connected socket and closes it when it goes out of scope, so that no path (an early
/// return or an exception) leaves a connection open.
class TTcpConnection
{
public:
    TTcpConnection() = default;
    explicit TTcpConnection(TSocketHandle Socket) : FSocket(Socket) {}
    ~TTcpConnection() { Close(); }
    TTcpConnection(const TTcpConnection&) = delete;
    TTcpConnection& operator=(const TTcpConnection&) = delete;

    TSocketHandle Get() const { return FSocket; }
    void Close()
    {
        TcpClose(FSocket);
        FSocket = NoSocket;
    }

private:
    TSocketHandle FSocket = NoSocket;
};

} // namespace Plumeria
