#include "qt_test_support.h"

#include "app/qt/qt_frame.h"

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QTest>

#include <algorithm>

namespace {

constexpr int WATCH_PERIOD_MS = 5;
constexpr int EXPOSE_TIMEOUT_MS = 5000;

std::unique_ptr<DialogFrame> sharedFrame;

}  // namespace

DialogFrame& SharedQtFrame() {
    static char name[] = "skyflit_qt_test";
    static char* arguments[] = {name, nullptr};
    static int argumentCount = 1;
    if (!sharedFrame) {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        sharedFrame = MakeQtFrame(argumentCount, arguments);
    }
    return *sharedFrame;
}

void ReleaseQtFrame() {
    sharedFrame.reset();
}

ControlWindow* FindControlWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<ControlWindow*>(widget); window && window->isVisible()) {
            return window;
        }
    }
    return nullptr;
}

void WhenWindowShown(std::function<void(ControlWindow&)> script) {
    QTimer::singleShot(0, [script] {
        ControlWindow* window = FindControlWindow();
        if (window && QTest::qWaitForWindowExposed(window, EXPOSE_TIMEOUT_MS)) {
            script(*window);
        } else {
            ADD_FAILURE() << "the control window did not come up";
        }
    });
}

bool RecordingHandler::Initialize(DialogFrame& shown) {
    EventRecorder::Initialize(shown);
    if (script) {
        WhenWindowShown([this](ControlWindow& window) { script(*frame, window); });
    }
    return true;
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
    seen.push_back({box->windowTitle(), box->text(), box->icon(), window && box->parentWidget() == window,
                    window && window->isVisible(), box->textFormat()});
    box->button(QMessageBox::Ok)->click();
}

bool PaintRecorder::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &label && event->type() == QEvent::Paint) {
        std::string text = label.text().toStdString();
        if (painted.empty() || painted.back() != text) {
            painted.push_back(text);
        }
    }
    return false;
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
