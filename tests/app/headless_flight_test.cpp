// --flight on the command line of skyflit --headless: refused when unknown,
// and winning over the file, which then keeps what was flown.
#include "flock_fixture.h"
#include "tests/support/child_process.h"

#include <csignal>
#include <fstream>
#include <iterator>

namespace {

class HeadlessFlight : public FlockFixture {
protected:
    static std::string Errors() {
        std::ifstream in("stderr.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(HeadlessFlight, AnUnknownFlightIsRefusedBeforeAnyLogin) {
    WriteSettings(RUNNING_SETTINGS);
    const struct {
        std::vector<std::string> arguments;
        const char* errors;
    } cases[] = {
        {{"--flight", "swarm"}, "skyflit: unknown flight 'swarm' (hop or flock)\nusage: skyflit "},
        {{"--flight="}, "skyflit: unknown flight '' (hop or flock)\nusage: skyflit "},
        {{"--flight"}, "skyflit: option '--flight' needs a value\nusage: skyflit "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments[0]);
        std::vector<std::string> arguments{SKYFLIT_BINARY, "--headless"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        ChildProcess skyflit(arguments, "stderr.txt");
        EXPECT_EQ(skyflit.Wait(), 2);
        EXPECT_EQ(Errors().rfind(ChildText(c.errors), 0), 0u) << Errors();
    }
    WriteSettings(std::string(RUNNING_SETTINGS) + "FlockSpeed=fast\n");
    ChildProcess skyflit({SKYFLIT_BINARY, "--headless"}, "stderr.txt");
    EXPECT_EQ(skyflit.Wait(), 2);
    EXPECT_EQ(Errors().rfind(ChildText("Skyflit: FlockSpeed in "), 0), 0u) << Errors();
    EXPECT_EQ(universe.count(MSG_LOGIN), 0);
}

TEST_F(HeadlessFlight, TheCommandLineWinsAndTheFileKeepsWhatFlew) {
    WriteSettings(std::string(RUNNING_SETTINGS) + "Flight=nonsense\nFlockSpeed=200\n");
    ChildProcess skyflit({SKYFLIT_BINARY, "--headless", "--flight", "flock"}, "stderr.txt");
    ASSERT_TRUE(skyflit.ReadUntil(ChildText("Skyflit now running.\n"), 10000));
    // A flock starts spread out, where hops start on one spot.
    ASSERT_TRUE(world.wait_count(MSG_STATE_CHANGE, 3));
    EXPECT_NE(StateChanges(0).front().Place(), StateChanges(1).front().Place());
    ASSERT_TRUE(skyflit.Signal(SIGTERM) || skyflit.Signal(SIGINT));
    EXPECT_EQ(skyflit.Wait(10000), 0);
    EXPECT_NE(SettingsBytes().find("\nFlight=flock\nFlockSpeed=200\nFlockRadius=2000\nFlockSeparation=150\n"),
              std::string::npos)
        << SettingsBytes();
}

}  // namespace
