// skyflit --headless as a process, against the scripted peers.
#include "flock_fixture.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

// A running skyflit: stdout on a pipe, stderr in a file.
class Program {
public:
    explicit Program(std::vector<std::string> arguments) {
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        outFd = out[0];
    }
    ~Program() {
        if (pid > 0 && !reaped) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        close(outFd);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Reads stdout until a line equals wanted; false at its end or after the
    // time limit.
    bool ReadUntil(const std::string& wanted, int timeoutMs = 5000) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            for (std::size_t newline; (newline = pending.find('\n')) != std::string::npos;) {
                lines.push_back(pending.substr(0, newline));
                pending.erase(0, newline + 1);
                if (lines.back() == wanted) {
                    return true;
                }
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd ready{outFd, POLLIN, 0};
            char buffer[512];
            ssize_t got = 0;
            if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) <= 0 ||
                (got = read(outFd, buffer, sizeof buffer)) <= 0) {
                return false;
            }
            pending.append(buffer, static_cast<std::size_t>(got));
        }
    }
    void Signal(int signo) { kill(pid, signo); }
    // The exit status; -1 when it did not end in time.
    int Wait(int timeoutMs = 5000) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                return -1;
            }
            usleep(10000);
        }
        reaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::string Errors() {
        std::ifstream in("stderr.txt");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    Lines lines;

private:
    pid_t pid = -1;
    bool reaped = false;
    int outFd = -1;
    std::string pending;
};

class Headless : public FlockFixture {};

TEST_F(Headless, FliesAnswersAndKeepsTheSettingsOnSigterm) {
    WriteSettings("World=sky\nCitizen= 0042\nPassword=pw\nBirdCount=2\nCenterCoords=1n\n");
    Program skyflit({SKYFLIT_BINARY, "--headless"});
    ASSERT_TRUE(skyflit.ReadUntil("Skyflit now running."));
    EXPECT_EQ(skyflit.lines, (Lines{"Connecting to universe...", "Bird1 logged in.", "Bird2 logged in.",
                                    "Bird1 entered the world.", "Bird2 entered the world.", "Skyflit now running."}));
    // Timer 42 pumps the library, so Bird1 answers.
    AvatarAppears(77, "Asker");
    world.send(0, MSG_CHAT_1, Body().word(77).string("skyflit owner"));
    ASSERT_TRUE(world.wait_count(MSG_WHISPER, 1));
    EXPECT_EQ(Whispers()[0].text, "I am owned by citizen number 42.");
    // And timer 43 hops the birds, about once a second.
    ASSERT_TRUE(world.wait_count(MSG_STATE_CHANGE, 4, 3000));

    skyflit.Signal(SIGTERM);
    EXPECT_EQ(skyflit.Wait(), 0);
    EXPECT_EQ(skyflit.Errors(), "");
    EXPECT_TRUE(world.wait_closed(0));
    EXPECT_TRUE(world.wait_closed(1));
    EXPECT_EQ(SettingsBytes(), "[universe]\nhost=127.0.0.1\nport=" + std::to_string(universe.port()) +
                                   "\n[Main]\nWorld=sky\nCitizen=42\nPassword=pw\nBirdCount=2\nCenterCoords=1n\n"
                                   "Avatar=0\n");
}

TEST_F(Headless, FailedStartsExitWithStatusOne) {
    {
        WriteSettings("World=sky\n", ClosedPort());
        Program skyflit({SKYFLIT_BINARY, "--headless"});
        EXPECT_EQ(skyflit.Wait(), 1);
        EXPECT_EQ(skyflit.Errors(), "Skyflit: Unable to create bot instance (unable to connect).\n");
    }
    {
        WriteSettings("BirdCount=1\n");
        Program skyflit({SKYFLIT_BINARY, "--headless"});
        EXPECT_EQ(skyflit.Wait(), 1);
        EXPECT_EQ(skyflit.Errors(), "Skyflit: You must enter in a world name.\n");
        EXPECT_FALSE(skyflit.ReadUntil("Connecting to universe...", 100));
    }
}

TEST_F(Headless, ASignalDuringABlockedLoginStillEndsTheProgram) {
    universe.clear_rules();  // logins are never answered
    WriteSettings(RUNNING_SETTINGS);
    {
        Program skyflit({SKYFLIT_BINARY, "--headless"});
        ASSERT_TRUE(universe.wait_count(MSG_LOGIN, 1));
        auto start = Clock::now();
        skyflit.Signal(SIGTERM);
        EXPECT_EQ(skyflit.Wait(4000), 128 + SIGTERM);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3500));
    }
    {
        Program skyflit({SKYFLIT_BINARY, "--headless"});
        ASSERT_TRUE(universe.wait_count(MSG_LOGIN, 2));
        auto start = Clock::now();
        skyflit.Signal(SIGINT);
        usleep(50000);
        skyflit.Signal(SIGINT);
        EXPECT_EQ(skyflit.Wait(4000), 128 + SIGINT);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
    }
}

TEST_F(Headless, WithoutADisplayItSaysHowToRunHeadless) {
    Program skyflit({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", SKYFLIT_BINARY});
    EXPECT_EQ(skyflit.Wait(), 2);
    EXPECT_NE(skyflit.Errors().find("run 'skyflit --headless'"), std::string::npos);
}

}  // namespace
