// worldsim driven by the world-client library itself: whatever the library
// sends, worldsim must understand, and whatever worldsim sends must come out
// of the library as the right attributes and events.
#include <string>
#include <vector>

#include "tests/worldsim/sim_fixture.h"
#include "worldlink/worldlink.h"

namespace {

struct Heard {
    Instance* instance;
    int event;
    int session;
    std::string name;
    std::string text;
    int chat_type;
    int x, z, yaw;
};

std::vector<Heard> heard;

void record(int event) {
    heard.push_back({wl_instance(), event, 0, wl_string(ATTR_AVATAR_NAME), "", 0, 0, 0, 0});
    Heard& h = heard.back();
    if (event == EVENT_CHAT) {
        h.session = wl_int(ATTR_CHAT_SESSION);
        h.text = wl_string(ATTR_CHAT_MESSAGE);
        h.chat_type = wl_int(ATTR_CHAT_TYPE);
    } else if (event == EVENT_WORLD_DISCONNECT) {
        h.session = wl_int(ATTR_WORLD_DISCONNECT_REASON);
    } else {
        h.session = wl_int(ATTR_AVATAR_SESSION);
        h.x = wl_int(ATTR_AVATAR_X);
        h.z = wl_int(ATTR_AVATAR_Z);
        h.yaw = wl_int(ATTR_AVATAR_YAW);
    }
}

void on_chat() { record(EVENT_CHAT); }
void on_add() { record(EVENT_AVATAR_ADD); }
void on_change() { record(EVENT_AVATAR_CHANGE); }
void on_delete() { record(EVENT_AVATAR_DELETE); }
void on_disconnect() { record(EVENT_WORLD_DISCONNECT); }

class WorldsimLibrary : public SimFixture {
protected:
    void SetUp() override {
        heard.clear();
        ASSERT_EQ(wl_init(LIBRARY_BUILD), 0);
        // The handler table outlives wl_term, so start every test from none.
        for (int slot = 0; slot < EVENT_COUNT; ++slot) wl_event_set(slot, nullptr);
    }

    void TearDown() override {
        wl_term();
        SimFixture::TearDown();
    }

    // A new instance logged in; its login result in `result`.
    Instance* Login(const char* name, int owner, const char* password, int* result) {
        Instance* bot = nullptr;
        *result = wl_create("127.0.0.1", sim.universe_port, &bot);
        if (*result != 0) return nullptr;
        wl_string_set(ATTR_LOGIN_NAME, name);
        wl_int_set(ATTR_LOGIN_OWNER, owner);
        wl_string_set(ATTR_LOGIN_PASSWORD, password);
        *result = wl_login();
        return bot;
    }

    // A new instance logged in as citizen 1 and inside `world`.
    Instance* Enter(const char* name, const char* world = "demo") {
        int result = 0;
        Instance* bot = Login(name, 1, "secret", &result);
        EXPECT_EQ(result, 0) << name << " login";
        wl_instance_set(bot);
        EXPECT_EQ(wl_enter(world), 0) << name << " enter";
        return bot;
    }

    // Pumps the library until the condition holds.
    bool Pump(const std::function<bool()>& condition, int timeout_ms = 5000) {
        return eventually([&] {
            wl_wait(0);
            return condition();
        }, timeout_ms);
    }

    static int Count(Instance* instance, int event, const std::string& name = "") {
        int n = 0;
        for (const Heard& h : heard) n += h.instance == instance && h.event == event && (name.empty() || h.name == name);
        return n;
    }

    int Session(Instance* bot) {
        wl_instance_set(bot);
        return SessionOf("demo", wl_string(ATTR_LOGIN_NAME));
    }
};

TEST_F(WorldsimLibrary, LoginFollowsTheCitizenList) {
    StartSim({"--citizen", "1:secret", "--citizen", "2:other"});
    int result = -1;
    Login("Bird1", 1, "secret", &result);
    EXPECT_EQ(result, 0);
    Login("Bird2", 1, "wrong", &result);
    EXPECT_EQ(result, REASON_INVALID_PASSWORD);
    Login("Bird3", 7, "secret", &result);
    EXPECT_EQ(result, REASON_NO_SUCH_CITIZEN);
    Login("Bird4", 2, "other", &result);
    EXPECT_EQ(result, 0);
}

TEST_F(WorldsimLibrary, BotLimitCountsLiveSessionsPerOwner) {
    StartSim({"--bot-limit", "2"});
    int result = -1;
    Instance* first = Login("Bird1", 1, "", &result);
    ASSERT_EQ(result, 0);
    Login("Bird2", 1, "", &result);
    ASSERT_EQ(result, 0);
    Login("Bird3", 1, "", &result);
    EXPECT_EQ(result, REASON_BOT_LIMIT_EXCEEDED);
    wl_destroy();
    Login("Other", 2, "", &result);
    EXPECT_EQ(result, 0) << "the limit is per owner";
    wl_instance_set(first);
    wl_destroy();
    // The server learns of the closed link asynchronously.
    EXPECT_TRUE(eventually([&] {
        Login("Bird3", 1, "", &result);
        if (result != 0) wl_destroy();
        return result == 0;
    }, 3000));
}

TEST_F(WorldsimLibrary, LookupEntersServedWorldsOnly) {
    StartSim({"--world", "demo"});
    int result = -1;
    Instance* bot = Login("Bird1", 1, "", &result);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(wl_enter("nowhere"), REASON_WORLD_NOT_RUNNING);
    wl_instance_set(bot);
    EXPECT_EQ(wl_enter("DeMo"), 0);
    EXPECT_EQ(wl_int(ATTR_WORLD_BUILD), 30);
    EXPECT_GT(SessionOf("demo", "Bird1"), 0);
}

TEST_F(WorldsimLibrary, WhisperReachesTheNamedSessionOnly) {
    StartSim({});
    wl_event_set(EVENT_CHAT, on_chat);
    Instance* a = Enter("Alice");
    Instance* b = Enter("Bob");
    Instance* c = Enter("Carol");
    int alice = Session(a);
    int bob = Session(b);
    ASSERT_GT(alice, 0);
    ASSERT_GT(bob, 0);
    wl_instance_set(a);
    ASSERT_EQ(wl_whisper(bob, "psst"), 0);
    ASSERT_TRUE(Pump([&] { return Count(b, EVENT_CHAT) == 1; }));
    wl_wait(200);
    const Heard& h = heard.back();
    EXPECT_EQ(h.text, "psst");
    EXPECT_EQ(h.session, alice);
    EXPECT_EQ(h.name, "Alice");
    EXPECT_EQ(h.chat_type, 2);
    EXPECT_EQ(Count(a, EVENT_CHAT) + Count(c, EVENT_CHAT), 0);

    nlohmann::json worlds = Get("/api/worlds");
    int visitor = worlds[0]["visitor"];
    wl_instance_set(c);
    ASSERT_EQ(wl_whisper(visitor, "hello visitor"), 0);
    EXPECT_TRUE(eventually([&] {
        nlohmann::json chat = Get("/api/worlds/demo/chat");
        return chat.is_array() && !chat.empty() && chat.back()["text"] == "hello visitor" &&
               chat.back()["kind"] == "whisper" && chat.back()["from_name"] == "Carol";
    }));
}

TEST_F(WorldsimLibrary, VisitorSpeechReachesEveryBird) {
    StartSim({});
    wl_event_set(EVENT_CHAT, on_chat);
    Instance* a = Enter("Bird1");
    Instance* b = Enter("Bird2");
    ASSERT_EQ(Post("/api/worlds/demo/say", {{"text", "skyflit owner"}}), 200);
    ASSERT_TRUE(Pump([&] { return Count(a, EVENT_CHAT) == 1 && Count(b, EVENT_CHAT) == 1; }));
    for (const Heard& h : heard) {
        EXPECT_EQ(h.name, "Visitor");
        EXPECT_EQ(h.text, "skyflit owner");
        EXPECT_EQ(h.chat_type, 0);
    }
}

TEST_F(WorldsimLibrary, AvatarEventsFollowPresenceAndMovement) {
    StartSim({});
    wl_event_set(EVENT_AVATAR_ADD, on_add);
    wl_event_set(EVENT_AVATAR_CHANGE, on_change);
    wl_event_set(EVENT_AVATAR_DELETE, on_delete);
    Instance* a = Enter("Alice");
    ASSERT_TRUE(Pump([&] { return Count(a, EVENT_AVATAR_ADD, "Visitor") == 1; })) << "everyone present on entry";
    Instance* b = Enter("Bob");
    ASSERT_TRUE(Pump([&] { return Count(a, EVENT_AVATAR_ADD, "Bob") == 1 && Count(b, EVENT_AVATAR_ADD, "Alice") == 1; }));

    wl_instance_set(b);
    wl_int_set(ATTR_MY_X, 1000);
    wl_int_set(ATTR_MY_Z, -2000);
    wl_int_set(ATTR_MY_YAW, 900);
    ASSERT_EQ(wl_state_change(), 0);
    ASSERT_TRUE(Pump([&] { return Count(a, EVENT_AVATAR_CHANGE, "Bob") == 1; }));
    const Heard& change = heard.back();
    EXPECT_EQ(change.x, 1000);
    EXPECT_EQ(change.z, -2000);
    EXPECT_EQ(change.yaw, 900);
    EXPECT_EQ(Count(b, EVENT_AVATAR_CHANGE), 0) << "a mover hears no echo of itself";

    wl_instance_set(b);
    wl_destroy();
    EXPECT_TRUE(Pump([&] { return Count(a, EVENT_AVATAR_DELETE, "Bob") == 1; }));
}

TEST_F(WorldsimLibrary, WorldFlagKeepsAQuietWorldTalking) {
    StartSim({"--heartbeat", "100"});
    Instance* a = Enter("Bird1");
    EXPECT_TRUE(Pump([&] {
        wl_instance_set(a);
        return wl_int(ATTR_WORLD_FLAG) == 1;
    }, 3000));
}

TEST_F(WorldsimLibrary, DropsArriveWithTheirReasons) {
    StartSim({});
    wl_event_set(EVENT_WORLD_DISCONNECT, on_disconnect);
    Instance* a = Enter("Ejected");
    Instance* b = Enter("Closed");
    ASSERT_EQ(Post("/api/worlds/demo/drop", {{"session", Session(a)}, {"reason", 466}}), 200);
    ASSERT_TRUE(Pump([&] { return Count(a, EVENT_WORLD_DISCONNECT) == 1; }));
    EXPECT_EQ(heard.back().session, REASON_EJECTED);
    EXPECT_TRUE(eventually([&] { return AvatarNamed("demo", "Ejected").is_null(); }));

    // A plain close is a lost link: the library reports 471 and comes back.
    int closed = Session(b);
    ASSERT_EQ(Post("/api/worlds/demo/drop", {{"session", closed}, {"reason", "close"}}), 200);
    ASSERT_TRUE(Pump([&] { return Count(b, EVENT_WORLD_DISCONNECT) == 1; }));
    EXPECT_EQ(heard.back().session, REASON_CONNECTION_LOST);
    EXPECT_TRUE(Pump([&] { return AvatarNamed("demo", "Closed")["session"] == closed; }, 8000));
}

TEST_F(WorldsimLibrary, LostUniverseLinkLogsInAgainAndKeepsTheWorld) {
    StartSim({});
    Instance* a = Enter("Bird1");
    int before = Session(a);
    ASSERT_GT(before, 0);
    ASSERT_EQ(Post("/api/universe/drop", {{"session", before}}), 200);
    // The library reconnects, logs in under a new session and logs in to the
    // world again on the link it kept.
    ASSERT_TRUE(Pump([&] {
        nlohmann::json now = AvatarNamed("demo", "Bird1");
        return now.is_object() && now["session"] != before;
    }, 10000));
    // The library is back in the world once the world's properties arrived
    // over the kept link.
    wl_instance_set(a);
    wl_int_set(ATTR_MY_X, 4242);
    EXPECT_TRUE(Pump([&] {
        wl_instance_set(a);
        return wl_state_change() == 0;
    }));
    EXPECT_TRUE(Pump([&] { return AvatarNamed("demo", "Bird1")["x"] == 4242; }));
}

// Every world login variant, chosen by the library from the world's build,
// and universes with and without tickets.
class WorldsimBuilds : public WorldsimLibrary, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(WorldsimBuilds, EveryLoginVariantEntersTheWorld) {
    auto [universe_build, world_build] = GetParam();
    StartSim({"--universe-build", std::to_string(universe_build), "--world-build", std::to_string(world_build)});
    Instance* a = Enter("Bird1");
    wl_instance_set(a);
    EXPECT_GT(SessionOf("demo", "Bird1"), 0);
    wl_int_set(ATTR_MY_Z, 777);
    EXPECT_EQ(wl_state_change(), 0);
    EXPECT_TRUE(eventually([&] { return AvatarNamed("demo", "Bird1")["z"] == 777; }));
}

INSTANTIATE_TEST_SUITE_P(Variants, WorldsimBuilds,
                         ::testing::Values(std::pair{24, 30}, std::pair{24, 27}, std::pair{22, 27}, std::pair{24, 22},
                                           std::pair{24, 19}));

}  // namespace
