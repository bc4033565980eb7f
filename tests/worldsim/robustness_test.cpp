// Bad input: whatever one client sends, only that client is dropped, and the
// rest of the world goes on.
#include <sys/socket.h>

#include <functional>
#include <random>

#include "tests/worldsim/raw_client.h"
#include "tests/worldsim/sim_fixture.h"
#include "worldlink/messages.h"
#include "worldlink/wire/wire.h"

using namespace worldlink;

namespace {

std::vector<uint8_t> noise(std::mt19937* random, size_t size) {
    std::vector<uint8_t> bytes(size);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>((*random)());
    return bytes;
}

bool logged_in(Connection* link, const char* name) {
    RawSession session;
    return raw_universe_login(link, 1, "", name, &session) == 0;
}

std::function<bool(Connection*)> sends(std::vector<uint8_t> bytes) {
    return [bytes](Connection* c) { return raw_send_bytes(c, bytes); };
}

// One way of misbehaving: the port it happens on and what is sent; false
// when the bad input could not even be sent.
struct Misbehaviour {
    const char* what;
    bool on_world_port;
    std::function<bool(Connection*)> send;
};

const Misbehaviour misbehaviours[] = {
    {"garbage on the universe port", false, sends({0x00, 0x05, 0xde, 0xad, 0xbe, 0xef, 0x00, 0xff, 0x13})},
    {"oversized length", true, sends({0xff, 0xff, 0x01, 0x02})},
    {"length overflowing the receive buffer", false, sends({0x7f, 0xff, MSG_LOGIN})},
    {"world message before a login", true, [](Connection* c) { return raw_send_state(c, 1, 2, 3, 4) == 0; }},
    {"lookup before a login", false,
     [](Connection* c) { return msg_pack(c, {pack_begin(MSG_WORLD_LOOKUP), pack_string("demo"), pack_end()}) == 0; }},
    {"login that was not sealed", false,
     [](Connection* c) {
         return msg_pack(c, {pack_begin(MSG_LOGIN), pack_long(20), pack_string("Plain"), pack_long(1),
                             pack_string("secret"), pack_string(""), pack_end()}) == 0;
     }},
    {"garbage after the key", false,
     [](Connection* c) {
         std::mt19937 random(7);
         return logged_in(c, "Garbler") && raw_send_bytes(c, noise(&random, 3000));
     }},
    {"unknown message after a login", false,
     [](Connection* c) {
         return logged_in(c, "Stranger") && msg_pack(c, {pack_begin(99), pack_long(1), pack_end()}) == 0;
     }},
    // The first byte of a length and no more: dropped by the time limit for a frame.
    {"half a frame from a logged-in client", false,
     [](Connection* c) {
         int port = 0;
         return logged_in(c, "Staller") && raw_lookup(c, "demo", &port) == 0 && raw_send_bytes(c, {0x00});
     }},
    // Dropped by the login time limit.
    {"half a frame then silence", false, sends({0x00, 0x40, MSG_LOGIN, 0x00})},
    {"fields cut short inside a frame", true, sends({0x00, 0x03, MSG_WORLD_LOGIN_V4, 0x09, 'd'})},
    {"never a login", false, [](Connection*) { return true; }},
};

class WorldsimBadInput : public SimFixture {
protected:
    void SetUp() override {
        StartSim({"--login-timeout", "500"});
        watcher = Bot("Watcher", 0x07);
        mover = Bot("Mover", 0x00);
        ASSERT_TRUE(watcher && mover);
        ASSERT_GT(SessionOf("demo", "Mover"), 0);
        world_port = Get("/api/worlds")[0]["port"].get<int>();
        raw_drain(watcher->world, false, 100);
    }

    // The bad link is closed by the server, and the good ones still work: a
    // move reaches the watcher and a newcomer can still enter.
    void ExpectOnlyTheBadClientDropped(Connection* bad) {
        EXPECT_TRUE(raw_closed_by_server(bad, 3000)) << "the bad client must be dropped";
        ASSERT_TRUE(SimRunning());
        ASSERT_EQ(raw_send_state(mover->world, ++moves, 0, 0, 0), 0);
        RawFrame change;
        EXPECT_TRUE(raw_read_type(watcher->world, false, MSG_AVATAR_CHANGE, &change, 2000));
        RawBot newcomer;
        EXPECT_TRUE(raw_enter(sim.universe_port, "demo", "Newcomer", 0, &newcomer));
        raw_leave(&newcomer);
    }

    RawBot* watcher = nullptr;
    RawBot* mover = nullptr;
    int world_port = 0;
    int moves = 0;
};

TEST_F(WorldsimBadInput, OnlyTheMisbehavingClientIsDropped) {
    for (const Misbehaviour& bad : misbehaviours) {
        SCOPED_TRACE(bad.what);
        RawLink link = raw_link(bad.on_world_port ? world_port : sim.universe_port);
        ASSERT_NE(link, nullptr);
        ASSERT_TRUE(bad.send(link.get()));
        ExpectOnlyTheBadClientDropped(link.get());
    }
    // Logged-in clients outlive every login limit that passed meanwhile.
    EXPECT_GT(SessionOf("demo", "Watcher"), 0);
}

TEST_F(WorldsimBadInput, RandomBytesOnEveryPortNeverStopTheServer) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 40; ++round) {
        RawLink link = raw_link(round % 2 ? world_port : sim.universe_port);
        ASSERT_NE(link, nullptr);
        raw_send_bytes(link.get(), noise(&random, 1 + random() % 2048));
    }
    RawLink silent = raw_link(sim.universe_port);
    ExpectOnlyTheBadClientDropped(silent.get());
}

// A client that stops reading while the world keeps talking to it is dropped
// once its buffers are full; the others go on.
using WorldsimSlowClient = SimFixture;

TEST_F(WorldsimSlowClient, IsDroppedWithoutHurtingTheOthers) {
    StartSim({"--socket-buffer", "4096"});
    RawBot* slow = Bot("Slow", 0x07);
    RawBot* watcher = Bot("Watcher", 0x07);
    RawBot* mover = Bot("Mover", 0x00);
    ASSERT_TRUE(slow && watcher && mover);
    ASSERT_GT(SessionOf("demo", "Mover"), 0);
    ASSERT_GT(SessionOf("demo", "Slow"), 0);
    int shrink = 2048;
    setsockopt(connection_handle(slow->world), SOL_SOCKET, SO_RCVBUF, &shrink, sizeof shrink);
    bool dropped = false;
    for (int burst = 0; burst < 400 && !dropped; ++burst) {
        for (int i = 0; i < 100; ++i) ASSERT_EQ(raw_send_state(mover->world, burst, i, 0, 0), 0);
        raw_drain(watcher->world, false, 5);
        dropped = AvatarNamed("demo", "Slow").is_null();
    }
    EXPECT_TRUE(dropped);
    EXPECT_TRUE(AvatarNamed("demo", "Watcher").is_object());
    raw_drain(watcher->world, false, 200);
    ASSERT_EQ(raw_send_state(mover->world, -1, -1, -1, 0), 0);
    RawFrame change;
    EXPECT_TRUE(raw_read_type(watcher->world, false, MSG_AVATAR_CHANGE, &change, 2000));
}

}  // namespace
