#pragma once
// The machine's own IPv4 addresses and three uses of them: the list of usable adapters (the
// adapter choice in the settings), the local address to send from when talking to a scale, and
// the scan of an adapter's /24 network for DIGI scales (a connect probe to 2000 + n on every
// other host n, 24 probes at a time).

#include "core/Types/Poster.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Plumeria {

/// One usable local address; an adapter with several addresses gives one entry per address.
struct TNetAdapter
{
    std::string Ip;      ///< dotted IPv4
    std::string Caption; ///< the adapter's description (its interface name on Linux)

    friend bool operator==(const TNetAdapter&, const TNetAdapter&) = default;
};

/// One scale found by a scan: the host and the port that answered.
struct TDigiHit
{
    std::string Host;
    std::int32_t Port = 0;

    friend bool operator==(const TDigiHit&, const TDigiHit&) = default;
};

using TDigiHitProc = std::function<void(const TDigiHit& Hit)>;
/// Hosts checked so far, hosts in the scan, scales found so far.
using TDigiProgressProc =
    std::function<void(std::int32_t Checked, std::int32_t Total, std::int32_t Found)>;
/// True when the scan should stop.
using TDigiCancelProc = std::function<bool()>;

/// The usable local addresses, in the platform's adapter order and, within an adapter, address
/// order. Built afresh on every call; empty when the platform call fails.
std::vector<TNetAdapter> ListAdapters();

/// False for "", "0.0.0.0", and anything that begins with "127." or "169.254."; true otherwise.
bool IsUsableAdapterIp(std::string_view Ip);

/// Where a window takes the local adapters from: ListAdapters, or a test's own list.
using TAdapterSource = std::function<std::vector<TNetAdapter>()>;

/// The adapter the system would send from when none is configured: the first usable one in the
/// platform's order (ListAdapters already leaves out loopback and link-local addresses); none
/// when the list is empty.
std::optional<TNetAdapter> SystemChosenAdapter(const std::vector<TNetAdapter>& Adapters);

/// The local address to bind to when talking to `Host`: `LocalIp` trimmed when that is not
/// empty (not checked against the adapters); else the first adapter on the host's /24 network;
/// else "" (the platform picks the route).
std::string ChooseBindAddress(std::string_view Host, std::string_view LocalIp);
/// The same rule over a given adapter list.
std::string ChooseBindAddress(std::string_view Host, std::string_view LocalIp,
                              const std::vector<TNetAdapter>& Adapters);

/// The hosts of the adapter's /24 network in ascending order, 1 to 254 without the adapter's own
/// number; empty unless the address has four dot-separated parts and the fourth reads as an
/// integer. The subnet mask is not consulted.
std::vector<std::string> SubnetHosts(std::string_view AdapterIp);

/// Probes every host of SubnetHosts(AdapterIp) on its DIGI default port from `AdapterIp`, 24
/// probes at a time, each bounded by `TimeoutMs`. Blocks until the scan is over, so callers run
/// it on a thread of their own. `OnHit`, `OnProgress` and `IsCancelled` may be empty; they are
/// called concurrently on the worker threads, never on the caller's thread. Progress comes at
/// every 16th host checked and at the last; reports may arrive out of order. Once `IsCancelled`
/// answers true, every worker finishes its probe and takes no further host. When fewer workers
/// can be started, those that did probe every host. Throws std::system_error when not one worker
/// could start, and the first exception a worker met (a callback that threw) once every worker
/// has ended.
void ScanDigiSubnet(const std::string& AdapterIp, std::int32_t TimeoutMs, TDigiHitProc OnHit,
                    TDigiProgressProc OnProgress, TDigiCancelProc IsCancelled);

/// Callbacks for a scan whose results belong to the interface thread: each hit and progress
/// report is queued through `Poster` (a copy of its values) and `OnHit`/`OnProgress` then run
/// where the poster runs its calls. The workers never wait for them.
TDigiHitProc PostedHitProc(TPoster Poster, TDigiHitProc OnHit);
TDigiProgressProc PostedProgressProc(TPoster Poster, TDigiProgressProc OnProgress);

/// Number of probe workers of a scan.
inline constexpr int DigiScanWorkers = 24;

} // namespace Plumeria
