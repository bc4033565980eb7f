#include "app/flight.h"
#include "flock_fixture.h"

#include <cstdlib>

namespace {

// Tests that start from a flock of three birds flying in "sky".
class RunningFlock : public FlockFixture {
protected:
    int WorldLogins() { return world.count(MSG_WORLD_LOGIN_V4); }
};

TEST_F(RunningFlock, ApplyWithANewWorldBringsEveryBirdThere) {
    Fly([&](FakeFrame& fake, FlockDialog& dialog) {
        EXPECT_FALSE(fake.IsEnabled(ID_APPLY));
        fake.Type(dialog, ID_WORLD, "other");
        EXPECT_TRUE(fake.IsEnabled(ID_APPLY));
        fake.texts[ID_AVATAR] = "9";
        fake.texts[ID_CENTER] = "3s";
        ASSERT_TRUE(fake.Press(dialog, ID_APPLY));
        EXPECT_EQ(fake.statusLines, (Lines{"Bird1 entered the world.", "Bird2 entered the world.",
                                           "Bird3 entered the world.", "Changes successful."}));
        EXPECT_TRUE(dialog.running);
        EXPECT_EQ(dialog.currentWorld, "other");
        EXPECT_EQ(WorldLogins(), 6);
        ExpectEnabled(fake, {ID_AVATAR, ID_CENTER, ID_WORLD});
        ASSERT_TRUE(world.wait_count(MSG_STATE_CHANGE, 6));
        for (int link = 3; link < 6; ++link) {
            ASSERT_FALSE(StateChanges(link).empty());
            EXPECT_EQ(StateChanges(link).back().Place(), (std::array{0, 0, -3000, 9})) << link;
        }
    });
}

// The same world only moves the birds; a world name that differs only in
// case is entered again.
TEST_F(RunningFlock, ApplyInTheSameWorldOnlyMovesTheBirds) {
    Fly([&](FakeFrame& fake, FlockDialog& dialog) {
        fake.Type(dialog, ID_CENTER, "1w");
        fake.Press(dialog, ID_APPLY);
        EXPECT_EQ(fake.statusLines, Lines{"Changes successful."});
        EXPECT_EQ(WorldLogins(), 3);
        ASSERT_TRUE(world.wait_count(MSG_STATE_CHANGE, 6));
        for (int link = 0; link < 3; ++link) {
            EXPECT_EQ(StateChanges(link).back().Place(), (std::array{1000, 0, 0, 5})) << link;
        }

        fake.Type(dialog, ID_WORLD, "SKY");
        fake.Press(dialog, ID_APPLY);
        EXPECT_EQ(fake.statusLines.back(), "Changes successful.");
        EXPECT_EQ(WorldLogins(), 6);
        EXPECT_EQ(dialog.currentWorld, "SKY");
    });
}

TEST_F(RunningFlock, AFailedEntryStopsTheFlockForGood) {
    Fly([&](FakeFrame& fake, FlockDialog& dialog) {
        lookupResult = 27;
        fake.Type(dialog, ID_WORLD, "gone");
        fake.Press(dialog, ID_APPLY);
        EXPECT_EQ(fake.MessageTexts(), Lines{"Bird1 is unable to enter the world (world not running)."});
        EXPECT_EQ(fake.statusLines, Lines{"Changes failed."});
        EXPECT_FALSE(fake.quitPosted);
        EXPECT_FALSE(dialog.running);
        EXPECT_EQ(dialog.currentWorld, "sky");
        ExpectEnabled(fake, {ID_WORLD, ID_AVATAR, ID_CENTER});
        fake.Type(dialog, ID_CENTER, "5n");
        fake.Type(dialog, ID_WORLD, "sky");
        EXPECT_FALSE(fake.IsEnabled(ID_APPLY));
        int before = world.count(MSG_STATE_CHANGE);
        dialog.OnTimer(TIMER_HOP);
        dialog.OnTimer(TIMER_RECENTER);
        PumpFor(dialog, 200);
        EXPECT_EQ(world.count(MSG_STATE_CHANGE), before);
    });
}

TEST_F(RunningFlock, HopsFaceTheirWayAndTwoMinutesBringEveryBirdBack) {
    Fly([&](FakeFrame&, FlockDialog& dialog) {
        // 121 hops at 990 ms fill the two minutes before timer 44.
        for (int hop = 0; hop < 121; ++hop) {
            dialog.OnTimer(TIMER_HOP);
        }
        ASSERT_TRUE(world.wait_count(MSG_STATE_CHANGE, 3 + 3 * 121, 5000));
        std::vector<int> lastYaw;
        for (int link = 0; link < 3; ++link) {
            std::vector<StateChange> changes = StateChanges(link);
            ASSERT_EQ(changes.size(), 122u);
            for (std::size_t i = 1; i < changes.size(); ++i) {
                int dx = changes[i].x - changes[i - 1].x;
                int dz = changes[i].z - changes[i - 1].z;
                ASSERT_LE(std::abs(dx), 199);
                ASSERT_LE(std::abs(dz), 199);
                EXPECT_EQ(changes[i].yaw, HopYaw(dz, dx));
                EXPECT_EQ(changes[i].y, 500);
            }
            lastYaw.push_back(changes.back().yaw);
        }
        dialog.OnTimer(TIMER_RECENTER);
        ASSERT_TRUE(world.wait_count(MSG_STATE_CHANGE, 3 + 3 * 122));
        for (int link = 0; link < 3; ++link) {
            StateChange last = StateChanges(link).back();
            EXPECT_EQ(last.Place(), (std::array{2000, 500, 1000, 5})) << link;
            EXPECT_EQ(last.yaw, lastYaw[static_cast<std::size_t>(link)]);
        }
    });
}

class ChatReplies : public RunningFlock {
protected:
    static constexpr int ASKER = 77;

    // Says the line on every bird's world link (or one) and pumps until a
    // whisper comes back or 300 ms pass; returns the whispers that followed.
    std::vector<Whisper> Ask(FlockDialog& dialog, int session, const std::string& line, int link = -1) {
        std::size_t before = Whispers().size();
        if (link < 0) {
            SendToAllBirds(MSG_CHAT_0, Body().word(session).string(line));
        } else {
            world.send(link, MSG_CHAT_0, Body().word(session).string(line));
        }
        eventually(
            [&] {
                dialog.OnTimer(TIMER_PUMP);
                return Whispers().size() > before;
            },
            300);
        std::vector<Whisper> all = Whispers();
        return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
    }
};

TEST_F(ChatReplies, Bird1AloneAnswersBothCommandsAndNothingElse) {
    Fly([&](FakeFrame&, FlockDialog& dialog) {
        AvatarAppears(ASKER, "Asker");
        PumpFor(dialog, 100);
        std::vector<Whisper> owner = Ask(dialog, ASKER, "SkyFlit OWNER");
        ASSERT_EQ(owner.size(), 1u);
        EXPECT_EQ(owner[0].session, ASKER);
        EXPECT_EQ(owner[0].text, "I am owned by citizen number 42.");
        std::vector<Whisper> version = Ask(dialog, ASKER, "skyflit version");
        ASSERT_EQ(version.size(), 1u);
        EXPECT_EQ(version[0].text.rfind("I am Skyflit Build 6.  ", 0), 0u);
        EXPECT_LT(version[0].text.size(), 256u);
        // Only Bird1's link whispers.
        for (const Whisper& whisper : Whispers()) {
            EXPECT_EQ(whisper.link, 0);
        }
        EXPECT_TRUE(Ask(dialog, ASKER, "skyflit owner", 1).empty());
        EXPECT_TRUE(Ask(dialog, ASKER, "skyflit owner", 2).empty());

        for (const char* line : {" skyflit owner", "skyflit owner ", "skyflit  owner", "skyflit owner please",
                                 "skyflit", "skyflit versions", ""}) {
            EXPECT_TRUE(Ask(dialog, ASKER, line).empty()) << '"' << line << '"';
        }
        EXPECT_TRUE(Ask(dialog, 99, "skyflit owner").empty());  // a stranger
    });
}

TEST_F(ChatReplies, AStoppedFlockStillAnswers) {
    Fly([&](FakeFrame& fake, FlockDialog& dialog) {
        // Bird1 gets into the new world, Bird2 is turned away.
        world.on(MSG_WORLD_LOGIN_V4, ScriptedPeer::reply(MSG_WORLD_DROP_466));
        world.on(MSG_WORLD_LOGIN_V4, ScriptedPeer::reply(MSG_WORLD_PROPERTIES), 1);
        fake.Type(dialog, ID_WORLD, "next");
        fake.Press(dialog, ID_APPLY);
        EXPECT_EQ(fake.MessageTexts(), Lines{"Bird2 is unable to enter the world (ejected)."});
        EXPECT_EQ(fake.statusLines, (Lines{"Bird1 entered the world.", "Changes failed."}));
        ASSERT_FALSE(dialog.running);
        world.send(3, MSG_AVATAR_ADD, AvatarBody(ASKER, "Asker"));
        std::vector<Whisper> answer = Ask(dialog, ASKER, "skyflit owner", 3);
        ASSERT_EQ(answer.size(), 1u);
        EXPECT_EQ(answer[0].text, "I am owned by citizen number 42.");
    });
}

}  // namespace
