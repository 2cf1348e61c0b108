#pragma once
// One running instance per logon. Windows: the named mutex "Local\PlumeriaBridge". Linux: an
// exclusive flock on "PlumeriaBridge.lock" in the session's runtime folder ($XDG_RUNTIME_DIR),
// or in a private folder /tmp/PlumeriaBridge-<uid> when there is none. Either lock dies with its
// process, so a crashed instance never blocks the next start.

namespace Plumeria {

/// How long a start waits for the running instance to let the lock go (an update's old
/// process does so right before it ends).
inline constexpr int SingleInstanceWaitMs = 5000;

/// Takes the lock; when another process holds it, waits up to 5 s for it. True when this
/// process holds the lock now (also when it already did). Called from one thread, which must
/// also be the one that releases it.
bool AcquireSingleInstance();

/// Lets the lock go. Nothing happens when this process does not hold it.
void ReleaseSingleInstance();

} // namespace Plumeria
