// worldsim driven by the world-client library itself: whatever the library
// sends, worldsim must understand, and whatever worldsim sends must come out
// of the library as the right attributes and events.
#include <sys/wait.h>

#include <string>
#include <vector>

#include "tests/support/fake_clock.h"
#include "tests/worldsim/sim_fixture.h"
#include "worldlink/library.h"
#include "worldlink/wire/platform.h"

using namespace worldlink;

namespace {

struct Heard {
    Instance* instance;
    int event;
    int number;  // the speaker's or the avatar's session, or the disconnect reason
    std::string name;
    std::string text;
    int chat_type, x, z, yaw;
};

std::vector<Heard> heard;

template <int Event>
void on() {
    int number = wl_int(Event == EVENT_CHAT                 ? ATTR_CHAT_SESSION
                        : Event == EVENT_WORLD_DISCONNECT ? ATTR_WORLD_DISCONNECT_REASON
                                                          : ATTR_AVATAR_SESSION);
    heard.push_back({wl_instance(), Event, number, wl_string(ATTR_AVATAR_NAME), wl_string(ATTR_CHAT_MESSAGE),
                     wl_int(ATTR_CHAT_TYPE), wl_int(ATTR_AVATAR_X), wl_int(ATTR_AVATAR_Z), wl_int(ATTR_AVATAR_YAW)});
}

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

    // A new instance, left current, and its login result.
    int Login(const char* name, int owner, const char* password) {
        Instance* bot = nullptr;
        int result = wl_create("127.0.0.1", sim.universe_port, &bot);
        if (result != 0) return result;
        wl_string_set(ATTR_LOGIN_NAME, name);
        wl_int_set(ATTR_LOGIN_OWNER, owner);
        wl_string_set(ATTR_LOGIN_PASSWORD, password);
        return wl_login();
    }

    // A new instance logged in as citizen 1 and inside demo, left current.
    Instance* Enter(const char* name) {
        EXPECT_EQ(Login(name, 1, "secret"), 0) << name << " login";
        Instance* bot = wl_instance();
        EXPECT_EQ(wl_enter("demo"), 0) << name << " enter";
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

TEST_F(WorldsimLibrary, LoginFollowsTheCitizenListAndTheBotLimit) {
    StartSim({"--citizen", "1:secret", "--citizen", "2:other", "--bot-limit", "2"});
    struct {
        const char* name;
        int owner;
        const char* password;
        int expected;
    } rows[] = {
        {"Bird1", 1, "secret", 0},
        {"Wrong", 1, "wrong", REASON_INVALID_PASSWORD},
        {"Nobody", 7, "secret", REASON_NO_SUCH_CITIZEN},
        {"Bird2", 1, "secret", 0},
        {"Bird3", 1, "secret", REASON_BOT_LIMIT_EXCEEDED},
        {"Other", 2, "other", 0},  // the limit is per owner
    };
    Instance* first = nullptr;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Login(row.name, row.owner, row.password), row.expected);
        if (first == nullptr) first = wl_instance();
        if (row.expected != 0) wl_destroy();
    }
    wl_instance_set(first);
    wl_destroy();
    // The server learns of the closed link asynchronously.
    EXPECT_TRUE(eventually([&] {
        int result = Login("Bird3", 1, "secret");
        if (result != 0) wl_destroy();
        return result == 0;
    }, 3000));
}

TEST_F(WorldsimLibrary, LookupOpensServedWorldsOnly) {
    StartSim({"--world", "demo", "--heartbeat", "100"});
    ASSERT_EQ(Login("Bird1", 1, ""), 0);
    Instance* bot = wl_instance();
    EXPECT_EQ(wl_enter("nowhere"), REASON_WORLD_NOT_RUNNING);
    wl_instance_set(bot);
    EXPECT_EQ(wl_enter("DeMo"), 0);
    EXPECT_EQ(wl_int(ATTR_WORLD_BUILD), 30);
    EXPECT_GT(SessionOf("demo", "Bird1"), 0);
    EXPECT_TRUE(Pump([&] {
        wl_instance_set(bot);
        return wl_int(ATTR_WORLD_FLAG) == 1;
    }, 3000)) << "the world flag keeps a quiet world talking";
}

TEST_F(WorldsimLibrary, SpeechReachesEveryBirdAndAWhisperTheNamedOneOnly) {
    StartSim({});
    EXPECT_EQ(Get("/api/worlds"), nlohmann::json::array()) << "without --world, worlds open on their first lookup";
    wl_event_set(EVENT_CHAT, on<EVENT_CHAT>);
    Instance* a = Enter("Alice");
    Instance* b = Enter("Bob");
    Instance* c = Enter("Carol");
    ASSERT_EQ(Post("/api/worlds/demo/say", {{"text", "skyflit owner"}}), 200);
    ASSERT_TRUE(Pump([&] {
        return Count(a, EVENT_CHAT) == 1 && Count(b, EVENT_CHAT) == 1 && Count(c, EVENT_CHAT) == 1;
    }));
    for (const Heard& h : heard) {
        EXPECT_EQ(h.name, "Visitor");
        EXPECT_EQ(h.text, "skyflit owner");
        EXPECT_EQ(h.chat_type, 0);
    }

    heard.clear();
    int alice = Session(a);
    int bob = Session(b);
    ASSERT_GT(alice, 0);
    ASSERT_GT(bob, 0);
    wl_instance_set(a);
    ASSERT_EQ(wl_whisper(bob, "psst"), 0);
    ASSERT_TRUE(Pump([&] { return Count(b, EVENT_CHAT) == 1; }));
    wl_wait(200);
    ASSERT_EQ(heard.size(), 1u) << "nobody else hears a whisper";
    EXPECT_EQ(heard[0].text, "psst");
    EXPECT_EQ(heard[0].number, alice);
    EXPECT_EQ(heard[0].name, "Alice");
    EXPECT_EQ(heard[0].chat_type, 2);
}

TEST_F(WorldsimLibrary, AvatarEventsFollowPresenceAndMovement) {
    StartSim({});
    wl_event_set(EVENT_AVATAR_ADD, on<EVENT_AVATAR_ADD>);
    wl_event_set(EVENT_AVATAR_CHANGE, on<EVENT_AVATAR_CHANGE>);
    wl_event_set(EVENT_AVATAR_DELETE, on<EVENT_AVATAR_DELETE>);
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

TEST_F(WorldsimLibrary, DropsArriveWithTheirReasons) {
    StartSim({});
    wl_event_set(EVENT_WORLD_DISCONNECT, on<EVENT_WORLD_DISCONNECT>);
    Instance* a = Enter("Ejected");
    Instance* b = Enter("Closed");
    ASSERT_EQ(Post("/api/worlds/demo/drop", {{"session", Session(a)}, {"reason", 466}}), 200);
    ASSERT_TRUE(Pump([&] { return Count(a, EVENT_WORLD_DISCONNECT) == 1; }));
    EXPECT_EQ(heard.back().number, REASON_EJECTED);
    EXPECT_TRUE(eventually([&] { return AvatarNamed("demo", "Ejected").is_null(); }));

    // A plain close is a lost link: the library reports 471 and comes back.
    int closed = Session(b);
    ASSERT_EQ(Post("/api/worlds/demo/drop", {{"session", closed}, {"reason", "close"}}), 200);
    ASSERT_TRUE(Pump([&] { return Count(b, EVENT_WORLD_DISCONNECT) == 1; }));
    EXPECT_EQ(heard.back().number, REASON_CONNECTION_LOST);
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

// worldsim stops and comes back with its worlds on other ports. The library's
// clock is driven, so its retries come when the test says.
class WorldsimRestart : public WorldsimLibrary {
protected:
    FakeClock clock;  // before wl_init in SetUp
};

// A loopback port that nothing listens on just now.
int free_port() {
    SocketHandle listener = NO_SOCKET;
    uint16_t port = 0;
    if (tcp_listen(net_order32(LOOPBACK_ADDRESS), 0, &listener, &port) != 0) return 0;
    socket_close(listener);
    return net_order16(port);
}

TEST_F(WorldsimRestart, BirdsAreBackInAWorldRestartedOnAnotherPort) {
    StartSim({});
    const std::vector<Instance*> birds = {Enter("Bird1"), Enter("Bird2")};
    const auto all = [&](auto in_state) {
        for (Instance* bird : birds)
            if (!in_state(bird)) return false;
        return true;
    };
    const int old_world_port = net_order16(birds[0]->world_port);
    const int status = sim_process_stop(&sim, 5000);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_TRUE(Pump([&] { return all([](Instance* b) { return b->universe_state == UNIVERSE_RETRY; }); }));
    for (int second = 0; second < 3; ++second) {  // reconnects fail while it is away
        clock.advance(1000);
        wl_wait(0);
    }

    const int new_world_port = free_port();
    ASSERT_NE(new_world_port, 0);
    ASSERT_NE(new_world_port, old_world_port);
    StartSim({"--port", std::to_string(sim.universe_port), "--world-port-base", std::to_string(new_world_port)});
    const uint32_t returned = tick_now();
    const auto in_world = [&] { return all([](Instance* b) { return b->world_state == WORLD_IN; }); };
    for (int step = 0; step < 40 && !in_world(); ++step) {
        clock.advance(250);
        Pump(in_world, 150);
    }
    ASSERT_TRUE(in_world());
    EXPECT_LE(tick_elapsed(tick_now(), returned), 5000u);
    EXPECT_EQ(net_order16(birds[0]->world_port), new_world_port);
    EXPECT_TRUE(eventually([&] { return AvatarNamed("demo", "Bird2").is_object(); }));
}

// Every world login variant, chosen by the library from the world's build,
// and universes with and without tickets.
class WorldsimBuilds : public WorldsimLibrary, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(WorldsimBuilds, EveryLoginVariantEntersTheWorld) {
    auto [universe_build, world_build] = GetParam();
    StartSim({"--universe-build", std::to_string(universe_build), "--world-build", std::to_string(world_build)});
    Enter("Bird1");
    wl_int_set(ATTR_MY_Z, 777);
    EXPECT_EQ(wl_state_change(), 0);
    EXPECT_TRUE(eventually([&] { return AvatarNamed("demo", "Bird1")["z"] == 777; }));
}

INSTANTIATE_TEST_SUITE_P(Variants, WorldsimBuilds,
                         ::testing::Values(std::pair{24, 30}, std::pair{24, 27}, std::pair{22, 27}, std::pair{24, 22},
                                           std::pair{24, 19}));

}  // namespace
