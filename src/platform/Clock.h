#pragma once
// Time as the program needs it: a monotonic millisecond tick that never goes back (waits,
// stability and cool-down), and the local calendar time (journal stamps, file names).

#include <cstdint>

namespace Plumeria {

struct TLocalDateTime
{
    int Year = 0;
    int Month = 0; ///< 1..12
    int Day = 0;   ///< 1..31
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
};

/// Monotonic milliseconds since an arbitrary start (GetTickCount64 on Windows).
std::uint64_t MonotonicTickMs();
/// The local date and time now.
TLocalDateTime LocalNow();

} // namespace Plumeria
