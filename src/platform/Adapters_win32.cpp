#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// Winsock 2 before windows.h, and both before the IP Helper declarations.
#include <winsock2.h>

#include <windows.h>

#include <iphlpapi.h>

#include "platform/Adapters.h"

#include <string_view>

namespace Plumeria {

namespace {

/// Text in the system's 8-bit code page to UTF-8.
std::string AnsiToUtf8(const char* Text)
{
    if (Text == nullptr || *Text == '\0')
        return {};
    const int Wide = MultiByteToWideChar(CP_ACP, 0, Text, -1, nullptr, 0);
    if (Wide <= 0)
        return {};
    std::wstring Buffer(static_cast<std::size_t>(Wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, Text, -1, Buffer.data(), Wide);
    const int Bytes =
        WideCharToMultiByte(CP_UTF8, 0, Buffer.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (Bytes <= 0)
        return {};
    std::string Out(static_cast<std::size_t>(Bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Buffer.c_str(), -1, Out.data(), Bytes, nullptr, nullptr);
    Out.resize(static_cast<std::size_t>(Bytes) - 1); // drop the terminating zero
    return Out;
}

} // namespace

std::vector<TPlatformAdapterAddress> PlatformAdapterAddresses()
{
    std::vector<TPlatformAdapterAddress> Result;
    // First ask for the size; anything but a buffer-overflow answer with a size means 16384.
    ULONG Size = 0;
    if (GetAdaptersInfo(nullptr, &Size) != ERROR_BUFFER_OVERFLOW || Size == 0)
        Size = 16384;
    // An adapter may appear between two calls: a call that finds the buffer too small again
    // reports the size it needs now, and is tried once more with that.
    std::vector<unsigned char> Buffer;
    ULONG Answer = ERROR_BUFFER_OVERFLOW;
    for (int Attempt = 0; Attempt < 4 && Answer == ERROR_BUFFER_OVERFLOW; ++Attempt) {
        Buffer.assign(Size, 0);
        Answer = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(Buffer.data()), &Size);
    }
    if (Answer != ERROR_SUCCESS)
        return Result;
    const auto* First = reinterpret_cast<const IP_ADAPTER_INFO*>(Buffer.data());
    for (const IP_ADAPTER_INFO* Adapter = First; Adapter != nullptr; Adapter = Adapter->Next) {
        const std::string Caption = AnsiToUtf8(Adapter->Description);
        for (const IP_ADDR_STRING* Address = &Adapter->IpAddressList; Address != nullptr;
             Address = Address->Next) {
            Result.push_back({AnsiToUtf8(Address->IpAddress.String), Caption});
        }
    }
    return Result;
}

} // namespace Plumeria
