// Logging in to the universe and keeping the session: limits, reconnects,
// keep-alives, keys, redirects and renumbering.
#include "tests/library/library_fixture.h"

#include <string>
#include <vector>

namespace {

class UniverseSessionTest : public LibraryTest {
protected:
    // Step mode: the login is sent, no reply is awaited.
    Instance* login_sent() {
        Instance* instance = create();
        EXPECT_EQ(universe_login(instance), 0);
        instance->universe_state = UNIVERSE_LOGIN_SENT;
        universe.expect(MSG_LOGIN);
        return instance;
    }

    // Loses the universe link and waits for the instance to notice.
    void lose_universe(Instance* instance) {
        universe.close(0);
        ASSERT_TRUE(pump_until([&] { return instance->universe_state == UNIVERSE_RETRY; }));
    }
};

TEST_F(UniverseSessionTest, AnAcceptedLoginCarriesTheLoginAttributes) {
    Instance* instance = create();
    wl_string_set(ATTR_LOGIN_NAME, "Bird1");
    wl_int_set(ATTR_LOGIN_OWNER, 1234);
    wl_string_set(ATTR_LOGIN_PASSWORD, "secret");
    wl_string_set(ATTR_LOGIN_APPLICATION, "flock");
    universe.on(MSG_LOGIN, ScriptedPeer::accept_login(7, "welcome"));

    ASSERT_EQ(login(instance), 0);
    EXPECT_EQ(instance->universe_state, UNIVERSE_LOGGED_IN);
    EXPECT_EQ(instance->universe_reconnect, 1);
    EXPECT_EQ(instance->session, 7u);
    EXPECT_STREQ(store_string(instance->attributes, ATTR_LOGIN_REPLY_TEXT), "welcome");

    const auto sent = universe.history();
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].type, MSG_LOGIN);
    FieldReader fields(sent[0]);
    EXPECT_EQ(fields.dword(), LIBRARY_BUILD);
    EXPECT_EQ(fields.string(), "Bird1");
    EXPECT_EQ(fields.dword(), 1234);
    EXPECT_EQ(fields.string(), "secret");
    EXPECT_EQ(fields.string(), "flock");
    EXPECT_TRUE(fields.done());
}

TEST_F(UniverseSessionTest, TheTicketIsReadOnlyFromUniverseBuild23) {
    const struct {
        int build;
        Body reply;
        uint32_t session;
        uint32_t ticket;
    } rows[] = {
        {22, Body().word(3).string("old"), 3, 0},
        {23, Body().word(4).string("new").dword(0x01020304), 4, 0x01020304u},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.build);
        universe.on(MSG_LOGIN, [&row](ScriptedPeer& peer, const PeerFrame& frame) {
            peer.send(frame.link, MSG_UNIVERSE_PROPERTIES, Body().byte(6).string(std::to_string(row.build)));
            peer.send(frame.link, MSG_LOGIN_REPLY, row.reply);
        });
        Instance* instance = create();
        ASSERT_EQ(login(instance), 0);
        EXPECT_EQ(instance->universe_build, row.build);
        EXPECT_EQ(instance->session, row.session);
        EXPECT_EQ(instance->ticket, row.ticket);
    }
}

TEST_F(UniverseSessionTest, AReplyWithoutFieldsKeepsTheSession) {
    universe.on(MSG_LOGIN, ScriptedPeer::reply(MSG_LOGIN_REPLY));
    Instance* instance = create();
    instance->session = 11;
    ASSERT_EQ(login(instance), 0);
    EXPECT_EQ(instance->session, 11u);
    EXPECT_EQ(instance->universe_state, UNIVERSE_LOGGED_IN);
}

TEST_F(UniverseSessionTest, ARefusedLoginEndsTheUniverseSide) {
    universe.on(MSG_LOGIN, ScriptedPeer::refuse_login(13));
    Instance* instance = create();
    EXPECT_EQ(login(instance), 13);
    EXPECT_EQ(instance->universe_state, UNIVERSE_NONE);
    EXPECT_EQ(instance->universe_reconnect, 0);
    EXPECT_EQ(instance->universe_link, nullptr);
    EXPECT_TRUE(universe.wait_closed());
    EXPECT_EQ(universe_login(instance), REASON_NOT_OPEN) << "nothing can be sent any more";
    EXPECT_EQ(wl_login(), REASON_NO_CONNECTION);
    EXPECT_EQ(wl_enter("earth"), REASON_NO_CONNECTION);
    EXPECT_EQ(wl_state_change(), REASON_NO_CONNECTION);
    clock.advance(5000);
    EXPECT_EQ(wl_wait(0), 0);
    EXPECT_EQ(instance->universe_state, UNIVERSE_NONE) << "no retry after a refusal";
    EXPECT_EQ(universe.link_count(), 1);
}

TEST_F(UniverseSessionTest, NoReplyWithin30SecondsEndsTheLogin) {
    Instance* instance = login_sent();
    clock.advance(30000);
    wl_wait(0);
    EXPECT_EQ(instance->universe_state, UNIVERSE_LOGIN_SENT) << "exactly 30000 ms is not yet too late";
    clock.advance(1);
    wl_wait(0);
    EXPECT_EQ(instance->universe_state, UNIVERSE_NONE);
    EXPECT_TRUE(universe.wait_closed());

    // A blocking login whose time runs out while it waits fails with 429.
    universe.on(MSG_LOGIN, [this](ScriptedPeer& peer, const PeerFrame& frame) {
        clock.advance(30001);
        peer.send(frame.link, MSG_UNIVERSE_ACK_1);
    });
    instance = create();
    EXPECT_EQ(login(instance), REASON_UNABLE_TO_CONNECT);
    EXPECT_EQ(instance->universe_state, UNIVERSE_NONE);
}

TEST_F(UniverseSessionTest, ALostSessionIsRetriedEverySecondUntilItLogsInAgain) {
    Instance* instance = logged_in(7);
    const uint16_t port = instance->universe_port;
    instance->universe_port = 0;  // nothing listens there
    lose_universe(instance);
    EXPECT_EQ(instance->universe_link, nullptr);

    clock.advance(999);
    wl_wait(0);
    EXPECT_EQ(instance->universe_state, UNIVERSE_RETRY);
    clock.advance(1);
    wl_wait(0);
    EXPECT_EQ(instance->universe_state, UNIVERSE_RETRY) << "the reopen failed";
    EXPECT_EQ(instance->universe_retry_at, tick_now() + 1000) << "tried at 1000 ms, not before";

    instance->universe_port = port;
    clock.advance(1000);
    wl_wait(0);
    EXPECT_EQ(instance->universe_state, UNIVERSE_LOGIN_SENT);
    ASSERT_TRUE(universe.wait_links(2));
    ASSERT_TRUE(pump_until([&] { return instance->universe_state == UNIVERSE_LOGGED_IN; }));
    EXPECT_EQ(universe.count(MSG_LOGIN), 2);
}

TEST_F(UniverseSessionTest, AnIdleSessionSendsAKeepAliveAfter60Seconds) {
    Instance* instance = logged_in();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);  // the second round: the keep-alive restarted the idle clock
        clock.advance(60000);
        wl_wait(0);
        EXPECT_TRUE(universe.quiet());
        clock.advance(1);
        wl_wait(0);
        EXPECT_TRUE(universe.expect(MSG_UNIVERSE_KEEPALIVE).body.empty());
    }
    EXPECT_EQ(instance->universe_state, UNIVERSE_LOGGED_IN);
}

TEST_F(UniverseSessionTest, AKeyMessageStartsAndRestartsBothCiphers) {
    Instance* instance = logged_in();
    universe.send_key(0, 3, 5);
    universe.send(MSG_UNIVERSE_PING);
    ASSERT_TRUE(pump_until([&] { return universe.count(MSG_UNIVERSE_PONG) == 1; }));
    EXPECT_TRUE(connection_has_cipher(instance->universe_link));
    universe.send_key(0, 700, 0);
    universe.send(MSG_UNIVERSE_PING);
    ASSERT_TRUE(pump_until([&] { return universe.count(MSG_UNIVERSE_PONG) == 2; }));
    EXPECT_EQ(instance->universe_state, UNIVERSE_LOGGED_IN);
    EXPECT_FALSE(universe.closed());
}

TEST_F(UniverseSessionTest, ARedirectLogsInAtTheNewAddress) {
    ScriptedPeer elsewhere(PeerRole::universe);
    elsewhere.on(MSG_LOGIN, ScriptedPeer::accept_login(21));
    Instance* instance = logged_in(7);
    wl_string_set(ATTR_LOGIN_NAME, "Bird2");

    universe.send(MSG_UNIVERSE_REDIRECT, Body().address(elsewhere.address_network()).word(elsewhere.port()));
    ASSERT_TRUE(pump_until([&] { return instance->session == 21u; }));
    EXPECT_EQ(instance->universe_state, UNIVERSE_LOGGED_IN);
    EXPECT_EQ(instance->universe_port, elsewhere.port_network());
    EXPECT_TRUE(universe.wait_closed(0));
    ASSERT_EQ(elsewhere.count(MSG_LOGIN), 1);
    FieldReader fields(elsewhere.history()[0]);
    fields.dword();
    EXPECT_EQ(fields.string(), "Bird2");
}

TEST_F(UniverseSessionTest, ARedirectToNowhereEndsANewSession) {
    Instance* instance = login_sent();
    universe.send(MSG_UNIVERSE_REDIRECT, Body().address(universe.address_network()).word(0));
    ASSERT_TRUE(pump_until([&] { return instance->universe_state == UNIVERSE_NONE; }))
        << "never logged in: no reconnect";
    EXPECT_EQ(instance->universe_link, nullptr);
}

TEST_F(UniverseSessionTest, ARenumberRestartsTheWorldLinkWithTheNewSession) {
    ScriptedPeer world(PeerRole::world);
    Instance* instance = logged_in(7);
    place_in_world(instance, world, 20);

    universe.send(MSG_SESSION_RENUMBER, Body().word(99));
    ASSERT_TRUE(pump_until([&] { return instance->session == 99u; }));
    EXPECT_EQ(instance->world_state, WORLD_RETRY);
    EXPECT_EQ(instance->world_link, nullptr);
    EXPECT_TRUE(world.wait_closed(0));

    clock.advance(1000);
    wl_wait(0);
    EXPECT_EQ(instance->world_state, WORLD_LOGIN_SENT);
    FieldReader fields(world.expect(MSG_WORLD_LOGIN_V2));
    EXPECT_EQ(fields.string(), "earth");
    EXPECT_EQ(fields.word(), 99);
    EXPECT_EQ(fields.byte(), 50);
    EXPECT_TRUE(fields.done());
}

TEST_F(UniverseSessionTest, AReconnectedUniverseSendsTheWorldLoginAgain) {
    ScriptedPeer world(PeerRole::world);
    Instance* instance = logged_in(7);
    place_in_world(instance, world, 28);
    instance->ticket = 0x0A0B0C0D;

    lose_universe(instance);
    EXPECT_EQ(instance->world_state, WORLD_IN) << "the world link stays up";
    clock.advance(1000);
    ASSERT_TRUE(pump_until([&] { return instance->universe_state == UNIVERSE_LOGGED_IN; }));
    EXPECT_EQ(instance->world_state, WORLD_LOGIN_SENT);
    FieldReader fields(world.expect(MSG_WORLD_LOGIN_V4));
    EXPECT_EQ(fields.string(), "earth");
    EXPECT_EQ(fields.dword(), 7);
    EXPECT_EQ(fields.dword(), 0x0A0B0C0D);
    EXPECT_EQ(fields.word(), LIBRARY_BUILD);
    EXPECT_TRUE(fields.done());
}

TEST_F(UniverseSessionTest, ALoginEndsAtOnceWhenAHandlerDestroysItsInstance) {
    universe.on(MSG_LOGIN, [](ScriptedPeer& peer, const PeerFrame& frame) {
        peer.send(frame.link, MSG_UNIVERSE_PROPERTIES);
        peer.send(frame.link, MSG_LOGIN_REPLY, Body().word(1).string(""));
    });
    wl_event_set(EVENT_UNIVERSE_PROPERTIES, [] { wl_destroy(); });
    create();
    EXPECT_EQ(wl_login(), REASON_INVALID_INSTANCE);
    EXPECT_EQ(library.instance_count, 0);
    EXPECT_EQ(wl_instance(), nullptr);
}

// Several instances stay logged in through lost links and idle hours.
TEST_F(UniverseSessionTest, AFlockStaysLoggedIn) {
    universe.on(MSG_LOGIN, ScriptedPeer::accept_login(5));
    std::vector<Instance*> flock;
    for (int bird = 1; bird <= 4; ++bird) {
        flock.push_back(create());
        wl_string_set(ATTR_LOGIN_NAME, ("Bird" + std::to_string(bird)).c_str());
        ASSERT_EQ(wl_login(), 0);
    }
    const auto all_in = [&](int state) {
        for (Instance* bird : flock)
            if (bird->universe_state != state) return false;
        return true;
    };
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const int links = universe.link_count();
        for (int link = 0; link < links; ++link) universe.close(link);
        ASSERT_TRUE(pump_until([&] { return all_in(UNIVERSE_RETRY); }));
        clock.advance(1000);
        ASSERT_TRUE(pump_until([&] { return all_in(UNIVERSE_LOGGED_IN); }));
        EXPECT_EQ(universe.link_count(), links + 4);

        const int keepalives = universe.count(MSG_UNIVERSE_KEEPALIVE);
        clock.advance(60001);
        ASSERT_TRUE(pump_until([&] { return universe.count(MSG_UNIVERSE_KEEPALIVE) == keepalives + 4; }));
        EXPECT_TRUE(all_in(UNIVERSE_LOGGED_IN));
    }
    EXPECT_EQ(universe.count(MSG_LOGIN), 16);
}

}  // namespace
