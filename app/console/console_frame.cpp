// The console frame's logic, the same on every platform; how stop requests
// arrive is in console_stop_posix.cpp and console_stop_windows.cpp.
#include "app/console/console_frame.h"

#include "app/console/console_stop.h"
#include "app/dialog_template.h"

#include <algorithm>
#include <cstdio>

ConsoleFrame::ConsoleFrame() {
    for (const ControlTemplate& control : FlockDialogTemplate().controls) {
        if (control.id != ID_NONE) {
            texts[control.id] = control.text;
            enabled[control.id] = (control.styles & STYLE_DISABLED) == 0;
        }
    }
}

int ConsoleFrame::RunModal(DialogHandler& handler) {
    ConsoleStop stop;
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
        RunTimers(handler, stop);
        status = quitPosted ? EXIT_QUIT_POSTED : EXIT_CLOSED;
    }
    stop.TearingDown();
    handler.Teardown();
    timers.clear();
    return status;
}

void ConsoleFrame::RunTimers(DialogHandler& handler, ConsoleStop& stop) {
    while (!quitPosted && !stop.Requested()) {
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
        stop.Wait(timeoutMs);
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
    std::size_t start = 0;
    std::size_t end = 0;
    do {
        end = text.find('\n', start);
        std::fprintf(stderr, "Skyflit: %s\n", text.substr(start, end - start).c_str());
        start = end + 1;
    } while (end != std::string::npos);
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
