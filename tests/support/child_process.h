// A program run as a child process: stdout on a pipe, stderr inherited or in a
// file. Killed and reaped if the test ends before it does.
#pragma once

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

class ChildProcess {
public:
    explicit ChildProcess(std::vector<std::string> arguments, const char* errorFile = nullptr) {
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        if (errorFile) {
            posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile, O_WRONLY | O_CREAT | O_TRUNC, 0600);
        }
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        output = out[0];
    }
    ~ChildProcess() {
        if (pid > 0 && !reaped) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (output >= 0) close(output);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid > 0; }

    // Reads stdout until it holds the text; false at its end or after the time.
    bool ReadUntil(const std::string& text, int timeoutMs = 5000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (printed.find(text) == std::string::npos) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd ready{output, POLLIN, 0};
            char buffer[512];
            ssize_t got = 0;
            if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0 ||
                (got = read(output, buffer, sizeof buffer)) <= 0) {
                return false;
            }
            printed.append(buffer, static_cast<size_t>(got));
        }
        return true;
    }
    // Everything read from stdout so far.
    const std::string& Output() const { return printed; }

    void Signal(int signo) { kill(pid, signo); }
    // The exit status; -1 when it did not exit in time or was killed.
    int Wait(int timeoutMs = 5000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        if (pid <= 0) return -1;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) return -1;
            usleep(10000);
        }
        reaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid = -1;
    int output = -1;
    bool reaped = false;
    std::string printed;
};
