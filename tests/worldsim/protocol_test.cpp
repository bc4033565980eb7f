// worldsim from raw protocol clients: who hears what under which event mask,
// and which world logins are turned away.
#include <algorithm>

#include "tests/worldsim/raw_client.h"
#include "tests/worldsim/sim_fixture.h"
#include "worldlink/messages.h"
#include "worldlink/wire/wire.h"

using namespace worldlink;

namespace {

int count(const std::vector<int>& types, int type) {
    return static_cast<int>(std::count(types.begin(), types.end(), type));
}

class WorldsimMasks : public SimFixture {
protected:
    void SetUp() override {
        StartSim({});
        deaf = Bot("Deaf", 0x00);
        sees = Bot("Sees", 0x01);
        all = Bot("All", 0x07);
        ASSERT_TRUE(deaf && sees && all);
        for (RawBot* bot : {deaf, sees, all}) raw_drain(bot->world, false, 100);
    }

    RawBot* deaf = nullptr;
    RawBot* sees = nullptr;
    RawBot* all = nullptr;
};

TEST_F(WorldsimMasks, PresenceAndMovementGoOnlyWhereAsked) {
    RawBot* mover = Bot("Mover", 0x00);
    ASSERT_NE(mover, nullptr);
    RawFrame add;
    ASSERT_TRUE(raw_read_type(sees->world, false, MSG_AVATAR_ADD, &add, 2000));
    RawReader named(add.body);
    EXPECT_EQ(named.Long(), mover->session.session) << "build 30 adds carry a long session";
    EXPECT_EQ(named.String(), "Mover");
    EXPECT_EQ(count(raw_drain(all->world, false, 300), MSG_AVATAR_ADD), 1);

    ASSERT_EQ(raw_send_state(mover->world, -1234, 56, 7890, 2700), 0);
    RawFrame change;
    ASSERT_TRUE(raw_read_type(all->world, false, MSG_AVATAR_CHANGE, &change, 2000));
    RawReader state(change.body);
    EXPECT_EQ(state.Word(), mover->session.session);
    EXPECT_EQ(static_cast<int32_t>(state.Long()), -1234);
    EXPECT_EQ(static_cast<int32_t>(state.Long()), 56);
    EXPECT_EQ(static_cast<int32_t>(state.Long()), 7890);
    EXPECT_EQ(state.Word(), 2700);
    EXPECT_EQ(state.Byte(), 3);
    EXPECT_EQ(state.Byte(), 0);
    EXPECT_EQ(state.Left(), 0u);
    EXPECT_TRUE(raw_drain(deaf->world, false, 300).empty());
    EXPECT_TRUE(raw_drain(sees->world, false, 50).empty()) << "one add and no change";
    EXPECT_TRUE(raw_drain(all->world, false, 50).empty()) << "one change";

    raw_leave(mover);
    EXPECT_EQ(count(raw_drain(all->world, false, 300), MSG_AVATAR_DELETE), 1);
    EXPECT_EQ(count(raw_drain(sees->world, false, 50), MSG_AVATAR_DELETE), 1);
    EXPECT_TRUE(raw_drain(deaf->world, false, 50).empty());
}

TEST_F(WorldsimMasks, GainingTheAvatarBitBringsEveryonePresent) {
    ASSERT_EQ(raw_send_mask(deaf->world, 0x01), 0);
    // The visitor, Sees and All; never the client itself.
    EXPECT_EQ(count(raw_drain(deaf->world, false, 300), MSG_AVATAR_ADD), 3);
}

TEST_F(WorldsimMasks, ChatAndWhispersFollowTheChatBit) {
    ASSERT_EQ(Post("/api/worlds/demo/say", {{"text", "hello all"}}), 200);
    EXPECT_EQ(count(raw_drain(all->world, false, 300), MSG_CHAT_0), 1);
    EXPECT_EQ(count(raw_drain(sees->world, false, 50), MSG_CHAT_0), 0);

    ASSERT_EQ(raw_send_whisper(sees->world, all->session.session, "to all"), 0);
    ASSERT_EQ(raw_send_whisper(sees->world, deaf->session.session, "to deaf"), 0);
    RawFrame whispered;
    ASSERT_TRUE(raw_read_type(all->world, false, MSG_CHAT_2, &whispered, 2000));
    RawReader whisper(whispered.body);
    EXPECT_EQ(whisper.Word(), sees->session.session);
    EXPECT_EQ(whisper.String(), "to all");
    EXPECT_TRUE(raw_drain(deaf->world, false, 200).empty());
}

// More frames in one write than a wakeup serves: those received ahead are
// served though no socket announces them. The whisper goes out at once and
// the movement with the next news, yet both arrive in the order made.
TEST_F(WorldsimMasks, FramesBeyondOneWakeupAreServedWithoutMoreInput) {
    RawBot* watcher = Bot("Watcher", 0x06);
    ASSERT_NE(watcher, nullptr);
    raw_drain(watcher->world, false, 100);
    all->world->hold_output = true;
    for (int k = 0; k < 40; ++k) ASSERT_EQ(msg_pack(all->world, {pack_begin(MSG_WORLD_KEEPALIVE), pack_end()}), 0);
    ASSERT_EQ(raw_send_whisper(all->world, watcher->session.session, "after"), 0);
    ASSERT_EQ(raw_send_state(all->world, 42, 0, 0, 0), 0);
    ASSERT_EQ(connection_flush(all->world), 0);
    RawFrame frame;
    ASSERT_TRUE(raw_read(watcher->world, false, &frame, 2000));
    EXPECT_EQ(frame.type, MSG_CHAT_2);
    ASSERT_TRUE(raw_read(watcher->world, false, &frame, 2000));
    ASSERT_EQ(frame.type, MSG_AVATAR_CHANGE);
    RawReader state(frame.body);
    state.Word();
    EXPECT_EQ(static_cast<int32_t>(state.Long()), 42);
}

// World logins with a forged session or ticket, or naming another world than
// the port's, are turned away and closed; then the right one still enters.
using WorldsimWorldLogin = SimFixture;

TEST_F(WorldsimWorldLogin, WorldLoginNeedsTheRightSessionTicketAndWorld) {
    StartSim({"--world", "demo", "--world", "other"});
    RawLink universe = raw_link(sim.universe_port);
    ASSERT_NE(universe, nullptr);
    RawSession session;
    int port = 0;
    ASSERT_EQ(raw_universe_login(universe.get(), 1, "", "Bird1", &session), 0);
    ASSERT_EQ(raw_lookup(universe.get(), "demo", &port), 0);
    struct {
        const char* what;
        const char* world;
        RawSession as;
        int expected;
    } rows[] = {
        {"unknown session", "demo", {static_cast<uint16_t>(session.session + 100), session.ticket}, MSG_WORLD_DROP_467},
        {"wrong ticket", "demo", {session.session, session.ticket ^ 0x5a5a5a5a}, MSG_WORLD_DROP_467},
        {"another world", "other", session, MSG_WORLD_DROP_467},
        {"the right one", "demo", session, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        RawLink world = raw_link(port);
        ASSERT_NE(world, nullptr);
        EXPECT_EQ(raw_world_login(world.get(), row.world, row.as), row.expected);
        EXPECT_EQ(raw_closed_by_server(world.get(), row.expected ? 3000 : 200), row.expected != 0);
    }

    int unused = 0;
    EXPECT_EQ(raw_lookup(universe.get(), "elsewhere", &unused), 27);
    EXPECT_EQ(raw_lookup(universe.get(), "", &unused), 27);
    EXPECT_EQ(raw_lookup(universe.get(), "OTHER", &unused), 0) << "world names ignore case";
}

}  // namespace
