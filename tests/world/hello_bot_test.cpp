// The C example as a process against scripted servers: it logs in, enters,
// moves, prints what it hears, whispers back, and leaves on Ctrl-C.
#include "tests/support/scripted_peer.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

// A running hello_bot; killed and reaped if the test ends early.
class BotProcess {
public:
    BotProcess(uint16_t universe_port, const char* world) {
        int out[2];
        if (pipe(out) != 0) return;
        const std::string port = std::to_string(universe_port);
        pid = fork();
        if (pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            execl(HELLO_BOT, HELLO_BOT, ScriptedPeer::host, port.c_str(), "42", "secret", world,
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        ::close(out[1]);
        output = out[0];
    }
    ~BotProcess() {
        if (pid > 0 && !exited) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (output >= 0) ::close(output);
    }
    BotProcess(const BotProcess&) = delete;
    BotProcess& operator=(const BotProcess&) = delete;

    // Reads the bot's output until it contains the text (bounded).
    bool wait_output(const std::string& text, int timeout_ms = 5000) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (printed.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= limit) return false;
            pollfd watched{output, POLLIN, 0};
            if (poll(&watched, 1, 50) <= 0) continue;
            char buffer[256];
            const ssize_t got = read(output, buffer, sizeof buffer);
            if (got <= 0) return false;
            printed.append(buffer, static_cast<size_t>(got));
        }
        return true;
    }

    // Sends Ctrl-C and returns the exit status, or -1 if it does not end.
    int interrupt(int timeout_ms = 5000) {
        kill(pid, SIGINT);
        for (int waited = 0; waited < timeout_ms; waited += 10) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                exited = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    pid_t pid = -1;
    int output = -1;
    bool exited = false;
    std::string printed;
};

TEST(HelloBot, EntersHearsAndWhispersBack) {
    ScriptedPeer universe(PeerRole::universe);
    ScriptedPeer world(PeerRole::world);
    universe.on(MSG_LOGIN, ScriptedPeer::accept_login(9));
    universe.on(MSG_WORLD_LOOKUP, [&world](ScriptedPeer& peer, const PeerFrame& frame) {
        peer.send(frame.link, MSG_WORLD_ADDRESS,
                  Body().string(FieldReader(frame).string()).dword(0x7F000001).word(world.port()).word(30));
    });
    world.on(MSG_WORLD_LOGIN_V4, ScriptedPeer::reply(MSG_WORLD_PROPERTIES));

    BotProcess bot(universe.port(), "Hello");
    ASSERT_GT(bot.pid, 0);
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
    EXPECT_TRUE(bot.wait_output("Alice: nice day\nAlice: Hello Bot\n"));
    ASSERT_TRUE(world.wait_count(MSG_WHISPER, 1));
    for (const auto& frame : world.history()) {
        if (frame.type != MSG_WHISPER) continue;
        FieldReader whisper(frame);
        EXPECT_EQ(whisper.word(), 7);
        EXPECT_EQ(whisper.string(), "Hello, Alice");
    }
    EXPECT_EQ(world.count(MSG_WHISPER), 1);  // "nice day" got no answer

    EXPECT_EQ(bot.interrupt(), 0);
    EXPECT_TRUE(world.wait_closed(0));
    EXPECT_TRUE(universe.wait_closed(0));
}

}  // namespace
