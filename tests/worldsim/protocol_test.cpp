// worldsim from raw protocol clients: who hears what under which event mask,
// and which world logins are turned away.
#include <algorithm>

#include "tests/worldsim/raw_client.h"
#include "tests/worldsim/sim_fixture.h"
#include "worldlink/messages.h"
#include "worldlink/wire/wire.h"

namespace {

class WorldsimMasks : public SimFixture {
protected:
    void SetUp() override {
        StartSim({});
        ASSERT_TRUE(raw_enter(sim.universe_port, "demo", "Deaf", 0x00, &deaf));
        ASSERT_TRUE(raw_enter(sim.universe_port, "demo", "Sees", 0x01, &sees));
        ASSERT_TRUE(raw_enter(sim.universe_port, "demo", "All", 0x07, &all));
        Settle();
    }

    void TearDown() override {
        for (RawBot* bot : {&deaf, &sees, &all, &mover}) raw_leave(bot);
        SimFixture::TearDown();
    }

    // Reads whatever is waiting on every observer and forgets it.
    void Settle() {
        for (RawBot* bot : {&deaf, &sees, &all}) raw_drain(bot->world, false, 100);
    }

    static int Count(const std::vector<int>& types, int type) {
        return static_cast<int>(std::count(types.begin(), types.end(), type));
    }

    RawBot deaf, sees, all, mover;
};

TEST_F(WorldsimMasks, PresenceAndMovementGoOnlyWhereAsked) {
    ASSERT_TRUE(raw_enter(sim.universe_port, "demo", "Mover", 0x00, &mover));
    ASSERT_EQ(raw_send_state(mover.world, 500, 100, -500, 1800), 0);
    std::vector<int> deaf_heard = raw_drain(deaf.world, false, 300);
    std::vector<int> sees_heard = raw_drain(sees.world, false, 50);
    std::vector<int> all_heard = raw_drain(all.world, false, 50);
    EXPECT_TRUE(deaf_heard.empty());
    EXPECT_EQ(Count(sees_heard, MSG_AVATAR_ADD), 1);
    EXPECT_EQ(Count(sees_heard, MSG_AVATAR_CHANGE), 0);
    EXPECT_EQ(Count(all_heard, MSG_AVATAR_ADD), 1);
    EXPECT_EQ(Count(all_heard, MSG_AVATAR_CHANGE), 1);

    raw_leave(&mover);
    EXPECT_EQ(Count(raw_drain(all.world, false, 300), MSG_AVATAR_DELETE), 1);
    EXPECT_EQ(Count(raw_drain(sees.world, false, 50), MSG_AVATAR_DELETE), 1);
    EXPECT_TRUE(raw_drain(deaf.world, false, 50).empty());
}

TEST_F(WorldsimMasks, AvatarChangeCarriesTheMoverState) {
    ASSERT_TRUE(raw_enter(sim.universe_port, "demo", "Mover", 0x00, &mover));
    raw_drain(all.world, false, 100);
    ASSERT_EQ(raw_send_state(mover.world, -1234, 56, 7890, 2700), 0);
    RawFrame change;
    ASSERT_TRUE(raw_read_type(all.world, false, MSG_AVATAR_CHANGE, &change, 2000));
    RawReader reader(change.body);
    EXPECT_EQ(reader.Word(), mover.session.session);
    EXPECT_EQ(static_cast<int32_t>(reader.Long()), -1234);
    EXPECT_EQ(static_cast<int32_t>(reader.Long()), 56);
    EXPECT_EQ(static_cast<int32_t>(reader.Long()), 7890);
    EXPECT_EQ(reader.Word(), 2700);
    EXPECT_EQ(reader.Byte(), 3);
    EXPECT_EQ(reader.Byte(), 0);
    EXPECT_EQ(reader.Left(), 0u);
}

TEST_F(WorldsimMasks, GainingTheAvatarBitBringsEveryonePresent) {
    ASSERT_EQ(raw_send_mask(deaf.world, 0x01), 0);
    std::vector<int> heard = raw_drain(deaf.world, false, 300);
    // The visitor, Sees and All; never the client itself.
    EXPECT_EQ(Count(heard, MSG_AVATAR_ADD), 3);
}

TEST_F(WorldsimMasks, AvatarAddNamesTheNewcomer) {
    ASSERT_TRUE(raw_enter(sim.universe_port, "demo", "Mover", 0x00, &mover));
    RawFrame add;
    ASSERT_TRUE(raw_read_type(sees.world, false, MSG_AVATAR_ADD, &add, 2000));
    RawReader reader(add.body);
    EXPECT_EQ(reader.Long(), mover.session.session) << "build 30 adds carry a long session";
    EXPECT_EQ(reader.String(), "Mover");
}

TEST_F(WorldsimMasks, ChatAndWhispersFollowTheChatBit) {
    ASSERT_EQ(Post("/api/worlds/demo/say", {{"text", "hello all"}}), 200);
    RawFrame said;
    ASSERT_TRUE(raw_read_type(all.world, false, MSG_CHAT_0, &said, 2000));
    RawReader reader(said.body);
    EXPECT_EQ(reader.Word(), Get("/api/worlds")[0]["visitor"].get<int>());
    EXPECT_EQ(reader.String(), "hello all");
    EXPECT_EQ(Count(raw_drain(sees.world, false, 200), MSG_CHAT_0), 0);

    ASSERT_EQ(raw_send_whisper(sees.world, all.session.session, "to all"), 0);
    ASSERT_EQ(raw_send_whisper(sees.world, deaf.session.session, "to deaf"), 0);
    RawFrame whispered;
    ASSERT_TRUE(raw_read_type(all.world, false, MSG_CHAT_2, &whispered, 2000));
    RawReader whisper(whispered.body);
    EXPECT_EQ(whisper.Word(), sees.session.session);
    EXPECT_EQ(whisper.String(), "to all");
    EXPECT_TRUE(raw_drain(deaf.world, false, 200).empty());
}

class WorldsimWorldLogin : public SimFixture {
protected:
    void SetUp() override {
        StartSim({"--world", "demo", "--world", "other"});
        universe = raw_connect(sim.universe_port);
        ASSERT_NE(universe, nullptr);
        ASSERT_EQ(raw_universe_login(universe, 1, "", "Bird1", &session), 0);
        ASSERT_EQ(raw_lookup(universe, "demo", &port), 0);
    }

    void TearDown() override {
        connection_close(world);
        connection_close(universe);
        SimFixture::TearDown();
    }

    int TryLogin(const char* name, RawSession as) {
        world = raw_connect(port);
        return world ? raw_world_login(world, name, as) : -1;
    }

    Connection* universe = nullptr;
    Connection* world = nullptr;
    RawSession session;
    int port = 0;
};

TEST_F(WorldsimWorldLogin, RightSessionAndTicketEnter) { EXPECT_EQ(TryLogin("demo", session), 0); }

TEST_F(WorldsimWorldLogin, UnknownSessionIsNotWelcome) {
    RawSession stranger = session;
    stranger.session = static_cast<uint16_t>(session.session + 100);
    EXPECT_EQ(TryLogin("demo", stranger), MSG_WORLD_DROP_467);
    EXPECT_TRUE(raw_closed_by_server(world, 3000));
}

TEST_F(WorldsimWorldLogin, WrongTicketIsNotWelcome) {
    RawSession forged = session;
    forged.ticket ^= 0x5a5a5a5a;
    EXPECT_EQ(TryLogin("demo", forged), MSG_WORLD_DROP_467);
}

TEST_F(WorldsimWorldLogin, LoginNamingAnotherWorldIsNotWelcome) {
    EXPECT_EQ(TryLogin("other", session), MSG_WORLD_DROP_467);
}

TEST_F(WorldsimWorldLogin, UnservedWorldIsNotRunning) {
    int unused = 0;
    EXPECT_EQ(raw_lookup(universe, "elsewhere", &unused), 27);
    EXPECT_EQ(raw_lookup(universe, "", &unused), 27);
    EXPECT_EQ(raw_lookup(universe, "OTHER", &unused), 0) << "world names ignore case";
}

}  // namespace
