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

#include "worldlink/worldlink.h"

#include <windows.h>

#include <csignal>

namespace {

#ifndef SIGBREAK
constexpr int SIGBREAK = 21;  // the C runtime's Ctrl-Break signal
#endif

// Where a run stands. The handler, the watchdog and the main thread move
// it with compare-and-exchange, so a process is never ended once its
// teardown has begun, and a teardown never begins under a process that is
// being ended.
enum : LONG { RUNNING, TEARING_DOWN, ENDING };

// One modal run's stop state. Never freed, and its events never closed: a
// handler or a watchdog may still hold it after the run has ended.
struct Run {
    HANDLE wake = nullptr;    // set by the first request
    HANDLE closed = nullptr;  // set when the run and its teardown are over
    volatile LONG requests = 0;
    volatile LONG firstSignal = 0;
    volatile LONG phase = RUNNING;
    volatile LONG heldSignal = 0;  // a request that came during teardown
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

// Ends the process unless its teardown has begun.
void EndUnlessTearingDown(Run* run, int signo) {
    if (InterlockedCompareExchange(&run->phase, ENDING, RUNNING) == RUNNING) {
        EndNow(signo);
    }
}

// The close bound: a run that has not reached its teardown CLOSE_GRACE_MS
// after its first request ends the process.
DWORD WINAPI BoundTheClose(void* parameter) {
    Run* run = static_cast<Run*>(parameter);
    if (WaitForSingleObject(run->closed, CLOSE_GRACE_MS) != WAIT_OBJECT_0) {
        EndUnlessTearingDown(run, run->firstSignal);
    }
    return 0;
}

// Windows ends the process as soon as the handler returns from a close,
// log-off or shutdown event. Hold on until the run is over; the main thread
// then ends the process with the run's own status (or a held request's),
// or the watchdog with 128 + SIGTERM.
void HoldIfClosing(DWORD event, Run* run) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        WaitForSingleObject(run->closed, INFINITE);
        Sleep(INFINITE);
    }
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    const int signo = SignalOf(event);
    Run* run = currentRun;
    if (signo == 0 || run == nullptr) {
        return FALSE;
    }
    if (InterlockedExchange(&run->requests, 1) != 0) {
        EndUnlessTearingDown(run, signo);
        InterlockedExchange(&run->heldSignal, signo);
        HoldIfClosing(event, run);
        return TRUE;
    }
    run->firstSignal = signo;
    wl_cancel();
    SetEvent(run->wake);
    if (HANDLE watchdog = CreateThread(nullptr, 0, BoundTheClose, run, 0, nullptr)) {
        CloseHandle(watchdog);
    } else if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        BoundTheClose(run);  // no thread to spare: keep the bound here
    }
    HoldIfClosing(event, run);
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
    if (const LONG held = InterlockedCompareExchange(&watch->run->heldSignal, 0, 0)) {
        EndNow(held);
    }
}

bool ConsoleStop::Requested() const {
    return watch->run->requests != 0;
}

void ConsoleStop::Wait(int timeoutMs) {
    WaitForSingleObject(watch->run->wake, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
}

void ConsoleStop::TearingDown() {
    if (InterlockedCompareExchange(&watch->run->phase, TEARING_DOWN, RUNNING) != RUNNING) {
        Sleep(INFINITE);  // another thread is ending the process this moment
    }
}
