// SIGINT and SIGTERM close the window as the close box does, so that Ctrl-C
// in a terminal or the end of a session still logs every bird out and keeps
// the settings. A second signal of the same kind ends the process at once.
#pragma once

#include <QSocketNotifier>

#include <csignal>
#include <functional>
#include <memory>

class SignalCloser {
public:
    // close runs on the UI thread, from the event loop.
    explicit SignalCloser(std::function<void()> close);
    ~SignalCloser();
    SignalCloser(const SignalCloser&) = delete;
    SignalCloser& operator=(const SignalCloser&) = delete;

private:
    std::unique_ptr<QSocketNotifier> notifier;
    struct sigaction previousInterrupt {};
    struct sigaction previousTerminate {};
};
