// worldsim's command line: what it accepts, and clear refusals otherwise.
#include <gtest/gtest.h>

#include <vector>

#include "tools/worldsim/launch.h"
#include "tools/worldsim/options.h"

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

}  // namespace
