// The inbound universe messages, each fed by the scripted universe to a
// logged-in instance.
#include "tests/library/library_fixture.h"

#include <array>
#include <bit>
#include <string>
#include <variant>
#include <vector>

namespace {

struct ListEntry {
    std::string name;
    int status;
    int count;
    bool operator==(const ListEntry&) const = default;
};
std::vector<ListEntry> entries;

void note_entry() { entries.push_back({wl_string(ATTR_LIST_NAME), wl_int(ATTR_LIST_STATUS), wl_int(ATTR_LIST_COUNT)}); }

// One attribute and the value a message leaves in it.
struct Stored {
    int attribute;
    std::variant<int, std::string> value;
};

class UniverseMessagesTest : public LibraryTest {
protected:
    Instance* instance = nullptr;

    void SetUp() override {
        LibraryTest::SetUp();
        entries.clear();
        instance = logged_in();
    }

    AttributeStore* store() { return instance->attributes; }

    // A world address the instance asked for, as wl_enter asks.
    bool answer_lookup(const Body& body, int result = 0) {
        instance->world_lookup = LOOKUP_BY_ENTER;
        return deliver(MSG_WORLD_ADDRESS, body, result);
    }

    void expect_stored(const std::vector<Stored>& stored) {
        for (const auto& [attribute, value] : stored) {
            SCOPED_TRACE(attribute_name(attribute));
            if (const int* number = std::get_if<int>(&value)) {
                EXPECT_EQ(store_int(store(), attribute), *number);
            } else {
                EXPECT_STREQ(store_string(store(), attribute), std::get<std::string>(value).c_str());
            }
        }
    }

    bool link_lost() {
        return pump_until([&] { return instance->universe_state == UNIVERSE_RETRY; }) && universe.wait_closed();
    }
};

TEST_F(UniverseMessagesTest, PingsAndAcknowledgedNoticesAreAnsweredWithAPong) {
    universe.send(MSG_UNIVERSE_PING);
    ASSERT_TRUE(pump_until([&] { return universe.count(MSG_UNIVERSE_PONG) == 1; }));
    universe.send(MSG_UNIVERSE_NOTICE, Body().dword(1).string("a").string("b").byte(1));
    ASSERT_TRUE(pump_until([&] { return universe.count(MSG_UNIVERSE_PONG) == 2; })) << "even with no handler";

    wl_event_set(EVENT_UNIVERSE_NOTICE, [] { ++fired; });
    ASSERT_TRUE(deliver(MSG_UNIVERSE_NOTICE, Body().dword(1).string("a").string("b").byte(0)));
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(universe.count(MSG_UNIVERSE_PONG), 3) << "no pong unless asked";
    // A refused notice is consumed whole and fires nothing.
    ASSERT_TRUE(deliver(MSG_UNIVERSE_NOTICE, Body().raw({1, 2, 3, 4, 5}), 9));
    EXPECT_EQ(fired, 1);
}

TEST_F(UniverseMessagesTest, UnknownTypesAreSkippedWhole) {
    ASSERT_TRUE(deliver(12, Body().raw({1, 2, 3, 4, 5})));
    ASSERT_TRUE(deliver(200, Body().raw(std::vector<uint8_t>(300, 0xEE))));
    EXPECT_EQ(instance->universe_state, UNIVERSE_LOGGED_IN);
    EXPECT_EQ(instance->last_universe_type, MSG_UNIVERSE_PING);
}

TEST_F(UniverseMessagesTest, NameListsFireOnePerEntry) {
    ASSERT_TRUE(deliver(MSG_NAME_LIST, Body().string("ann").byte(1).word(3)));
    EXPECT_STREQ(store_string(store(), ATTR_LIST_NAME), "") << "not stored without a handler";

    wl_event_set(EVENT_NAME_LIST_ENTRY, note_entry);
    store_int_set(store(), ATTR_LIST_MORE, 1);
    ASSERT_TRUE(deliver(MSG_NAME_LIST, Body().string("ann").byte(1).word(300).string("bob").byte(2).word(4)));
    EXPECT_EQ(entries, (std::vector<ListEntry>{{"ann", 1, 300}, {"bob", 2, 4}}));
    EXPECT_EQ(store_int(store(), ATTR_LIST_MORE), 0);
    ASSERT_TRUE(deliver(MSG_NAME_LIST));
    EXPECT_EQ(entries.size(), 2u) << "an empty list fires nothing";

    // The counted form reads exactly its count, then whether more follow.
    ASSERT_TRUE(deliver(MSG_NAME_LIST_COUNTED,
                        Body().word(2).byte(1).dword(77).string("cy").byte(0).word(1).string("di").byte(5).word(2)));
    EXPECT_EQ(entries, (std::vector<ListEntry>{{"ann", 1, 300}, {"bob", 2, 4}, {"cy", 0, 1}, {"di", 5, 2}}));
    EXPECT_EQ(store_int(store(), ATTR_LIST_MORE), 1);
    EXPECT_EQ(instance->list_resume, 77u);
    ASSERT_TRUE(deliver(MSG_NAME_LIST_COUNTED, Body().word(0).byte(0).dword(78)));
    EXPECT_EQ(entries.size(), 4u);
    EXPECT_EQ(store_int(store(), ATTR_LIST_MORE), 0);
    EXPECT_EQ(instance->list_resume, 78u);
}

TEST_F(UniverseMessagesTest, AShortNameListStillEndsTheListButLosesTheLink) {
    wl_event_set(EVENT_NAME_LIST_ENTRY, note_entry);
    store_int_set(store(), ATTR_LIST_MORE, 1);
    universe.send(MSG_NAME_LIST_COUNTED, Body().word(3).byte(1).dword(5).string("ann").byte(1).word(3));
    ASSERT_TRUE(link_lost());
    EXPECT_EQ(entries.size(), 1u);
    EXPECT_EQ(store_int(store(), ATTR_LIST_MORE), 1);
    EXPECT_EQ(instance->list_resume, 0u) << "reset with the lost link";
}

TEST_F(UniverseMessagesTest, TextsDirectoryEntriesAndRecordNoticesFireTheirEvents) {
    wl_event_set(EVENT_UNIVERSE_TEXT, [] { ++fired; });
    ASSERT_TRUE(deliver(MSG_UNIVERSE_TEXT, Body().dword(5).string("hello")));
    EXPECT_EQ(fired, 1);
    wl_event_set(EVENT_DIRECTORY_ENTRY, [] { ++fired; });
    ASSERT_TRUE(deliver(MSG_DIRECTORY_LIST,
                        Body().dword(1).byte(0).string("x").dword(2).byte(1).string("y").string("z").dword(3).byte(7)));
    EXPECT_EQ(fired, 4);

    ASSERT_TRUE(deliver(MSG_UNIVERSE_RECORD_NOTICE, Body().word(1).dword(2).string("t").dword(3).word(4)));
    EXPECT_STREQ(store_string(store(), ATTR_NOTICE_TEXT), "") << "not stored without a handler";
    wl_event_set(EVENT_UNIVERSE_RECORD_NOTICE, [] { ++fired; });
    ASSERT_TRUE(deliver(MSG_UNIVERSE_RECORD_NOTICE, Body().word(65535).dword(-2).string("t").dword(3).word(4)));
    EXPECT_EQ(fired, 5);
    expect_stored({{ATTR_NOTICE_W1, 65535}, {ATTR_NOTICE_N1, -2}, {ATTR_NOTICE_TEXT, "t"}, {ATTR_NOTICE_N2, 3},
                   {ATTR_NOTICE_W2, 4}});
}

TEST_F(UniverseMessagesTest, RepliesFillTheirAttributes) {
    const struct {
        int type;
        Body body;
        int result;
        std::vector<Stored> stored;
    } replies[] = {
        // Tag 40 is unknown; tag 10 is true unless sent.
        {MSG_UNIVERSE_PROPERTIES, Body().byte(6).string("27").byte(5).string("yes").byte(4).string("motd").byte(40).string("x")
                                      .byte(11).string("-5"), 0,
         {{ATTR_UNIVERSE_BUILD, 27}, {ATTR_UNIVERSE_PROP_05, 1}, {ATTR_UNIVERSE_PROP_04, "motd"}, {ATTR_UNIVERSE_PROP_11, -5},
          {ATTR_UNIVERSE_PROP_10, 1}, {ATTR_UNIVERSE_PROP_09, 0}}},
        {MSG_ACCOUNT_REPLY, Body().dword(4321).byte(0).string("name").byte(3).string("mail").byte(19).string("Y").byte(25)
                                .string("last").byte(9).string("drop"), 0,
         {{ATTR_ACCOUNT_NUMBER, 4321}, {ATTR_ACCOUNT_PROP_00, "name"}, {ATTR_ACCOUNT_PROP_03, "mail"}, {ATTR_ACCOUNT_PROP_19, 1},
          {ATTR_ACCOUNT_PROP_25, "last"}}},
        {MSG_ACCOUNT_NUMBER_REPLY, Body().dword(55), 0, {{ATTR_ACCOUNT_NUMBER, 55}}},
        {MSG_NAMED_RECORD_REPLY, Body().string("rec").string("s1").dword(1).dword(2).string("s2").string("s3").dword(3).dword(4)
                                     .dword(5), 0,
         {{ATTR_NAMED_RECORD_NAME, "rec"}, {ATTR_NAMED_RECORD_S3, "s3"}, {ATTR_NAMED_RECORD_N5, 5}}},
        // A refused record reply changes only the name.
        {MSG_NAMED_RECORD_REPLY, Body().string("gone"), 4, {{ATTR_NAMED_RECORD_NAME, "gone"}, {ATTR_NAMED_RECORD_S1, "s1"}}},
        {MSG_NAMED_RECORD_NAME, Body().string("other"), 0, {{ATTR_NAMED_RECORD_NAME, "other"}}},
        // The address is kept as its four bytes were sent.
        {MSG_ADDRESS_RECORD_REPLY, Body().raw({10, 0, 0, 1}).dword(6).dword(7).string("at"), 0,
         {{ATTR_ADDRESS_RECORD_N1, 6}, {ATTR_ADDRESS_RECORD_N2, 7}, {ATTR_ADDRESS_RECORD_TEXT, "at"},
          {ATTR_ADDRESS_RECORD_ADDRESS, std::bit_cast<int>(std::array<uint8_t, 4>{10, 0, 0, 1})}}},
        {MSG_ADDRESS_RECORD_REPLY, Body().raw({1, 2, 3}), 2, {{ATTR_ADDRESS_RECORD_N1, 6}}},  // a refusal, consumed whole
        {MSG_NUMBER_RECORD_REPLY, Body().dword(1).string("x").dword(2).dword(3).dword(4).word(5), 0, {}},
        {MSG_NUMBER_RECORD_REPLY, Body().dword(1), 3, {}},
        {MSG_UNIVERSE_TEXT_REPLY, Body().string("text"), 0, {}},
        {MSG_UNIVERSE_TEXT_REPLY, Body(), 0, {}},
        {MSG_UNIVERSE_ACK_29, Body(), 17, {}},
    };
    wl_event_set(EVENT_UNIVERSE_PROPERTIES, [] { ++fired; });
    for (const auto& reply : replies) {
        SCOPED_TRACE(reply.type);
        ASSERT_TRUE(deliver(reply.type, reply.body, reply.result));
        expect_stored(reply.stored);
    }
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(instance->universe_build, 27);
    EXPECT_EQ(instance->universe_state, UNIVERSE_LOGGED_IN);

    universe.send(MSG_UNIVERSE_ACK_31, Body(), 42);
    ASSERT_TRUE(pump_until([&] { return instance->last_universe_type == MSG_UNIVERSE_ACK_31; }));
    EXPECT_EQ(instance->last_universe_result, 42) << "a result-only reply keeps its result";
}

TEST_F(UniverseMessagesTest, AWorldAddressIsCachedUnderTheLowerCaseNameUnlessRefused) {
    ASSERT_TRUE(answer_lookup(Body().string("EaRtH").dword(0x7F000001).word(6671).word(33)));
    EXPECT_EQ(instance->world_address, net_order32(0x7F000001));
    EXPECT_EQ(instance->world_port, net_order16(6671));
    EXPECT_EQ(instance->world_build, 33);

    const WorldCacheKey key = world_cache_key(instance, "earth");
    const auto cached = [&] {
        WorldCacheValue value{};
        TableEntry* entry = table_find(library.world_address_cache, &key, sizeof key);
        EXPECT_NE(entry, nullptr);
        if (entry != nullptr) std::memcpy(&value, table_value(entry), sizeof value);
        return value;
    };
    WorldCacheValue value = cached();
    EXPECT_EQ(value.address, net_order32(0x7F000001));
    EXPECT_EQ(value.port, net_order16(6671));
    EXPECT_EQ(value.build, 33);
    const uint32_t first_stored = value.stored_at;

    clock.advance(5000);
    ASSERT_TRUE(answer_lookup(Body().string("earth").dword(0x7F000002).word(6672).word(34)));
    value = cached();
    EXPECT_EQ(value.stored_at, first_stored + 5000) << "a second answer refreshes the entry";
    EXPECT_EQ(value.port, net_order16(6672));
    EXPECT_EQ(library.world_address_cache->count, 1);

    ASSERT_TRUE(answer_lookup(Body().string("nowhere"), 27));
    ASSERT_TRUE(answer_lookup(Body().string("waytoolongname").dword(1).word(2).word(30)));
    EXPECT_EQ(library.world_address_cache->count, 1) << "neither a refusal nor a name beyond 8 characters is filed";
}

TEST_F(UniverseMessagesTest, ALinkClosedInTheMiddleOfAFrameIsLostCleanly) {
    universe.send_raw(0, {0x00, 0x09, 0x00, MSG_WORLD_ADDRESS, 0x05, 'e'});
    universe.close(0);
    EXPECT_TRUE(link_lost());
}

// Every message cut short at each length: the link is lost, nothing crashes,
// and a new instance works as before.
TEST_F(UniverseMessagesTest, FramesCutShortLoseTheLinkCleanly) {
    wl_event_set(EVENT_NAME_LIST_ENTRY, note_entry);
    wl_event_set(EVENT_UNIVERSE_PROPERTIES, [] { ++fired; });
    struct Message {
        int type;
        Body body;
        size_t shortest_cut;  // shorter ones are whole messages without fields
    };
    const std::vector<Message> messages = {
        {MSG_LOGIN_REPLY, Body().word(7).string("welcome"), 3},
        {MSG_WORLD_ADDRESS, Body().string("earth").dword(1).word(2).word(3), 1},
        {MSG_UNIVERSE_PROPERTIES, Body().byte(6).string("27"), 3},
        {MSG_NAME_LIST_COUNTED, Body().word(1).byte(1).dword(5).string("ann").byte(1).word(3), 1},
        {MSG_UNIVERSE_REDIRECT, Body().raw({127, 0, 0, 1}).word(1), 1},
        {MSG_ACCOUNT_NUMBER_REPLY, Body().dword(1), 1},
        {MSG_UNIVERSE_RECORD_NOTICE, Body().word(1).dword(2).string("t").dword(3).word(4), 1},
    };
    int cases = 0;
    for (const auto& [type, body, shortest_cut] : messages) {
        std::vector<uint8_t> content{0, static_cast<uint8_t>(type)};
        content.insert(content.end(), body.bytes().begin(), body.bytes().end());
        for (size_t cut = shortest_cut; cut < content.size(); ++cut) {
            SCOPED_TRACE(testing::Message() << "type " << type << " cut at " << cut);
            wl_destroy();
            instance = logged_in();
            instance->world_lookup = LOOKUP_BY_ENTER;  // an answer nobody awaits is skipped whole
            universe.send_content(universe.link_count() - 1, std::vector<uint8_t>(content.begin(), content.begin() + cut));
            ASSERT_TRUE(link_lost());
            EXPECT_NE(instance->session, 0u);
            ++cases;
        }
    }
    EXPECT_GT(cases, 35);
}

}  // namespace
