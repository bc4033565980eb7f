// Bad input: whatever one client sends, only that client is dropped, and the
// rest of the world goes on.
#include <sys/socket.h>

#include <random>

#include "tests/worldsim/raw_client.h"
#include "tests/worldsim/sim_fixture.h"
#include "worldlink/messages.h"
#include "worldlink/wire/wire.h"

namespace {

class WorldsimBadInput : public SimFixture {
protected:
    void SetUp() override {
        StartSim({"--login-timeout", "500"});
        ASSERT_TRUE(raw_enter(sim.universe_port, "demo", "Watcher", 0x07, &watcher));
        ASSERT_TRUE(raw_enter(sim.universe_port, "demo", "Mover", 0x00, &mover));
        ASSERT_GT(SessionOf("demo", "Mover"), 0);
        world_port = Get("/api/worlds")[0]["port"].get<int>();
        raw_drain(watcher.world, false, 100);
    }

    void TearDown() override {
        raw_leave(&watcher);
        raw_leave(&mover);
        connection_close(bad);
        SimFixture::TearDown();
    }

    // The bad link is closed by the server, and the good ones still work: a
    // move reaches the watcher and a newcomer can still enter.
    void ExpectOnlyTheBadClientDropped() {
        EXPECT_TRUE(raw_closed_by_server(bad, 3000)) << "the bad client must be dropped";
        ASSERT_TRUE(SimRunning());
        ASSERT_EQ(raw_send_state(mover.world, ++moves, 0, 0, 0), 0);
        RawFrame change;
        EXPECT_TRUE(raw_read_type(watcher.world, false, MSG_AVATAR_CHANGE, &change, 2000));
        RawBot newcomer;
        EXPECT_TRUE(raw_enter(sim.universe_port, "demo", "Newcomer", 0, &newcomer));
        raw_leave(&newcomer);
    }

    RawBot watcher, mover;
    Connection* bad = nullptr;
    int world_port = 0;
    int moves = 0;
};

TEST_F(WorldsimBadInput, GarbageOnTheUniversePort) {
    bad = raw_connect(sim.universe_port);
    ASSERT_TRUE(raw_send_bytes(bad, {0x00, 0x05, 0xde, 0xad, 0xbe, 0xef, 0x00, 0xff, 0x13}));
    ExpectOnlyTheBadClientDropped();
}

TEST_F(WorldsimBadInput, OversizedLength) {
    bad = raw_connect(world_port);
    ASSERT_TRUE(raw_send_bytes(bad, {0xff, 0xff, 0x01, 0x02}));
    ExpectOnlyTheBadClientDropped();
}

TEST_F(WorldsimBadInput, LengthThatOverflowsTheReceiveBuffer) {
    bad = raw_connect(sim.universe_port);
    ASSERT_TRUE(raw_send_bytes(bad, {0x7f, 0xff, MSG_LOGIN}));
    ExpectOnlyTheBadClientDropped();
}

TEST_F(WorldsimBadInput, WorldMessageBeforeALogin) {
    bad = raw_connect(world_port);
    ASSERT_EQ(raw_send_state(bad, 1, 2, 3, 4), 0);
    ExpectOnlyTheBadClientDropped();
}

TEST_F(WorldsimBadInput, LookupBeforeALogin) {
    bad = raw_connect(sim.universe_port);
    ASSERT_EQ(msg_pack(bad, {pack_begin(MSG_WORLD_LOOKUP), pack_string("demo"), pack_end()}), 0);
    ExpectOnlyTheBadClientDropped();
}

TEST_F(WorldsimBadInput, LoginThatWasNotSealed) {
    bad = raw_connect(sim.universe_port);
    ASSERT_EQ(msg_pack(bad, {pack_begin(MSG_LOGIN), pack_long(20), pack_string("Plain"), pack_long(1),
                             pack_string("secret"), pack_string(""), pack_end()}),
              0);
    ExpectOnlyTheBadClientDropped();
}

TEST_F(WorldsimBadInput, GarbageAfterTheKey) {
    bad = raw_connect(sim.universe_port);
    RawSession session;
    ASSERT_EQ(raw_universe_login(bad, 1, "", "Garbler", &session), 0);
    std::vector<uint8_t> noise(3000);
    std::mt19937 random(7);
    for (uint8_t& byte : noise) byte = static_cast<uint8_t>(random());
    ASSERT_TRUE(raw_send_bytes(bad, noise));
    ExpectOnlyTheBadClientDropped();
}

TEST_F(WorldsimBadInput, UnknownMessageAfterALogin) {
    bad = raw_connect(sim.universe_port);
    RawSession session;
    ASSERT_EQ(raw_universe_login(bad, 1, "", "Stranger", &session), 0);
    ASSERT_EQ(msg_pack(bad, {pack_begin(99), pack_long(1), pack_end()}), 0);
    ExpectOnlyTheBadClientDropped();
}

TEST_F(WorldsimBadInput, HalfAFrameFromALoggedInClient) {
    bad = raw_connect(sim.universe_port);
    RawSession session;
    ASSERT_EQ(raw_universe_login(bad, 1, "", "Staller", &session), 0);
    int port = 0;
    ASSERT_EQ(raw_lookup(bad, "demo", &port), 0);
    ASSERT_TRUE(raw_send_bytes(bad, {0x00}));  // the first byte of a length, and no more
    ExpectOnlyTheBadClientDropped();  // by the time limit for a frame
}

TEST_F(WorldsimBadInput, HalfAFrameThenSilence) {
    bad = raw_connect(sim.universe_port);
    ASSERT_TRUE(raw_send_bytes(bad, {0x00, 0x40, MSG_LOGIN, 0x00}));
    ExpectOnlyTheBadClientDropped();  // by the login time limit
}

TEST_F(WorldsimBadInput, FieldsCutShortInsideAFrame) {
    bad = raw_connect(world_port);
    ASSERT_TRUE(raw_send_bytes(bad, {0x00, 0x03, MSG_WORLD_LOGIN_V4, 0x09, 'd'}));
    ExpectOnlyTheBadClientDropped();
}

TEST_F(WorldsimBadInput, LoggedInClientsOutliveTheLoginLimit) {
    bad = raw_connect(sim.universe_port);  // never logs in
    ExpectOnlyTheBadClientDropped();
    EXPECT_GT(SessionOf("demo", "Watcher"), 0);
}

TEST_F(WorldsimBadInput, RandomBytesOnEveryPortNeverStopTheServer) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 40; ++round) {
        Connection* link = raw_connect(round % 2 ? world_port : sim.universe_port);
        ASSERT_NE(link, nullptr);
        std::vector<uint8_t> noise(1 + random() % 2048);
        for (uint8_t& byte : noise) byte = static_cast<uint8_t>(random());
        raw_send_bytes(link, noise);
        connection_close(link);
    }
    bad = raw_connect(sim.universe_port);
    ExpectOnlyTheBadClientDropped();
}

// A client that stops reading while the world keeps talking to it is dropped
// once its buffers are full; the others go on.
class WorldsimSlowClient : public SimFixture {
protected:
    void TearDown() override {
        for (RawBot* bot : {&slow, &watcher, &mover}) raw_leave(bot);
        SimFixture::TearDown();
    }

    RawBot slow, watcher, mover;
};

TEST_F(WorldsimSlowClient, IsDroppedWithoutHurtingTheOthers) {
    StartSim({"--socket-buffer", "4096"});
    ASSERT_TRUE(raw_enter(sim.universe_port, "demo", "Slow", 0x07, &slow));
    ASSERT_TRUE(raw_enter(sim.universe_port, "demo", "Watcher", 0x07, &watcher));
    ASSERT_TRUE(raw_enter(sim.universe_port, "demo", "Mover", 0x00, &mover));
    ASSERT_GT(SessionOf("demo", "Mover"), 0);
    ASSERT_GT(SessionOf("demo", "Slow"), 0);
    int shrink = 2048;
    setsockopt(connection_handle(slow.world), SOL_SOCKET, SO_RCVBUF, &shrink, sizeof shrink);
    bool dropped = false;
    for (int burst = 0; burst < 400 && !dropped; ++burst) {
        for (int i = 0; i < 100; ++i) ASSERT_EQ(raw_send_state(mover.world, burst, i, 0, 0), 0);
        raw_drain(watcher.world, false, 5);
        dropped = AvatarNamed("demo", "Slow").is_null();
    }
    EXPECT_TRUE(dropped);
    EXPECT_TRUE(AvatarNamed("demo", "Watcher").is_object());
    raw_drain(watcher.world, false, 200);
    ASSERT_EQ(raw_send_state(mover.world, -1, -1, -1, 0), 0);
    RawFrame change;
    EXPECT_TRUE(raw_read_type(watcher.world, false, MSG_AVATAR_CHANGE, &change, 2000));
}

}  // namespace
