// Helpers for driving the Qt window in tests: one frame per test binary on
// the offscreen platform, a handler that records what the frame delivers, a
// watcher that answers message boxes, and a recorder of what a label painted.
#pragma once

#include "tests/support/event_recorder.h"

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
// The recorder, and a script run once the modal loop is running and the
// window is on screen.
class RecordingHandler : public EventRecorder {
public:
    bool Initialize(DialogFrame& frame) override;

    std::function<void(DialogFrame&, ControlWindow&)> script;
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
