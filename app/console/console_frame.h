// The headless frame: no window. Status-line texts go to stdout, message
// boxes to stderr with "Skyflit: " before each of their lines, timers run in
// a small wait loop, "Login" is pressed as soon as the settings are loaded.
// A stop request closes the window: SIGINT or SIGTERM on POSIX; Ctrl-C,
// Ctrl-Break or closing the console on Windows. A second request, or a close
// that takes longer than two seconds (a login blocking, say), ends the
// process at once (console_stop.h).
#pragma once

#include "app/dialog.h"

#include <chrono>
#include <map>
#include <string>

class ConsoleStop;

class ConsoleFrame : public DialogFrame {
public:
    ConsoleFrame();

    int RunModal(DialogHandler& handler) override;
    void SetText(int id, const std::string& text) override;
    std::string Text(int id) const override;
    void Enable(int id, bool enabled) override;
    bool IsEnabled(int id) const override;
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                    bool owned) override;
    void StartTimer(int id, int periodMs) override;
    void StopTimer(int id) override;
    void PostQuit() override;
    bool KeepsStatusLines() const override { return true; }

private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        Clock::duration period;
        Clock::time_point due;
    };

    void RunTimers(DialogHandler& handler, ConsoleStop& stop);
    // Fires the earliest timer that is due; false when none is.
    bool FireDueTimer(DialogHandler& handler);

    std::map<int, std::string> texts;
    std::map<int, bool> enabled;
    std::map<int, Timer> timers;
    bool quitPosted = false;
};
