#include "flock_fixture.h"

#include <fstream>
#include <thread>

namespace {

#ifdef _WIN32
constexpr const char* SEPARATOR = "\\";
#else
constexpr const char* SEPARATOR = "/";
#endif

class StartSequence : public FlockFixture {};

TEST_F(StartSequence, ThreeBirdsLogInThenEnterThenFly) {
    WriteSettings(RUNNING_SETTINGS);
    int status = Run([&](FakeFrame& fake, FlockDialog& dialog) {
        EXPECT_EQ(fake.timers, (std::map<int, int>{{TIMER_PUMP, 100}}));
        ASSERT_TRUE(fake.Press(dialog, ID_LOGIN));
        EXPECT_EQ(fake.statusLines, THREE_BIRDS_STARTING);
        EXPECT_TRUE(fake.messages.empty());
        EXPECT_TRUE(dialog.running);
        EXPECT_EQ(dialog.currentWorld, "sky");
        EXPECT_EQ(dialog.birds.Count(), 3u);
        EXPECT_EQ((std::array{dialog.centerZ, dialog.centerX, dialog.centerY}), (std::array{1000, 2000, 500}));
        EXPECT_EQ(fake.timers, (std::map<int, int>{{TIMER_PUMP, 100}, {TIMER_HOP, 990}, {TIMER_RECENTER, 120000}}));
        ExpectEnabled(fake, {ID_AVATAR, ID_CENTER, ID_WORLD});
        ASSERT_TRUE(world.wait_count(MSG_STATE_CHANGE, 3));
    });
    EXPECT_EQ(status, EXIT_CLOSED);

    // Every login before the first lookup, under the bird's name and the owner.
    std::vector<std::string> names;
    bool lookedUp = false;
    for (const PeerFrame& message : universe.history()) {
        lookedUp = lookedUp || message.type == MSG_WORLD_LOOKUP;
        if (message.type == MSG_LOGIN) {
            EXPECT_FALSE(lookedUp) << "a login after an entry";
            FieldReader reader(message);
            EXPECT_EQ(reader.dword(), LIBRARY_BUILD);
            names.push_back(reader.string());
            EXPECT_EQ(reader.dword(), 42);
            EXPECT_EQ(reader.string(), "pw");
        }
    }
    EXPECT_EQ(names, (Lines{"Bird1", "Bird2", "Bird3"}));
    for (int link = 0; link < 3; ++link) {
        SCOPED_TRACE(link);
        std::vector<StateChange> changes = StateChanges(link);
        ASSERT_EQ(changes.size(), 1u);
        EXPECT_EQ(changes[0].Place(), (std::array{2000, 500, 1000, 5}));
        // Closing destroyed every instance.
        EXPECT_TRUE(world.wait_closed(link));
        EXPECT_TRUE(universe.wait_closed(link));
    }
}

TEST_F(StartSequence, NoBirdsStillRuns) {
    WriteSettings("World=sky\nBirdCount=0\n");
    Run([&](FakeFrame& fake, FlockDialog& dialog) {
        fake.Press(dialog, ID_LOGIN);
        EXPECT_EQ(fake.statusLines, (Lines{"Connecting to universe...", "Skyflit now running."}));
        EXPECT_TRUE(dialog.running);
        dialog.OnTimer(TIMER_HOP);
        dialog.OnTimer(TIMER_RECENTER);
    });
    EXPECT_EQ(universe.link_count(), 0);
}

class StartFailure : public FlockFixture {
protected:
    // Runs a start that must end the program; returns the message shown.
    std::string FailedStart() {
        std::string message;
        int status = Run([&](FakeFrame& fake, FlockDialog& dialog) {
            fake.Press(dialog, ID_LOGIN);
            EXPECT_TRUE(fake.quitPosted);
            EXPECT_FALSE(dialog.running);
            ASSERT_EQ(fake.messages.size(), 1u);
            message = fake.messages[0].text;
            EXPECT_EQ(fake.messages[0].caption, "Skyflit");
            EXPECT_EQ(fake.messages[0].icon, MessageIcon::None);
            EXPECT_TRUE(fake.messages[0].owned);
            EXPECT_EQ(fake.timers.count(TIMER_HOP), 0u);
        });
        EXPECT_EQ(status, EXIT_QUIT_POSTED);
        return message;
    }
};

TEST_F(StartFailure, NoUniverseListening) {
    int port = ClosedPort();
    WriteSettings(RUNNING_SETTINGS, port);
    EXPECT_EQ(FailedStart(), "Unable to create bot instance (unable to connect).\n"
                             "could not reach 127.0.0.1:" + std::to_string(port) + " (unable to connect)");
    EXPECT_EQ(frame.statusLines, (Lines{"Connecting to universe..."}));
}

TEST_F(StartFailure, RefusedLoginOfTheSecondBird) {
    universe.clear_rules();
    universe.on(MSG_LOGIN, ScriptedPeer::refuse_login(13));
    universe.on(MSG_LOGIN, ScriptedPeer::accept_login(0x101), 1);
    WriteSettings(RUNNING_SETTINGS);
    EXPECT_EQ(FailedStart(), "Unable to login Bird2 (invalid password).");
    EXPECT_EQ(frame.statusLines, (Lines{"Connecting to universe...", "Bird1 logged in."}));
    EXPECT_EQ(universe.count(MSG_WORLD_LOOKUP), 0);
    EXPECT_TRUE(universe.wait_closed(0));
}

TEST_F(StartFailure, RefusedEntryAfterEveryLogin) {
    lookupResult = 27;
    WriteSettings(RUNNING_SETTINGS);
    EXPECT_EQ(FailedStart(), "Bird1 is unable to enter the world (world not running).");
    EXPECT_EQ(frame.statusLines,
              (Lines{"Connecting to universe...", "Bird1 logged in.", "Bird2 logged in.", "Bird3 logged in."}));
    EXPECT_EQ(world.link_count(), 0);
}

// A start step canceled because the window is closing (wl_cancel from a
// stop request) ends the start without a message; the close then runs as
// any: instances destroyed, settings saved, status 0.
TEST_F(StartSequence, ACanceledStepEndsTheStartQuietly) {
    const struct {
        const char* step;
        ScriptedPeer& silent;  // the peer that never answers the step
        int awaited;           // what it receives before the cancel
    } steps[] = {
        {"login", universe, MSG_LOGIN},
        {"lookup", universe, MSG_WORLD_LOOKUP},
        {"world login", world, MSG_WORLD_LOGIN_V4},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.step);
        frame = FakeFrame();
        step.silent.on(step.awaited, [](ScriptedPeer&, const PeerFrame&) {}, 1);
        WriteSettings("World=sky\nBirdCount=1\nCitizen= 0042\n");
        std::thread closing([&] {
            EXPECT_TRUE(step.silent.wait_count(step.awaited, 1));
            wl_cancel();
        });
        int status = Run([&](FakeFrame& fake, FlockDialog& dialog) {
            fake.Press(dialog, ID_LOGIN);
            EXPECT_TRUE(fake.messages.empty());
            EXPECT_FALSE(fake.quitPosted);
            EXPECT_FALSE(dialog.running);
        });
        closing.join();
        EXPECT_EQ(status, EXIT_CLOSED);
        EXPECT_NE(SettingsBytes().find("\nCitizen=42\n"), std::string::npos);
        EXPECT_TRUE(universe.wait_closed());
    }
}

TEST_F(StartSequence, AnEmptyWorldWaitsForOneThenStartsAgain) {
    WriteSettings("Citizen=42\nBirdCount=1\n");
    Run([&](FakeFrame& fake, FlockDialog& dialog) {
        fake.Press(dialog, ID_LOGIN);
        EXPECT_EQ(fake.MessageTexts(), Lines{"You must enter in a world name."});
        EXPECT_FALSE(fake.quitPosted);
        EXPECT_TRUE(fake.statusLines.empty());
        ExpectEnabled(fake, {ID_LOGIN, ID_WORLD});
        EXPECT_EQ(universe.link_count(), 0);

        fake.Type(dialog, ID_WORLD, "sky");
        EXPECT_FALSE(fake.IsEnabled(ID_APPLY));
        fake.Press(dialog, ID_LOGIN);
        EXPECT_EQ(fake.statusLines.back(), "Skyflit now running.");
        ExpectEnabled(fake, {ID_AVATAR, ID_CENTER, ID_WORLD});
    });
}

TEST_F(StartSequence, AFailedExchangeGoesOnWithTheMembersAsTheyStand) {
    WriteSettings("Citizen=42\nBirdCount=1\n");
    Run([&](FakeFrame& fake, FlockDialog& dialog) {
        fake.texts[ID_CITIZEN] = "";
        fake.texts[ID_WORLD] = "sky";
        fake.Press(dialog, ID_LOGIN);
        EXPECT_EQ(fake.MessageTexts(), (Lines{"Please enter an integer.", "You must enter in a world name."}));
        EXPECT_EQ(dialog.worldName, "");
        EXPECT_EQ(dialog.citizenNumber, 42);
    });
}

// Before a start the flight timers do nothing (after a failed apply: see
// RunningFlock.AFailedEntryStopsTheFlockForGood).
TEST_F(StartSequence, FlightTimersIdleWhileNotRunning) {
    WriteSettings(RUNNING_SETTINGS);
    Run([&](FakeFrame&, FlockDialog& dialog) {
        for (int timer : {TIMER_HOP, TIMER_RECENTER, TIMER_PUMP, 7}) {
            dialog.OnTimer(timer);
        }
        EXPECT_EQ(universe.link_count(), 0);
    });
}

TEST_F(StartSequence, TeardownWritesTheSixKeysInOrder) {
    std::ofstream("skyflit.ini", std::ios::binary) << "[universe]\nport=" << universe.port() << "\n";
    Run([&](FakeFrame& fake, FlockDialog& dialog) {
        // The working directory, the platform's separator and the name.
        EXPECT_EQ(dialog.settingsPath, directory + SEPARATOR + "skyflit.ini");
        EXPECT_EQ(dialog.universeHost, "localhost");
        EXPECT_EQ(fake.texts[ID_CENTER], "0n 0e 0a");
        EXPECT_EQ(fake.texts[ID_BIRDS], "3");
        // Typed but never submitted: not saved.
        fake.Type(dialog, ID_PASSWORD, "typed");
    });
    EXPECT_EQ(SettingsBytes(), "[universe]\nport=" + std::to_string(universe.port()) +
                                   "\n[Main]\nCitizen=0\nAvatar=0\nPassword=\nCenterCoords=0n 0e 0a\n"
                                   "World=\nBirdCount=3\n");
}

TEST_F(StartSequence, SettingsComeBackInTheirConvertedForm) {
    std::ofstream("skyflit.ini", std::ios::binary) << "[Main]\r\nCitizen= 0042\r\nBirdCount=lots\r\n"
                                    "Password=abcdefghijklmnopqrstuvwxy\r\n; note\r\n";
    Run([&](FakeFrame& fake, FlockDialog& dialog) {
        EXPECT_EQ(dialog.citizenNumber, 42);
        EXPECT_EQ(dialog.birdCount, 0);
        EXPECT_EQ(dialog.universePort, 5670);
        EXPECT_EQ(fake.texts[ID_PASSWORD], "abcdefghijklmnopqrs");
    });
    EXPECT_EQ(SettingsBytes(), "[Main]\r\nCitizen=42\r\nBirdCount=0\r\nPassword=abcdefghijklmnopqrs\r\n"
                               "Avatar=0\r\nCenterCoords=0n 0e 0a\r\nWorld=\r\n; note\r\n");
}

}  // namespace
