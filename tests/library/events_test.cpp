#include "tests/library/library_fixture.h"

#include <string>
#include <vector>

namespace {

void ignore() {}

std::vector<std::string> names;
Instance* victim = nullptr;

class EventsTest : public LibraryTest {
protected:
    ScriptedPeer world{PeerRole::world};

    void SetUp() override {
        LibraryTest::SetUp();
        // Start from the mask the worlds already know.
        library.event_mask = event_mask_compute(0);
        library.event_mask_dirty = 0;
        names.clear();
    }

    int32_t next_mask() {
        FieldReader fields(world.expect(MSG_EVENT_MASK));
        const int32_t mask = fields.dword();
        EXPECT_TRUE(fields.done());
        return mask;
    }
};

TEST_F(EventsTest, TheMaskFollowsTheInstalledHandlers) {
    EXPECT_EQ(wl_event_set(EVENT_COUNT, ignore), REASON_INVALID_ATTRIBUTE);
    EXPECT_EQ(wl_event_set(-1, ignore), REASON_INVALID_ATTRIBUTE);
    EXPECT_FALSE(library.event_mask_dirty);
    wl_event_set(EVENT_CHAT, ignore);
    EXPECT_EQ(event_mask_compute(0), 0x05u);
    wl_event_set(EVENT_AVATAR_CHANGE, ignore);
    EXPECT_EQ(event_mask_compute(0), 0x07u);
    wl_event_set(EVENT_OBJECT_DELETE, ignore);
    EXPECT_EQ(event_mask_compute(0), 0x0Fu);
    wl_event_set(EVENT_SESSION_PAIR, ignore);
    wl_event_set(EVENT_CELL_BEGIN, ignore);
    EXPECT_EQ(event_mask_compute(0), 0x4Fu) << "cell events have no bit";
    EXPECT_EQ(event_mask_compute(0x80000000u), 0x8000004Fu) << "bits above 6 are carried over";
    wl_event_set(EVENT_CHAT, nullptr);
    wl_event_set(EVENT_AVATAR_CHANGE, nullptr);
    EXPECT_EQ(event_mask_compute(0x7Fu), 0x49u) << "bits of removed handlers go";
}

TEST_F(EventsTest, AChangedMaskGoesToWorldsFromBuild21) {
    place_in_world(logged_in(), world, 21);
    ScriptedPeer old_world(PeerRole::world);
    place_in_world(create(), old_world, 20);
    wl_event_set(EVENT_CHAT, ignore);
    wl_event_set(EVENT_CHAT, nullptr);
    wl_wait(0);
    EXPECT_TRUE(world.quiet()) << "installed and removed before a pass: nothing changed";
    EXPECT_FALSE(library.event_mask_dirty);

    wl_event_set(EVENT_CHAT, ignore);
    wl_wait(0);
    EXPECT_EQ(next_mask(), 0x05);
    EXPECT_EQ(library.event_mask, 0x05u);
    wl_event_set(EVENT_AVATAR_CHANGE, ignore);
    wl_wait(0);
    EXPECT_EQ(next_mask(), 0x07);
    EXPECT_TRUE(old_world.quiet()) << "worlds of build 20 never get a mask";
}

TEST_F(EventsTest, AFailedMaskSendLosesThatWorldLink) {
    Instance* instance = logged_in();
    place_in_world(instance, world, 21);
    instance->world_link->reason = REASON_SEND_FAILED;
    wl_event_set(EVENT_WORLD_DISCONNECT, [] { ++fired; });
    wl_event_set(EVENT_CHAT, ignore);
    wl_wait(0);
    EXPECT_EQ(instance->world_state, WORLD_RETRY);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(store_int(instance->attributes, ATTR_WORLD_DISCONNECT_REASON), REASON_CONNECTION_LOST);
}

TEST_F(EventsTest, AnEventMakesItsInstanceCurrent) {
    Instance* older = logged_in();
    Instance* newer = create();
    ASSERT_EQ(wl_instance(), newer);
    wl_event_set(EVENT_UNIVERSE_PROPERTIES, [] {
        ++fired;
        fired_on = wl_instance();
    });
    universe.send(0, MSG_UNIVERSE_PROPERTIES);
    ASSERT_TRUE(pump_until([] { return fired == 1; }));
    EXPECT_EQ(fired_on, older);
    EXPECT_EQ(wl_instance(), older) << "the previous instance is not restored";
}

TEST_F(EventsTest, AHandlerThatDestroysItsInstanceEndsThePass) {
    Instance* older = logged_in();
    Instance* newer = logged_in();
    wl_event_set(EVENT_UNIVERSE_PROPERTIES, [] {
        ++fired;
        wl_destroy();
    });
    universe.send(0, MSG_UNIVERSE_PING);
    universe.send(1, MSG_UNIVERSE_PROPERTIES);
    ASSERT_TRUE(readable(older->universe_link));
    ASSERT_TRUE(readable(newer->universe_link));

    EXPECT_EQ(service_pass(0), 1);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(library.instance_count, 1);
    EXPECT_EQ(wl_instance(), older);
    EXPECT_TRUE(universe.quiet()) << "the older instance was not served in that pass";
    wl_wait(0);
    universe.expect(MSG_UNIVERSE_PONG);
}

TEST_F(EventsTest, APassInsideAHandlerLeavesTheFrameBeingReadAlone) {
    Instance* instance = logged_in();
    wl_event_set(EVENT_NAME_LIST_ENTRY, [] {
        names.emplace_back(wl_string(ATTR_LIST_NAME));
        wl_wait(0);
    });
    ASSERT_TRUE(deliver(MSG_NAME_LIST, Body().string("ann").byte(1).word(1).string("bob").byte(2).word(2)));
    EXPECT_EQ(names, (std::vector<std::string>{"ann", "bob"}));
    EXPECT_EQ(instance->universe_state, UNIVERSE_LOGGED_IN);
}

TEST_F(EventsTest, AHandlerMayDestroyItsInstanceAndThenPump) {
    Instance* older = logged_in();
    Instance* newer = logged_in();
    wl_event_set(EVENT_NAME_LIST_ENTRY, [] {
        ++fired;
        wl_destroy();
        wl_wait(0);
    });
    universe.send(1, MSG_NAME_LIST, Body().string("ann").byte(1).word(1).string("bob").byte(2).word(2));
    ASSERT_TRUE(readable(newer->universe_link));
    wl_wait(0);
    EXPECT_EQ(fired, 1) << "the rest of the list belonged to the destroyed instance";
    EXPECT_EQ(wl_instance(), older);
    EXPECT_EQ(library.instance_count, 1);
}

TEST_F(EventsTest, AWorldIsRetriedEvenWhenItsDisconnectHandlerDestroysAnotherInstance) {
    victim = logged_in();
    Instance* survivor = logged_in();
    place_in_world(survivor, world, 21);
    wl_event_set(EVENT_WORLD_DISCONNECT, [] {
        ++fired;
        if (wl_instance_set(victim) == 0) wl_destroy();
    });
    world.close(0);
    ASSERT_TRUE(pump_until([] { return fired == 1; }));
    EXPECT_EQ(library.instance_count, 1);
    EXPECT_EQ(survivor->world_state, WORLD_RETRY);
    clock.advance(1000);
    wl_wait(0);
    EXPECT_TRUE(world.wait_links(2)) << "the survivor reconnects to its world";
}

}  // namespace
