#include "app/qt/qt_frame.h"

#include "app/dialog_template.h"
#include "app/qt/control_window.h"
#include "app/qt/program_icon.h"
#include "app/qt/signal_closer.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include <functional>
#include <map>

namespace {

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// The dialog layer over Qt widgets. Events reach the handler only while the
// modal run lasts; a quit request waits until the outermost handler call has
// returned, as the handler that posted it may still show a message box.
class QtFrame final : public DialogFrame {
public:
    QtFrame(int& argc, char** argv) {
        if (!QApplication::instance()) {
            application = std::make_unique<QApplication>(argc, argv);
        }
    }

    int RunModal(DialogHandler& target) override {
        window = std::make_unique<ControlWindow>(FlockDialogTemplate());
        handler = &target;
        quitPosted = false;
        closeRequested = false;
        live = true;
        QObject::connect(window.get(), &ControlWindow::commandIssued, window.get(),
                         [this](int id) { Deliver([id](DialogHandler& h) { h.OnCommand(id); }); });
        QObject::connect(window.get(), &ControlWindow::fieldEdited, window.get(),
                         [this](int id) { Deliver([id](DialogHandler& h) { h.OnTextChanged(id); }); });

        SignalCloser closer([this] { RequestClose(); });
        Deliver([this](DialogHandler& h) { h.Initialize(*this); });
        if (!quitPosted) {
            window->exec();
        }
        live = false;
        timers.clear();
        closer.TearingDown();
        target.Teardown();
        window.reset();
        handler = nullptr;
        return quitPosted ? EXIT_QUIT_POSTED : EXIT_CLOSED;
    }

    void SetText(int id, const std::string& text) override {
        if (!window) {
            return;
        }
        window->SetControlText(id, QString::fromStdString(text));
        // The logic may block the event loop right after this (a login
        // waits for the server), so progress must reach the screen now.
        if (QWidget* control = window->Control(id); control && control->isVisible()) {
            control->repaint();
        }
    }

    std::string Text(int id) const override {
        return window ? window->ControlText(id).toStdString() : std::string();
    }

    void Enable(int id, bool enabled) override {
        if (QWidget* control = Control(id)) {
            control->setEnabled(enabled);
        }
    }

    bool IsEnabled(int id) const override {
        QWidget* control = Control(id);
        return control && control->isEnabled();
    }

    void Focus(int id) override {
        QWidget* control = Control(id);
        if (!control) {
            return;
        }
        control->setFocus(Qt::OtherFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(control)) {
            edit->selectAll();
        }
    }

    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon, bool owned) override {
        QWidget* owner = owned ? window.get() : nullptr;
        QMessageBox box(ToQtIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                        QMessageBox::Ok, owner);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }

    void StartTimer(int id, int periodMs) override {
        if (!live) {
            return;
        }
        std::unique_ptr<QTimer>& timer = timers[id];
        if (!timer) {
            timer = std::make_unique<QTimer>();
            QObject::connect(timer.get(), &QTimer::timeout, timer.get(),
                             [this, id] { Deliver([id](DialogHandler& h) { h.OnTimer(id); }); });
        }
        timer->start(periodMs);
    }

    void StopTimer(int id) override {
        // Stopped, not destroyed: the handler may be stopping the very timer
        // whose signal is calling it.
        if (auto found = timers.find(id); found != timers.end()) {
            found->second->stop();
        }
    }

    void PostQuit() override {
        quitPosted = true;
        if (depth == 0) {
            EndRun();
        }
    }

    void SetIcon(int resource) override {
        QIcon icon = ProgramIcon(resource);
        QApplication::setWindowIcon(icon);
        if (window) {
            window->setWindowIcon(icon);
        }
    }

    void GreyMaximizeAndSize() override {
        if (window) {
            window->FixSize();
        }
    }

private:
    QWidget* Control(int id) const {
        return window ? window->Control(id) : nullptr;
    }

    void Deliver(const std::function<void(DialogHandler&)>& event) {
        if (!live || !handler) {
            return;
        }
        ++depth;
        event(*handler);
        --depth;
        if (depth == 0 && (quitPosted || closeRequested)) {
            EndRun();
        }
    }

    // A close from outside (a signal): like the close box, but a message
    // box that is up must not hold it back.
    void RequestClose() {
        closeRequested = true;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                box->reject();
            }
        }
        if (depth == 0) {
            EndRun();
        }
    }

    void EndRun() {
        if (window && window->isVisible()) {
            window->done(QDialog::Rejected);
        }
    }

    // Declared first so that it goes last, after every widget.
    std::unique_ptr<QApplication> application;
    std::unique_ptr<ControlWindow> window;
    std::map<int, std::unique_ptr<QTimer>> timers;
    DialogHandler* handler = nullptr;
    int depth = 0;
    bool live = false;
    bool quitPosted = false;
    bool closeRequested = false;
};

}  // namespace

std::unique_ptr<DialogFrame> MakeQtFrame(int& argc, char** argv) {
    return std::make_unique<QtFrame>(argc, argv);
}
