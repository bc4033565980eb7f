// skyflit --headless as a process, against the scripted peers.
#include "flock_fixture.h"
#include "tests/support/child_process.h"

#include "app/console/console_stop.h"
#include "app/platform.h"
#include "worldlink/worldlink.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>
#include <utility>
#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

#ifdef _WIN32
constexpr const char* SEPARATOR = "\\";
#else
constexpr const char* SEPARATOR = "/";
#endif

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

// A stop cancels a login that is never answered: the birds are logged out
// and the settings saved within the 2-second bound, as for a running flock.
TEST_P(HeadlessStop, ASignalDuringABlockedLoginStillEndsTheProgram) {
    universe.clear_rules();  // logins are never answered
    WriteSettings("World=sky\nCitizen= 0042\n");
    auto skyflit = Start();
    ASSERT_TRUE(universe.wait_count(MSG_LOGIN, 1));
    const auto start = Clock::now();
    SEND_STOP_OR_SKIP(skyflit, GetParam());
    EXPECT_EQ(skyflit.Wait(4000), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(CLOSE_GRACE_MS));
    EXPECT_EQ(Errors(), "");
    EXPECT_TRUE(universe.wait_closed(0));
    EXPECT_NE(SettingsBytes().find("\nCitizen=42\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Stops, HeadlessStop, ::testing::ValuesIn(STOPS),
                         [](const ::testing::TestParamInfo<int>& stop) { return StopName(stop.param); });

// Settings that cannot be saved are told on stderr, and the exit status is 1:
// the settings path is a directory; the directory is read-only (where this
// user cannot write into it anyway, as root can).
TEST_F(Headless, AFailedSaveIsTold) {
    const std::string told = "Skyflit: could not save settings to " + fs::current_path().string() + SEPARATOR +
                             "skyflit.ini: ";
#ifdef _WIN32
    const int notAFile = ERROR_ACCESS_DENIED;
#else
    const int notAFile = EISDIR;
#endif
    fs::create_directory("skyflit.ini");
    EXPECT_EQ(Start().Wait(), 1);
    EXPECT_NE(Errors().find(ChildText(told + SystemErrorText(notAFile) + "\n")), std::string::npos) << Errors();

    fs::remove("skyflit.ini");
    WriteSettings("World=sky\nBirdCount=0\n");
    const fs::perms write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(".", write, fs::perm_options::remove);
    const bool refused = !std::ofstream("probe");
    fs::permissions(".", fs::perms::owner_write, fs::perm_options::add);
    if (!refused) {
        GTEST_SKIP() << "this user writes into a read-only directory";
    }
    fs::permissions(".", write, fs::perm_options::remove);
    auto skyflit = Start();  // stderr.txt is there already, so it can be written
    EXPECT_TRUE(skyflit.ReadUntil(ChildText("Skyflit now running.\n")));
    SEND_STOP_OR_SKIP(skyflit, STOPS[0]);
    EXPECT_EQ(skyflit.Wait(), 1);
    fs::permissions(".", fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(Errors(), ChildText(told + SystemErrorText(EACCES) + "\n"));
}

// A flock of no birds (it needs no server) with megabytes of other sections
// in its settings, so that the write at teardown takes a while. SetUp saves
// them once, to learn the new file and how long a teardown takes.
class HeadlessTeardown : public Headless {
protected:
    void SetUp() override {
        Headless::SetUp();
        std::string filler;
        for (int key = 0; key < 3000; ++key) {
            filler += "[Filler" + std::to_string(key) + "]\nkey=" + std::string(1000, 'v') + "\n";
        }
        WriteSettings("World=sky\nBirdCount=0\nCitizen= 0042\n" + filler);
        before = SettingsBytes();
        auto skyflit = StartOnTheOldFile();
        ASSERT_TRUE(Flying(skyflit));
        const auto start = Clock::now();
        SEND_STOP_OR_SKIP(skyflit, STOPS[0]);
        ASSERT_EQ(skyflit.Wait(), 0);
        teardown = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
        after = SettingsBytes();
        ASSERT_NE(after, before);
    }

    ChildProcess StartOnTheOldFile() {
        std::ofstream("skyflit.ini", std::ios::binary) << before;
        return Start();
    }
    static bool Flying(ChildProcess& skyflit) { return skyflit.ReadUntil(ChildText("Skyflit now running.\n")); }

    // What lies beside the settings file.
    static std::vector<std::string> Leftovers() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(".")) {
            if (entry.path().filename() != "skyflit.ini" && entry.path().filename() != "stderr.txt") {
                names.push_back(entry.path().filename().string());
            }
        }
        return names;
    }

    // The i-th of n points spread over a teardown and a little past it.
    std::chrono::microseconds Point(int i, int n) const { return teardown * 3 / 2 * i / n; }

    std::string before;
    std::string after;
    std::chrono::microseconds teardown{};
};

// Killed at any point of its teardown, the program leaves the old settings
// file or the new one, whole; a temporary file that it leaves is gone once
// it has started again.
TEST_F(HeadlessTeardown, AKillAnywhereLeavesTheOldOrTheNewFileWhole) {
#ifdef _WIN32
    GTEST_SKIP() << "ChildProcess has no way to kill a Windows process outright";
#else
    constexpr int KILLS = 24;
    std::map<std::string, int> outcomes;
    for (int i = 0; i <= KILLS; ++i) {
        auto skyflit = StartOnTheOldFile();
        ASSERT_TRUE(Flying(skyflit));
        ASSERT_EQ(Leftovers(), std::vector<std::string>()) << "after kill " << i - 1;
        if (i == KILLS) {
            break;
        }
        skyflit.Signal(SIGTERM);
        std::this_thread::sleep_for(Point(i, KILLS));
        skyflit.Signal(SIGKILL);
        skyflit.Wait();
        const std::string now = SettingsBytes();
        ASSERT_TRUE(now == before || now == after) << "kill " << i << " left " << now.size() << " bytes";
        ++outcomes[now == before ? "old file" : "new file"];
        outcomes["temporary left"] += !Leftovers().empty();
    }
    for (const auto& [outcome, count] : outcomes) {
        std::printf("%s: %d of %d kills\n", outcome.c_str(), count, KILLS);
    }
#endif
}

// A second stop during the teardown waits for the write: the file is the
// old or the new one, whole, and nothing is left beside it. The process
// ends with 128 + the signal number of a stop it took as the second; or,
// when the teardown was over first, with 0 or by the signal itself.
class HeadlessSecondStop : public HeadlessTeardown, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(HeadlessSecondStop, NeverCutsTheSettingsWrite) {
    constexpr int TRIES = 4;
    const auto [first, second] = GetParam();
    for (int i = 0; i < TRIES; ++i) {
        SCOPED_TRACE(i);
        auto skyflit = StartOnTheOldFile();
        ASSERT_TRUE(Flying(skyflit));
        SEND_STOP_OR_SKIP(skyflit, first);
        std::this_thread::sleep_for(Point(i, TRIES));
        skyflit.Signal(second);  // the program may have ended already
        const int status = skyflit.Wait();
        const std::string now = SettingsBytes();
        EXPECT_TRUE(now == before || now == after) << now.size() << " bytes";
        EXPECT_TRUE(status == 128 + first || status == 128 + second || now == after) << status;
        EXPECT_EQ(Leftovers(), std::vector<std::string>());
    }
}

INSTANTIATE_TEST_SUITE_P(Stops, HeadlessSecondStop, ::testing::ValuesIn(SECOND_STOPS),
                         [](const ::testing::TestParamInfo<std::pair<int, int>>& stops) {
                             return StopName(stops.param.first) + "Then" + StopName(stops.param.second);
                         });

// Every command line that ends before a flock starts: what goes to stdout
// and stderr (each checked from its start) and the exit status.
TEST_F(Headless, CommandLinesAreAnsweredOrRefused) {
    const std::string usage = "usage: skyflit [--headless] [--config PATH]\n";
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string out;
        std::string errors;
    } cases[] = {
        {{"--help"}, 0, usage, ""},
        {{"--version"}, 0, std::string("Skyflit Build 6\n") + wl_build_string() + "\n", ""},
        {{"--headless", "--help"}, 0, usage, ""},
        {{"--bogus"}, 2, "", "skyflit: unknown option '--bogus'\n" + usage},
        {{"-x"}, 2, "", "skyflit: unknown option '-x'\n" + usage},
        {{"--headless=yes"}, 2, "", "skyflit: unknown option '--headless=yes'\n" + usage},
        {{"--headless", "stray"}, 2, "", "skyflit: unexpected argument 'stray'\n" + usage},
        {{"--config"}, 2, "", "skyflit: option '--config' needs a value\n" + usage},
        {{"--config="}, 2, "", "skyflit: option '--config' needs a value\n" + usage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments[0]);
        std::vector<std::string> arguments{SKYFLIT_BINARY};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        auto skyflit = Start(arguments);
        skyflit.ReadUntil(std::string(1, '\0'));
        EXPECT_EQ(skyflit.Wait(), c.status);
        EXPECT_EQ(skyflit.Output().rfind(ChildText(c.out), 0), 0u) << skyflit.Output();
        EXPECT_EQ(c.out.empty(), skyflit.Output().empty());
        EXPECT_EQ(Errors().rfind(ChildText(c.errors), 0), 0u) << Errors();
        EXPECT_EQ(c.errors.empty(), Errors().empty());
    }
}

// --config names the file that is read at the start and written at the end,
// from the working directory or anywhere else; skyflit.ini is not touched.
TEST_F(Headless, ConfigNamesTheSettingsFile) {
    WriteSettings("World=nowhere\n");
    const std::string untouched = SettingsBytes();
    fs::create_directory("elsewhere");
    const std::string named[] = {"other.ini", (fs::path(directory) / "elsewhere" / "flock.ini").string()};
    for (const std::string& path : named) {
        SCOPED_TRACE(path);
        std::ofstream(path, std::ios::binary) << "[universe]\nhost=127.0.0.1\nport=" << universe.port()
                                              << "\n[Main]\nWorld=sky\nCitizen= 0042\nBirdCount=1\n";
        auto skyflit = Start({SKYFLIT_BINARY, "--headless", "--config", path});
        ASSERT_TRUE(skyflit.ReadUntil(ChildText("Skyflit now running.\n")));
        ASSERT_TRUE(skyflit.Signal(STOPS[0]));
        EXPECT_EQ(skyflit.Wait(), 0);
        std::ifstream in(path, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
                  "[universe]\nhost=127.0.0.1\nport=" + std::to_string(universe.port()) +
                      "\n[Main]\nWorld=sky\nCitizen=42\nBirdCount=1\nAvatar=0\nPassword=\nCenterCoords=0n 0e 0a\n");
        EXPECT_EQ(SettingsBytes(), untouched);
    }
}

}  // namespace
