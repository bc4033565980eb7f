// What the world sends: properties, avatars, chat, cells, and messages the
// library does not know.
#include "tests/world/world_fixture.h"

namespace {

Body text(Body body, int tag, const std::string& value) {
    return body.byte(tag).data(std::vector<uint8_t>(value.begin(), value.end()));
}

class WorldMessages : public WorldFixture {
protected:
    void SetUp() override {
        WorldFixture::SetUp();
        install_every_event();
    }

    void enter_build(int build) {
        lookup_build = build;
        ASSERT_EQ(enter("alpha"), 0);
    }

    // Sends a properties message and waits until it has been handled.
    void properties(const Body& body) {
        world.send(MSG_WORLD_PROPERTIES, body);
        ASSERT_TRUE(until_heard(EVENT_WORLD_PROPERTIES, heard.count[EVENT_WORLD_PROPERTIES] + 1));
    }

    std::vector<uint8_t> world_data() {
        int length = 0;
        const uint8_t* bytes = store_data(bot->attributes, ATTR_WORLD_DATA, &length);
        return bytes == nullptr ? std::vector<uint8_t>() : std::vector<uint8_t>(bytes, bytes + length);
    }

    void chat(int type, int session, const std::string& line) {
        world.send(type, Body().word(session).string(line));
    }

    // Announces session 1 and has it say "marker"; once that is heard, every
    // message sent earlier has been handled.
    void settle() {
        const size_t before = heard.lines.size();
        world.send(MSG_AVATAR_ADD, avatar_add_body(bot->world_build, 1, "Ann"));
        chat(MSG_CHAT_0, 1, "marker");
        ASSERT_TRUE(pump_until([&] { return heard.lines.size() == before + 1; }));
    }
};

TEST_F(WorldMessages, SecondPropertiesResetEverythingAndSendNoSecondMask) {
    Body first = text(text(text(text(Body(), 5, "77"), 0, "first"), 14, "Y"), 3, "http://objects.example");
    first.byte(22).data({1, 2, 3});
    world_answers(first);
    enter_build(30);
    expect_ints({{ATTR_WORLD_PROP_05, 77}, {ATTR_WORLD_PROP_13, 178}});
    EXPECT_STREQ(wl_string(ATTR_WORLD_PROP_00), "first");
    EXPECT_STREQ(wl_string(ATTR_WORLD_OBJECT_PATH), "http://objects.example");
    EXPECT_EQ(world_data(), (std::vector<uint8_t>{1, 2, 3}));
    ASSERT_TRUE(world.wait_count(MSG_EVENT_MASK, 1));
    EXPECT_EQ(FieldReader(world_frames(MSG_EVENT_MASK)[0]).dword(), 0x7F);

    properties(text(Body(), 13, "5"));
    expect_ints({{ATTR_WORLD_PROP_05, 10080}, {ATTR_WORLD_PROP_13, 5}});
    EXPECT_STREQ(wl_string(ATTR_WORLD_PROP_00), "");
    EXPECT_STREQ(wl_string(ATTR_WORLD_OBJECT_PATH), "");  // property 14 is false again
    EXPECT_TRUE(world_data().empty());
    EXPECT_FALSE(world.wait_count(MSG_EVENT_MASK, 2, 200));
}

TEST_F(WorldMessages, WorldsOfBuild20GetNoMask) {
    enter_build(20);
    settle();
    EXPECT_EQ(world.count(MSG_EVENT_MASK), 0);
}

TEST_F(WorldMessages, HexadecimalWorldDataAndCappedProperty60) {
    enter_build(30);
    const Body keep = text(Body(), 14, "Y");
    properties(text(text(keep, 57, "0aff"), 60, "5000"));
    EXPECT_EQ(world_data(), (std::vector<uint8_t>{0x0A, 0xFF}));
    EXPECT_EQ(wl_int(ATTR_WORLD_PROP_60), 999);

    properties(text(text(keep, 57, "abc"), 60, "1000"));
    EXPECT_EQ(world_data(), (std::vector<uint8_t>{0xAB}));
    EXPECT_EQ(wl_int(ATTR_WORLD_PROP_60), 999);

    // Text that is not hexadecimal is refused whole: the raw data stays.
    Body mixed = keep;
    mixed.byte(22).data({7, 8});
    properties(text(mixed, 57, "0g12"));
    EXPECT_EQ(world_data(), (std::vector<uint8_t>{7, 8}));
    EXPECT_EQ(wl_int(ATTR_WORLD_PROP_60), 10);

    // Tags without an attribute or out of range are passed over.
    properties(text(text(text(Body(), 4, "x"), 61, "x"), 255, "x"));
    properties(text(Body(), 57, "0aff"));  // property 14 false: no data kept
    EXPECT_TRUE(world_data().empty());
    EXPECT_EQ(bot->world_state, WORLD_IN);
}

TEST_F(WorldMessages, AvatarAddOfBuild27HasNoTrailingFields) {
    enter_build(27);
    world.send(MSG_AVATAR_ADD, avatar_add_body(27, 7, "Alice").raw({9, 9}));  // extra bytes tolerated
    ASSERT_TRUE(until_heard(EVENT_AVATAR_ADD, 1));
    EXPECT_STREQ(wl_string(ATTR_AVATAR_NAME), "Alice");
    expect_ints({{ATTR_AVATAR_SESSION, 7}, {ATTR_AVATAR_X, 1000}, {ATTR_AVATAR_Y, -200}, {ATTR_AVATAR_YAW, -900},
                 {ATTR_AVATAR_EXTRA, 200}, {ATTR_AVATAR_W1, 0}, {ATTR_AVATAR_N1, -1}, {ATTR_AVATAR_N2, -1}});
    chat(MSG_CHAT_1, 7, "hi");
    ASSERT_TRUE(until_heard(EVENT_CHAT, 1));
    EXPECT_EQ(heard.speakers[0], "Alice");
}

TEST_F(WorldMessages, AvatarAddOfBuild30HasWideSessionAndTrailingFields) {
    enter_build(30);
    world.send(MSG_AVATAR_ADD, avatar_add_body(30, 70000, "Bob"));
    const std::string long_name = "Abcdefghijklmnopqrstuvwxy";  // 25 characters
    world.send(MSG_AVATAR_ADD, avatar_add_body(30, 300, long_name));
    ASSERT_TRUE(until_heard(EVENT_AVATAR_ADD, 2));
    EXPECT_STREQ(wl_string(ATTR_AVATAR_NAME), long_name.c_str());
    expect_ints({{ATTR_AVATAR_W1, 0xFFFE}, {ATTR_AVATAR_N1, 11}, {ATTR_AVATAR_N2, -12}});
    uint32_t wide_session = 70000;
    TableEntry* entry = table_find(bot->avatars, &wide_session, sizeof wide_session);
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(static_cast<const char*>(table_value(entry)), "Bob");
    chat(MSG_CHAT_2, 300, "long");
    ASSERT_TRUE(until_heard(EVENT_CHAT, 1));
    EXPECT_EQ(heard.speakers[0], long_name.substr(0, 18));
}

TEST_F(WorldMessages, ChatNeedsAKnownSpeaker) {
    enter_build(30);
    world.send(MSG_AVATAR_ADD, avatar_add_body(30, 1, "Ann"));
    chat(MSG_CHAT_1, 99, "from nobody");
    chat(MSG_CHAT_1, 1, "one");
    chat(MSG_CHAT_0, 1, "zero");
    chat(MSG_CHAT_2, 1, "two");
    ASSERT_TRUE(until_heard(EVENT_CHAT, 3));
    EXPECT_EQ(heard.lines, (std::vector<std::string>{"one", "zero", "two"}));
    EXPECT_EQ(heard.chat_types, (std::vector<int>{1, 0, 2}));

    world.send(MSG_AVATAR_DELETE, Body().word(1));
    ASSERT_TRUE(until_heard(EVENT_AVATAR_DELETE, 1));
    EXPECT_STREQ(wl_string(ATTR_AVATAR_NAME), "Ann");
    chat(MSG_CHAT_1, 1, "gone");
    settle();
    EXPECT_EQ(heard.lines.back(), "marker");
    EXPECT_EQ(heard.count[EVENT_CHAT], 4);  // "gone" was dropped
}

TEST_F(WorldMessages, CellObjectsAreOffsetFromTheirCell) {
    enter_build(30);
    const Body first = object_body(1, 500, 10, 500);
    const Body second = object_body(2, -500, 0, -1);
    world.send(MSG_CELL_DATA, Body().word(-2).word(3).dword(9).raw(first.bytes()).raw(second.bytes()));
    ASSERT_TRUE(until_heard(EVENT_CELL_END, 1));
    EXPECT_EQ(heard.count[EVENT_CELL_BEGIN], 1);
    EXPECT_EQ(heard.object_x, (std::vector<int>{-1500, -2500}));
    EXPECT_EQ(heard.object_z, (std::vector<int>{3500, 2999}));
    expect_ints({{ATTR_CELL_SIZE, static_cast<int>(first.bytes().size() + second.bytes().size())}, {ATTR_CELL_X, -2}});
}

TEST_F(WorldMessages, UnknownTypesAreSkippedWhole) {
    enter_build(30);
    world.send(16, Body().raw({1, 2, 3, 4, 5}));
    world.send(200, Body().raw({MSG_CHAT_0, 0, 1}));
    settle();
    EXPECT_EQ(heard.lines, (std::vector<std::string>{"marker"}));
    EXPECT_FALSE(world.closed(0));
}

TEST_F(WorldMessages, ResultsAndKeys) {
    enter_build(30);
    world.send(MSG_WORLD_RESULT, Body().dword(77).byte(3));
    settle();
    EXPECT_EQ(bot->world_result_reason, 203);
    EXPECT_EQ(wl_int(ATTR_OBJECT_NUMBER), 77);
    world.send(MSG_WORLD_RESULT, Body().dword(78).byte(0));
    settle();
    EXPECT_EQ(bot->world_result_reason, 0);

    // After the key both directions are enciphered and still understood. The
    // peer deciphers from the key on, so it must have read all plain frames.
    ASSERT_TRUE(world.wait_count(MSG_EVENT_MASK, 1));
    world.send_key(0, 3, 5);
    settle();
    ASSERT_EQ(wl_whisper(1, "secret"), 0);
    ASSERT_TRUE(world.wait_count(MSG_WHISPER, 1));
    EXPECT_EQ(world_frames(MSG_WHISPER)[0].body, Body().word(1).string("secret").bytes());
}

// Ejected in the world: one disconnect event, no retry. A truncated frame is a
// lost link instead, which is retried.
TEST_F(WorldMessages, EjectionClosesForGoodATruncatedFrameIsRetried) {
    enter_build(30);
    world.send(MSG_AVATAR_ADD, Body().dword(1).string("Ann").dword(5));
    ASSERT_TRUE(until_heard(EVENT_WORLD_DISCONNECT, 1));
    EXPECT_EQ(heard.disconnect_reason, REASON_CONNECTION_LOST);
    EXPECT_EQ(heard.count[EVENT_AVATAR_ADD], 0);
    clock.advance(1000);
    ASSERT_TRUE(pump_until([&] { return bot->world_state == WORLD_IN; }));

    world.send(MSG_WORLD_DROP_466);
    ASSERT_TRUE(until_heard(EVENT_WORLD_DISCONNECT, 2));
    EXPECT_EQ(heard.disconnect_reason, REASON_EJECTED);
    EXPECT_EQ(bot->world_state, WORLD_NONE);
    EXPECT_TRUE(stays_out());
    EXPECT_EQ(heard.count[EVENT_WORLD_DISCONNECT], 2);
}

}  // namespace
