#pragma once
// The rules of the general settings dialog that do not depend on a window: reading the typed
// connect time-out, the text of an adapter in the adapter list and the address an item stands
// for, and which item shows the configured adapter.

#include "core/DigiSearch/SubnetScan.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Plumeria {

/// The trimmed text as an integer within 100..3000; anything else (not a number, out of range,
/// empty) gives 500.
std::int32_t ReadConnectTimeout(std::string_view Text);

/// "ip  caption", or the address alone when the caption is empty.
std::string AdapterItemText(const TNetAdapter& Adapter);
/// The address an adapter item stands for: its text up to the first space, trimmed.
std::string AdapterItemIp(std::string_view ItemText);

/// The adapter list as the dialog shows it, and the item selected (-1: none).
struct TAdapterChoice
{
    std::vector<std::string> Items;
    int Selected = -1;
};

/// Selects the first item whose address is `AdapterIp` exactly. When none is: a configured
/// address that no adapter has is put at the top as a bare item (so saving keeps it) and
/// selected; an empty one selects the first item, so saving stores the first adapter.
TAdapterChoice ChooseAdapterItem(std::vector<std::string> Items, const std::string& AdapterIp);

} // namespace Plumeria
