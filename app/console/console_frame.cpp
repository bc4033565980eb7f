#include "app/console/console_frame.h"

#include "app/dialog_template.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// What a close may take before the process ends regardless.
constexpr unsigned CLOSE_GRACE_SECONDS = 2;
constexpr int KILLED_BY_SIGNAL = 128;

volatile sig_atomic_t stopSignals = 0;
volatile sig_atomic_t firstStopSignal = 0;
int wakeWriteFd = -1;

void OnStopSignal(int signo) {
    if (stopSignals > 0) {
        _exit(KILLED_BY_SIGNAL + signo);
    }
    int savedErrno = errno;
    stopSignals = 1;
    firstStopSignal = signo;
    alarm(CLOSE_GRACE_SECONDS);
    char byte = 1;
    if (write(wakeWriteFd, &byte, 1) < 0) {
        // The pipe is full: a wake-up is already pending.
    }
    errno = savedErrno;
}

void OnCloseTooSlow(int) {
    _exit(KILLED_BY_SIGNAL + firstStopSignal);
}

// Installs the stop handlers for one modal run and restores the old ones.
class StopSignals {
public:
    explicit StopSignals(int wakeFd) {
        stopSignals = 0;
        wakeWriteFd = wakeFd;
        Install(SIGINT, OnStopSignal, oldInterrupt);
        Install(SIGTERM, OnStopSignal, oldTerminate);
        Install(SIGALRM, OnCloseTooSlow, oldAlarm);
    }
    ~StopSignals() {
        alarm(0);
        sigaction(SIGINT, &oldInterrupt, nullptr);
        sigaction(SIGTERM, &oldTerminate, nullptr);
        sigaction(SIGALRM, &oldAlarm, nullptr);
        wakeWriteFd = -1;
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    static void Install(int signo, void (*handler)(int), struct sigaction& old) {
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(signo, &action, &old);
    }
    struct sigaction oldInterrupt {};
    struct sigaction oldTerminate {};
    struct sigaction oldAlarm {};
};

class WakePipe {
public:
    WakePipe() {
        if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
            fds[0] = fds[1] = -1;
        }
    }
    ~WakePipe() {
        for (int fd : fds) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;
    int ReadFd() const { return fds[0]; }
    int WriteFd() const { return fds[1]; }

private:
    int fds[2];
};

}  // namespace

ConsoleFrame::ConsoleFrame() {
    for (const ControlTemplate& control : FlockDialogTemplate().controls) {
        if (control.id != ID_NONE) {
            texts[control.id] = control.text;
            enabled[control.id] = (control.styles & STYLE_DISABLED) == 0;
        }
    }
}

int ConsoleFrame::RunModal(DialogHandler& handler) {
    WakePipe wake;
    StopSignals signals(wake.WriteFd());
    quitPosted = false;
    handler.Initialize(*this);
    if (IsEnabled(ID_LOGIN)) {
        handler.OnCommand(ID_LOGIN);
    }
    int status = EXIT_CLOSED;
    if (quitPosted || IsEnabled(ID_LOGIN)) {
        // Either the start failed, or it waits for input nobody can type.
        status = EXIT_QUIT_POSTED;
    } else {
        RunTimers(handler, wake.ReadFd());
        status = quitPosted ? EXIT_QUIT_POSTED : EXIT_CLOSED;
    }
    handler.Teardown();
    timers.clear();
    return status;
}

void ConsoleFrame::RunTimers(DialogHandler& handler, int wakeFd) {
    while (!quitPosted && stopSignals == 0) {
        if (FireDueTimer(handler)) {
            continue;
        }
        int timeoutMs = -1;
        Clock::time_point now = Clock::now();
        for (const auto& [id, timer] : timers) {
            auto wait = std::chrono::ceil<std::chrono::milliseconds>(timer.due - now).count();
            int ms = static_cast<int>(std::max<decltype(wait)>(wait, 0));
            timeoutMs = timeoutMs < 0 ? ms : std::min(timeoutMs, ms);
        }
        pollfd wake{wakeFd, POLLIN, 0};
        poll(&wake, wakeFd >= 0 ? 1 : 0, timeoutMs);
    }
}

bool ConsoleFrame::FireDueTimer(DialogHandler& handler) {
    Clock::time_point now = Clock::now();
    auto earliest = timers.end();
    for (auto it = timers.begin(); it != timers.end(); ++it) {
        if (it->second.due <= now && (earliest == timers.end() || it->second.due < earliest->second.due)) {
            earliest = it;
        }
    }
    if (earliest == timers.end()) {
        return false;
    }
    Timer& timer = earliest->second;
    // Ticks missed while a handler blocked are dropped, not replayed.
    timer.due += timer.period;
    if (timer.due <= now) {
        timer.due = now + timer.period;
    }
    handler.OnTimer(earliest->first);
    return true;
}

void ConsoleFrame::SetText(int id, const std::string& text) {
    texts[id] = text;
    if (id == ID_STATUS) {
        std::fprintf(stdout, "%s\n", text.c_str());
        std::fflush(stdout);
    }
}

std::string ConsoleFrame::Text(int id) const {
    auto it = texts.find(id);
    return it == texts.end() ? std::string() : it->second;
}

void ConsoleFrame::Enable(int id, bool enable) {
    enabled[id] = enable;
}

bool ConsoleFrame::IsEnabled(int id) const {
    auto it = enabled.find(id);
    return it != enabled.end() && it->second;
}

void ConsoleFrame::ShowMessage(const std::string& text, const std::string&, MessageIcon, bool) {
    std::fprintf(stderr, "Skyflit: %s\n", text.c_str());
    std::fflush(stderr);
}

void ConsoleFrame::StartTimer(int id, int periodMs) {
    Clock::duration period = std::chrono::milliseconds(std::max(periodMs, 1));
    timers[id] = Timer{period, Clock::now() + period};
}

void ConsoleFrame::StopTimer(int id) {
    timers.erase(id);
}

void ConsoleFrame::PostQuit() {
    quitPosted = true;
}
