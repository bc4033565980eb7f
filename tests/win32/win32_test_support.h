// Helpers for driving the Win32 window in tests. Everything runs on the test's
// thread through thread timers, which fire inside whichever message loop is
// up (the dialog's or a message box's); a timer message comes only once the
// messages posted before it have been handled, so a script step sees the
// effect of the keys the previous step posted.
#pragma once

#include "tests/support/event_recorder.h"

#include "app/dialog.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

inline constexpr const wchar_t* CONTROL_WINDOW_TITLE = L"Skyflit System";

// Calls tick every period while it lives; a tick never runs inside itself.
class ThreadTimer {
public:
    ThreadTimer(unsigned periodMs, std::function<void()> tick);
    ~ThreadTimer();
    ThreadTimer(const ThreadTimer&) = delete;
    ThreadTimer& operator=(const ThreadTimer&) = delete;

    void Stop();

private:
    static void CALLBACK Fire(HWND, UINT, UINT_PTR id, DWORD);
    UINT_PTR id = 0;
    bool busy = false;
    std::function<void()> tick;
};

// The control window of this thread (shown or not), or null.
HWND FindControlWindow();
std::wstring WindowText(HWND window);

// Runs the steps one per tick once the control window is on screen.
class Script {
public:
    using Step = std::function<void(HWND)>;
    explicit Script(std::vector<Step> steps);
    bool Finished() const { return next == steps.size(); }

private:
    std::vector<Step> steps;
    std::size_t next = 0;
    ThreadTimer timer;
};

// Text typed as WM_CHAR messages, one per character, as the keyboard would.
void Type(HWND edit, const std::wstring& text);
// A key pressed in a control, through the dialog's own message loop.
void PostKey(HWND control, UINT key);

// Records every delivery as a short line ("command 1000", "text 1003",
// "timer 42", "initialize", "teardown"); optional hooks act on them.
using RecordingHandler = EventRecorder;

struct SeenMessage {
    std::string title;
    std::string text;
    MessageIcon icon;
    bool ownedByWindow;  // owned by the control window
    bool windowVisible;  // the control window was still up under the box
};

// Reads every message box of this thread and presses its OK button.
class MessageBoxWatcher {
public:
    MessageBoxWatcher();
    std::vector<SeenMessage> seen;

private:
    void Poll();
    ThreadTimer timer;
};

// Keeps a control's text each time it paints a new one.
class PaintRecorder {
public:
    explicit PaintRecorder(HWND control);
    ~PaintRecorder();
    PaintRecorder(const PaintRecorder&) = delete;
    PaintRecorder& operator=(const PaintRecorder&) = delete;

    std::vector<std::string> painted;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND control;
    WNDPROC original;
};

// Closes every window of this thread when a script hangs, so a broken case
// fails instead of stalling the suite.
class HangGuard {
public:
    explicit HangGuard(unsigned milliseconds = 30000);
    ~HangGuard() { EXPECT_FALSE(fired) << "the script did not end the run"; }
    bool fired = false;

private:
    ThreadTimer timer;
};
