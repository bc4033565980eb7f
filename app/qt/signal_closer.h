// SIGINT and SIGTERM close the window as the close box does, so that Ctrl-C
// in a terminal or the end of a session still logs every bird out and keeps
// the settings. The first signal also cancels the library's blocking calls
// (wl_cancel), so a start waiting on a server gives up at once. A second
// signal ends the process at once, as the signal's default action does;
// during the teardown it is held until the closer goes, so the settings
// write is never cut.
#pragma once

#include <QSocketNotifier>

#include <csignal>
#include <functional>
#include <memory>

class SignalCloser {
public:
    // close runs on the UI thread, from the event loop.
    explicit SignalCloser(std::function<void()> close);
    // Restores the handlers that were there, then ends the process if a
    // signal was held.
    ~SignalCloser();
    SignalCloser(const SignalCloser&) = delete;
    SignalCloser& operator=(const SignalCloser&) = delete;

    // The window is closed and its teardown begins.
    void TearingDown();

private:
    std::unique_ptr<QSocketNotifier> notifier;
    struct sigaction previousInterrupt {};
    struct sigaction previousTerminate {};
};
