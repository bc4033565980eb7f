// The program's window on a real X server with a window manager: the
// message boxes that "Login" raises reach the screen, text and button, and a
// click on OK takes them down.
#include "app/flock_app.h"
#include "qt_test_support.h"
#include "tests/app/flock_fixture.h"
#include "virtual_display.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <algorithm>
#include <utility>

namespace {

constexpr int POLL_PERIOD_MS = 20;
constexpr int PAINT_TIMEOUT_MS = 2000;
constexpr int MANAGED_TIMEOUT_MS = 5000;
constexpr int HANG_TIMEOUT_MS = 12000;
constexpr double SHOWN = 0.9;

// Of the pixels that the widget draws in a colour other than its background,
// the share that the X server shows alike where the widget stands: near 1
// when the screen shows its text and buttons, near 0 for a blank fill of any
// colour.
double InkOnScreen(QWidget& widget) {
    const QImage drawn = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect area = widget.geometry();
    const QImage shown = widget.screen()
                             ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    const QRgb background = drawn.pixel(0, 0);
    int ink = 0;
    int alike = 0;
    for (int y = 0; y < std::min(drawn.height(), shown.height()); ++y) {
        for (int x = 0; x < std::min(drawn.width(), shown.width()); ++x) {
            const QRgb colour = drawn.pixel(x, y);
            if (colour != background) {
                ++ink;
                alike += shown.pixel(x, y) == colour;
            }
        }
    }
    return ink == 0 ? 0.0 : static_cast<double>(alike) / ink;
}

struct SeenBox {
    std::string text;
    double inkOnScreen;
};

// Looks at each message box that comes up until the screen shows it (or for
// PAINT_TIMEOUT_MS), then clicks its OK button through the X server. Once
// `expected` boxes have gone, runs whenDone.
class ScreenBoxChecker {
public:
    ScreenBoxChecker(const VirtualDisplay& display, std::size_t expected) : display(display), expected(expected) {
        QObject::connect(&timer, &QTimer::timeout, [this] { Poll(); });
        timer.start(POLL_PERIOD_MS);
    }

    std::function<void()> whenDone;
    std::vector<SeenBox> seen;

private:
    void Poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            if (seen.size() >= expected && whenDone) {
                std::exchange(whenDone, nullptr)();
            }
            return;
        }
        if (box == dismissed) {
            return;
        }
        if (box != current) {
            current = box;
            shownFor.start();
        }
        const bool exposed = box->windowHandle() && box->windowHandle()->isExposed();
        const double ink = exposed ? InkOnScreen(*box) : 0.0;
        if (ink < SHOWN && shownFor.elapsed() < PAINT_TIMEOUT_MS) {
            return;
        }
        seen.push_back({box->text().toStdString(), ink});
        dismissed = box;
        QAbstractButton* ok = box->button(QMessageBox::Ok);
        display.Click(ok->mapToGlobal(ok->rect().center()));
    }

    const VirtualDisplay& display;
    std::size_t expected;
    QTimer timer;
    QPointer<QMessageBox> current;
    QPointer<QMessageBox> dismissed;
    QElapsedTimer shownFor;
};

class QtDisplayTest : public FlockFixture {
protected:
    static void SetUpTestSuite() {
        missing = VirtualDisplay::Missing();
        if (missing.empty()) {
            display = std::make_unique<VirtualDisplay>();
            qputenv("QT_QPA_PLATFORM", "xcb");
        }
    }

    static void TearDownTestSuite() {
        // The application's connection goes before the server it is on.
        ReleaseQtFrame();
        display.reset();
    }

    void SetUp() override {
        FlockFixture::SetUp();
        if (!missing.empty()) {
            GTEST_SKIP() << "no virtual display: install the Debian packages " << missing;
        }
        ASSERT_FALSE(display->Name().empty()) << display->Failure();
    }

    enum class Press { Click, Enter };

    struct Case {
        const char* name;
        const char* citizen;  // put in the Citizen number field first; null keeps the loaded 0
        Press press;
        std::vector<std::string> texts;
    };

    // Runs the program with no world saved, presses "Login" as the case says
    // and looks at every box that comes up; closes the window once the
    // case's boxes have gone.
    std::vector<SeenBox> PressLogin(const Case& test) {
        WriteSettings("");
        DialogFrame& frame = SharedQtFrame();  // timers need the application first
        HangGuard guard(HANG_TIMEOUT_MS);
        ScreenBoxChecker checker(*display, test.texts.size());
        WhenWindowShown([&](ControlWindow& window) {
            if (test.citizen) {
                window.SetControlText(ID_CITIZEN, test.citizen);
            }
            // Until openbox has framed the window, it may not yet pass input on.
            EXPECT_TRUE(QTest::qWaitFor([&] { return window.frameGeometry() != window.geometry(); },
                                        MANAGED_TIMEOUT_MS))
                << "openbox did not manage the window";
            checker.whenDone = [&window] { window.close(); };
            if (test.press == Press::Enter) {
                display->Key("Return");
            } else {
                QWidget* login = window.Control(ID_LOGIN);
                display->Click(login->mapToGlobal(login->rect().center()));
            }
        });
        FlockApp app;
        EXPECT_EQ(app.Run(frame), EXIT_CLOSED);
        return checker.seen;
    }

    static inline std::string missing;
    static inline std::unique_ptr<VirtualDisplay> display;
};

TEST_F(QtDisplayTest, BoxesFromLoginReachTheScreen) {
    const std::string noWorld = "You must enter in a world name.";
    const Case cases[] = {
        {"no world, clicked", nullptr, Press::Click, {noWorld}},
        {"no world, Enter", nullptr, Press::Enter, {noWorld}},
        {"no citizen number, no world", "", Press::Click, {"Please enter an integer.", noWorld}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        std::vector<SeenBox> seen = PressLogin(test);
        ASSERT_EQ(seen.size(), test.texts.size());
        for (std::size_t i = 0; i < seen.size(); ++i) {
            EXPECT_EQ(seen[i].text, test.texts[i]);
            EXPECT_GE(seen[i].inkOnScreen, SHOWN) << "the screen does not show \"" << seen[i].text << "\"";
        }
    }
}

}  // namespace
