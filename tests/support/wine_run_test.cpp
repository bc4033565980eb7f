// cmake/wine-run, through which CTest runs the Windows tests, with sh in the
// place of wine's loader: what the program leaves running must not hold the
// test open, and a stop must end the program.
#include "tests/support/child_process.h"
#include "tests/support/scripted_peer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

class WineRun : public ::testing::Test {
protected:
    void TearDown() override {
        if (pid_t left = Recorded(); left > 0) {
            kill(left, SIGKILL);
        }
        unlink(pidFile.c_str());
    }

    // wine-run with the command as the program, its stderr merged into the
    // stdout that the test reads.
    ChildProcess Run(const std::string& command) {
        return ChildProcess({"/bin/sh", "-c", "exec " + std::string(WINE_RUN) + " /bin/sh -c '" + command + "' 2>&1"});
    }

    // The process number that the command wrote down, or 0.
    pid_t Recorded() const {
        pid_t pid = 0;
        std::ifstream(pidFile) >> pid;
        return pid;
    }

    std::string pidFile = "/tmp/wine-run-test." + std::to_string(getpid());
};

TEST_F(WineRun, WhatTheProgramLeavesRunningHoldsNoPipeOpen) {
    // The sleep keeps the program's stderr, as explorer's desktop would.
    auto run = Run("echo said >&2; sleep 600 > /dev/null & echo $! > " + pidFile + "; exit 3");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(run.ReadUntil(std::string(1, '\0'), 60000));  // to the end of the output
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60)) << "the output never ended";
    EXPECT_EQ(run.Wait(), 3);
    EXPECT_EQ(run.Output(), "said\n");
    EXPECT_GT(Recorded(), 0);
}

TEST_F(WineRun, AStopEndsTheProgram) {
    auto run = Run("echo $$ > " + pidFile + "; echo up; exec sleep 600");
    ASSERT_TRUE(run.ReadUntil("up\n"));
    const pid_t program = Recorded();
    ASSERT_GT(program, 0);
    ASSERT_TRUE(run.Signal(SIGTERM));
    EXPECT_EQ(run.Wait(10000), 128 + SIGTERM);
    EXPECT_TRUE(eventually([&] { return kill(program, 0) != 0; }, 10000));
}

}  // namespace
