#pragma once
// The machine's IPv4 addresses with the description of the adapter that carries each, in the
// order the platform lists adapters and, within an adapter, its addresses. Unfiltered: loopback
// and link-local addresses are included; choosing among them is core's business.

#include <string>
#include <vector>

namespace Plumeria {

struct TPlatformAdapterAddress
{
    std::string Ip;      ///< dotted IPv4
    std::string Caption; ///< UTF-8: the adapter description (Windows), the interface name (Linux)
};

/// Empty when the platform call fails.
std::vector<TPlatformAdapterAddress> PlatformAdapterAddresses();

} // namespace Plumeria
