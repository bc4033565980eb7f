#include "tools/worldsim/launch.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

bool sim_parse_port_line(const std::string& line, int* universe_port, int* viewer_port) {
    char address[64] = {};
    char viewer_address[64] = {};
    int universe = 0;
    int viewer = 0;
    if (std::sscanf(line.c_str(), "universe %63[^:]:%d viewer http://%63[^:]:%d/", address, &universe,
                    viewer_address, &viewer) != 4) {
        return false;
    }
    if (universe <= 0 || universe > 65535 || viewer <= 0 || viewer > 65535) return false;
    *universe_port = universe;
    *viewer_port = viewer;
    return true;
}

std::string sim_process_output(const SimProcess& process) {
    std::ifstream file(process.output_path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

int sim_process_start(const std::string& binary, const std::vector<std::string>& arguments, SimProcess* out,
                      int timeout_ms, std::string* error) {
    // A file, not a pipe: nobody has to keep reading it for the child to go on.
    char path[] = "/tmp/worldsim-out-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        *error = "cannot make a file for worldsim's output";
        return -1;
    }
    out->output_path = path;
    std::vector<std::string> words{binary};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO);
    int spawned = posix_spawn(&out->pid, binary.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fd);
    if (spawned != 0) {
        out->pid = -1;
        *error = "cannot start " + binary;
        return -1;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
        std::istringstream lines(sim_process_output(*out));
        for (std::string line; std::getline(lines, line);) {
            if (sim_parse_port_line(line, &out->universe_port, &out->viewer_port)) return 0;
        }
        int status = 0;
        if (waitpid(out->pid, &status, WNOHANG) == out->pid) {
            out->pid = -1;
            *error = "worldsim ended before it printed its ports";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    *error = "worldsim printed no port line in time";
    sim_process_stop(out, 2000);
    return -1;
}

int sim_process_stop(SimProcess* process, int timeout_ms) {
    if (process->pid <= 0) return -1;
    kill(process->pid, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    for (;;) {
        pid_t done = waitpid(process->pid, &status, WNOHANG);
        if (done == process->pid) break;
        if (done < 0) {
            status = -1;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(process->pid, SIGKILL);
            waitpid(process->pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    process->pid = -1;
    if (!process->output_path.empty()) std::remove(process->output_path.c_str());
    process->output_path.clear();
    return status;
}
