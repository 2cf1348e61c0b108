#include "core/OnlineProbe/OnlineProbe.h"

#include "core/Digi/Digi.h"
#include "core/DigiSearch/SubnetScan.h"
#include "core/DigiSearch/TcpTransport.h"
#include "core/Settings/ScaleEntry.h"
#include "core/Text/Text.h"

namespace Plumeria {

TProbeSnapshot MakeProbeSnapshot(std::int32_t Gen, const std::vector<TScaleConfig>& Rows,
                                 const TLoaderSettings* Settings)
{
    TProbeSnapshot Snapshot;
    Snapshot.Gen = Gen;
    Snapshot.Adapter = Settings ? Settings->AdapterIp : std::string();
    Snapshot.TimeoutMs = ClampDigiTimeout(Settings ? Settings->ConnectTimeoutMs : 500);
    Snapshot.Targets = Rows;
    for (TScaleConfig& Target : Snapshot.Targets)
        Target.Port = ProbePort(Target);
    return Snapshot;
}

void RunOnlineProbe(const TProbeSnapshot& Snapshot, const std::atomic<bool>& Cancel,
                    const std::atomic<std::int32_t>& CurrentGen, const TProbeResultProc& OnResult)
{
    for (std::size_t I = 0; I < Snapshot.Targets.size(); ++I) {
        if (Cancel.load() || CurrentGen.load() != Snapshot.Gen)
            return;
        const TScaleConfig& Target = Snapshot.Targets[I];
        bool Up = false;
        if (!TrimView(Target.Host).empty() && Target.Port >= 1 && Target.Port <= 65535) {
            const std::string Bind = ChooseBindAddress(Target.Host, Snapshot.Adapter);
            // A closing window or a newer generation cuts the attempt short: its result would
            // be dropped anyway.
            Up = TcpProbe(Target.Host, Target.Port, Snapshot.TimeoutMs, Bind,
                          [&] { return Cancel.load() || CurrentGen.load() != Snapshot.Gen; });
        }
        if (OnResult)
            OnResult(Snapshot.Gen, static_cast<int>(I), Up, Target.Host);
    }
}

bool ProbeResultApplies(std::int32_t Gen, std::int32_t CurrentGen, int Index,
                        const std::vector<TScaleConfig>& Rows, const std::string& SeenHost)
{
    return Gen == CurrentGen && Index >= 0 && static_cast<std::size_t>(Index) < Rows.size() &&
           Rows[static_cast<std::size_t>(Index)].Host == SeenHost;
}

} // namespace Plumeria
