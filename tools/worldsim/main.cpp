// worldsim: a local universe and world server with a live web viewer.
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "tools/worldsim/server.h"
#include "tools/worldsim/viewer.h"
#include "tools/worldsim/viewer_guard.h"

namespace {

SimShared* signal_target = nullptr;

void on_signal(int) {
    if (signal_target == nullptr) return;
    signal_target->stopping.store(true);
    sim_shared_wake(signal_target);
}

// A thousand bots hold two sockets each.
void raise_file_limit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

// Holds back what is printed to stdout meanwhile: the worlds that --world
// names announce themselves as they open, inside the server's start, yet the
// ports line, known only once the viewer listens too, must come first.
class HeldOutput {
public:
    HeldOutput() {
        std::fflush(stdout);
        held_ = std::tmpfile();
        saved_ = dup(STDOUT_FILENO);
        if (held_ == nullptr || saved_ < 0 || dup2(fileno(held_), STDOUT_FILENO) < 0) restore();
    }
    HeldOutput(const HeldOutput&) = delete;
    HeldOutput& operator=(const HeldOutput&) = delete;
    ~HeldOutput() {
        restore();
        if (held_ != nullptr) std::fclose(held_);
    }

    // Stdout as it was; what was held follows once `first` is printed.
    void release(const std::string& first) {
        restore();
        std::fputs(first.c_str(), stdout);
        if (held_ != nullptr) {
            std::rewind(held_);
            char buffer[4096];
            for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, held_)) > 0;) std::fwrite(buffer, 1, got, stdout);
        }
        std::fflush(stdout);
    }

private:
    void restore() {
        if (saved_ < 0) return;
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
        saved_ = -1;
    }

    std::FILE* held_ = nullptr;
    int saved_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
    SimOptions options;
    std::string message;
    int parsed = sim_options_parse(argc, argv, &options, &message);
    if (parsed != 0) {
        std::fputs(message.c_str(), parsed == 1 ? stdout : stderr);
        if (parsed == 2) std::fputc('\n', stderr);
        return parsed == 1 ? 0 : 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    raise_file_limit();

    HeldOutput held;
    SimShared shared;
    SimServer server{};
    if (sim_server_start(&server, options, &shared, &message) != 0) {
        std::fprintf(stderr, "%s\n", message.c_str());
        sim_server_stop(&server);
        return 1;
    }
    int viewer_port = 0;
    // Off loopback others can reach the viewer, so writes need the printed token.
    std::string token = sim_address_is_loopback(options.bind) ? "" : sim_guard_new_token();
    SimViewer* viewer = sim_viewer_start(&shared, options.bind, options.viewer_port, token, &viewer_port, &message);
    if (viewer == nullptr) {
        std::fprintf(stderr, "%s\n", message.c_str());
        sim_server_stop(&server);
        return 1;
    }
    signal_target = &shared;
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::string ports = "universe " + options.bind + ":" + std::to_string(server.universe_port) + " viewer http://" +
                        options.bind + ":" + std::to_string(viewer_port) + "/\n";
    if (!token.empty()) {
        ports += "viewer token " + token + ": open http://" + options.bind + ":" + std::to_string(viewer_port) +
                 "/?token=" + token + " to chat and drop\n";
    }
    held.release(ports);

    sim_server_run(&server);

    shared.stopping.store(true);
    sim_viewer_stop(viewer);
    sim_server_stop(&server);
    signal_target = nullptr;
    close(shared.wake_fd);
    return 0;
}
