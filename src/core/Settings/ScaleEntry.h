#pragma once
// The rules of entering scales by hand: reading the fields of the DIGI scale dialog into a
// scale record, the port the dialog fills in by itself, the one-line text of a collected scale,
// host comparison for duplicates, and the port an on-line probe uses. The windows only show the
// fields and the outcome.

#include "core/Settings/Settings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Plumeria {

/// The fields of the DIGI scale dialog as typed.
struct TScaleEntryFields
{
    std::string Host;
    std::string Port;
    std::string Model;
    bool CodePage866 = false;
    bool Enabled = true;
    std::string Name;
    std::string Mask;
};

enum class TScaleEntryError : std::uint8_t
{
    seNone,
    seNoHost,       ///< the trimmed host is empty
    sePortRange,    ///< the port (typed, or derived from the host) is outside 1..65535
    seMaskWithPath, ///< the mask names a folder or a drive
};

/// The trimmed mask, or "*" when that is empty.
std::string EntryMask(std::string_view MaskText);
/// True when the mask has none of "\", "/" and ":" (it is a file name, not a path).
bool IsPlainMask(std::string_view Mask);

/// Reads the fields into a DIGI scale record: trimmed host; port as an integer (0 when it is not
/// one), 0 becoming the host's DIGI default port; trimmed model; code page 866 or 1251; the name
/// trimmed and cut to 80 characters; EntryMask. The first rule broken is returned and `Config`
/// is then left unspecified.
TScaleEntryError ReadScaleEntry(const TScaleEntryFields& Fields, TScaleConfig& Config);

/// The port the dialog fills in after the host changed, or nothing when the port stays. It fills
/// in when the host has a DIGI default port and the port text is empty, not a number, 0, 2000 or
/// the port it filled in itself last time (`LastAutoPort`, -1 for none).
std::optional<std::int32_t> AutoPortFor(std::string_view HostText, std::string_view PortText,
                                        std::int32_t LastAutoPort);

/// "name   host:port   mask" (the name and its three spaces only when the trimmed name is not
/// empty; the mask trimmed, "*" when blank).
std::string ScaleHitText(const TScaleConfig& Config);

/// Index of the first record whose host equals `Host` ignoring ASCII letter case, or -1.
int FindHost(const std::vector<TScaleConfig>& Records, std::string_view Host);
/// Index of the first DIGI scale whose host equals `Host` ignoring ASCII letter case, or -1.
int FindDigiHost(const std::vector<TScaleConfig>& Scales, std::string_view Host);

/// The port an on-line probe connects to: a DIGI scale with a port of 0 or below uses its host's
/// default port (which is 0, "no attempt", for a host that has none); others keep their port.
std::int32_t ProbePort(const TScaleConfig& Config);

} // namespace Plumeria
