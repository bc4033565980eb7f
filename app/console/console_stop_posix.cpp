// Stop requests on POSIX: SIGINT and SIGTERM, a self-pipe to wake the timer
// loop's poll, and SIGALRM to bound the close. The handlers run on the one
// thread of the program, between any two of its steps.
#include "app/console/console_stop.h"

#include "worldlink/worldlink.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr unsigned CLOSE_GRACE_SECONDS = CLOSE_GRACE_MS / 1000;
static_assert(CLOSE_GRACE_SECONDS * 1000 == CLOSE_GRACE_MS, "alarm counts whole seconds");

volatile sig_atomic_t stopSignals = 0;
volatile sig_atomic_t firstStopSignal = 0;
volatile sig_atomic_t tearingDown = 0;
volatile sig_atomic_t heldStopSignal = 0;
int wakeWriteFd = -1;

void OnStopSignal(int signo) {
    if (stopSignals > 0) {
        if (tearingDown) {
            heldStopSignal = signo;
            return;
        }
        _exit(KILLED_BY_SIGNAL + signo);
    }
    int savedErrno = errno;
    stopSignals = 1;
    firstStopSignal = signo;
    wl_cancel();
    if (!tearingDown) {
        alarm(CLOSE_GRACE_SECONDS);
    }
    char byte = 1;
    if (write(wakeWriteFd, &byte, 1) < 0) {
        // The pipe is full: a wake-up is already pending.
    }
    errno = savedErrno;
}

void OnCloseTooSlow(int) {
    if (!tearingDown) {
        _exit(KILLED_BY_SIGNAL + firstStopSignal);
    }
}

void Install(int signo, void (*handler)(int), struct sigaction& old) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signo, &action, &old);
}

}  // namespace

struct ConsoleStop::Watch {
    int wakeFds[2] = {-1, -1};
    struct sigaction oldInterrupt {};
    struct sigaction oldTerminate {};
    struct sigaction oldAlarm {};
};

ConsoleStop::ConsoleStop() : watch(std::make_unique<Watch>()) {
    if (pipe2(watch->wakeFds, O_NONBLOCK | O_CLOEXEC) != 0) {
        watch->wakeFds[0] = watch->wakeFds[1] = -1;
    }
    stopSignals = 0;
    tearingDown = 0;
    heldStopSignal = 0;
    wakeWriteFd = watch->wakeFds[1];
    Install(SIGINT, OnStopSignal, watch->oldInterrupt);
    Install(SIGTERM, OnStopSignal, watch->oldTerminate);
    Install(SIGALRM, OnCloseTooSlow, watch->oldAlarm);
}

ConsoleStop::~ConsoleStop() {
    alarm(0);
    sigaction(SIGINT, &watch->oldInterrupt, nullptr);
    sigaction(SIGTERM, &watch->oldTerminate, nullptr);
    sigaction(SIGALRM, &watch->oldAlarm, nullptr);
    wakeWriteFd = -1;
    for (int fd : watch->wakeFds) {
        if (fd >= 0) {
            close(fd);
        }
    }
    // Read after the handlers are gone, so none can be held unnoticed.
    if (heldStopSignal != 0) {
        _exit(KILLED_BY_SIGNAL + heldStopSignal);
    }
}

bool ConsoleStop::Requested() const {
    return stopSignals != 0;
}

void ConsoleStop::Wait(int timeoutMs) {
    pollfd wake{watch->wakeFds[0], POLLIN, 0};
    poll(&wake, wake.fd >= 0 ? 1 : 0, timeoutMs < 0 ? -1 : timeoutMs);
}

void ConsoleStop::TearingDown() {
    // Flagged first: an alarm that falls due between the two lines must
    // find it.
    tearingDown = 1;
    alarm(0);
}
