// In the world: the bot's own messages, and how a lost or silent world is
// closed and entered again.
#include "tests/world/world_fixture.h"

namespace {

class InWorld : public WorldFixture {
protected:
    void SetUp() override {
        WorldFixture::SetUp();
        install_every_event();
        ASSERT_EQ(enter("alpha"), 0);
    }

    // The frames of a type once `count` of them have arrived.
    std::vector<PeerFrame> wait_world_frames(int type, int count) {
        EXPECT_TRUE(world.wait_count(type, count));
        return world_frames(type);
    }
};

TEST_F(InWorld, StateChangeAndWhisperFieldsByteForByte) {
    wl_int_set(ATTR_MY_X, 1234);
    wl_int_set(ATTR_MY_Y, -5);
    wl_int_set(ATTR_MY_Z, 70000);
    wl_int_set(ATTR_MY_YAW, -10);
    wl_int_set(ATTR_MY_TYPE, 300);
    wl_int_set(ATTR_MY_EXTRA, 7);
    ASSERT_EQ(wl_state_change(), 0);
    const std::vector<uint8_t> state = {0x00, 0x00, 0x04, 0xD2, 0xFF, 0xFF, 0xFF, 0xFB, 0x00, 0x01,
                                        0x11, 0x70, 0xFF, 0xF6, 0x2C, 0x07};
    EXPECT_EQ(wait_world_frames(MSG_STATE_CHANGE, 1)[0].body, state);

    const std::string longest(255, 'w');
    ASSERT_EQ(wl_whisper(513, longest.c_str()), 0);
    EXPECT_EQ(wait_world_frames(MSG_WHISPER, 1)[0].body, Body().word(513).string(longest).bytes());

    EXPECT_EQ(wl_whisper(513, std::string(256, 'w').c_str()), REASON_STRING_TOO_LONG);
    ASSERT_EQ(wl_whisper(513, nullptr), 0);  // no text is an empty whisper
    EXPECT_EQ(wait_world_frames(MSG_WHISPER, 2)[1].body, Body().word(513).string("").bytes());
}

TEST_F(InWorld, ReentryAfterLostLinkResendsOwnState) {
    wl_int_set(ATTR_MY_X, 5000);
    ASSERT_EQ(wl_state_change(), 0);
    const auto first = wait_world_frames(MSG_STATE_CHANGE, 1)[0];

    world.close(0);
    ASSERT_TRUE(until_heard(EVENT_WORLD_DISCONNECT, 1));
    EXPECT_EQ(heard.disconnect_reason, REASON_CONNECTION_LOST);
    clock.advance(1000);
    ASSERT_TRUE(pump_until([&] { return world.count(MSG_STATE_CHANGE) == 2; }));
    const auto again = world_frames(MSG_STATE_CHANGE)[1];
    EXPECT_EQ(again.link, 1);
    EXPECT_EQ(again.body, first.body);
    EXPECT_EQ(heard.count[EVENT_WORLD_DISCONNECT], 1);
}

TEST_F(InWorld, SilentWorldIsClosedAndRetriedASecondLater) {
    clock.advance(90000);
    pump();
    EXPECT_EQ(bot->world_state, WORLD_IN);

    clock.advance(1);
    ASSERT_TRUE(until_heard(EVENT_WORLD_DISCONNECT, 1));
    EXPECT_EQ(heard.disconnect_reason, REASON_CONNECTION_LOST);
    EXPECT_TRUE(world.wait_closed(0));

    clock.advance(999);
    pump();
    EXPECT_FALSE(world.wait_links(2, 100));
    clock.advance(1);
    ASSERT_TRUE(pump_until([&] { return bot->world_state == WORLD_IN; }));
    EXPECT_EQ(world.link_count(), 2);
    EXPECT_EQ(heard.count[EVENT_WORLD_DISCONNECT], 1);
}

TEST_F(InWorld, ExitLeavesQuietlyAndForGood) {
    ASSERT_EQ(wl_exit(), 0);
    EXPECT_EQ(wl_state_change(), REASON_NO_CONNECTION);
    EXPECT_EQ(wl_whisper(1, "hi"), REASON_NO_CONNECTION);
    EXPECT_TRUE(world.wait_closed(0));
    EXPECT_TRUE(stays_out());
    EXPECT_EQ(heard.count[EVENT_WORLD_DISCONNECT], 0);
}

// A handler that leaves the world while its message is being read: the rest
// of the message is never read from the freed link, and no retry follows.
TEST_F(InWorld, HandlerMayLeaveTheWorld) {
    wl_event_set(EVENT_CELL_OBJECT, [] { wl_exit(); });
    world.send(MSG_AVATAR_ADD, avatar_add_body(30, 7, "Alice"));
    world.send(MSG_CELL_DATA, Body().word(0).word(0).dword(0).raw(object_body(1, 0, 0, 0).bytes()).raw(
                                  object_body(2, 0, 0, 0).bytes()));
    ASSERT_TRUE(pump_until([&] { return bot->world_state == WORLD_NONE; }));
    EXPECT_TRUE(world.wait_closed(0));
    EXPECT_TRUE(stays_out());
    EXPECT_EQ(heard.count[EVENT_CELL_END], 0);
}

int reentered = -1;
void reenter_world() {
    if (reentered == -1) reentered = wl_enter("alpha");
}

// The new world link may land at the address of the one being read; the entry
// must still see its answer instead of waiting for ever.
TEST_F(InWorld, HandlerMayEnterTheWorldAgain) {
    reentered = -1;
    wl_event_set(EVENT_CHAT, reenter_world);
    world.send(MSG_AVATAR_ADD, avatar_add_body(30, 7, "Alice"));
    world.send(MSG_CHAT_0, Body().word(7).string("come back"));
    ASSERT_TRUE(pump_until([&] { return reentered != -1; }));
    EXPECT_EQ(reentered, 0);
    EXPECT_EQ(bot->world_state, WORLD_IN);
    EXPECT_TRUE(world.wait_links(2, 1000));
}

}  // namespace
