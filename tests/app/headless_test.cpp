// skyflit --headless as a process, against the scripted peers.
#include "child_process.h"
#include "flock_fixture.h"

#include <fstream>
#include <iterator>

namespace {

using Clock = std::chrono::steady_clock;

class Headless : public FlockFixture {
protected:
    // A skyflit started in the fixture's directory, stderr in "stderr.txt".
    static ChildProcess Start(std::vector<std::string> arguments = {SKYFLIT_BINARY, "--headless"}) {
        return ChildProcess(std::move(arguments), "stderr.txt");
    }
    static std::string Errors() {
        std::ifstream in("stderr.txt");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(Headless, FliesAnswersAndKeepsTheSettingsOnSigterm) {
    WriteSettings("World=sky\nCitizen= 0042\nPassword=pw\nBirdCount=2\nCenterCoords=1n\n");
    auto skyflit = Start();
    ASSERT_TRUE(skyflit.ReadUntil("Skyflit now running.\n"));
    EXPECT_EQ(skyflit.Output(), "Connecting to universe...\nBird1 logged in.\nBird2 logged in.\n"
                                "Bird1 entered the world.\nBird2 entered the world.\nSkyflit now running.\n");
    // Timer 42 pumps the library, so Bird1 answers.
    AvatarAppears(77, "Asker");
    world.send(0, MSG_CHAT_1, Body().word(77).string("skyflit owner"));
    ASSERT_TRUE(world.wait_count(MSG_WHISPER, 1));
    EXPECT_EQ(Whispers()[0].text, "I am owned by citizen number 42.");
    // And timer 43 hops the birds, about once a second.
    ASSERT_TRUE(world.wait_count(MSG_STATE_CHANGE, 4, 3000));

    skyflit.Signal(SIGTERM);
    EXPECT_EQ(skyflit.Wait(), 0);
    EXPECT_EQ(Errors(), "");
    EXPECT_TRUE(world.wait_closed(0));
    EXPECT_TRUE(world.wait_closed(1));
    EXPECT_EQ(SettingsBytes(), "[universe]\nhost=127.0.0.1\nport=" + std::to_string(universe.port()) +
                                   "\n[Main]\nWorld=sky\nCitizen=42\nPassword=pw\nBirdCount=2\nCenterCoords=1n\n"
                                   "Avatar=0\n");
}

TEST_F(Headless, FailedStartsExitWithStatusOne) {
    WriteSettings("World=sky\n", ClosedPort());
    EXPECT_EQ(Start().Wait(), 1);
    EXPECT_EQ(Errors(), "Skyflit: Unable to create bot instance (unable to connect).\n");

    WriteSettings("BirdCount=1\n");
    auto skyflit = Start();
    EXPECT_EQ(skyflit.Wait(), 1);
    EXPECT_EQ(Errors(), "Skyflit: You must enter in a world name.\n");
    EXPECT_FALSE(skyflit.ReadUntil("Connecting to universe...", 100));
}

// SIGTERM ends a login that is never answered; so does a second SIGINT sent
// while the first is being handled.
TEST_F(Headless, ASignalDuringABlockedLoginStillEndsTheProgram) {
    universe.clear_rules();  // logins are never answered
    WriteSettings(RUNNING_SETTINGS);
    const struct {
        int signo, times, withinMs;
    } cases[] = {{SIGTERM, 1, 3500}, {SIGINT, 2, 1500}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signo);
        const int logins = universe.count(MSG_LOGIN) + 1;
        auto skyflit = Start();
        ASSERT_TRUE(universe.wait_count(MSG_LOGIN, logins));
        const auto start = Clock::now();
        for (int sent = 0; sent < c.times; ++sent) {
            if (sent > 0) usleep(50000);
            skyflit.Signal(c.signo);
        }
        EXPECT_EQ(skyflit.Wait(4000), 128 + c.signo);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(c.withinMs));
    }
}

TEST_F(Headless, WithoutADisplayItSaysHowToRunHeadless) {
    auto skyflit =
        Start({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", SKYFLIT_BINARY});
    EXPECT_EQ(skyflit.Wait(), 2);
    EXPECT_NE(Errors().find("run 'skyflit --headless'"), std::string::npos);
}

}  // namespace
