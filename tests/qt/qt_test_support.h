// Helpers for driving the Qt window in tests: the offscreen platform, a
// handler that records what the frame delivers, a watcher that answers
// message boxes, and a recorder of what a widget painted.
#pragma once

#include "app/dialog.h"
#include "app/qt/control_window.h"

#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QObject>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

// Tests draw into memory unless the caller chose a platform on purpose.
void UseOffscreenPlatform();

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
    void Teardown() override;
    void OnCommand(int id) override;
    void OnTextChanged(int id) override;
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

// Keeps the label's text each time the label paints itself.
class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(QLabel& label);
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The painted texts with repeats in a row folded.
    std::vector<std::string> Distinct() const;
    std::vector<std::string> painted;

private:
    QLabel& label;
};

// Rejects every dialog when a script hangs, so a broken case fails instead
// of stalling the suite.
class HangGuard {
public:
    explicit HangGuard(int milliseconds = 15000);
    bool fired = false;

private:
    QTimer timer;
};
