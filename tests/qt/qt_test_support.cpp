#include "qt_test_support.h"

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QTest>

#include <algorithm>

namespace {

constexpr int WATCH_PERIOD_MS = 5;
constexpr int EXPOSE_TIMEOUT_MS = 5000;

}  // namespace

void UseOffscreenPlatform() {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

ControlWindow* FindControlWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<ControlWindow*>(widget); window && window->isVisible()) {
            return window;
        }
    }
    return nullptr;
}

bool RecordingHandler::Initialize(DialogFrame& shown) {
    frame = &shown;
    events.push_back("initialize");
    if (onInitialize) {
        onInitialize(shown);
    }
    if (script) {
        QTimer::singleShot(0, [this] {
            ControlWindow* window = FindControlWindow();
            if (!window) {
                events.push_back("no window");
                return;
            }
            if (!QTest::qWaitForWindowExposed(window, EXPOSE_TIMEOUT_MS)) {
                events.push_back("not exposed");
            }
            script(*frame, *window);
        });
    }
    return true;
}

void RecordingHandler::Teardown() {
    events.push_back("teardown");
}

void RecordingHandler::OnCommand(int id) {
    events.push_back("command " + std::to_string(id));
    if (onCommand) {
        onCommand(*frame, id);
    }
}

void RecordingHandler::OnTextChanged(int id) {
    events.push_back("text " + std::to_string(id));
}

void RecordingHandler::OnTimer(int id) {
    events.push_back("timer " + std::to_string(id));
    if (onTimer) {
        onTimer(*frame, id);
    }
}

int RecordingHandler::Count(const std::string& event) const {
    return static_cast<int>(std::count(events.begin(), events.end(), event));
}

MessageBoxWatcher::MessageBoxWatcher() {
    QObject::connect(&timer, &QTimer::timeout, [this] { Poll(); });
    timer.start(WATCH_PERIOD_MS);
}

void MessageBoxWatcher::Poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) {
        return;
    }
    ControlWindow* window = FindControlWindow();
    seen.push_back({box->windowTitle(), box->text(), box->icon(),
                    window && box->parentWidget() == window, window && window->isVisible(),
                    box->textFormat()});
    box->button(QMessageBox::Ok)->click();
}

PaintRecorder::PaintRecorder(QLabel& label) : label(label) {
    label.installEventFilter(this);
}

bool PaintRecorder::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &label && event->type() == QEvent::Paint) {
        painted.push_back(label.text().toStdString());
    }
    return false;
}

std::vector<std::string> PaintRecorder::Distinct() const {
    std::vector<std::string> texts;
    for (const std::string& text : painted) {
        if (texts.empty() || texts.back() != text) {
            texts.push_back(text);
        }
    }
    return texts;
}

HangGuard::HangGuard(int milliseconds) {
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [this] {
        fired = true;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible()) {
                dialog->reject();
            }
        }
    });
    timer.start(milliseconds);
}
