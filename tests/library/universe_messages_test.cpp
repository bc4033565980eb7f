// The inbound universe messages, each fed by the scripted universe to a
// logged-in instance.
#include "tests/library/library_fixture.h"

#include <string>
#include <vector>

namespace {

std::vector<std::string> entries;
std::vector<int> entry_status;
std::vector<int> entry_counts;
int fired = 0;

void note_entry() {
    entries.emplace_back(wl_string(ATTR_LIST_NAME));
    entry_status.push_back(wl_int(ATTR_LIST_STATUS));
    entry_counts.push_back(wl_int(ATTR_LIST_COUNT));
}

void count() { ++fired; }

class UniverseMessagesTest : public LibraryTest {
protected:
    Instance* instance = nullptr;

    void SetUp() override {
        LibraryTest::SetUp();
        entries.clear();
        entry_status.clear();
        entry_counts.clear();
        fired = 0;
        instance = logged_in();
    }

    AttributeStore* store() { return instance->attributes; }

    // Sends a frame and a ping behind it; once the pong is back the frame
    // has been handled.
    bool deliver(int type, const Body& body = Body(), int result = 0) {
        const int pongs = universe.count(MSG_UNIVERSE_PONG);
        universe.send(type, body, result);
        universe.send(MSG_UNIVERSE_PING);
        return pump_until([&] { return universe.count(MSG_UNIVERSE_PONG) > pongs; });
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

    wl_event_set(EVENT_UNIVERSE_NOTICE, count);
    ASSERT_TRUE(deliver(MSG_UNIVERSE_NOTICE, Body().dword(1).string("a").string("b").byte(0)));
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(universe.count(MSG_UNIVERSE_PONG), 3) << "no pong unless asked";
}

TEST_F(UniverseMessagesTest, ARefusedNoticeIsConsumedWhole) {
    wl_event_set(EVENT_UNIVERSE_NOTICE, count);
    ASSERT_TRUE(deliver(MSG_UNIVERSE_NOTICE, Body().raw({1, 2, 3, 4, 5}), 9));
    EXPECT_EQ(fired, 0);
    EXPECT_EQ(instance->universe_state, UNIVERSE_LOGGED_IN);
}

TEST_F(UniverseMessagesTest, UnknownTypesAreSkippedWhole) {
    ASSERT_TRUE(deliver(12, Body().raw({1, 2, 3, 4, 5})));
    ASSERT_TRUE(deliver(200, Body().raw(std::vector<uint8_t>(300, 0xEE))));
    EXPECT_EQ(instance->universe_state, UNIVERSE_LOGGED_IN);
    EXPECT_EQ(instance->last_universe_type, MSG_UNIVERSE_PING);
}

TEST_F(UniverseMessagesTest, ANameListFiresOnePerEntry) {
    wl_event_set(EVENT_NAME_LIST_ENTRY, note_entry);
    store_int_set(store(), ATTR_LIST_MORE, 1);
    ASSERT_TRUE(deliver(MSG_NAME_LIST, Body().string("ann").byte(1).word(300).string("bob").byte(2).word(4)));
    EXPECT_EQ(entries, (std::vector<std::string>{"ann", "bob"}));
    EXPECT_EQ(entry_status, (std::vector<int>{1, 2}));
    EXPECT_EQ(entry_counts, (std::vector<int>{300, 4}));
    EXPECT_EQ(store_int(store(), ATTR_LIST_MORE), 0);

    ASSERT_TRUE(deliver(MSG_NAME_LIST));
    EXPECT_EQ(entries.size(), 2u) << "an empty list fires nothing";
}

TEST_F(UniverseMessagesTest, ACountedNameListReadsExactlyItsCount) {
    wl_event_set(EVENT_NAME_LIST_ENTRY, note_entry);
    ASSERT_TRUE(deliver(MSG_NAME_LIST_COUNTED,
                        Body().word(2).byte(1).dword(77).string("cy").byte(0).word(1).string("di").byte(5).word(2)));
    EXPECT_EQ(entries, (std::vector<std::string>{"cy", "di"}));
    EXPECT_EQ(store_int(store(), ATTR_LIST_MORE), 1);
    EXPECT_EQ(instance->list_resume, 77u);

    ASSERT_TRUE(deliver(MSG_NAME_LIST_COUNTED, Body().word(0).byte(0).dword(78)));
    EXPECT_EQ(entries.size(), 2u);
    EXPECT_EQ(store_int(store(), ATTR_LIST_MORE), 0);
    EXPECT_EQ(instance->list_resume, 78u);
}

TEST_F(UniverseMessagesTest, ListEntriesAreNotStoredWithoutAHandler) {
    ASSERT_TRUE(deliver(MSG_NAME_LIST, Body().string("ann").byte(1).word(3)));
    EXPECT_STREQ(store_string(store(), ATTR_LIST_NAME), "");
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

TEST_F(UniverseMessagesTest, DirectoryEntriesFireAndAreNotKept) {
    wl_event_set(EVENT_DIRECTORY_ENTRY, count);
    ASSERT_TRUE(deliver(MSG_DIRECTORY_LIST,
                        Body().dword(1).byte(0).string("x").dword(2).byte(1).string("y").string("z").dword(3).byte(7)));
    EXPECT_EQ(fired, 3);
}

TEST_F(UniverseMessagesTest, UniverseTextAndRecordNoticeFireTheirEvents) {
    wl_event_set(EVENT_UNIVERSE_TEXT, count);
    ASSERT_TRUE(deliver(MSG_UNIVERSE_TEXT, Body().dword(5).string("hello")));
    EXPECT_EQ(fired, 1);

    ASSERT_TRUE(deliver(MSG_UNIVERSE_RECORD_NOTICE, Body().word(1).dword(2).string("t").dword(3).word(4)));
    EXPECT_STREQ(store_string(store(), ATTR_NOTICE_TEXT), "") << "not stored without a handler";
    wl_event_set(EVENT_UNIVERSE_RECORD_NOTICE, count);
    ASSERT_TRUE(deliver(MSG_UNIVERSE_RECORD_NOTICE, Body().word(65535).dword(-2).string("t").dword(3).word(4)));
    EXPECT_EQ(fired, 2);
    EXPECT_EQ(store_int(store(), ATTR_NOTICE_W1), 65535);
    EXPECT_EQ(store_int(store(), ATTR_NOTICE_N1), -2);
    EXPECT_STREQ(store_string(store(), ATTR_NOTICE_TEXT), "t");
    EXPECT_EQ(store_int(store(), ATTR_NOTICE_N2), 3);
    EXPECT_EQ(store_int(store(), ATTR_NOTICE_W2), 4);
}

TEST_F(UniverseMessagesTest, UniversePropertiesAreStoredByTag) {
    wl_event_set(EVENT_UNIVERSE_PROPERTIES, count);
    ASSERT_TRUE(deliver(MSG_UNIVERSE_PROPERTIES, Body()
                                                     .byte(6).string("27")
                                                     .byte(5).string("yes")
                                                     .byte(4).string("motd")
                                                     .byte(40).string("ignored")
                                                     .byte(11).string("-5")));
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(instance->universe_build, 27);
    EXPECT_EQ(store_int(store(), ATTR_UNIVERSE_BUILD), 27);
    EXPECT_EQ(store_int(store(), ATTR_UNIVERSE_PROP_05), 1);
    EXPECT_STREQ(store_string(store(), ATTR_UNIVERSE_PROP_04), "motd");
    EXPECT_EQ(store_int(store(), ATTR_UNIVERSE_PROP_11), -5);
    EXPECT_EQ(store_int(store(), ATTR_UNIVERSE_PROP_10), 1) << "true unless sent";
    EXPECT_EQ(store_int(store(), ATTR_UNIVERSE_PROP_09), 0);
}

TEST_F(UniverseMessagesTest, AccountAndRecordRepliesFillTheirAttributes) {
    ASSERT_TRUE(deliver(MSG_ACCOUNT_REPLY, Body().dword(4321).byte(0).string("name").byte(3).string("mail")
                                              .byte(19).string("Y").byte(25).string("last").byte(9).string("drop")));
    EXPECT_EQ(store_int(store(), ATTR_ACCOUNT_NUMBER), 4321);
    EXPECT_STREQ(store_string(store(), ATTR_ACCOUNT_PROP_00), "name");
    EXPECT_STREQ(store_string(store(), ATTR_ACCOUNT_PROP_03), "mail");
    EXPECT_EQ(store_int(store(), ATTR_ACCOUNT_PROP_19), 1);
    EXPECT_STREQ(store_string(store(), ATTR_ACCOUNT_PROP_25), "last");

    ASSERT_TRUE(deliver(MSG_ACCOUNT_NUMBER_REPLY, Body().dword(55)));
    EXPECT_EQ(store_int(store(), ATTR_ACCOUNT_NUMBER), 55);

    ASSERT_TRUE(deliver(MSG_NAMED_RECORD_REPLY, Body().string("rec").string("s1").dword(1).dword(2).string("s2")
                                                   .string("s3").dword(3).dword(4).dword(5)));
    EXPECT_STREQ(store_string(store(), ATTR_NAMED_RECORD_NAME), "rec");
    EXPECT_STREQ(store_string(store(), ATTR_NAMED_RECORD_S3), "s3");
    EXPECT_EQ(store_int(store(), ATTR_NAMED_RECORD_N5), 5);
    ASSERT_TRUE(deliver(MSG_NAMED_RECORD_REPLY, Body().string("gone"), 4));
    EXPECT_STREQ(store_string(store(), ATTR_NAMED_RECORD_NAME), "gone");
    EXPECT_STREQ(store_string(store(), ATTR_NAMED_RECORD_S1), "s1");
    ASSERT_TRUE(deliver(MSG_NAMED_RECORD_NAME, Body().string("other")));
    EXPECT_STREQ(store_string(store(), ATTR_NAMED_RECORD_NAME), "other");

    ASSERT_TRUE(deliver(MSG_ADDRESS_RECORD_REPLY, Body().raw({10, 0, 0, 1}).dword(6).dword(7).string("at")));
    EXPECT_EQ(store_int(store(), ATTR_ADDRESS_RECORD_N1), 6);
    EXPECT_EQ(store_int(store(), ATTR_ADDRESS_RECORD_N2), 7);
    EXPECT_STREQ(store_string(store(), ATTR_ADDRESS_RECORD_TEXT), "at");
    const int address = store_int(store(), ATTR_ADDRESS_RECORD_ADDRESS);
    EXPECT_EQ(std::memcmp(&address, "\x0a\x00\x00\x01", 4), 0) << "the four bytes as sent";
    ASSERT_TRUE(deliver(MSG_ADDRESS_RECORD_REPLY, Body().raw({1, 2, 3}), 2)) << "a refusal is consumed whole";
    EXPECT_EQ(store_int(store(), ATTR_ADDRESS_RECORD_N1), 6);

    ASSERT_TRUE(deliver(MSG_NUMBER_RECORD_REPLY, Body().dword(1).string("x").dword(2).dword(3).dword(4).word(5)));
    ASSERT_TRUE(deliver(MSG_NUMBER_RECORD_REPLY, Body().dword(1), 3));
    ASSERT_TRUE(deliver(MSG_UNIVERSE_TEXT_REPLY, Body().string("text")));
    ASSERT_TRUE(deliver(MSG_UNIVERSE_TEXT_REPLY));
    ASSERT_TRUE(deliver(MSG_UNIVERSE_ACK_29, Body(), 17));
    EXPECT_EQ(instance->universe_state, UNIVERSE_LOGGED_IN);
}

TEST_F(UniverseMessagesTest, AResultOnlyReplyKeepsItsResult) {
    universe.send(MSG_UNIVERSE_ACK_31, Body(), 42);
    ASSERT_TRUE(pump_until([&] { return instance->last_universe_type == MSG_UNIVERSE_ACK_31; }));
    EXPECT_EQ(instance->last_universe_result, 42);
}

TEST_F(UniverseMessagesTest, AWorldAddressIsKeptAndCachedUnderTheLowerCaseName) {
    ASSERT_TRUE(deliver(MSG_WORLD_ADDRESS, Body().string("EaRtH").dword(0x7F000001).word(6671).word(33)));
    EXPECT_EQ(instance->world_address, htonl(0x7F000001));
    EXPECT_EQ(instance->world_port, htons(6671));
    EXPECT_EQ(instance->world_build, 33);

    const WorldCacheKey key = world_cache_key(instance, "earth");
    TableEntry* entry = table_find(library.world_address_cache, &key, sizeof key);
    ASSERT_NE(entry, nullptr);
    WorldCacheValue value;
    std::memcpy(&value, table_value(entry), sizeof value);
    EXPECT_EQ(value.address, htonl(0x7F000001));
    EXPECT_EQ(value.port, htons(6671));
    EXPECT_EQ(value.build, 33);
    const uint32_t first_stored = value.stored_at;

    clock.advance(5000);
    ASSERT_TRUE(deliver(MSG_WORLD_ADDRESS, Body().string("earth").dword(0x7F000002).word(6672).word(34)));
    std::memcpy(&value, table_value(table_find(library.world_address_cache, &key, sizeof key)), sizeof value);
    EXPECT_EQ(value.stored_at, first_stored + 5000) << "a second answer refreshes the entry";
    EXPECT_EQ(value.port, htons(6672));
    EXPECT_EQ(library.world_address_cache->count, 1);
}

TEST_F(UniverseMessagesTest, ARefusedLookupKeepsTheResultAndCachesNothing) {
    ASSERT_TRUE(deliver(MSG_WORLD_ADDRESS, Body().string("nowhere"), 27));
    EXPECT_EQ(library.world_address_cache->count, 0);
    ASSERT_TRUE(deliver(MSG_WORLD_ADDRESS, Body().string("waytoolongname").dword(1).word(2).word(30)));
    EXPECT_EQ(library.world_address_cache->count, 0) << "a name beyond 8 characters is not filed";
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
    wl_event_set(EVENT_UNIVERSE_PROPERTIES, count);
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
            wl_destroy();
            instance = logged_in();
            const int link = universe.link_count() - 1;
            universe.send_content(link, std::vector<uint8_t>(content.begin(), content.begin() + cut));
            ASSERT_TRUE(link_lost()) << "type " << type << " cut at " << cut;
            EXPECT_NE(instance->session, 0u);
            ++cases;
        }
    }
    EXPECT_GT(cases, 35);
}

}  // namespace
