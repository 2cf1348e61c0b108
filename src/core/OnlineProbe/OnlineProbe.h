#pragma once
// The on-line probe of the scales window: one connect attempt per configured scale, one after
// another, on a worker thread that works on its own snapshot of the scales. A probe belongs to a
// generation; it stops as soon as it is cancelled or a newer generation is asked for (the
// attempt in progress included, without waiting for its time-out), and the interface thread
// applies a result only while it still describes the current list.
//
// A module of its own above the transport (DigiSearch), the DIGI driver and the settings: it
// uses all three, and none of them knows it.

#include "core/Settings/Settings.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Plumeria {

/// What one probe run works on; taken on the interface thread, owned by the worker.
struct TProbeSnapshot
{
    std::int32_t Gen = 0;
    std::string Adapter;               ///< the configured adapter address, may be empty
    std::int32_t TimeoutMs = 500;      ///< already clamped
    std::vector<TScaleConfig> Targets; ///< the rows, DIGI ports filled in (ProbePort)
};

/// Builds the snapshot of `Rows` for generation `Gen` (no settings: no adapter, 500 ms).
TProbeSnapshot MakeProbeSnapshot(std::int32_t Gen, const std::vector<TScaleConfig>& Rows,
                                 const TLoaderSettings* Settings);

/// One target's result, reported with the generation it was probed in and the host it probed.
using TProbeResultProc =
    std::function<void(std::int32_t Gen, int Index, bool Up, const std::string& SeenHost)>;

/// Probes the targets in order while `Cancel` is clear and `CurrentGen` still equals the
/// snapshot's generation; either change also ends the attempt in progress early (reported down).
/// A target with an empty (trimmed) host or a port outside 1..65535 is reported down without an
/// attempt. Runs on the calling thread.
void RunOnlineProbe(const TProbeSnapshot& Snapshot, const std::atomic<bool>& Cancel,
                    const std::atomic<std::int32_t>& CurrentGen, const TProbeResultProc& OnResult);

/// Whether a result still belongs to the list: same generation, a row at `Index`, and that row's
/// host exactly the host probed.
bool ProbeResultApplies(std::int32_t Gen, std::int32_t CurrentGen, int Index,
                        const std::vector<TScaleConfig>& Rows, const std::string& SeenHost);

} // namespace Plumeria
