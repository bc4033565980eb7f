// The program's own start-up on the Qt window: a user types the login and
// presses "Login", and the flock gets into a scripted world.
#include "app/flock_app.h"
#include "qt_test_support.h"
#include "tests/app/flock_fixture.h"

#include <QDir>
#include <QLineEdit>
#include <QTest>

#include <filesystem>

namespace {

class QtLoginTest : public FlockFixture {
protected:
    static void TearDownTestSuite() { ReleaseQtFrame(); }

    // Runs the program's window; the script plays the user once it is up.
    int RunProgram(std::function<void(ControlWindow&)> script) {
        WhenWindowShown(std::move(script));
        FlockApp app;
        return app.Run(qtFrame);
    }

    static void Retype(ControlWindow& window, int id, const QString& text) {
        auto* edit = qobject_cast<QLineEdit*>(window.Control(id));
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }

    DialogFrame& qtFrame = SharedQtFrame();
    HangGuard guard;
};

TEST_F(QtLoginTest, TypedLoginGetsTheFlockFlying) {
    WriteSettings("");
    std::vector<std::string> painted;
    int status = RunProgram([&](ControlWindow& window) {
        EXPECT_EQ(window.ControlText(ID_STATUS), "Please enter login info.");
        EXPECT_EQ(window.ControlText(ID_BIRDS), "3");
        Retype(window, ID_CITIZEN, "1234");
        Retype(window, ID_PASSWORD, "wings");
        Retype(window, ID_WORLD, "Sky");
        Retype(window, ID_AVATAR, "5");
        Retype(window, ID_CENTER, "1.5n 2e 0.1a");

        PaintRecorder recorder(*qobject_cast<QLabel*>(window.Control(ID_STATUS)));
        QTest::mouseClick(window.Control(ID_LOGIN), Qt::LeftButton);
        painted = recorder.painted;

        EXPECT_EQ(window.ControlText(ID_STATUS), "Skyflit now running.");
        for (int id : {ID_LOGIN, ID_CITIZEN, ID_PASSWORD, ID_BIRDS, ID_APPLY, ID_AVATAR, ID_CENTER, ID_WORLD}) {
            EXPECT_EQ(window.Control(id)->isEnabled(), id == ID_AVATAR || id == ID_CENTER || id == ID_WORLD) << id;
        }
        QString shots = qEnvironmentVariable("SKYFLIT_SCREENSHOT_DIR");
        if (!shots.isEmpty()) {
            // A relative directory means the one the test was started in.
            QDir directory(QDir(QString::fromStdString(previousDirectory)).absoluteFilePath(shots));
            EXPECT_TRUE(window.grab().save(directory.filePath("skyflit-window.png")));
        }
        // An edit to a running flock's world offers "Apply".
        QTest::keyClicks(window.Control(ID_WORLD), "2");
        EXPECT_TRUE(window.Control(ID_APPLY)->isEnabled());
        window.close();
    });
    EXPECT_EQ(status, EXIT_CLOSED);

    // Progress reached the screen while the logins blocked the event loop.
    EXPECT_EQ(painted, THREE_BIRDS_STARTING);
    EXPECT_EQ(universe.count(MSG_LOGIN), 3);
    EXPECT_EQ(world.count(MSG_WORLD_LOGIN_V4), 3);
    const std::string saved = SettingsBytes();
    EXPECT_NE(saved.find("Citizen=1234\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("World=Sky\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("CenterCoords=1.5n 2e 0.1a\n"), std::string::npos) << saved;
}

TEST_F(QtLoginTest, FailedStartReportsThenEndsTheProgram) {
    const int port = ClosedPort();
    WriteSettings("World=sky\nBirdCount=2\n", port);
    MessageBoxWatcher watcher;
    int status = RunProgram([](ControlWindow& window) { QTest::keyClick(window.Control(ID_CENTER), Qt::Key_Return); });
    EXPECT_EQ(status, EXIT_QUIT_POSTED);
    ASSERT_EQ(watcher.seen.size(), 1u);
    EXPECT_EQ(watcher.seen[0].title, "Skyflit");
    EXPECT_EQ(watcher.seen[0].text.toStdString(),
              "Unable to create bot instance (unable to connect).\ncould not reach 127.0.0.1:" + std::to_string(port) +
                  " (unable to connect)");
    EXPECT_EQ(watcher.seen[0].icon, QMessageBox::NoIcon);
    EXPECT_TRUE(watcher.seen[0].ownedByWindow);
    EXPECT_TRUE(watcher.seen[0].windowVisible);
    EXPECT_NE(SettingsBytes().find("BirdCount=2\n"), std::string::npos);
}

// Settings that cannot be saved are told in a box of their own once the
// window has gone, and the program ends with 1.
TEST_F(QtLoginTest, AFailedSaveIsToldAfterTheWindow) {
    std::filesystem::create_directory("skyflit.ini");
    MessageBoxWatcher watcher;
    int status = RunProgram([](ControlWindow& window) { window.close(); });
    EXPECT_EQ(status, 1);
    ASSERT_EQ(watcher.seen.size(), 1u);
    EXPECT_TRUE(watcher.seen[0].text.startsWith("could not save settings to ")) << watcher.seen[0].text.toStdString();
    EXPECT_EQ(watcher.seen[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(watcher.seen[0].ownedByWindow);
    EXPECT_FALSE(watcher.seen[0].windowVisible);
}

}  // namespace
