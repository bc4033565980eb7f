// worldsim's command line: what it accepts, and clear refusals otherwise.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tools/worldsim/launch.h"
#include "worldlink/wire/wire.h"
#include "tools/worldsim/options.h"

using namespace worldlink;

namespace {

int parse(std::vector<const char*> words, SimOptions* options, std::string* message) {
    words.insert(words.begin(), "worldsim");
    return sim_options_parse(static_cast<int>(words.size()), words.data(), options, message);
}

TEST(WorldsimOptions, EveryOptionIsTaken) {
    SimOptions options;
    std::string message;
    ASSERT_EQ(parse({"--port", "0", "--viewer-port", "6000", "--world", "Demo", "--world", "b", "--citizen", "1:pw",
                     "--citizen", "22:", "--bot-limit", "3", "--world-build", "27", "--universe-build", "22",
                     "--heartbeat", "100", "--verbose"},
                    &options, &message),
              0)
        << message;
    EXPECT_EQ(options.universe_port, 0);
    EXPECT_EQ(options.viewer_port, 6000);
    EXPECT_EQ(options.worlds, (std::vector<std::string>{"Demo", "b"}));
    ASSERT_EQ(options.citizens.size(), 2u);
    EXPECT_EQ(options.citizens[0].number, 1);
    EXPECT_EQ(options.citizens[0].password, "pw");
    EXPECT_EQ(options.citizens[1].password, "");
    EXPECT_EQ(options.bot_limit, 3);
    EXPECT_EQ(options.world_build, 27);
    EXPECT_EQ(options.universe_build, 22);
    EXPECT_TRUE(options.verbose);
}

TEST(WorldsimOptions, BadValuesAreRefusedWithTheReason) {
    const std::vector<std::vector<const char*>> refused = {
        {"--port", "70000"},     {"--port", "12x"},        {"--port"},
        {"--citizen", "pw"},     {"--citizen", "x:pw"},    {"--world", "ninechars"},
        {"--world", "a b"},      {"--world-build", "18"},  {"--heartbeat", "0"},
        {"--frobnicate", "1"},
    };
    for (const auto& words : refused) {
        SimOptions options;
        std::string message;
        EXPECT_EQ(parse(words, &options, &message), 2) << words[0];
        EXPECT_NE(message.find("worldsim:"), std::string::npos) << message;
    }
    SimOptions options;
    std::string message;
    EXPECT_EQ(parse({"--help"}, &options, &message), 1);
    EXPECT_NE(message.find("--citizen"), std::string::npos);
}

TEST(WorldsimOptions, PortLineParses) {
    int universe = 0, viewer = 0;
    EXPECT_TRUE(sim_parse_port_line("universe 127.0.0.1:5670 viewer http://127.0.0.1:5680/", &universe, &viewer));
    EXPECT_EQ(universe, 5670);
    EXPECT_EQ(viewer, 5680);
    EXPECT_FALSE(sim_parse_port_line("world demo 127.0.0.1:4000", &universe, &viewer));
    EXPECT_FALSE(sim_parse_port_line("universe 127.0.0.1:0 viewer http://127.0.0.1:5680/", &universe, &viewer));
}

// worldsim run with a command line that ends it at once; stderr goes to a
// file of its own.
struct Ended {
    int status;
    std::string out;
    std::string errors;
};

Ended run_worldsim(const std::vector<std::string>& arguments) {
    char path[] = "/tmp/worldsim-err-XXXXXX";
    close(mkstemp(path));
    std::vector<std::string> words{WORLDSIM_BINARY};
    words.insert(words.end(), arguments.begin(), arguments.end());
    ChildProcess worldsim(words, path);
    worldsim.ReadUntil(std::string(1, '\0'));
    Ended ended{worldsim.Wait(), worldsim.Output(), ""};
    std::ifstream in(path);
    ended.errors.assign(std::istreambuf_iterator<char>(in), {});
    std::remove(path);
    return ended;
}

TEST(WorldsimCommandLine, AnswersOrRefusesWithTheExitStatus) {
    const std::string usage = "usage: worldsim [options]\n";
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string out;     // stdout begins with it
        std::string errors;  // stderr begins with it
    } cases[] = {
        {{"--help"}, 0, usage, ""},
        {{"-h"}, 0, usage, ""},
        {{"--version"}, 0, "worldsim announces universe build 24 and world build 30\n", ""},
        {{"--bogus"}, 2, "", "worldsim: unknown option '--bogus'\n" + usage},
        {{"--bogus", "1"}, 2, "", "worldsim: unknown option '--bogus'\n" + usage},
        {{"-x"}, 2, "", "worldsim: unknown option '-x'\n" + usage},
        {{"--verbose=1"}, 2, "", "worldsim: unknown option '--verbose=1'\n" + usage},
        {{"--port", "0", "stray"}, 2, "", "worldsim: unexpected argument 'stray'\n" + usage},
        {{"--port"}, 2, "", "worldsim: option '--port' needs a value\n"},
        {{"--world"}, 2, "", "worldsim: option '--world' needs a value\n"},
        {{"--port", "x"}, 2, "", "worldsim: --port wants a number from 0 to 65535, not \"x\"\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments[0]);
        const Ended ended = run_worldsim(c.arguments);
        EXPECT_EQ(ended.status, c.status);
        EXPECT_EQ(ended.out.rfind(c.out, 0), 0u) << ended.out;
        EXPECT_EQ(c.out.empty(), ended.out.empty());
        EXPECT_EQ(ended.errors.rfind(c.errors, 0), 0u) << ended.errors;
        EXPECT_EQ(c.errors.empty(), ended.errors.empty());
    }
}

TEST(WorldsimCommandLine, APortInUseIsSaidWithTheReason) {
    SocketHandle taken = NO_SOCKET;
    uint16_t port = 0;
    ASSERT_EQ(tcp_listen(htonl(LOOPBACK_ADDRESS), 0, &taken, &port), 0);
    const std::string address = "127.0.0.1:" + std::to_string(ntohs(port));
    const Ended ended = run_worldsim({"--port", std::to_string(ntohs(port)), "--viewer-port", "0"});
    close(static_cast<int>(taken));
    EXPECT_EQ(ended.status, 1);
    EXPECT_EQ(ended.out, "");
    EXPECT_EQ(ended.errors, "worldsim: cannot listen on " + address + ": address in use\n");
}

// The ports line comes first, then one line for each world that --world names.
TEST(WorldsimCommandLine, ThePortsLineComesBeforeTheWorlds) {
    SimProcess sim;
    std::string error;
    ASSERT_EQ(sim_process_start(WORLDSIM_BINARY, {"--port", "0", "--viewer-port", "0", "--world", "a", "--world", "b"},
                                &sim, 10000, &error),
              0)
        << error;
    std::vector<std::string> lines;
    for (int i = 0; i < 500 && lines.size() < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::istringstream text(sim_process_output(sim));
        lines.clear();
        for (std::string line; std::getline(text, line);) lines.push_back(line);
    }
    sim_process_stop(&sim, 5000);
    ASSERT_EQ(lines.size(), 3u);
    int universe = 0, viewer = 0;
    EXPECT_TRUE(sim_parse_port_line(lines[0], &universe, &viewer)) << lines[0];
    EXPECT_EQ(lines[1].rfind("world a 127.0.0.1:", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("world b 127.0.0.1:", 0), 0u) << lines[2];
}

}  // namespace
