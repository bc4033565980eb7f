// Entering a world: lookup, address cache, the world login of each build, and
// the ways an entry fails.
#include "tests/world/world_fixture.h"

namespace {

class Enter : public WorldFixture {};

constexpr uint32_t HALF_HOUR = 30 * 60 * 1000;

void destroy_current() { wl_destroy(); }

// The peer unseals a login that arrives before its key message, so reading the
// right fields back also proves the login was sealed.
TEST_F(Enter, EachWorldBuildGetsItsOwnLogin) {
    struct Case {
        int build;
        int type;
    };
    const Case cases[] = {{19, MSG_WORLD_LOGIN_V1}, {20, MSG_WORLD_LOGIN_V2}, {22, MSG_WORLD_LOGIN_V2},
                          {23, MSG_WORLD_LOGIN_V3}, {27, MSG_WORLD_LOGIN_V3}, {28, MSG_WORLD_LOGIN_V4},
                          {31, MSG_WORLD_LOGIN_V4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.build);
        lookup_build = c.build;
        const std::string name = "w" + std::to_string(c.build);
        ASSERT_EQ(enter(name.c_str()), 0);
        EXPECT_EQ(bot->world_state, WORLD_IN);
        const auto logins = world_frames(c.type);
        ASSERT_FALSE(logins.empty());
        FieldReader login(logins.back());
        if (c.type != MSG_WORLD_LOGIN_V1) {
            EXPECT_EQ(login.string(), name);
        }
        if (c.type == MSG_WORLD_LOGIN_V4) {
            EXPECT_EQ(login.dword(), SESSION);
            EXPECT_EQ(login.dword(), TICKET);
            EXPECT_EQ(login.word(), LIBRARY_BUILD);
        } else {
            EXPECT_EQ(login.word(), SESSION);
            EXPECT_EQ(login.byte(), 50);
            if (c.type == MSG_WORLD_LOGIN_V3) {
                EXPECT_EQ(login.dword(), TICKET);
            }
        }
        EXPECT_TRUE(login.done());
    }
}

TEST_F(Enter, AddressIsCachedForHalfAnHour) {
    ASSERT_EQ(enter("alpha"), 0);
    EXPECT_EQ(lookups(), 1);

    clock.advance(HALF_HOUR - 60000);
    ASSERT_EQ(enter("alpha"), 0);
    EXPECT_EQ(lookups(), 1);
    EXPECT_EQ(world.link_count(), 2);

    clock.advance(60000);  // exactly 30 minutes after the lookup: stale
    ASSERT_EQ(enter("alpha"), 0);
    EXPECT_EQ(lookups(), 2);
}

TEST_F(Enter, NameIsLookedUpAsTypedButKeptInLowerCase) {
    ASSERT_EQ(enter("MiXeD"), 0);
    std::string asked;
    for (auto& frame : universe.history())
        if (frame.type == MSG_WORLD_LOOKUP) asked = FieldReader(frame).string();
    EXPECT_EQ(asked, "MiXeD");
    EXPECT_STREQ(wl_string(ATTR_WORLD_NAME), "mixed");
    EXPECT_STREQ(bot->world_name, "mixed");
    EXPECT_EQ(FieldReader(world_frames(MSG_WORLD_LOGIN_V4).back()).string(), "mixed");

    ASSERT_EQ(enter("MIXED"), 0);
    EXPECT_EQ(lookups(), 1);
}

TEST_F(Enter, RefusalsEndTheEntryWithTheirReason) {
    ASSERT_EQ(enter("alpha"), 0);
    EXPECT_EQ(enter("ninechars"), REASON_INVALID_WORLD_NAME);
    EXPECT_TRUE(world.wait_closed(0));  // the earlier world is left all the same
    EXPECT_EQ(wl_state_change(), REASON_NO_CONNECTION);
    EXPECT_EQ(enter(nullptr), REASON_INVALID_WORLD_NAME);

    lookup_build = 18;
    EXPECT_EQ(enter("ancient"), REASON_WORLD_TOO_OLD);
    EXPECT_EQ(bot->world_state, WORLD_NONE);

    lookup_result = 27;
    EXPECT_EQ(enter("closed"), 27);
    EXPECT_FALSE(world.wait_links(2, 200));
}

TEST_F(Enter, WorldDropDuringEntryIsReturnedAndNotRetried) {
    install_every_event();
    const std::pair<int, int> drops[] = {{MSG_WORLD_DROP_466, 466}, {MSG_WORLD_DROP_465, 465},
                                         {MSG_WORLD_DROP_467, 467}, {MSG_WORLD_DROP_489, 489}};
    for (auto [type, reason] : drops) {
        SCOPED_TRACE(reason);
        world_answers_with(type);
        const int links = world.link_count();
        EXPECT_EQ(enter("dropper"), reason);
        EXPECT_EQ(wl_int(ATTR_WORLD_DISCONNECT_REASON), reason);
        clock.advance(5000);
        pump();
        EXPECT_FALSE(world.wait_links(links + 2, 100));
        EXPECT_EQ(bot->world_state, WORLD_NONE);
    }
    EXPECT_EQ(heard.count[EVENT_WORLD_DISCONNECT], 0);  // never was in the world
}

// A link that fails during entry is a failure, though the world is tried
// again and entered later by itself.
TEST_F(Enter, LinkLostDuringEntryFailsButIsRetried) {
    world.on(MSG_WORLD_LOGIN_V4, [](ScriptedPeer& peer, const PeerFrame& frame) { peer.close(frame.link); }, 1);
    EXPECT_EQ(enter("alpha"), REASON_UNABLE_TO_CONTACT_WORLD);
    EXPECT_EQ(bot->world_state, WORLD_RETRY);
    clock.advance(1000);
    ASSERT_TRUE(pump_until([&] { return bot->world_state == WORLD_IN; }));
    EXPECT_EQ(world.link_count(), 2);
}

TEST_F(Enter, HandlerThatDestroysTheInstanceEndsTheWait) {
    wl_event_set(EVENT_WORLD_PROPERTIES, destroy_current);
    EXPECT_EQ(enter("alpha"), REASON_INVALID_INSTANCE);
    EXPECT_EQ(wl_instance(), nullptr);
}

}  // namespace
