#pragma once
// Requests from outside to end a console program: Ctrl+C and SIGTERM on Linux; Ctrl+C,
// Ctrl+Break, closing the console window, logoff and shutdown on Windows. They are noted instead
// of ending the process at once, so the program can finish the file at hand and join its threads.

#include <cstdint>

namespace Plumeria {

/// Starts catching the requests. Call once, on the main thread, before any other thread starts:
/// on Linux the signals are blocked in every thread and only `WaitStopSignal` takes them.
void CatchStopSignals();

/// Waits up to `TimeoutMs` for a request; true once one has come (and on every later call).
/// Meant for one waiting thread.
bool WaitStopSignal(std::uint32_t TimeoutMs);

/// The program has finished stopping. On Windows a console-close, logoff or shutdown request
/// holds the system's handler until this (the process ends when that handler returns).
void StopSignalDone();

} // namespace Plumeria
