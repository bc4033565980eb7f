// Crowds: a burst of connects larger than one round of readiness events,
// clients that vanish with their input still unread, and event masks that
// change what a member hears.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "tests/worldsim/raw_client.h"
#include "tests/worldsim/sim_fixture.h"
#include "worldlink/messages.h"
#include "worldlink/wire/wire.h"

using namespace worldlink;

namespace {

constexpr int BURST = 300;
constexpr int LEAVERS = 20;

int count(const std::vector<int>& types, int type) {
    return static_cast<int>(std::count(types.begin(), types.end(), type));
}

using WorldsimCrowd = SimFixture;

// Every link is open before the first login goes out, and every login is out
// before the first reply is read, so the server meets the whole burst at once.
TEST_F(WorldsimCrowd, ABurstOfConnectsIsServedInFull) {
    StartSim({});
    std::vector<RawLink> links;
    for (int k = 0; k < BURST; ++k) {
        links.push_back(raw_link(sim.universe_port));
        ASSERT_NE(links.back(), nullptr);
    }
    for (int k = 0; k < BURST; ++k) {
        ASSERT_EQ(raw_send_login(links[k].get(), 1, "", ("Crowd" + std::to_string(k)).c_str()), 0);
    }
    std::set<int> sessions;
    for (RawLink& link : links) {
        RawSession session;
        ASSERT_EQ(raw_login_reply(link.get(), &session), 0);
        sessions.insert(session.session);
    }
    EXPECT_EQ(sessions.size(), static_cast<size_t>(BURST)) << "every login has a session of its own";
}

// Leavers send a few moves and close both links at once, so their frames and
// their end arrive together; the world forgets each of them exactly once and
// goes on serving the one who stays.
TEST_F(WorldsimCrowd, ClientsThatVanishWithInputUnreadLeaveTheRestServed) {
    StartSim({});
    RawBot* watcher = Bot("Watcher", 0x03);
    ASSERT_NE(watcher, nullptr);
    std::vector<RawBot*> leavers;
    for (int k = 0; k < LEAVERS; ++k) {
        leavers.push_back(Bot(("Leaver" + std::to_string(k)).c_str(), 0));
        ASSERT_NE(leavers.back(), nullptr);
    }
    ASSERT_TRUE(eventually([&] { return Avatars("demo").size() == LEAVERS + 2; }));
    raw_drain(watcher->world, false, 200);
    for (RawBot* leaver : leavers) {
        for (int move = 1; move <= 3; ++move) raw_send_state(leaver->world, move, 0, move, 0);
        raw_leave(leaver);
    }
    int deletes = 0;
    for (int round = 0; round < 50 && deletes < LEAVERS; ++round) {
        deletes += count(raw_drain(watcher->world, false, 100), MSG_AVATAR_DELETE);
    }
    EXPECT_EQ(deletes, LEAVERS);
    EXPECT_TRUE(eventually([&] { return Avatars("demo").size() == 2; })) << "the watcher and the visitor";
    RawBot* newcomer = Bot("Newcomer", 0);
    ASSERT_NE(newcomer, nullptr);
    RawFrame add;
    EXPECT_TRUE(raw_read_type(watcher->world, false, MSG_AVATAR_ADD, &add, 2000));
}

// A member's mask decides alone what it hears from then on: a bit taken up
// brings that news, a bit given up ends it, also for the last one asking.
TEST_F(WorldsimCrowd, AChangedMaskChangesWhatIsHeard) {
    StartSim({});
    struct {
        const char* what;
        uint32_t first;
        uint32_t then;
        int adds;
        int changes;
    } rows[] = {
        {"changes given up", 0x07, 0x01, 1, 0},
        {"avatars given up", 0x03, 0x02, 0, 1},
        {"everything given up", 0x07, 0x00, 0, 0},
        {"changes taken up", 0x00, 0x02, 0, 1},
        {"avatars taken up beside changes", 0x02, 0x03, 1, 1},
    };
    int row_number = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string suffix = std::to_string(++row_number);
        RawBot listener;
        ASSERT_TRUE(raw_enter(sim.universe_port, "demo", ("Listener" + suffix).c_str(), row.first, &listener));
        ASSERT_EQ(raw_send_mask(listener.world, row.then), 0);
        raw_drain(listener.world, false, 200);
        RawBot mover;
        ASSERT_TRUE(raw_enter(sim.universe_port, "demo", ("Mover" + suffix).c_str(), 0, &mover));
        ASSERT_EQ(raw_send_state(mover.world, 10, 20, 30, 0), 0);
        std::vector<int> heard = raw_drain(listener.world, false, 300);
        EXPECT_EQ(count(heard, MSG_AVATAR_ADD), row.adds);
        EXPECT_EQ(count(heard, MSG_AVATAR_CHANGE), row.changes);
        raw_leave(&mover);
        raw_leave(&listener);
    }
}

}  // namespace
