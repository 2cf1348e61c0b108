#include "platform/StopSignal.h"

#include <windows.h>

namespace Plumeria {

namespace {

HANDLE StopEvent = nullptr; ///< manual reset: set once a request came, never reset
HANDLE DoneEvent = nullptr; ///< manual reset: set once the program has stopped

// The system calls this on a thread of its own.
BOOL WINAPI OnConsoleControl(DWORD Type)
{
    SetEvent(StopEvent);
    switch (Type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        return TRUE;
    default:
        // Close, logoff, shutdown: the process is ended as soon as this returns (and after 5 s
        // at the latest for a closed console), so hold it while the program finishes its file.
        WaitForSingleObject(DoneEvent, 4500);
        return TRUE;
    }
}

} // namespace

void CatchStopSignals()
{
    if (StopEvent)
        return;
    StopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DoneEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!StopEvent || !DoneEvent)
        return;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool WaitStopSignal(std::uint32_t TimeoutMs)
{
    if (!StopEvent) {
        Sleep(TimeoutMs);
        return false;
    }
    return WaitForSingleObject(StopEvent, TimeoutMs) == WAIT_OBJECT_0;
}

void StopSignalDone()
{
    if (DoneEvent)
        SetEvent(DoneEvent);
}

} // namespace Plumeria
