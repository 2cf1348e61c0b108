#include "core/DigiSearch/SubnetScan.h"

#include "core/DigiSearch/TcpTransport.h"
#include "core/Text/Text.h"
#include "core/Types/Threads.h"
#include "platform/Adapters.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace Plumeria {

namespace {

/// The first three parts, each followed by "." ("192.168.7." for 192.168.7.20).
std::string NetworkPrefix(const std::vector<std::string_view>& Parts)
{
    std::string Prefix;
    for (std::size_t I = 0; I < 3; ++I) {
        Prefix.append(Parts[I]);
        Prefix.push_back('.');
    }
    return Prefix;
}

/// The hosts still to probe; each is handed out exactly once.
class THostQueue
{
public:
    explicit THostQueue(const std::vector<std::string>& Hosts) : FHosts(Hosts) {}

    /// The next host, or "" when none is left.
    std::string NextHost()
    {
        std::lock_guard Guard(FLock);
        if (FIndex < FHosts.size())
            return FHosts[FIndex++];
        return {};
    }

private:
    const std::vector<std::string>& FHosts;
    std::size_t FIndex = 0;
    std::mutex FLock;
};

/// Shared by all workers of one scan; lives until ScanDigiSubnet returns.
struct TScanState
{
    std::vector<std::string> Hosts;
    TDigiProgressProc OnProgress;
    std::atomic<std::int64_t> Checked{0};
    TDigiHitProc OnHit;
    std::atomic<std::int64_t> Found{0};
    std::string AdapterIp;
    std::int32_t TimeoutMs = 0;
    THostQueue Queue{Hosts};
    TDigiCancelProc IsCancelled;
    // The first exception a worker met (a callback that threw, no memory); the others stop
    // before their next host and the scan hands it to its caller once all have ended.
    std::atomic<bool> Failed{false};
    std::mutex FailureLock;
    std::exception_ptr Failure;
};

void ScanWorker(TScanState& State)
{
    const auto Total = static_cast<std::int64_t>(State.Hosts.size());
    for (;;) {
        if (State.Failed.load() || (State.IsCancelled && State.IsCancelled()))
            return;
        const std::string Host = State.Queue.NextHost();
        if (Host.empty())
            return;
        const int Port = DigiDefaultPort(Host);
        std::int64_t FoundNow = 0;
        if (Port > 0 && TcpProbe(Host, Port, State.TimeoutMs, State.AdapterIp, State.IsCancelled)) {
            FoundNow = ++State.Found;
            if (State.OnHit)
                State.OnHit(TDigiHit{Host, Port});
        } else {
            FoundNow = State.Found.load();
        }
        const std::int64_t CheckedNow = ++State.Checked;
        if (State.OnProgress && (CheckedNow == Total || CheckedNow % 16 == 0))
            State.OnProgress(static_cast<std::int32_t>(CheckedNow),
                             static_cast<std::int32_t>(Total), static_cast<std::int32_t>(FoundNow));
    }
}

/// A worker's whole life: whatever it throws is kept for the caller instead of ending the
/// process.
void Work(TScanState& State)
{
    try {
        ScanWorker(State);
    } catch (...) {
        std::lock_guard Guard(State.FailureLock);
        if (!State.Failure)
            State.Failure = std::current_exception();
        State.Failed.store(true);
    }
}

} // namespace

std::vector<TNetAdapter> ListAdapters()
{
    std::vector<TNetAdapter> Result;
    for (auto& Address : PlatformAdapterAddresses())
        if (IsUsableAdapterIp(Address.Ip))
            Result.push_back({std::move(Address.Ip), std::move(Address.Caption)});
    return Result;
}

bool IsUsableAdapterIp(std::string_view Ip)
{
    return !Ip.empty() && Ip != "0.0.0.0" && !Ip.starts_with("127.") && !Ip.starts_with("169.254.");
}

std::optional<TNetAdapter> SystemChosenAdapter(const std::vector<TNetAdapter>& Adapters)
{
    if (Adapters.empty())
        return std::nullopt;
    return Adapters.front();
}

std::string ChooseBindAddress(std::string_view Host, std::string_view LocalIp,
                              const std::vector<TNetAdapter>& Adapters)
{
    const std::string_view Configured = TrimView(LocalIp);
    if (!Configured.empty())
        return std::string(Configured);
    const auto Parts = SplitText(Host, '.');
    if (Parts.size() != 4)
        return {};
    const std::string Prefix = NetworkPrefix(Parts);
    for (const TNetAdapter& Adapter : Adapters)
        if (Adapter.Ip.starts_with(Prefix))
            return Adapter.Ip;
    return {};
}

std::string ChooseBindAddress(std::string_view Host, std::string_view LocalIp)
{
    if (!TrimView(LocalIp).empty())
        return std::string(TrimView(LocalIp)); // no need to ask the platform
    return ChooseBindAddress(Host, LocalIp, ListAdapters());
}

std::vector<std::string> SubnetHosts(std::string_view AdapterIp)
{
    std::vector<std::string> Hosts;
    const auto Parts = SplitText(AdapterIp, '.');
    std::int32_t Own = 0;
    if (Parts.size() != 4 || !TryParseInt32(Parts[3], Own))
        return Hosts;
    const std::string Prefix = NetworkPrefix(Parts);
    Hosts.reserve(254);
    for (int N = 1; N <= 254; ++N)
        if (N != Own)
            Hosts.push_back(Prefix + std::to_string(N));
    return Hosts;
}

void ScanDigiSubnet(const std::string& AdapterIp, std::int32_t TimeoutMs, TDigiHitProc OnHit,
                    TDigiProgressProc OnProgress, TDigiCancelProc IsCancelled)
{
    TScanState State;
    State.Hosts = SubnetHosts(AdapterIp);
    if (State.Hosts.empty())
        return;
    State.OnProgress = std::move(OnProgress);
    State.OnHit = std::move(OnHit);
    State.AdapterIp = AdapterIp;
    State.TimeoutMs = TimeoutMs;
    State.IsCancelled = std::move(IsCancelled);

    std::vector<std::thread> Workers(DigiScanWorkers);
    int Started = 0;
    // Fewer workers still probe every host, only more slowly.
    while (Started < DigiScanWorkers &&
           TryStartThread(Workers[static_cast<std::size_t>(Started)], [&State] { Work(State); }))
        ++Started;
    for (std::thread& Worker : Workers)
        if (Worker.joinable())
            Worker.join();
    if (Started == 0)
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "cannot start a scan worker");
    if (State.Failure)
        std::rethrow_exception(State.Failure);
}

TDigiHitProc PostedHitProc(TPoster Poster, TDigiHitProc OnHit)
{
    if (!Poster || !OnHit)
        return {};
    return [Poster = std::move(Poster), OnHit = std::move(OnHit)](const TDigiHit& Hit) {
        Poster([OnHit, Hit] { OnHit(Hit); });
    };
}

TDigiProgressProc PostedProgressProc(TPoster Poster, TDigiProgressProc OnProgress)
{
    if (!Poster || !OnProgress)
        return {};
    return [Poster = std::move(Poster), OnProgress = std::move(OnProgress)](
               std::int32_t Checked, std::int32_t Total, std::int32_t Found) {
        Poster([OnProgress, Checked, Total, Found] { OnProgress(Checked, Total, Found); });
    };
}

} // namespace Plumeria
