// Helpers for driving the Qt window in tests: one frame per test binary on
// the offscreen platform, a handler that records what the frame delivers, a
// watcher that answers message boxes, and a recorder of what a label painted.
#pragma once

#include "app/dialog.h"
#include "app/qt/control_window.h"

#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QObject>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The Qt frame the tests share (it owns the QApplication), made on first use
// on the offscreen platform unless the caller chose a platform on purpose.
DialogFrame& SharedQtFrame();
void ReleaseQtFrame();

// The control window of the running modal loop, or null.
ControlWindow* FindControlWindow();

template <typename Widget>
Widget* ControlOf(ControlWindow& window, int id) {
    return qobject_cast<Widget*>(window.Control(id));
}

// Records every delivery as a short line ("command 1000", "text 1003",
// "timer 42", "initialize", "teardown"); optional hooks act on them.
class RecordingHandler : public DialogHandler {
public:
    bool Initialize(DialogFrame& frame) override;
    void Teardown() override { events.push_back("teardown"); }
    void OnCommand(int id) override;
    void OnTextChanged(int id) override { events.push_back("text " + std::to_string(id)); }
    void OnTimer(int id) override;

    // Runs once the modal loop is running and the window is on screen.
    std::function<void(DialogFrame&, ControlWindow&)> script;
    std::function<void(DialogFrame&, int)> onCommand;
    std::function<void(DialogFrame&, int)> onTimer;
    std::function<void(DialogFrame&)> onInitialize;

    std::vector<std::string> events;
    DialogFrame* frame = nullptr;

    int Count(const std::string& event) const;
};

// Runs the script on the program's control window once it is on screen.
void WhenWindowShown(std::function<void(ControlWindow&)> script);

struct SeenMessage {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    bool ownedByWindow;
    bool windowVisible;  // was the control window still up under the box
    Qt::TextFormat format;
};

// Presses OK on every message box that comes up while it lives.
class MessageBoxWatcher {
public:
    MessageBoxWatcher();
    std::vector<SeenMessage> seen;

private:
    void Poll();
    QTimer timer;
};

// Keeps the label's text each time the label paints a new one.
class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(QLabel& label) : label(label) { label.installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override;
    std::vector<std::string> painted;

private:
    QLabel& label;
};

// Rejects every dialog when a script hangs, so a broken case fails instead
// of stalling the suite.
class HangGuard {
public:
    explicit HangGuard(int milliseconds = 30000);
    ~HangGuard() { EXPECT_FALSE(fired) << "the script did not end the run"; }
    bool fired = false;

private:
    QTimer timer;
};
