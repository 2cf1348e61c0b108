#pragma once
// Runs a piece of a test under a file-size limit for the process, so that a write past `Bytes`
// fails part-way as it does on a full disk (the limit stops even root, which a read-only folder
// does not). Linux only.

#ifdef __linux__

#include <csignal>
#include <cstdint>
#include <functional>

#include <sys/resource.h>

namespace Plumeria::Test {

/// Runs `Body` with writes limited to files of `Bytes`; false (and `Body` not run) when the limit
/// cannot be set. The limit and the signal it raises are put back afterwards.
inline bool WithFileSizeLimit(std::uintmax_t Bytes, const std::function<void()>& Body)
{
    rlimit Saved{};
    if (getrlimit(RLIMIT_FSIZE, &Saved) != 0)
        return false;
    const auto OldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit Limited = Saved;
    Limited.rlim_cur = Bytes;
    if (setrlimit(RLIMIT_FSIZE, &Limited) != 0) {
        std::signal(SIGXFSZ, OldHandler);
        return false;
    }
    Body();
    setrlimit(RLIMIT_FSIZE, &Saved);
    std::signal(SIGXFSZ, OldHandler);
    return true;
}

} // namespace Plumeria::Test

#endif
