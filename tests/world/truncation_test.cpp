// Every world handler fed a frame cut short, or one byte too long, must report
// a broken link and read nothing outside the frame (the sanitizer build checks
// the reads). Frames go straight into the dispatcher over a loopback socket
// pair.
#include "tests/world/world_fixture.h"

#include "tests/support/socket_pair.h"
#include "worldlink/wire/platform.h"

#include <algorithm>

namespace {

struct Sample {
    int type;
    std::vector<Body> parts;  // lists: a header part (maybe empty), then entries
    bool list;
};

Body entry_body(int32_t number) {
    return Body().dword(number).byte(1).string("name").string("a").string("").string("c").byte(2).dword(3).dword(
        4).dword(5).word(6).dword(7).byte(8);
}

std::vector<Sample> samples() {
    const Body object = object_body(1, 500, 2, -500);
    const Body head = Body().word(1).dword(2).word(-2).word(3);
    const Body chat = Body().word(7).string("hi");
    return {
        {MSG_WORLD_RESULT, {Body().dword(5).byte(3)}, false},
        {MSG_WORLD_PROPERTIES, {Body(), Body().byte(0).data({'a', 'b'}), Body().byte(60).data({'9'})}, true},
        {MSG_AVATAR_ADD, {avatar_add_body(30, 7, "Alice")}, false},
        {MSG_AVATAR_DELETE, {Body().word(7)}, false},
        {MSG_AVATAR_CHANGE, {Body().word(7).dword(1).dword(2).dword(3).word(4).byte(5).byte(6)}, false},
        {MSG_CHAT_1, {chat}, false},
        {MSG_CHAT_0, {chat}, false},
        {MSG_CHAT_2, {chat}, false},
        {MSG_CELL_DATA, {Body().word(-2).word(3).dword(9), object, object}, true},
        {MSG_OBJECT_ADD, {Body(head).raw(object.bytes())}, false},
        {MSG_OBJECT_DELETE, {Body(head).dword(4)}, false},
        {MSG_WORLD_KEY, {Body().word(0).word(0)}, false},
        {MSG_SESSION_POINT_A, {Body().dword(7).word(1).word(2).dword(3)}, false},
        {MSG_SESSION_POINT_B, {Body().dword(7).word(1).word(2).dword(3)}, false},
        {MSG_SESSION_PAIR, {Body().dword(7).dword(8)}, false},
        {MSG_SESSION_ADDRESS_REPLY, {Body().dword(7).byte(0).address(0x0100007F)}, false},
        {MSG_SESSION_TEXTS, {Body().dword(7).string("a").string("b")}, false},
        {MSG_SESSION_RECORD, {Body().dword(7).string("r").dword(1).dword(2).dword(3).word(4).byte(1)}, false},
        {MSG_ADDRESS_RESULT, {Body().address(0x0100007F).byte(0)}, false},
        {MSG_ADDRESS_RECORD, {Body().byte(0).address(0x0100007F).dword(1).dword(2).string("t")}, false},
        {MSG_WORLD_BUILD_RESULT, {Body().byte(30).byte(0)}, false},
        {MSG_ENTRY_NAME_RESULT, {Body().string("e").byte(0).dword(1)}, false},
        {MSG_ENTRY_RESULT, {Body().byte(0).dword(1)}, false},
        {MSG_ENTRY_LIST, {Body(), entry_body(1), entry_body(2)}, true},
        {MSG_WORLD_ACK_31, {Body().byte(0).byte(1)}, false},
        {MSG_ENTRY_NOTICE, {Body().dword(5)}, false},
        {MSG_WORLD_ACK_33, {Body().byte(0)}, false},
        {MSG_WORLD_NUMBER_ACK, {Body().byte(0).dword(9)}, false},
        {MSG_WORLD_ACK_35, {Body().byte(0)}, false},
        {MSG_WORLD_ACK_37, {Body().byte(0)}, false},
        {MSG_WORLD_FLAG_CLEAR, {}, false},
        {MSG_WORLD_FLAG_SET, {}, false},
    };
}

class Truncation : public WorldFixture {
protected:
    void SetUp() override {
        WorldFixture::SetUp();
        install_every_event();
    }

    // Hands one frame to the dispatcher on a fresh link and returns its result.
    int dispatch(const std::vector<uint8_t>& content) {
        SocketPair ends;
        Connection* link = nullptr;
        if (!ends.ok() || connection_adopt(ends.take(0), &link) != 0) {
            ADD_FAILURE() << "no socket pair";
            return -1;
        }
        bot->world_link = link;
        bot->world_state = WORLD_IN;
        bot->world_build = 30;
        const std::vector<uint8_t> frame = Body().word(static_cast<int>(content.size())).raw(content).bytes();
        EXPECT_TRUE(send_all(ends.end(1), frame));
        // Loopback bytes need not be there the moment the send returns.
        const SocketHandle own_end = connection_handle(link);
        EXPECT_EQ(socket_wait(&own_end, 1, 2000), 0);
        int reason = WIRE_NOT_YET;
        for (int attempt = 0; attempt < 100 && reason == WIRE_NOT_YET; ++attempt) reason = world_dispatch(bot);
        connection_close(bot->world_link);
        bot->world_link = nullptr;
        return reason;
    }
};

bool broken(int reason) { return reason == WIRE_STREAM_EMPTY || reason == WIRE_BAD_LENGTH; }

TEST_F(Truncation, EveryHandlerLosesTheLinkOnAShortOrLongFrame) {
    for (const Sample& sample : samples()) {
        SCOPED_TRACE(sample.type);
        Body content = Body().byte(sample.type);
        std::vector<size_t> boundaries;  // where a list may validly end
        for (const Body& part : sample.parts) {
            content.raw(part.bytes());
            boundaries.push_back(content.bytes().size() - 1);
        }
        const std::vector<uint8_t>& whole = content.bytes();
        ASSERT_EQ(dispatch(whole), 0);
        for (size_t cut = 0; cut + 1 < whole.size(); ++cut) {
            SCOPED_TRACE(cut);
            const int reason = dispatch({whole.begin(), whole.begin() + 1 + static_cast<std::ptrdiff_t>(cut)});
            if (sample.list && std::count(boundaries.begin(), boundaries.end(), cut) > 0) {
                EXPECT_EQ(reason, 0);
            } else {
                EXPECT_TRUE(broken(reason)) << reason;
            }
        }
        const int reason = dispatch(Body(content).byte(0).bytes());
        EXPECT_TRUE(broken(reason)) << reason;
    }
}

}  // namespace
