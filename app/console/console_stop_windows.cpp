// Stop requests on Windows: console control events through
// SetConsoleCtrlHandler. Windows runs the handler on a thread of its own and
// runs the handlers of one process one event at a time, so the handler must
// not wait for the close: it wakes the timer loop and leaves the close bound
// to a watchdog thread, and a second event finds it free to end the process.
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

// One modal run's stop state. Never freed, and its events never closed: a
// handler or a watchdog may still hold it after the run has ended.
struct Run {
    HANDLE wake = nullptr;    // set by the first request
    HANDLE closed = nullptr;  // set when the run and its teardown are over
    volatile LONG requests = 0;
    volatile LONG firstSignal = 0;
};

Run* volatile currentRun = nullptr;

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

// The close bound: a run that has not ended CLOSE_GRACE_MS after its first
// request ends the process.
DWORD WINAPI BoundTheClose(void* parameter) {
    Run* run = static_cast<Run*>(parameter);
    if (WaitForSingleObject(run->closed, CLOSE_GRACE_MS) != WAIT_OBJECT_0) {
        EndNow(run->firstSignal);
    }
    return 0;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    const int signo = SignalOf(event);
    Run* run = currentRun;
    if (signo == 0 || run == nullptr) {
        return FALSE;
    }
    if (InterlockedExchange(&run->requests, 1) != 0) {
        EndNow(signo);
    }
    run->firstSignal = signo;
    SetEvent(run->wake);
    if (HANDLE watchdog = CreateThread(nullptr, 0, BoundTheClose, run, 0, nullptr)) {
        CloseHandle(watchdog);
    } else if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        BoundTheClose(run);  // no thread to spare: keep the bound here
    }
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        // Windows ends the process as soon as this handler returns from a
        // close, log-off or shutdown event. Hold on until the run is over;
        // the main thread then ends the process with the run's own status,
        // or the watchdog with 128 + SIGTERM.
        WaitForSingleObject(run->closed, INFINITE);
        Sleep(INFINITE);
    }
    return TRUE;
}

}  // namespace

struct ConsoleStop::Watch {
    Run* run = nullptr;
};

// The handler is installed once and stays: between runs it passes every
// event on (as if it were not there). Removing it would wait for the
// system's handler lock, which a close event's handler holds until the
// process ends.
ConsoleStop::ConsoleStop() : watch(std::make_unique<Watch>()) {
    static const bool installed = SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != FALSE;
    (void)installed;
    Run* run = new Run;  // deliberately never deleted (see Run)
    run->wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    run->closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    watch->run = run;
    currentRun = run;
}

ConsoleStop::~ConsoleStop() {
    currentRun = nullptr;
    SetEvent(watch->run->closed);
}

bool ConsoleStop::Requested() const {
    return watch->run->requests != 0;
}

void ConsoleStop::Wait(int timeoutMs) {
    WaitForSingleObject(watch->run->wake, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
}
