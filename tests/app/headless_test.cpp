// skyflit --headless as a process, against the scripted peers.
#include "flock_fixture.h"
#include "tests/support/child_process.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// What a user sends to stop skyflit --headless, the usual stop first.
// POSIX: SIGTERM and SIGINT. Windows: Ctrl-C, Ctrl-Break and closing the
// console, which ChildProcess::Signal takes as SIGINT, SIGBREAK and SIGTERM.
#ifdef _WIN32
constexpr int STOPS[] = {SIGINT, SIGBREAK, SIGTERM};
// A close takes the process with it, so nothing follows one.
constexpr std::pair<int, int> SECOND_STOPS[] = {{SIGINT, SIGINT},   {SIGBREAK, SIGBREAK}, {SIGINT, SIGBREAK},
                                                {SIGBREAK, SIGINT}, {SIGINT, SIGTERM}};
#else
constexpr int STOPS[] = {SIGTERM, SIGINT};
constexpr std::pair<int, int> SECOND_STOPS[] = {{SIGINT, SIGINT}, {SIGTERM, SIGTERM}, {SIGTERM, SIGINT}, {SIGINT, SIGTERM}};
#endif

std::string StopName(int stop) {
    switch (stop) {
#ifdef _WIN32
    case SIGINT: return "CtrlC";
    case SIGBREAK: return "CtrlBreak";
#else
    case SIGINT: return "Sigint";
#endif
#ifdef _WIN32
    case SIGTERM: return "ConsoleClose";
#else
    case SIGTERM: return "Sigterm";
#endif
    default: return std::to_string(stop);
    }
}

class Headless : public FlockFixture {
protected:
    // A skyflit started in the fixture's directory, stderr in "stderr.txt".
    static ChildProcess Start(std::vector<std::string> arguments = {SKYFLIT_BINARY, "--headless"}) {
        return ChildProcess(std::move(arguments), "stderr.txt");
    }
    // As written: on Windows with CRLF line endings.
    static std::string Errors() {
        std::ifstream in("stderr.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

// Sends a stop, or skips the test where this platform cannot send it from
// outside (see ChildProcess::Signal): Windows has no way to ask for a
// console close.
#define SEND_STOP_OR_SKIP(child, stop)                                                          \
    if (!(child).Signal(stop)) {                                                                \
        GTEST_SKIP() << "this platform cannot send " << StopName(stop) << " to another process"; \
    }

TEST_F(Headless, FliesAnswersAndKeepsTheSettingsOnSigterm) {
    WriteSettings("World=sky\nCitizen= 0042\nPassword=pw\nBirdCount=2\nCenterCoords=1n\n");
    auto skyflit = Start();
    ASSERT_TRUE(skyflit.ReadUntil(ChildText("Skyflit now running.\n")));
    EXPECT_EQ(skyflit.Output(), ChildText("Connecting to universe...\nBird1 logged in.\nBird2 logged in.\n"
                                          "Bird1 entered the world.\nBird2 entered the world.\nSkyflit now running.\n"));
    // Timer 42 pumps the library, so Bird1 answers.
    AvatarAppears(77, "Asker");
    world.send(0, MSG_CHAT_1, Body().word(77).string("skyflit owner"));
    ASSERT_TRUE(world.wait_count(MSG_WHISPER, 1));
    EXPECT_EQ(Whispers()[0].text, "I am owned by citizen number 42.");
    // And timer 43 hops the birds, about once a second.
    ASSERT_TRUE(world.wait_count(MSG_STATE_CHANGE, 4, 3000));

    ASSERT_TRUE(skyflit.Signal(STOPS[0]));
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
    EXPECT_EQ(Errors().rfind(ChildText("Skyflit: Unable to create bot instance (unable to connect).\n"), 0), 0u);

    WriteSettings("BirdCount=1\n");
    auto skyflit = Start();
    EXPECT_EQ(skyflit.Wait(), 1);
    EXPECT_EQ(Errors(), ChildText("Skyflit: You must enter in a world name.\n"));
    EXPECT_FALSE(skyflit.ReadUntil("Connecting to universe...", 100));
}

// After the message as it stands, a line that says where and why.
TEST_F(Headless, AnUnreachableUniverseIsNamed) {
    // A label of more than 63 characters fails inside the resolver: no name
    // server is asked.
    const std::string unresolvable = std::string(70, 'a') + ".invalid";
    const int closed = ClosedPort();
    const std::string refused = "127.0.0.1:" + std::to_string(closed);
    const struct {
        std::string host;
        int port;
        // Refused: the library's own reason, or the socket's where it passes
        // that through.
        std::vector<std::string> errors;
    } cases[] = {
        {unresolvable, 5670,
         {"Skyflit: Unable to create bot instance (11001).\n"
          "Skyflit: could not reach " + unresolvable + ":5670 (host not found)\n"}},
        {"127.0.0.1", closed,
         {"Skyflit: Unable to create bot instance (unable to connect).\n"
          "Skyflit: could not reach " + refused + " (unable to connect)\n",
          "Skyflit: Unable to create bot instance (10061).\n"
          "Skyflit: could not reach " + refused + " (connection refused)\n"}},
    };
    for (const auto& c : cases) {
        WriteSettings("World=sky\n", c.port, c.host);
        EXPECT_EQ(Start().Wait(), 1) << c.host;
        std::vector<std::string> expected;
        for (const std::string& errors : c.errors) {
            expected.push_back(ChildText(errors));
        }
        EXPECT_NE(std::find(expected.begin(), expected.end(), Errors()), expected.end()) << Errors();
    }
}

TEST_F(Headless, WithoutADisplayItSaysHowToRunHeadless) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no display to lack: skyflit.exe without --headless opens its window (tests/win32)";
#endif
    auto skyflit =
        Start({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", SKYFLIT_BINARY});
    EXPECT_EQ(skyflit.Wait(), 2);
    EXPECT_NE(Errors().find("run 'skyflit --headless'"), std::string::npos);
}

// Each way of stopping ends a running flock the normal way: birds logged
// out, settings written, status 0.
class HeadlessStop : public Headless, public ::testing::WithParamInterface<int> {};

TEST_P(HeadlessStop, EndsARunningFlockCleanly) {
    WriteSettings("World=sky\nBirdCount=1\n");
    auto skyflit = Start();
    ASSERT_TRUE(skyflit.ReadUntil(ChildText("Skyflit now running.\n")));
    SEND_STOP_OR_SKIP(skyflit, GetParam());
    EXPECT_EQ(skyflit.Wait(), 0);
    EXPECT_EQ(Errors(), "");
    EXPECT_TRUE(world.wait_closed(0));
    EXPECT_NE(SettingsBytes().find("\nCitizen=0\n"), std::string::npos);
}

// A stop ends a login that is never answered within the 2-second bound, with
// the status of a process killed by that signal: 128 + its number (on
// Windows Ctrl-C counts as SIGINT, Ctrl-Break as SIGBREAK, closing the
// console as SIGTERM).
TEST_P(HeadlessStop, ASignalDuringABlockedLoginStillEndsTheProgram) {
    universe.clear_rules();  // logins are never answered
    WriteSettings(RUNNING_SETTINGS);
    auto skyflit = Start();
    ASSERT_TRUE(universe.wait_count(MSG_LOGIN, 1));
    const auto start = Clock::now();
    SEND_STOP_OR_SKIP(skyflit, GetParam());
    EXPECT_EQ(skyflit.Wait(4000), 128 + GetParam());
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3500));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1900));
}

INSTANTIATE_TEST_SUITE_P(Stops, HeadlessStop, ::testing::ValuesIn(STOPS),
                         [](const ::testing::TestParamInfo<int>& stop) { return StopName(stop.param); });

// A second stop, sent while the first is being handled, ends the process at
// once, with 128 + the second one's signal number.
class HeadlessSecondStop : public Headless, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(HeadlessSecondStop, EndsABlockedLoginAtOnce) {
    universe.clear_rules();
    WriteSettings(RUNNING_SETTINGS);
    auto skyflit = Start();
    ASSERT_TRUE(universe.wait_count(MSG_LOGIN, 1));
    const auto start = Clock::now();
    SEND_STOP_OR_SKIP(skyflit, GetParam().first);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    SEND_STOP_OR_SKIP(skyflit, GetParam().second);
    EXPECT_EQ(skyflit.Wait(4000), 128 + GetParam().second);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
}

INSTANTIATE_TEST_SUITE_P(Stops, HeadlessSecondStop, ::testing::ValuesIn(SECOND_STOPS),
                         [](const ::testing::TestParamInfo<std::pair<int, int>>& stops) {
                             return StopName(stops.param.first) + "Then" + StopName(stops.param.second);
                         });

}  // namespace
