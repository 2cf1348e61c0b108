#include "platform/Clock.h"

#include <windows.h>

namespace Plumeria {

std::uint64_t MonotonicTickMs()
{
    return GetTickCount64();
}

TLocalDateTime LocalNow()
{
    SYSTEMTIME St{};
    GetLocalTime(&St);
    return {St.wYear, St.wMonth, St.wDay, St.wHour, St.wMinute, St.wSecond};
}

} // namespace Plumeria
