// A started library, a fake clock and a scripted universe for each test.
#pragma once

#include "tests/support/scripted_peer.h"
#include "worldlink/library.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace worldlink;

// Event handlers are plain functions; they report through these.
inline int fired = 0;
inline Instance* fired_on = nullptr;

class LibraryTest : public ::testing::Test {
protected:
    // Declared first: it outlives the peer, whose thread reads the clock.
    FakeClock clock;
    ScriptedPeer universe{PeerRole::universe};

    void SetUp() override {
        fired = 0;
        fired_on = nullptr;
        ASSERT_EQ(wl_init(LIBRARY_BUILD), 0);
    }

    void TearDown() override {
        for (int slot = 0; slot < EVENT_COUNT; ++slot) wl_event_set(slot, nullptr);
        wl_term();
    }

    // A new instance on the scripted universe, its link accepted there.
    Instance* create() {
        Instance* instance = nullptr;
        const int links = universe.link_count();
        EXPECT_EQ(wl_create(ScriptedPeer::host, universe.port(), &instance), 0);
        EXPECT_TRUE(universe.wait_links(links + 1));
        return instance;
    }

    // wl_login on the given instance.
    static int login(Instance* instance) {
        EXPECT_EQ(wl_instance_set(instance), 0);
        return wl_login();
    }

    // A logged-in instance: every login on this universe is accepted.
    Instance* logged_in(int session = 7) {
        universe.on(MSG_LOGIN, ScriptedPeer::accept_login(session, "welcome"));
        Instance* instance = create();
        EXPECT_EQ(login(instance), 0);
        return instance;
    }

    // Puts the instance in a world played by `world`, as if it had entered.
    static void place_in_world(Instance* instance, ScriptedPeer& world, int build) {
        const int links = world.link_count();
        instance->world_address = world.address_network();
        instance->world_port = world.port_network();
        instance->world_build = build;
        std::strcpy(instance->world_name, "earth");
        instance->world_name_length = 5;
        ASSERT_EQ(world_connect(instance), 0);
        instance->world_state = WORLD_IN;
        instance->entered = 1;
        ASSERT_TRUE(world.wait_links(links + 1));
    }

    // Services the library until the condition holds (bounded in real time).
    static bool pump_until(const std::function<bool()>& condition) {
        return eventually([&] {
            wl_wait(0);
            return condition();
        });
    }

    // Sends a universe frame to the newest link and a ping behind it; once the
    // pong is back the frame has been handled.
    bool deliver(int type, const Body& body = Body(), int result = 0) {
        const int pongs = universe.count(MSG_UNIVERSE_PONG);
        universe.send(type, body, result);
        universe.send(MSG_UNIVERSE_PING);
        return pump_until([&] { return universe.count(MSG_UNIVERSE_PONG) > pongs; });
    }

    // Waits until the link has input, so one pass is sure to find it.
    static bool readable(Connection* link) {
        Connection* links[] = {link};
        return connection_wait(1, links, 2000) == link;
    }
};
