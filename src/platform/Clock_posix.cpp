#include "platform/Clock.h"

#include <ctime>

namespace Plumeria {

std::uint64_t MonotonicTickMs()
{
    timespec Ts{};
    clock_gettime(CLOCK_MONOTONIC, &Ts);
    return static_cast<std::uint64_t>(Ts.tv_sec) * 1000u +
           static_cast<std::uint64_t>(Ts.tv_nsec) / 1000000u;
}

TLocalDateTime LocalNow()
{
    const std::time_t Now = std::time(nullptr);
    std::tm Tm{};
    localtime_r(&Now, &Tm);
    return {Tm.tm_year + 1900, Tm.tm_mon + 1, Tm.tm_mday, Tm.tm_hour, Tm.tm_min, Tm.tm_sec};
}

} // namespace Plumeria
