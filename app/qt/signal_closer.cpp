#include "app/qt/signal_closer.h"

#include "worldlink/worldlink.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

// The handler may only write to a pipe; the event loop reads the other end.
int signalPipe[2] = {-1, -1};

// Qt runs threads of its own, and any of them may take a signal while the
// UI thread writes the settings: the phase moves by compare-and-exchange,
// so the process is never ended once the teardown has begun.
enum Phase : int { RUNNING, TEARING_DOWN, ENDING };
std::atomic<int> phase{RUNNING};
std::atomic<int> signalsSeen{0};
std::atomic<int> heldSignal{0};

// Ends the process by the signal's default action.
void EndBy(int signo) {
    std::signal(signo, SIG_DFL);
    std::raise(signo);
}

void OnSignal(int signo) {
    int saved = errno;
    if (signalsSeen.fetch_add(1) == 0) {
        wl_cancel();
        char byte = 1;
        ssize_t written = write(signalPipe[1], &byte, 1);
        static_cast<void>(written);  // a full pipe already holds a wake-up
    } else if (int expected = RUNNING; phase.compare_exchange_strong(expected, ENDING)) {
        EndBy(signo);
    } else {
        heldSignal.store(signo);
    }
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
    phase.store(RUNNING);
    signalsSeen.store(0);
    heldSignal.store(0);
    notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [close = std::move(close)] {
        Drain();
        close();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousInterrupt);
    sigaction(SIGTERM, &action, &previousTerminate);
}

SignalCloser::~SignalCloser() {
    if (!notifier) {
        return;
    }
    sigaction(SIGINT, &previousInterrupt, nullptr);
    sigaction(SIGTERM, &previousTerminate, nullptr);
    // Read after the handler is gone, so none can be held unnoticed.
    if (int held = heldSignal.exchange(0)) {
        EndBy(held);
    }
}

void SignalCloser::TearingDown() {
    if (int expected = RUNNING; !phase.compare_exchange_strong(expected, TEARING_DOWN)) {
        // Another thread is ending the process this moment.
        for (;;) {
            pause();
        }
    }
}
