// Birds that leave the world and come back while the flock flies. The
// library's clock stands still, so a lost link stays lost until the test
// moves it; the flock's own time is its hops.
#include "flock_fixture.h"

#include <iterator>

namespace {

class FlockPresence : public FlockFixture {
protected:
    static Bird& BirdNumber(FlockDialog& dialog, int number) { return *std::next(dialog.birds.begin(), number - 1); }

    // Pumps and hops (or only hops) until the bird's last state change failed
    // (absent) or went through. A hop can be the first to meet a lost link,
    // its send failing before a pump has read the close: the pump at the end
    // has the library take up the loss now, so its retry is due one second
    // from this moment of the clock and not from whenever a later pump
    // happens to see it.
    static bool HopUntil(FlockDialog& dialog, int number, bool absent, bool pumping = true) {
        const bool reached = eventually([&] {
            if (pumping) {
                dialog.OnTimer(TIMER_PUMP);
            }
            dialog.OnTimer(TIMER_HOP);
            return BirdNumber(dialog, number).presence.absent == absent;
        });
        dialog.OnTimer(TIMER_PUMP);
        return reached;
    }
    static void Hop(FlockDialog& dialog, int times) {
        for (int i = 0; i < times; ++i) {
            dialog.OnTimer(TIMER_HOP);
        }
    }
    // Lets the library retry the bird's lost links, and looks through
    // recentrings, which take no flight time, until it is back.
    bool ComesBack(FlockDialog& dialog, int number) {
        clock.advance(1000);
        return eventually([&] {
            dialog.OnTimer(TIMER_PUMP);
            dialog.OnTimer(TIMER_RECENTER);
            return !BirdNumber(dialog, number).presence.absent;
        });
    }

    FakeClock clock;
};

enum class Cut { WorldLink, UniverseLink };

struct AwayCase {
    const char* name;
    Cut cut;
    int hopsAway;  // after the first failed one, 990 ms each
    bool console;
    Lines told;
    // The loss is met by a hop's send rather than by a pump reading the close.
    bool metByAHop = false;
};

void PrintTo(const AwayCase& c, std::ostream* out) { *out << c.name; }

class BirdAway : public FlockPresence, public ::testing::WithParamInterface<AwayCase> {};

TEST_P(BirdAway, IsToldOnlyPastTenSecondsAndOnce) {
    const AwayCase& c = GetParam();
    Fly([&](FakeFrame& fake, FlockDialog& dialog) {
        fake.keepsStatusLines = c.console;
        (c.cut == Cut::WorldLink ? world : universe).close(2);
        ASSERT_TRUE(HopUntil(dialog, 3, true, !c.metByAHop));
        Hop(dialog, c.hopsAway);
        ASSERT_TRUE(ComesBack(dialog, 3));
        Hop(dialog, 3);
        EXPECT_EQ(fake.statusLines, c.told);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Links, BirdAway,
    ::testing::Values(
        AwayCase{"WorldLinkBackLate", Cut::WorldLink, 11, true,
                 {"Bird3 left the world (connection lost).", "Bird3 is back in the world."}},
        AwayCase{"WorldLinkBackSoon", Cut::WorldLink, 10, true, {}},
        AwayCase{"UniverseLinkBackLate", Cut::UniverseLink, 11, true,
                 {"Bird3 left the world (no connection).", "Bird3 is back in the world."}},
        AwayCase{"UniverseLinkBackSoon", Cut::UniverseLink, 10, true, {}},
        AwayCase{"WorldLinkBackLateInTheWindow", Cut::WorldLink, 11, false,
                 {"Bird3 left the world (connection lost).", "3 of 3 birds in the world."}},
        AwayCase{"WorldLinkMetByAHopBackLate", Cut::WorldLink, 11, true,
                 {"Bird3 left the world (connection lost).", "Bird3 is back in the world."}, true},
        AwayCase{"WorldLinkMetByAHopBackSoon", Cut::WorldLink, 10, true, {}, true}),
    [](const ::testing::TestParamInfo<AwayCase>& info) { return std::string(info.param.name); });

// No retry follows a world close: the bird stays away, told once.
TEST_F(FlockPresence, AWorldCloseIsToldAtOnceAndOnce) {
    Fly([&](FakeFrame& fake, FlockDialog& dialog) {
        fake.keepsStatusLines = true;
        world.send(1, MSG_WORLD_DROP_466);
        ASSERT_TRUE(HopUntil(dialog, 2, true));
        Hop(dialog, 20);
        EXPECT_EQ(fake.statusLines, Lines{"Bird2 left the world (ejected)."});
    });
}

// The window's one line: who left, and how many are in the world as they
// come back.
TEST_F(FlockPresence, TheWindowCountsBirdsBackIn) {
    Fly([&](FakeFrame& fake, FlockDialog& dialog) {
        world.send(1, MSG_WORLD_DROP_466);
        ASSERT_TRUE(HopUntil(dialog, 2, true));
        world.close(2);
        ASSERT_TRUE(HopUntil(dialog, 3, true));
        Hop(dialog, 11);
        ASSERT_TRUE(ComesBack(dialog, 3));
        EXPECT_EQ(fake.statusLines, (Lines{"Bird2 left the world (ejected).", "Bird3 left the world (connection lost).",
                                           "2 of 3 birds in the world."}));
        // A world close ends Bird2's stay until it enters again.
        fake.Type(dialog, ID_WORLD, "other");
        fake.Press(dialog, ID_APPLY);
        fake.statusLines.clear();
        Hop(dialog, 2);
        EXPECT_EQ(fake.statusLines, Lines{"3 of 3 birds in the world."});
    });
}

}  // namespace
