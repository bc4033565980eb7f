// How the flock scales: worldsim as a child process and N birds driven through
// the library exactly as the program drives them (wl_create and wl_login per
// bird, then wl_enter per bird, then avatar and centre with wl_state_change;
// a hop of every bird each 990 ms, the library pumped each 100 ms).
//
// Reported per flock size: time from "Login" until the last placement was
// sent and until worldsim shows every bird at the centre, the time to read
// the backlog of avatar adds, CPU time of one hop tick in the program and in
// worldsim, the program's CPU share while flying, and resident memory per
// bird.
// The loopback round trip, measured in the same run, is the floor.
//
//   flock_scale                 10, 100 and 1000 birds, each in a fresh process
//   flock_scale --birds N       one size, one result line
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "app/flight.h"
#include "tools/worldsim/launch.h"
#include "worldlink/worldlink.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int CENTRE_Y = 5000;
constexpr int HOP_PERIOD_MS = 990;
constexpr int PUMP_PERIOD_MS = 100;
constexpr int HOP_TICKS = 5;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double cpu_ms() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// utime + stime of another process, in milliseconds.
double child_cpu_ms(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    size_t paren = text.rfind(')');
    if (paren == std::string::npos) return 0;
    std::istringstream fields(text.substr(paren + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i) fields >> skip;  // state .. cmajflt
    double user = 0, system = 0;
    fields >> user >> system;
    return (user + system) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long rss_kib() {
    std::ifstream file("/proc/self/status");
    for (std::string line; std::getline(file, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

void raise_file_limit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// Median round trip of one byte over a loopback TCP connection.
double loopback_round_trip_us() {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener, 1);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    int client = socket(AF_INET, SOCK_STREAM, 0);
    connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int server = accept(listener, nullptr, nullptr);
    int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::vector<double> trips;
    char byte = 'x';
    for (int i = 0; i < 2000; ++i) {
        auto start = Clock::now();
        if (send(client, &byte, 1, 0) != 1 || recv(server, &byte, 1, 0) != 1) break;
        if (send(server, &byte, 1, 0) != 1 || recv(client, &byte, 1, 0) != 1) break;
        trips.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    close(client);
    close(server);
    close(listener);
    if (trips.empty()) return 0;
    std::nth_element(trips.begin(), trips.begin() + trips.size() / 2, trips.end());
    return trips[trips.size() / 2];
}

// One hop of one bird, as the program's hop timer makes it.
void hop(Instance* bird) {
    wl_instance_set(bird);
    int dx = HopStep(wl_random());
    int dz = HopStep(wl_random());
    int x = wl_int(ATTR_MY_X) + dx;
    int z = wl_int(ATTR_MY_Z) + dz;
    wl_int_set(ATTR_MY_YAW, HopYaw(dz, dx));
    wl_int_set(ATTR_MY_Z, z);
    wl_int_set(ATTR_MY_X, x);
    wl_state_change();
}

void on_chat() {}

bool all_placed(httplib::Client& viewer, int birds) {
    auto answer = viewer.Get("/api/worlds/flock/avatars");
    if (!answer || answer->status != 200) return false;
    nlohmann::json avatars = nlohmann::json::parse(answer->body, nullptr, false);
    if (!avatars.is_array()) return false;
    int placed = 0;
    for (const auto& a : avatars) placed += !a["visitor"].get<bool>() && a["y"] == CENTRE_Y;
    return placed == birds;
}

int run_one(int birds) {
    raise_file_limit();
    SimProcess sim;
    std::string error;
    if (sim_process_start(WORLDSIM_BINARY, {"--port", "0", "--viewer-port", "0", "--world", "flock"}, &sim, 10000,
                          &error) != 0) {
        std::fprintf(stderr, "flock_scale: %s\n", error.c_str());
        return 1;
    }
    long rss_before = rss_kib();
    wl_init(LIBRARY_BUILD);
    wl_event_set(EVENT_CHAT, on_chat);  // the program's one handler, so the same event mask
    std::vector<Instance*> flock;
    int failed = 0;

    auto login = Clock::now();
    for (int i = 1; i <= birds && failed == 0; ++i) {
        Instance* bird = nullptr;
        failed = wl_create("127.0.0.1", sim.universe_port, &bird);
        if (failed != 0) break;
        flock.push_back(bird);
        std::string name = "Bird" + std::to_string(i);
        wl_int_set(ATTR_LOGIN_OWNER, 1);
        wl_string_set(ATTR_LOGIN_PASSWORD, "secret");
        wl_string_set(ATTR_LOGIN_NAME, name.c_str());
        failed = wl_login();
    }
    for (size_t i = 0; i < flock.size() && failed == 0; ++i) {
        wl_instance_set(flock[i]);
        failed = wl_enter("flock");
    }
    for (Instance* bird : flock) {
        wl_instance_set(bird);
        wl_int_set(ATTR_MY_TYPE, 1);
        wl_int_set(ATTR_MY_X, 0);
        wl_int_set(ATTR_MY_Z, 0);
        wl_int_set(ATTR_MY_Y, CENTRE_Y);
        wl_state_change();
    }
    double placed_sent_ms = ms_since(login);
    if (failed != 0) {
        std::fprintf(stderr, "flock_scale: %d birds: a bird failed with reason %d\n", birds, failed);
        wl_term();
        sim_process_stop(&sim, 5000);
        return 1;
    }
    httplib::Client viewer("127.0.0.1", sim.viewer_port);
    viewer.set_read_timeout(10, 0);
    while (!all_placed(viewer, birds) && ms_since(login) < 120000) wl_wait(10);
    double placed_seen_ms = ms_since(login);
    long rss_after = rss_kib();

    // Everyone hears of everyone (the chat handler asks for avatars), so a
    // big flock has a backlog of avatar adds to read before it flies.
    auto settle = Clock::now();
    for (;;) {
        auto pass = Clock::now();
        wl_wait(0);
        if (ms_since(pass) < 20 || ms_since(settle) > 120000) break;
    }
    double settle_ms = ms_since(settle);

    // Fly: pump every 100 ms, hop every 990 ms, as the program's timers do.
    double hop_cpu = 0;
    double flight_cpu = cpu_ms();
    double server_cpu_before = child_cpu_ms(sim.pid);
    auto flight = Clock::now();
    auto next_hop = flight + std::chrono::milliseconds(HOP_PERIOD_MS);
    for (int tick = 0; tick < HOP_TICKS;) {
        if (Clock::now() >= next_hop) {
            double start = cpu_ms();
            for (Instance* bird : flock) hop(bird);
            hop_cpu += cpu_ms() - start;
            ++tick;
            next_hop += std::chrono::milliseconds(HOP_PERIOD_MS);
        }
        wl_wait(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(PUMP_PERIOD_MS));
    }
    double flight_s = ms_since(flight) / 1000.0;
    flight_cpu = cpu_ms() - flight_cpu;
    double server_cpu = child_cpu_ms(sim.pid) - server_cpu_before;
    wl_term();
    sim_process_stop(&sim, 5000);
    std::printf("%d %.1f %.1f %.1f %.3f %.1f %.3f %.1f\n", birds, placed_sent_ms, placed_seen_ms, settle_ms,
                hop_cpu / HOP_TICKS, 100.0 * flight_cpu / (flight_s * 1000.0), server_cpu / HOP_TICKS,
                static_cast<double>(rss_after - rss_before) / birds);
    return 0;
}

// Runs this program again with --birds N and returns its result line.
std::string run_child(int birds) {
    char path[] = "/tmp/flock-scale-XXXXXX";
    int fd = mkstemp(path);
    std::string self = "/proc/self/exe";
    std::string count = std::to_string(birds);
    std::vector<char*> argv{self.data(), const_cast<char*>("--birds"), count.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fd);
    int status = 0;
    if (spawned == 0) waitpid(pid, &status, 0);
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    std::remove(path);
    return spawned == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? line : "";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--birds") == 0) return run_one(std::atoi(argv[2]));
    std::printf("loopback round trip (median of 2000): %.1f us\n\n", loopback_round_trip_us());
    std::printf("| birds | Login to last placement sent | Login to all placed in worldsim | backlog read "
                "| program CPU per hop tick | program CPU while flying | worldsim CPU per hop tick "
                "| resident memory per bird |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    int status = 0;
    for (int birds : {10, 100, 1000}) {
        std::string line = run_child(birds);
        int n = 0;
        double sent = 0, seen = 0, settle = 0, cpu = 0, share = 0, server = 0, kib = 0;
        if (std::sscanf(line.c_str(), "%d %lf %lf %lf %lf %lf %lf %lf", &n, &sent, &seen, &settle, &cpu, &share,
                        &server, &kib) != 8) {
            std::printf("| %d | failed | | | | | | |\n", birds);
            status = 1;
            continue;
        }
        std::printf("| %d | %.0f ms | %.0f ms | %.0f ms | %.2f ms | %.1f %% | %.2f ms | %.0f KiB |\n", n, sent, seen,
                    settle, cpu, share, server, kib);
        std::fflush(stdout);
    }
    return status;
}
