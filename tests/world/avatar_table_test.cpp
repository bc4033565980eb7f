// The avatars table holds the sessions present in the world the instance is
// in, and no more, whichever events are installed.
#include "tests/world/world_fixture.h"

namespace {

class AvatarTable : public WorldFixture {
protected:
    // Only the chat handler, as the program installs it.
    void SetUp() override {
        WorldFixture::SetUp();
        wl_event_set(EVENT_CHAT, record_event<EVENT_CHAT>);
        ASSERT_EQ(enter("alpha"), 0);
    }

    // Once a resident's line is heard, everything sent before it is handled.
    void settle(int resident) {
        const size_t before = heard.lines.size();
        world.send(MSG_CHAT_0, Body().word(resident).string("marker"));
        ASSERT_TRUE(pump_until([&] { return heard.lines.size() == before + 1; }));
    }

    void add(int session, const std::string& name) { world.send(MSG_AVATAR_ADD, avatar_add_body(30, session, name)); }
};

TEST_F(AvatarTable, VisitorsThatComeAndGoAreForgotten) {
    add(1, "Ann");
    add(2, "Bob");
    for (int visit = 0; visit < 300; ++visit) {
        add(100 + visit, "Guest");
        world.send(MSG_AVATAR_DELETE, Body().word(100 + visit));
    }
    settle(1);
    EXPECT_EQ(bot->avatars->count, 2);
    world.send(MSG_CHAT_0, Body().word(150).string("gone"));
    settle(2);
    EXPECT_EQ(heard.speakers.back(), "Bob");
    EXPECT_EQ(heard.lines, (std::vector<std::string>{"marker", "marker"}));
}

TEST_F(AvatarTable, LostWorldAndNewEntryStartEmpty) {
    add(1, "Ann");
    add(2, "Bob");
    settle(1);
    ASSERT_EQ(bot->avatars->count, 2);

    world.close(0);
    ASSERT_TRUE(pump_until([&] { return bot->world_state == WORLD_RETRY; }));
    EXPECT_EQ(bot->avatars->count, 0);
    clock.advance(1000);
    ASSERT_TRUE(pump_until([&] { return bot->world_state == WORLD_IN; }));
    add(2, "Bob");
    settle(2);
    EXPECT_EQ(bot->avatars->count, 1);

    ASSERT_EQ(enter("alpha"), 0);
    EXPECT_EQ(bot->avatars->count, 0);
}

}  // namespace
