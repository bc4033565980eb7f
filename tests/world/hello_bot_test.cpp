// The C example as a process against scripted servers: it logs in, enters,
// moves, prints what it hears, whispers back, and leaves on Ctrl-C.
#include "tests/support/child_process.h"
#include "tests/support/scripted_peer.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

TEST(HelloBot, EntersHearsAndWhispersBack) {
    ScriptedPeer universe(PeerRole::universe);
    ScriptedPeer world(PeerRole::world);
    universe.on(MSG_LOGIN, ScriptedPeer::accept_login(9));
    universe.on(MSG_WORLD_LOOKUP, [&world](ScriptedPeer& peer, const PeerFrame& frame) {
        peer.send(frame.link, MSG_WORLD_ADDRESS,
                  Body().string(FieldReader(frame).string()).dword(0x7F000001).word(world.port()).word(30));
    });
    world.on(MSG_WORLD_LOGIN_V4, ScriptedPeer::reply(MSG_WORLD_PROPERTIES));

    ChildProcess bot({HELLO_BOT, ScriptedPeer::host, std::to_string(universe.port()), "42", "secret", "Hello"});
    ASSERT_TRUE(bot.Started());
    ASSERT_TRUE(world.wait_count(MSG_STATE_CHANGE, 1, 10000));

    FieldReader login(universe.history().front());
    login.dword();
    EXPECT_EQ(login.string(), "HelloBot");
    EXPECT_EQ(login.dword(), 42);
    EXPECT_EQ(login.string(), "secret");

    world.send(MSG_AVATAR_ADD, Body().dword(7).string("Alice").dword(0).dword(0).dword(0).word(0).byte(1).byte(0).word(
                                   0).dword(0).dword(0));
    world.send(MSG_CHAT_0, Body().word(7).string("nice day"));
    world.send(MSG_CHAT_1, Body().word(7).string("Hello Bot"));
    EXPECT_TRUE(bot.ReadUntil(ChildText("Alice: nice day\nAlice: Hello Bot\n")));
    ASSERT_TRUE(world.wait_count(MSG_WHISPER, 1));
    for (const auto& frame : world.history()) {
        if (frame.type == MSG_WHISPER) {
            EXPECT_EQ(frame.body, Body().word(7).string("Hello, Alice").bytes());
        }
    }
    EXPECT_EQ(world.count(MSG_WHISPER), 1);  // "nice day" got no answer

    ASSERT_TRUE(bot.Signal(SIGINT));  // Ctrl-C
    EXPECT_EQ(bot.Wait(), 0);
    EXPECT_TRUE(world.wait_closed(0));
    EXPECT_TRUE(universe.wait_closed(0));
}

}  // namespace
