#include "platform/Adapters.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace Plumeria {

std::vector<TPlatformAdapterAddress> PlatformAdapterAddresses()
{
    std::vector<TPlatformAdapterAddress> Result;
    ifaddrs* List = nullptr;
    if (getifaddrs(&List) != 0)
        return Result;
    // getifaddrs lists one entry per address; their order is the kernel's interface order.
    for (const ifaddrs* Entry = List; Entry != nullptr; Entry = Entry->ifa_next) {
        if (Entry->ifa_addr == nullptr || Entry->ifa_addr->sa_family != AF_INET)
            continue;
        const auto* Address = reinterpret_cast<const sockaddr_in*>(Entry->ifa_addr);
        char Text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &Address->sin_addr, Text, sizeof Text) == nullptr)
            continue;
        Result.push_back({Text, Entry->ifa_name != nullptr ? Entry->ifa_name : ""});
    }
    freeifaddrs(List);
    return Result;
}

} // namespace Plumeria
