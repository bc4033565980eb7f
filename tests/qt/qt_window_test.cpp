// The Qt window as the dialog template describes it, and the frame's
// contract with the window logic: what reaches the handler, and when.
#include "app/dialog_template.h"
#include "app/qt/field_validator.h"
#include "qt_test_support.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <csignal>
#include <set>

namespace {

class QtWindowTest : public testing::Test {
protected:
    static void TearDownTestSuite() { ReleaseQtFrame(); }

    // Runs the window with the handler; the script ends the run itself.
    int Run(std::function<void(DialogFrame&, ControlWindow&)> script) {
        handler.script = std::move(script);
        return frame.RunModal(handler);
    }

    DialogFrame& frame = SharedQtFrame();
    RecordingHandler handler;
    HangGuard guard;
};

TEST_F(QtWindowTest, ControlsFollowTheTemplate) {
    const DialogTemplate& dialog = FlockDialogTemplate();
    Run([&](DialogFrame&, ControlWindow& window) {
        EXPECT_EQ(window.windowTitle(), "Skyflit System");
        QSize size = ToPixels(dialog.width, dialog.height, window.BaseUnits());
        EXPECT_EQ(window.size(), size);
        EXPECT_EQ(window.minimumSize(), size);
        EXPECT_EQ(window.maximumSize(), size);
        EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
        EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
        EXPECT_TRUE(window.windowFlags() & Qt::WindowCloseButtonHint);

        std::set<QString> labels;
        for (QLabel* label : window.findChildren<QLabel*>()) {
            labels.insert(label->text());
            if (label != window.Control(ID_STATUS)) {
                EXPECT_GE(label->width(), label->sizeHint().width()) << "clipped: " << label->text().toStdString();
            }
        }
        for (const ControlTemplate& control : dialog.controls) {
            QString text = QString::fromUtf8(control.text);
            if (control.id == ID_NONE) {
                if (control.kind == ControlKind::GroupBox) {
                    ASSERT_NE(window.findChild<QGroupBox*>(), nullptr);
                    EXPECT_EQ(window.findChild<QGroupBox*>()->title(), text);
                } else {
                    EXPECT_TRUE(labels.count(text)) << control.text;
                }
                continue;
            }
            SCOPED_TRACE(control.id);
            QWidget* widget = window.Control(control.id);
            ASSERT_NE(widget, nullptr);
            EXPECT_EQ(widget->geometry(), ToPixels(control.rect, window.BaseUnits()));
            EXPECT_EQ(widget->isEnabled(), !(control.styles & STYLE_DISABLED));
            EXPECT_EQ(window.ControlText(control.id), text);
            if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
                ASSERT_EQ(control.kind, ControlKind::Edit);
                EXPECT_EQ(edit->echoMode(), control.styles & STYLE_PASSWORD ? QLineEdit::Password : QLineEdit::Normal);
                if (control.maxLength > 0) {
                    EXPECT_EQ(edit->maxLength(), control.maxLength);
                }
                EXPECT_EQ(edit->validator() != nullptr,
                          (control.styles & STYLE_DIGITS) || !(control.styles & STYLE_SCROLLS));
                // The group box surrounds the fields; it must not sit on top of them.
                EXPECT_EQ(window.childAt(edit->geometry().center()), edit);
            }
        }
        EXPECT_FALSE(window.Control(ID_APPLY)->isEnabled());
        EXPECT_TRUE(ControlOf<QPushButton>(window, ID_LOGIN)->isDefault());
        EXPECT_FALSE(ControlOf<QPushButton>(window, ID_APPLY)->isDefault());

        // Tab visits the fields and buttons in template order.
        std::vector<int> order;
        QWidget* widget = window.Control(ID_CITIZEN);
        for (int step = 0; step < 8; ++step) {
            order.push_back(widget->objectName().mid(7).toInt());
            do {
                widget = widget->nextInFocusChain();
            } while (!(widget->focusPolicy() & Qt::TabFocus) || widget->objectName().isEmpty());
        }
        EXPECT_EQ(order, (std::vector<int>{ID_CITIZEN, ID_PASSWORD, ID_WORLD, ID_AVATAR, ID_CENTER, ID_BIRDS, ID_LOGIN,
                                           ID_APPLY}));
        window.reject();
    });
}

TEST_F(QtWindowTest, TypingRespectsDigitsAndLimits) {
    Run([&](DialogFrame& frame, ControlWindow& window) {
        auto* citizen = ControlOf<QLineEdit>(window, ID_CITIZEN);
        QTest::keyClicks(citizen, "12a3 -4");
        EXPECT_EQ(citizen->text(), "1234");
        // A negative number set by the program may still be edited.
        frame.SetText(ID_CITIZEN, "-5");
        citizen->end(false);
        QTest::keyClicks(citizen, "7-");
        EXPECT_EQ(frame.Text(ID_CITIZEN), "-57");

        QTest::keyClicks(ControlOf<QLineEdit>(window, ID_PASSWORD), "abcdefghijklmnopqrst");
        EXPECT_EQ(frame.Text(ID_PASSWORD), "abcdefghijklmnop");
        QTest::keyClicks(ControlOf<QLineEdit>(window, ID_WORLD), "Skyworld9");
        EXPECT_EQ(frame.Text(ID_WORLD), "Skyworld");
        QTest::keyClicks(ControlOf<QLineEdit>(window, ID_CENTER), "12.5s 3.1w 0.4a and a long tail");
        EXPECT_EQ(frame.Text(ID_CENTER), "12.5s 3.1w 0.4a and a long tail");

        // The avatar field does not scroll: typing stops when it is full.
        auto* avatar = ControlOf<QLineEdit>(window, ID_AVATAR);
        QTest::keyClicks(avatar, QString(60, u'8'));
        QString typed = avatar->text();
        EXPECT_GT(typed.size(), 3);
        EXPECT_LT(typed.size(), 60);
        EXPECT_LE(QFontMetrics(avatar->font()).horizontalAdvance(typed), FieldValidator::VisibleTextWidth(*avatar));
        window.reject();
    });
}

TEST_F(QtWindowTest, OverlongTextIsShownWholeButCannotGrow) {
    Run([&](DialogFrame& frame, ControlWindow& window) {
        auto* password = ControlOf<QLineEdit>(window, ID_PASSWORD);
        const std::string loaded = "abcdefghijklmnopqrs";  // 19 characters, the limit is 16
        frame.SetText(ID_PASSWORD, loaded);
        EXPECT_EQ(frame.Text(ID_PASSWORD), loaded);

        password->end(false);
        QTest::keyClicks(password, "t");
        EXPECT_EQ(frame.Text(ID_PASSWORD), loaded);
        QTest::keyClick(password, Qt::Key_Backspace);
        QTest::keyClicks(password, "x");
        EXPECT_EQ(frame.Text(ID_PASSWORD), "abcdefghijklmnopqr");
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(password, Qt::Key_Backspace);
        }
        QTest::keyClicks(password, "xy");
        EXPECT_EQ(frame.Text(ID_PASSWORD), "abcdefghijklmnox");

        // Editing in the middle keeps the cursor where the user is typing.
        frame.SetText(ID_WORLD, "abcdefghij");
        auto* world = ControlOf<QLineEdit>(window, ID_WORLD);
        world->setCursorPosition(2);
        QTest::keyClick(world, Qt::Key_Delete);
        QTest::keyClick(world, Qt::Key_Delete);
        EXPECT_EQ(world->cursorPosition(), 2);
        QTest::keyClicks(world, "Z");
        EXPECT_EQ(frame.Text(ID_WORLD), "abefghij");
        QTest::keyClick(world, Qt::Key_Delete);
        QTest::keyClicks(world, "Z");
        EXPECT_EQ(frame.Text(ID_WORLD), "abZfghij");
        EXPECT_EQ(world->cursorPosition(), 3);
        window.reject();
    });
}

// Typed edits and enabled buttons reach the handler; text set by the program,
// refused keys, a disabled Apply and Enter with Login disabled do not.
TEST_F(QtWindowTest, EditsAndPressesReachTheHandler) {
    int status = Run([&](DialogFrame& frame, ControlWindow& window) {
        frame.SetText(ID_WORLD, "sky");
        QTest::keyClicks(ControlOf<QLineEdit>(window, ID_WORLD), "ab");
        QTest::keyClicks(ControlOf<QLineEdit>(window, ID_AVATAR), "x");
        QTest::mouseClick(window.Control(ID_LOGIN), Qt::LeftButton);
        QTest::keyClick(window.Control(ID_CENTER), Qt::Key_Return);
        frame.Enable(ID_LOGIN, false);
        QTest::keyClick(window.Control(ID_CENTER), Qt::Key_Return);
        QTest::mouseClick(window.Control(ID_APPLY), Qt::LeftButton);
        frame.Enable(ID_APPLY, true);
        EXPECT_TRUE(frame.IsEnabled(ID_APPLY));
        QTest::mouseClick(window.Control(ID_APPLY), Qt::LeftButton);

        frame.SetText(ID_CENTER, "typed before");
        frame.Focus(ID_CENTER);
        EXPECT_EQ(window.focusWidget(), window.Control(ID_CENTER));
        EXPECT_EQ(ControlOf<QLineEdit>(window, ID_CENTER)->selectedText(), "typed before");
        QTest::keyClick(&window, Qt::Key_Escape);
    });
    EXPECT_EQ(status, EXIT_CLOSED);
    EXPECT_EQ(handler.events, (std::vector<std::string>{"initialize", "text 1003", "text 1003", "command 1000",
                                                        "command 1000", "command 1004", "teardown"}));
}

TEST_F(QtWindowTest, CloseBoxEndsTheRunAndTheNextRunStartsAfresh) {
    int status = Run([&](DialogFrame& frame, ControlWindow& window) {
        frame.SetText(ID_STATUS, "changed");
        frame.Enable(ID_APPLY, true);
        window.close();
    });
    EXPECT_EQ(status, EXIT_CLOSED);
    EXPECT_EQ(handler.Count("teardown"), 1);

    RecordingHandler second;
    second.script = [](DialogFrame& frame, ControlWindow& window) {
        EXPECT_EQ(frame.Text(ID_STATUS), "Please enter login info.");
        EXPECT_FALSE(frame.IsEnabled(ID_APPLY));
        window.reject();
    };
    EXPECT_EQ(frame.RunModal(second), EXIT_CLOSED);
    EXPECT_EQ(FindControlWindow(), nullptr);
}

TEST_F(QtWindowTest, QuitWaitsForTheHandlerThatPostedIt) {
    MessageBoxWatcher watcher;
    handler.onCommand = [](DialogFrame& frame, int) {
        frame.PostQuit();
        frame.ShowMessage("Unable to login Bird1 (invalid password).", "Skyflit", MessageIcon::None, true);
    };
    int status = Run([](DialogFrame&, ControlWindow& window) {
        QTest::mouseClick(window.Control(ID_LOGIN), Qt::LeftButton);
    });
    EXPECT_EQ(status, EXIT_QUIT_POSTED);
    ASSERT_EQ(watcher.seen.size(), 1u);
    EXPECT_TRUE(watcher.seen[0].windowVisible) << "the window closed under the message box";
    EXPECT_EQ(handler.events, (std::vector<std::string>{"initialize", "command 1000", "teardown"}));
}

TEST_F(QtWindowTest, TerminateSignalClosesEvenOverAMessageBox) {
    struct sigaction before {};
    sigaction(SIGTERM, nullptr, &before);
    handler.onCommand = [this](DialogFrame& frame, int) {
        QTimer::singleShot(20, [] { std::raise(SIGTERM); });
        frame.ShowMessage("You must enter in a world name.", "Skyflit", MessageIcon::None, true);
        handler.events.push_back("box dismissed");
    };
    int status = Run([](DialogFrame&, ControlWindow& window) {
        QTest::mouseClick(window.Control(ID_LOGIN), Qt::LeftButton);
    });
    EXPECT_EQ(status, EXIT_CLOSED);
    EXPECT_EQ(handler.events, (std::vector<std::string>{"initialize", "command 1000", "box dismissed", "teardown"}));

    struct sigaction after {};
    sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler) << "the handler outlived the window";
}

TEST_F(QtWindowTest, MessageBoxesCarryCaptionIconAndOwner) {
    MessageBoxWatcher watcher;
    frame.ShowMessage("Unable to initialize world API.", "Skyflit", MessageIcon::Error, false);
    Run([](DialogFrame& frame, ControlWindow& window) {
        frame.ShowMessage("Please enter an integer.", "Skyflit", MessageIcon::Warning, true);
        frame.ShowMessage("<b>World</b> & more", "Skyflit", MessageIcon::None, true);
        window.reject();
    });
    ASSERT_EQ(watcher.seen.size(), 3u);
    EXPECT_EQ(watcher.seen[0].title, "Skyflit");
    EXPECT_EQ(watcher.seen[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(watcher.seen[0].ownedByWindow);
    EXPECT_EQ(watcher.seen[1].text, "Please enter an integer.");
    EXPECT_EQ(watcher.seen[1].icon, QMessageBox::Warning);
    EXPECT_TRUE(watcher.seen[1].ownedByWindow);
    EXPECT_EQ(watcher.seen[2].icon, QMessageBox::NoIcon);
    EXPECT_EQ(watcher.seen[2].format, Qt::PlainText) << "texts from servers are not markup";
}

TEST_F(QtWindowTest, TimersFireByIdAndStopFromTheirOwnTick) {
    handler.onInitialize = [](DialogFrame& frame) { frame.StartTimer(7, 5); };
    handler.onTimer = [this](DialogFrame& frame, int id) {
        if (id == 7 && handler.Count("timer 7") == 3) {
            frame.StopTimer(7);
            frame.StartTimer(8, 60000);
            frame.StartTimer(8, 5);  // a running id restarts with the new period
        } else if (id == 8 && handler.Count("timer 8") == 2) {
            frame.PostQuit();
        }
    };
    EXPECT_EQ(frame.RunModal(handler), EXIT_QUIT_POSTED);
    EXPECT_EQ(handler.events, (std::vector<std::string>{"initialize", "timer 7", "timer 7", "timer 7", "timer 8",
                                                        "timer 8", "teardown"}));

    // Timers of an ended run are gone.
    RecordingHandler next;
    next.script = [](DialogFrame&, ControlWindow& window) { QTimer::singleShot(50, &window, &QDialog::reject); };
    frame.RunModal(next);
    EXPECT_EQ(next.Count("timer 8"), 0);
}

}  // namespace
