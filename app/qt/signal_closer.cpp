#include "app/qt/signal_closer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The handler may only write to a pipe; the event loop reads the other end.
int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    int saved = errno;
    char byte = 1;
    ssize_t written = write(signalPipe[1], &byte, 1);
    static_cast<void>(written);  // a full pipe already holds a wake-up
    errno = saved;
}

bool OpenPipe() {
    return signalPipe[0] >= 0 || pipe2(signalPipe, O_NONBLOCK | O_CLOEXEC) == 0;
}

void Drain() {
    char bytes[64];
    while (read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
}

}  // namespace

SignalCloser::SignalCloser(std::function<void()> close) {
    if (!OpenPipe()) {
        return;
    }
    Drain();
    notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [close = std::move(close)] {
        Drain();
        close();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // The handler is used once; while the window is still closing (a login
    // may block it for a while) a second signal takes the default action.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, &previousInterrupt);
    sigaction(SIGTERM, &action, &previousTerminate);
}

SignalCloser::~SignalCloser() {
    if (notifier) {
        sigaction(SIGINT, &previousInterrupt, nullptr);
        sigaction(SIGTERM, &previousTerminate, nullptr);
    }
}
