// Child processes on POSIX: posix_spawn, a pipe for stdout, signals to stop.
#include "tests/support/child_process.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

struct ChildProcess::Process {
    pid_t pid = -1;
    int output = -1;
    bool reaped = false;
};

ChildProcess::ChildProcess(std::vector<std::string> arguments, const char* errorFile)
    : process(std::make_unique<Process>()) {
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
    if (posix_spawn(&process->pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) process->pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    process->output = out[0];
}

ChildProcess::~ChildProcess() {
    if (process->pid > 0 && !process->reaped) {
        kill(process->pid, SIGKILL);
        waitpid(process->pid, nullptr, 0);
    }
    if (process->output >= 0) close(process->output);
}

bool ChildProcess::Started() const { return process->pid > 0; }

bool ChildProcess::ReadUntil(const std::string& text, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (printed.find(text) == std::string::npos) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{process->output, POLLIN, 0};
        char buffer[512];
        ssize_t got = 0;
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0 ||
            (got = read(process->output, buffer, sizeof buffer)) <= 0) {
            return false;
        }
        printed.append(buffer, static_cast<size_t>(got));
    }
    return true;
}

bool ChildProcess::Signal(int signo) { return process->pid > 0 && kill(process->pid, signo) == 0; }

int ChildProcess::Wait(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    if (process->pid <= 0) return -1;
    while (waitpid(process->pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) return -1;
        usleep(10000);
    }
    process->reaped = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
