// How a request to close reaches the console frame, one file per platform
// (console_stop_posix.cpp, console_stop_windows.cpp). The frame's shared
// logic is in console_frame.cpp.
//
// A stop request closes the window: it cancels the library's blocking calls
// (wl_cancel), so a start waiting on a server gives up, the frame's timer
// loop ends and the normal teardown runs (instances destroyed, settings
// written, exit 0). From the first request on, the run has CLOSE_GRACE_MS to
// reach its teardown; a second request, or a run that takes longer, ends the
// process at once with status 128 + the request's signal number, as a shell
// reports a process killed by that signal. Teardown itself waits on no
// server, and its settings write must not be cut: once it has begun the
// bound is lifted, and a request that arrives meanwhile ends the process
// right after it.
//
// POSIX: SIGINT and SIGTERM are the requests.
// Windows, through SetConsoleCtrlHandler: Ctrl-C counts as SIGINT (2),
// Ctrl-Break as SIGBREAK (21), and closing the console window, logging off
// and shutting down as SIGTERM (15). So a Ctrl-C that has to cut a blocked
// close short ends the program with 130 on both platforms.
#pragma once

#include <memory>

inline constexpr int CLOSE_GRACE_MS = 2000;
inline constexpr int KILLED_BY_SIGNAL = 128;

// Watches for stop requests for the lifetime of one modal run, the window's
// teardown included; the destructor restores what was there before, then
// ends the process if a request was held. One at a time per process.
class ConsoleStop {
public:
    ConsoleStop();
    ~ConsoleStop();
    ConsoleStop(const ConsoleStop&) = delete;
    ConsoleStop& operator=(const ConsoleStop&) = delete;

    // A stop request has arrived.
    bool Requested() const;
    // Sleeps until a stop request arrives or timeoutMs has passed (negative:
    // no time limit). May return early.
    void Wait(int timeoutMs);
    // The run is over and its teardown begins: lifts the close bound and
    // holds further requests until the watch ends.
    void TearingDown();

private:
    struct Watch;
    std::unique_ptr<Watch> watch;
};
