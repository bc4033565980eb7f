// worldsim as a child process on ephemeral ports, with helpers for its JSON
// endpoints. Every worldsim test starts the server it needs.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/worldsim/raw_client.h"
#include "tools/worldsim/launch.h"

class SimFixture : public ::testing::Test {
protected:
    void TearDown() override;

    // Starts worldsim with `arguments` and the ephemeral ports; fails the test
    // when it does not come up.
    void StartSim(const std::vector<std::string>& arguments);
    // GET on the viewer; a null json when the request failed.
    nlohmann::json Get(const std::string& path);
    // POST a JSON body; the HTTP status (0 when the request failed).
    int Post(const std::string& path, const nlohmann::json& body, nlohmann::json* reply = nullptr);
    nlohmann::json Avatars(const std::string& world);
    // The avatar named `name` in `world`, or a null json. The viewer's picture
    // trails the protocol by up to a tenth of a second, so callers poll.
    nlohmann::json AvatarNamed(const std::string& world, const std::string& name);
    // The session of the avatar named `name` in `world`, waiting up to 3 s for
    // it to appear; 0 when it does not.
    int SessionOf(const std::string& world, const std::string& name);
    // False once worldsim has ended (it is then reaped).
    bool SimRunning();
    // A raw client inside `world`, left at TearDown; null when it could not enter.
    RawBot* Bot(const char* name, uint32_t mask, const char* world = "demo");

    SimProcess sim;
    std::deque<RawBot> bots;
};

// Tries `condition` every 20 ms for up to timeout_ms.
bool eventually(const std::function<bool()>& condition, int timeout_ms = 5000);
