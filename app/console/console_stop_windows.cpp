// Stop requests on Windows: console control events through
// SetConsoleCtrlHandler. Windows runs the handler on a thread of its own, so
// the handler itself keeps the close bound: it wakes the timer loop, then
// waits up to CLOSE_GRACE_MS for the run to end.
//
// The events count as these signal numbers (console_stop.h): Ctrl-C as
// SIGINT (2), Ctrl-Break as SIGBREAK (21), console close, log-off and
// shutdown as SIGTERM (15). A process ended early exits with 128 + that
// number, as on POSIX.
#include "app/console/console_stop.h"

#include <windows.h>

#include <csignal>

namespace {

#ifndef SIGBREAK
constexpr int SIGBREAK = 21;  // the C runtime's Ctrl-Break signal
#endif

volatile LONG stopRequests = 0;
HANDLE wakeEvent = nullptr;    // set by the first request
HANDLE closedEvent = nullptr;  // set when the run and its teardown are over

int SignalOf(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
        return SIGINT;
    case CTRL_BREAK_EVENT:
        return SIGBREAK;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        return SIGTERM;
    default:
        return 0;
    }
}

// Ends the process at once, as _exit does on POSIX: no exit handlers run
// while the main thread may be anywhere.
[[noreturn]] void EndNow(int signo) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(KILLED_BY_SIGNAL + signo));
    ExitProcess(static_cast<UINT>(KILLED_BY_SIGNAL + signo));
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    const int signo = SignalOf(event);
    if (signo == 0) {
        return FALSE;
    }
    if (InterlockedExchange(&stopRequests, 1) != 0) {
        EndNow(signo);
    }
    SetEvent(wakeEvent);
    if (WaitForSingleObject(closedEvent, CLOSE_GRACE_MS) != WAIT_OBJECT_0) {
        EndNow(signo);
    }
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        // Windows ends the process as soon as this handler returns from a
        // close, log-off or shutdown event. The main thread is on its way
        // out and ends the process with the run's own status.
        Sleep(INFINITE);
    }
    return TRUE;
}

}  // namespace

struct ConsoleStop::Watch {};

ConsoleStop::ConsoleStop() : watch(std::make_unique<Watch>()) {
    // Made once and kept for the process's life: a handler still running
    // after a run's end must never wait on a closed handle.
    if (!wakeEvent) {
        wakeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        closedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ResetEvent(wakeEvent);
    ResetEvent(closedEvent);
    stopRequests = 0;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

ConsoleStop::~ConsoleStop() {
    SetEvent(closedEvent);
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

bool ConsoleStop::Requested() const {
    return stopRequests != 0;
}

void ConsoleStop::Wait(int timeoutMs) {
    WaitForSingleObject(wakeEvent, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
}
