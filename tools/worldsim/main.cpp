// worldsim: a local universe and world server with a live web viewer.
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

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
    std::printf("universe %s:%d viewer http://%s:%d/\n", options.bind.c_str(), server.universe_port,
                options.bind.c_str(), viewer_port);
    if (!token.empty()) {
        std::printf("viewer token %s: open http://%s:%d/?token=%s to chat and drop\n", token.c_str(),
                    options.bind.c_str(), viewer_port, token.c_str());
    }
    std::fflush(stdout);

    sim_server_run(&server);

    shared.stopping.store(true);
    sim_viewer_stop(viewer);
    sim_server_stop(&server);
    signal_target = nullptr;
    close(shared.wake_fd);
    return 0;
}
