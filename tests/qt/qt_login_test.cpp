// The program's own start-up on the Qt window: a user types the login and
// presses "Login", and the flock gets into a scripted world.
#include "app/dialog_template.h"
#include "app/flock_app.h"
#include "app/qt/qt_frame.h"
#include "qt_test_support.h"
#include "tests/support/scripted_peer.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr int SESSION = 7;
constexpr uint32_t LOOPBACK = 0x7F000001;
constexpr int WORLD_BUILD = 28;

char programName[] = "qt_login_test";
char* arguments[] = {programName, nullptr};
int argumentCount = 1;

// A universe that accepts every login and names the world peer for every
// lookup, and a world that lets every bird in.
struct Servers {
    Servers() {
        universe.on(MSG_LOGIN, ScriptedPeer::accept_login(SESSION, "Welcome"));
        uint16_t worldPort = world.port();
        universe.on(MSG_WORLD_LOOKUP, [worldPort](ScriptedPeer& peer, const PeerFrame& frame) {
            std::string name = FieldReader(frame).string();
            peer.send(frame.link, MSG_WORLD_ADDRESS,
                      Body().string(name).dword(static_cast<int32_t>(LOOPBACK)).word(worldPort).word(WORLD_BUILD));
        });
        world.on(MSG_WORLD_LOGIN_V4, ScriptedPeer::reply(MSG_WORLD_PROPERTIES));
    }
    ScriptedPeer universe{PeerRole::universe};
    ScriptedPeer world{PeerRole::world};
};

class QtLoginTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        UseOffscreenPlatform();
        frame = MakeQtFrame(argumentCount, arguments);
    }
    static void TearDownTestSuite() {
        frame.reset();
    }
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        previous = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(home.path()));
    }
    void TearDown() override {
        QDir::setCurrent(previous);
        EXPECT_FALSE(guard.fired) << "the script did not end the run";
    }

    void WriteSettings(const QByteArray& text) {
        QFile file(home.filePath("skyflit.ini"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    QByteArray Settings() {
        QFile file(home.filePath("skyflit.ini"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Runs the program's window; the script plays the user once it is up.
    int RunProgram(std::function<void(ControlWindow&)> script) {
        QTimer::singleShot(0, [script] {
            ControlWindow* window = FindControlWindow();
            if (window && QTest::qWaitForWindowExposed(window)) {
                script(*window);
            } else {
                ADD_FAILURE() << "the control window did not come up";
            }
        });
        FlockApp app;
        return app.Run(*frame);
    }

    static void Retype(ControlWindow& window, int id, const QString& text) {
        auto* edit = qobject_cast<QLineEdit*>(window.Control(id));
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }

    static inline std::unique_ptr<DialogFrame> frame;
    QTemporaryDir home;
    QString previous;
    HangGuard guard{60000};
};

TEST_F(QtLoginTest, TypedLoginGetsTheFlockFlying) {
    Servers servers;
    WriteSettings("[universe]\nhost=127.0.0.1\nport=" + QByteArray::number(servers.universe.port()) + "\n");
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
        painted = recorder.Distinct();

        EXPECT_EQ(window.ControlText(ID_STATUS), "Skyflit now running.");
        for (int id : {ID_LOGIN, ID_CITIZEN, ID_PASSWORD, ID_BIRDS, ID_APPLY}) {
            EXPECT_FALSE(window.Control(id)->isEnabled()) << id;
        }
        for (int id : {ID_AVATAR, ID_CENTER, ID_WORLD}) {
            EXPECT_TRUE(window.Control(id)->isEnabled()) << id;
        }
        QString shots = qEnvironmentVariable("SKYFLIT_SCREENSHOT_DIR");
        if (!shots.isEmpty()) {
            // A relative directory means the one the test was started in.
            QDir directory(QDir(previous).absoluteFilePath(shots));
            EXPECT_TRUE(window.grab().save(directory.filePath("skyflit-window.png")));
        }
        // An edit to a running flock's world offers "Apply".
        QTest::keyClicks(window.Control(ID_WORLD), "2");
        EXPECT_TRUE(window.Control(ID_APPLY)->isEnabled());
        window.close();
    });
    EXPECT_EQ(status, EXIT_CLOSED);

    // Progress reached the screen while the logins blocked the event loop.
    std::vector<std::string> expected = {
        "Connecting to universe...", "Bird1 logged in.",         "Bird2 logged in.",
        "Bird3 logged in.",          "Bird1 entered the world.", "Bird2 entered the world.",
        "Bird3 entered the world.",  "Skyflit now running."};
    EXPECT_EQ(painted, expected);

    EXPECT_EQ(servers.universe.count(MSG_LOGIN), 3);
    EXPECT_EQ(servers.world.count(MSG_WORLD_LOGIN_V4), 3);
    QByteArray saved = Settings();
    EXPECT_TRUE(saved.contains("Citizen=1234")) << saved.constData();
    EXPECT_TRUE(saved.contains("World=Sky\n")) << saved.constData();
    EXPECT_TRUE(saved.contains("CenterCoords=1.5n 2e 0.1a")) << saved.constData();
}

TEST_F(QtLoginTest, FailedStartReportsThenEndsTheProgram) {
    // A port that nobody listens on.
    uint16_t closedPort = 0;
    {
        ScriptedPeer gone(PeerRole::universe);
        closedPort = gone.port();
    }
    WriteSettings("[Main]\nWorld=sky\nBirdCount=2\n[universe]\nhost=127.0.0.1\nport=" +
                  QByteArray::number(closedPort) + "\n");
    MessageBoxWatcher watcher;
    int status = RunProgram([](ControlWindow& window) {
        QTest::keyClick(window.Control(ID_CENTER), Qt::Key_Return);
    });
    EXPECT_EQ(status, EXIT_QUIT_POSTED);
    ASSERT_EQ(watcher.seen.size(), 1u);
    EXPECT_EQ(watcher.seen[0].title, "Skyflit");
    EXPECT_TRUE(watcher.seen[0].text.startsWith("Unable to create bot instance (")) << watcher.seen[0].text.toStdString();
    EXPECT_EQ(watcher.seen[0].icon, QMessageBox::NoIcon);
    EXPECT_TRUE(watcher.seen[0].ownedByWindow);
    EXPECT_TRUE(watcher.seen[0].windowVisible);
    EXPECT_TRUE(Settings().contains("BirdCount=2"));
}

}  // namespace
