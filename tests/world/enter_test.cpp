// Entering a world: lookup, address cache, the world login of each build, and
// the ways an entry fails.
#include "tests/world/world_fixture.h"

namespace {

using Enter = WorldFixture;

constexpr uint32_t HALF_HOUR = 30 * 60 * 1000;

// The peer unseals a login that arrives before its key message, so reading the
// right bytes back also proves the login was sealed.
TEST_F(Enter, EachWorldBuildGetsItsOwnLogin) {
    const std::pair<int, int> cases[] = {{19, MSG_WORLD_LOGIN_V1}, {20, MSG_WORLD_LOGIN_V2}, {22, MSG_WORLD_LOGIN_V2},
                                         {23, MSG_WORLD_LOGIN_V3}, {27, MSG_WORLD_LOGIN_V3}, {28, MSG_WORLD_LOGIN_V4},
                                         {31, MSG_WORLD_LOGIN_V4}};
    for (auto [build, type] : cases) {
        SCOPED_TRACE(build);
        lookup_build = build;
        // Appended, not "w" + ...: g++ 12 warns falsely (-Wrestrict) on that at -O3.
        std::string name = "w";
        name += std::to_string(build);
        ASSERT_EQ(enter(name.c_str()), 0);
        EXPECT_EQ(bot->world_state, WORLD_IN);
        Body expected;
        if (type != MSG_WORLD_LOGIN_V1) expected.string(name);
        if (type == MSG_WORLD_LOGIN_V4)
            expected.dword(SESSION).dword(TICKET).word(LIBRARY_BUILD);
        else
            expected.word(SESSION).byte(50);
        if (type == MSG_WORLD_LOGIN_V3) expected.dword(TICKET);
        const auto logins = world_frames(type);
        ASSERT_FALSE(logins.empty());
        EXPECT_EQ(logins.back().body, expected.bytes());
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
    EXPECT_EQ(FieldReader(frames(universe, MSG_WORLD_LOOKUP).back()).string(), "MiXeD");
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
        EXPECT_EQ(enter("dropper"), reason);
        EXPECT_EQ(wl_int(ATTR_WORLD_DISCONNECT_REASON), reason);
        EXPECT_TRUE(stays_out());
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
    wl_event_set(EVENT_WORLD_PROPERTIES, [] { wl_destroy(); });
    EXPECT_EQ(enter("alpha"), REASON_INVALID_INSTANCE);
    EXPECT_EQ(wl_instance(), nullptr);
}

}  // namespace
