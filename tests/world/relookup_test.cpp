// A world link that keeps failing: its retries, the new lookup after three
// failures in a row, and world address answers that nobody asked for.
#include "tests/world/world_fixture.h"

namespace {

class Relookup : public WorldFixture {
protected:
    void SetUp() override {
        WorldFixture::SetUp();
        moved.on(MSG_WORLD_LOGIN_V4, ScriptedPeer::reply(MSG_WORLD_PROPERTIES));
        ASSERT_EQ(enter("alpha"), 0);
    }

    // The world link is lost; from now on the old world drops every login
    // before it answers, and the universe names the moved world.
    void world_moves() {
        world.on(MSG_WORLD_LOGIN_V4, [](ScriptedPeer& peer, const PeerFrame& frame) { peer.close(frame.link); });
        lookup_port = moved.port();
        world.close();
        ASSERT_TRUE(pump_until([&] { return bot->world_state == WORLD_RETRY; }));
    }

    bool retried_in(int state) {
        clock.advance(1000);
        return pump_until([&] { return bot->world_state == state; });
    }

    ScriptedPeer moved{PeerRole::world};
};

TEST_F(Relookup, AWorldThatFailsThreeTimesInARowIsLookedUpAgain) {
    const auto first_login = world_frames(MSG_WORLD_LOGIN_V4).back().body;
    world_moves();
    for (int failure = 1; failure <= 3; ++failure) {
        SCOPED_TRACE(failure);
        const int links = world.link_count();
        clock.advance(999);
        pump();
        EXPECT_FALSE(world.wait_links(links + 1, 50)) << "retried at 1000 ms, not before";
        clock.advance(1);
        pump();
        ASSERT_TRUE(world.wait_links(links + 1));
        ASSERT_TRUE(pump_until([&] { return bot->world_state == WORLD_RETRY; }));
        EXPECT_EQ(world_frames(MSG_WORLD_LOGIN_V4).back().body, first_login);
        EXPECT_EQ(lookups(), 1) << "the same address until three reconnects have failed";
    }

    lookup_result = 27;  // not running: asked again at the next retry
    ASSERT_TRUE(retried_in(WORLD_LOOKUP));
    ASSERT_TRUE(pump_until([&] { return bot->world_state == WORLD_RETRY; }));
    EXPECT_EQ(lookups(), 2);
    EXPECT_EQ(FieldReader(frames(universe, MSG_WORLD_LOOKUP).back()).string(), "alpha");

    lookup_result = 0;
    ASSERT_TRUE(retried_in(WORLD_IN));
    EXPECT_EQ(lookups(), 3);
    EXPECT_EQ(bot->world_port, moved.port_network());
    EXPECT_EQ(moved.link_count(), 1);

    // In the world again, the count starts afresh: the next loss reconnects
    // to the address it has.
    moved.close();
    ASSERT_TRUE(pump_until([&] { return bot->world_state == WORLD_RETRY; }));
    ASSERT_TRUE(retried_in(WORLD_IN));
    EXPECT_EQ(lookups(), 3);
    EXPECT_EQ(moved.link_count(), 2);
}

TEST_F(Relookup, AWorldAddressNobodyAskedForIsIgnored) {
    const uint16_t port = bot->world_port;
    const int pongs = universe.count(MSG_UNIVERSE_PONG);
    universe.send(MSG_WORLD_ADDRESS, Body().string("alpha").dword(LOOPBACK).word(moved.port()).word(30));
    universe.send(MSG_UNIVERSE_PING);
    ASSERT_TRUE(pump_until([&] { return universe.count(MSG_UNIVERSE_PONG) > pongs; }));
    EXPECT_EQ(bot->world_port, port);

    world.close();
    ASSERT_TRUE(pump_until([&] { return bot->world_state == WORLD_RETRY; }));
    ASSERT_TRUE(retried_in(WORLD_IN));
    EXPECT_EQ(world.link_count(), 2);

    // Nor was it cached: the next entry goes where the lookup said.
    ASSERT_EQ(enter("alpha"), 0);
    EXPECT_EQ(lookups(), 1);
    EXPECT_EQ(world.link_count(), 3);
    EXPECT_EQ(moved.link_count(), 0);
}

}  // namespace
