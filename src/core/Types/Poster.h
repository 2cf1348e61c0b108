#pragma once
// How worker threads hand work to the interface thread: a poster queues a call and returns at
// once, never waiting for it to run. The Qt program posts through its event loop, the command-line
// tool through its own small loop, tests through a queue they drain by hand.

#include <functional>

namespace Plumeria {

using TPostedCall = std::function<void()>;
using TPoster = std::function<void(TPostedCall)>;

} // namespace Plumeria
