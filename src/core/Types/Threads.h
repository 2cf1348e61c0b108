#pragma once
// Starting a worker thread where the system may refuse one (too many threads, no memory): the
// refusal is a result the caller can fall back on, never an exception from a half-built object.
// Tests make a given start fail to walk those fallbacks.

#include <functional>
#include <thread>

namespace Plumeria {

/// Starts `Work` on a new thread held in `Thread`. False, with `Thread` left empty (not
/// joinable), when the thread could not be created.
bool TryStartThread(std::thread& Thread, std::function<void()> Work);

/// Tests: the start after `Successes` more successful ones fails, and every start after it too,
/// until this is called with a negative count (the default: no start fails).
void FailThreadStartsForTests(int Successes);

} // namespace Plumeria
