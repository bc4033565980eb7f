// The flock flight in the program: set in the settings file, started at the
// login, one state change per bird a tick, no recentring jump, and an apply
// that flies the flock to a near centre and moves it whole to a far one.
#include "app/flocking.h"
#include "flock_fixture.h"

#include <cmath>

namespace {

constexpr int BIRDS = 3;
const FlockShape SHAPE(FlockParameters{}, BIRDS);

class FlockFlightProgram : public FlockFixture {
protected:
    // Flies a flock of three in "sky" around 1n 2w 0.5a, as Fly does.
    void FlyAFlock(const std::function<void(FakeFrame&, FlockDialog&)>& then) {
        WriteSettings(std::string(RUNNING_SETTINGS) + "Flight=flock\n");
        Run([&](FakeFrame& fake, FlockDialog& dialog) {
            fake.Press(dialog, ID_LOGIN);
            ASSERT_TRUE(dialog.running);
            ASSERT_TRUE(world.wait_count(MSG_STATE_CHANGE, BIRDS));
            then(fake, dialog);
        });
    }
    void Ticks(FlockDialog& dialog, int ticks, int sentBefore) {
        for (int tick = 0; tick < ticks; ++tick) {
            dialog.OnTimer(TIMER_HOP);
        }
        ASSERT_TRUE(world.wait_count(MSG_STATE_CHANGE, sentBefore + BIRDS * ticks, 5000));
    }
    static double Distance(const StateChange& a, const StateChange& b) {
        return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z);
    }
    static double FromCentre(const StateChange& s, int x, int z) { return std::hypot(s.x - x, s.z - z); }
};

TEST_F(FlockFlightProgram, StartsApartAndFliesSmoothlyWithoutRecentring) {
    FlyAFlock([&](FakeFrame& fake, FlockDialog& dialog) {
        EXPECT_EQ(fake.statusLines.back(), "Skyflit now running.");
        for (int link = 0; link < BIRDS; ++link) {
            const StateChange start = StateChanges(link).front();
            EXPECT_EQ(start.type, 5);
            EXPECT_LT(FromCentre(start, 2000, 1000), 500) << link;
            for (int other = 0; other < link; ++other) {
                EXPECT_GE(Distance(start, StateChanges(other).front()), 150) << link << " " << other;
            }
        }
        Ticks(dialog, 30, BIRDS);
        // The two-minute timer sends nothing: the flight holds the flock.
        dialog.OnTimer(TIMER_RECENTER);
        dialog.OnTimer(TIMER_HOP);
        ASSERT_TRUE(world.wait_count(MSG_STATE_CHANGE, BIRDS * 32));
        for (int link = 0; link < BIRDS; ++link) {
            const std::vector<StateChange> changes = StateChanges(link);
            ASSERT_EQ(changes.size(), 32u);
            for (std::size_t i = 1; i < changes.size(); ++i) {
                const double step = Distance(changes[i], changes[i - 1]);
                EXPECT_GE(step, SHAPE.minSpeed - 2) << link << " " << i;
                EXPECT_LE(step, std::hypot(SHAPE.maxSpeed, SHAPE.maxClimb) + 2) << link << " " << i;
                EXPECT_LT(FromCentre(changes[i], 2000, 1000), 2000 + SHAPE.maxSpeed);
                EXPECT_EQ(changes[i].type, 5);
            }
        }
    });
}

TEST_F(FlockFlightProgram, ANearCentreIsFlownToAndAFarOneTakenAtOnce) {
    FlyAFlock([&](FakeFrame& fake, FlockDialog& dialog) {
        Ticks(dialog, 5, BIRDS);
        std::vector<StateChange> before;
        for (int link = 0; link < BIRDS; ++link) {
            before.push_back(StateChanges(link).back());
        }
        // 1 unit away: each bird resends its place, with the new avatar.
        fake.Type(dialog, ID_CENTER, "2n 2w 0.5a");
        fake.texts[ID_AVATAR] = "9";
        ASSERT_TRUE(fake.Press(dialog, ID_APPLY));
        EXPECT_EQ(fake.statusLines.back(), "Changes successful.");
        ASSERT_TRUE(world.wait_count(MSG_STATE_CHANGE, BIRDS * 7));
        for (int link = 0; link < BIRDS; ++link) {
            const StateChange now = StateChanges(link).back();
            EXPECT_EQ(now.type, 9);
            EXPECT_EQ(Distance(now, before[static_cast<std::size_t>(link)]), 0) << link;
        }
        // 100 units away: the flock arrives whole, its shape kept.
        fake.Type(dialog, ID_CENTER, "102n 2w 0.5a");
        ASSERT_TRUE(fake.Press(dialog, ID_APPLY));
        ASSERT_TRUE(world.wait_count(MSG_STATE_CHANGE, BIRDS * 8));
        for (int link = 0; link < BIRDS; ++link) {
            const StateChange now = StateChanges(link).back();
            const StateChange& was = before[static_cast<std::size_t>(link)];
            EXPECT_NEAR(FromCentre(now, 2000, 102000), FromCentre(was, 2000, 1000), 1000) << link;
            EXPECT_EQ(now.z - StateChanges(0).back().z, was.z - before[0].z) << link;
        }
    });
}

TEST_F(FlockFlightProgram, TheFlightGoesBackIntoTheFile) {
    FlyAFlock([](FakeFrame&, FlockDialog&) {});
    EXPECT_NE(SettingsBytes().find("\nFlight=flock\nFlockRadius=2000\nFlockSpeed=180\nFlockSeparation=150\n"),
              std::string::npos)
        << SettingsBytes();
}

TEST_F(FlockFlightProgram, AnUnknownFlightEndsTheProgramBeforeAnyLogin) {
    WriteSettings(std::string(RUNNING_SETTINGS) + "Flight=swarm\n");
    const std::string before = SettingsBytes();
    bool ran = false;
    EXPECT_EQ(Run([&](FakeFrame&, FlockDialog&) { ran = true; }), 2);
    EXPECT_FALSE(ran);
    ASSERT_EQ(frame.messages.size(), 1u);
    EXPECT_NE(frame.messages[0].text.find("Flight in "), std::string::npos);
    EXPECT_NE(frame.messages[0].text.find("'swarm'; it must be hop or flock."), std::string::npos);
    EXPECT_EQ(universe.count(MSG_LOGIN), 0);
    EXPECT_EQ(SettingsBytes(), before);
}

}  // namespace
