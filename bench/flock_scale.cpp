// How the flock scales: worldsim as a child process and N birds driven through
// the library exactly as the program drives them (wl_create and wl_login per
// bird, then wl_enter per bird, then avatar and centre with wl_state_change;
// a hop of every bird each 990 ms, the library pumped each 100 ms).
//
// Reported per flock size: time and CPU from "Login" until the last placement
// was sent and the backlog of avatar adds was read, worldsim's CPU over the
// same start, the time to read that backlog, CPU time of one hop tick beside
// the cost of as many bare 22-byte sends on as many sockets, the program's CPU
// share while flying, and resident memory per bird.
// The loopback round trip and connect, measured in the same run, are the floor.
//
//   flock_scale                       10, 100 and 1000 birds, a Markdown table
//   flock_scale --birds 10,100 --birds 9000
//                                     the sizes, each in a fresh process
//   flock_scale --no-chat             no handler installed (event mask 0)
//   flock_scale --stop-after-start    no flight: start figures only
//   flock_scale --flight flock        the flock flight's tick in place of the hop's
//   flock_scale --json                one JSON object per size, one per line
#include <arpa/inet.h>
#include <getopt.h>
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
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/flight.h"
#include "app/flight_settings.h"
#include "app/flock_flight.h"
#include "tools/worldsim/launch.h"
#include "worldlink/worldlink.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int CENTRE_Y = 5000;
constexpr int HOP_PERIOD_MS = 990;
constexpr int PUMP_PERIOD_MS = 100;
constexpr int HOP_TICKS = 5;

// How long the backlog and the viewer's picture may take to settle: two
// minutes, and 20 ms more per bird, so 9000 birds get five.
double settle_limit_ms(int birds) { return 120000.0 + 20.0 * birds; }

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

// A listener on 127.0.0.1 with an ephemeral port; its address in `address`.
int loopback_listener(int backlog, sockaddr_in& address) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener, backlog);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    return listener;
}

// A connected pair through the listener, both ends without send delay;
// false (and whatever was opened closed) when the system refuses.
bool loopback_pair(int listener, const sockaddr_in& address, int& client, int& server) {
    client = socket(AF_INET, SOCK_STREAM, 0);
    server = -1;
    if (client >= 0 && connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        server = accept(listener, nullptr, nullptr);
    if (server < 0) {
        if (client >= 0) close(client);
        return false;
    }
    int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return true;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// Median time of a loopback connect and its accept: the floor of each link
// a bird opens.
double loopback_connect_us() {
    sockaddr_in address;
    int listener = loopback_listener(SOMAXCONN, address);
    std::vector<double> connects;
    for (int i = 0; i < 500; ++i) {
        auto start = Clock::now();
        int client = -1;
        int server = -1;
        if (!loopback_pair(listener, address, client, server)) break;
        connects.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        close(client);
        close(server);
    }
    close(listener);
    return median(connects);
}

// Median round trip of one byte over a loopback TCP connection.
double loopback_round_trip_us() {
    sockaddr_in address;
    int listener = loopback_listener(1, address);
    int client = -1;
    int server = -1;
    if (!loopback_pair(listener, address, client, server)) {
        close(listener);
        return 0;
    }
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
    return median(trips);
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

bool all_placed(httplib::Client& viewer, int birds) {
    auto answer = viewer.Get("/api/worlds/flock/avatars");
    if (!answer || answer->status != 200) return false;
    nlohmann::json avatars = nlohmann::json::parse(answer->body, nullptr, false);
    if (!avatars.is_array()) return false;
    int placed = 0;
    for (const auto& a : avatars) placed += !a["visitor"].get<bool>() && a["y"] == CENTRE_Y;
    return placed == birds;
}

struct Options {
    std::vector<int> sizes;
    bool chat = true;
    bool fly = true;
    bool json = false;
    bool flock = false;  // the flock flight, not the hop
};

// One 22-byte send on each of `count` loopback connections (a state change
// is that long on the wire): the floor of a hop tick. The connections stay
// open, so the floor can be taken again beside each tick.
struct SendFloor {
    explicit SendFloor(int count) {
        listener = loopback_listener(SOMAXCONN, address);
        for (int k = 0; k < count; ++k) {
            int client = -1;
            int server = -1;
            if (!loopback_pair(listener, address, client, server)) break;
            sockets.push_back(client);
            sockets.push_back(server);
        }
        complete = sockets.size() / 2 == static_cast<size_t>(count);
    }
    ~SendFloor() {
        for (int fd : sockets) close(fd);
        close(listener);
    }
    SendFloor(const SendFloor&) = delete;
    SendFloor& operator=(const SendFloor&) = delete;

    // CPU milliseconds of one send on each connection; -1 when they could
    // not all be opened.
    double measure() const {
        const uint8_t frame[22] = {0, 22};
        double start = cpu_ms();
        for (size_t k = 0; k < sockets.size(); k += 2) send(sockets[k], frame, sizeof frame, MSG_NOSIGNAL);
        return complete ? cpu_ms() - start : -1;
    }

    sockaddr_in address{};
    int listener = -1;
    std::vector<int> sockets;
    bool complete = false;
};

void on_chat() {}

int run_one(int birds, const Options& options) {
    raise_file_limit();  // worldsim inherits it
    std::optional<SendFloor> send_floor(std::in_place, std::min(birds, 1000));
    double floor_ms = send_floor->measure();
    // Kept only for the flight: the largest bare flocks need every file.
    if (!options.fly) send_floor.reset();
    SimProcess sim;
    std::string error;
    if (sim_process_start(WORLDSIM_BINARY, {"--port", "0", "--viewer-port", "0", "--world", "flock"}, &sim, 10000,
                          &error) != 0) {
        std::fprintf(stderr, "flock_scale: %s\n", error.c_str());
        return 1;
    }
    long rss_before = rss_kib();
    wl_init(LIBRARY_BUILD);
    // The program's one handler gives the same event mask (0x05).
    if (options.chat) wl_event_set(EVENT_CHAT, on_chat);
    std::vector<Instance*> flock;
    int failed = 0;

    const double cpu_before = cpu_ms();
    const double server_cpu_before = child_cpu_ms(sim.pid);
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
    const double placed_sent_ms = ms_since(login);
    if (failed != 0) {
        std::fprintf(stderr, "flock_scale: %d birds: a bird failed with reason %d\n", birds, failed);
        wl_term();
        sim_process_stop(&sim, 5000);
        return 1;
    }

    // Everyone hears of everyone (the chat handler asks for avatars), so a
    // big flock has a backlog of avatar adds to read before it flies.
    auto settle = Clock::now();
    for (;;) {
        auto pass = Clock::now();
        wl_wait(0);
        if (ms_since(pass) < 20 || ms_since(settle) > settle_limit_ms(birds)) break;
    }
    const double settle_ms = ms_since(settle);
    const double start_cpu = cpu_ms() - cpu_before;
    const double server_start_cpu = child_cpu_ms(sim.pid) - server_cpu_before;

    httplib::Client viewer("127.0.0.1", sim.viewer_port);
    viewer.set_read_timeout(10, 0);
    while (!all_placed(viewer, birds) && ms_since(login) < settle_limit_ms(birds)) wl_wait(10);
    const double placed_seen_ms = ms_since(login);
    long rss_after = rss_kib();

    // Fly: pump every 100 ms, hop every 990 ms, as the program's timers do.
    // The send floor is taken again just before each tick, and both figures
    // are the medians over the ticks, so a tick and its floor see the same
    // machine.
    double hop_cpu = 0;
    double flight_share = 0;
    double server_hop_cpu = 0;
    // The flock flight works on the program's bird records.
    BirdList records;
    FlockFlight flock_flight;
    if (options.fly && options.flock) {
        for (Instance* bird : flock) records.Append().instance = bird;
        flock_flight.Start(records, FlockParameters{}, Vec3{0, CENTRE_Y, 0});
    }
    if (options.fly) {
        double flight_cpu = cpu_ms();
        double server_cpu = child_cpu_ms(sim.pid);
        std::vector<double> ticks;
        std::vector<double> floors;
        auto flight = Clock::now();
        auto next_hop = flight + std::chrono::milliseconds(HOP_PERIOD_MS);
        while (static_cast<int>(ticks.size()) < HOP_TICKS) {
            if (Clock::now() >= next_hop) {
                floors.push_back(send_floor->measure());
                double start = cpu_ms();
                if (options.flock) {
                    flock_flight.Tick(records, [](Bird&, int) {});
                } else {
                    for (Instance* bird : flock) hop(bird);
                }
                ticks.push_back(cpu_ms() - start);
                next_hop += std::chrono::milliseconds(HOP_PERIOD_MS);
            }
            wl_wait(0);
            std::this_thread::sleep_for(std::chrono::milliseconds(PUMP_PERIOD_MS));
        }
        flight_share = 100.0 * (cpu_ms() - flight_cpu) / ms_since(flight);
        server_hop_cpu = (child_cpu_ms(sim.pid) - server_cpu) / HOP_TICKS;
        hop_cpu = median(ticks);
        floor_ms = median(floors);
    }
    wl_term();
    sim_process_stop(&sim, 5000);
    nlohmann::json result = {
        {"birds", birds},
        {"flight", options.flock ? "flock" : "hop"},
        {"mask", options.chat ? 5 : 0},
        {"start_ms", placed_sent_ms},
        {"start_cpu_ms", start_cpu},
        {"worldsim_start_cpu_ms", server_start_cpu},
        {"placed_seen_ms", placed_seen_ms},
        {"backlog_ms", settle_ms},
        {"hop_cpu_ms", options.fly ? nlohmann::json(hop_cpu) : nlohmann::json()},
        {"flight_cpu_percent", options.fly ? nlohmann::json(flight_share) : nlohmann::json()},
        {"worldsim_hop_cpu_ms", options.fly ? nlohmann::json(server_hop_cpu) : nlohmann::json()},
        {"send_floor_ms", floor_ms},
        {"send_floor_sockets", std::min(birds, 1000)},
        {"rss_per_bird_kib", static_cast<double>(rss_after - rss_before) / birds},
    };
    std::printf("%s\n", result.dump().c_str());
    return 0;
}

// Runs this program again for one size and returns its JSON line.
std::string run_child(int birds, const Options& options) {
    char path[] = "/tmp/flock-scale-XXXXXX";
    int fd = mkstemp(path);
    std::string self = "/proc/self/exe";
    std::string count = std::to_string(birds);
    std::vector<char*> argv{self.data(), const_cast<char*>("--child"), count.data()};
    if (!options.chat) argv.push_back(const_cast<char*>("--no-chat"));
    if (!options.fly) argv.push_back(const_cast<char*>("--stop-after-start"));
    if (options.flock) {
        argv.push_back(const_cast<char*>("--flight"));
        argv.push_back(const_cast<char*>("flock"));
    }
    argv.push_back(nullptr);
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

std::string ms_text(const nlohmann::json& value, const char* format) {
    if (!value.is_number()) return "-";
    char text[32];
    std::snprintf(text, sizeof text, format, value.get<double>());
    return text;
}

void print_row(int birds, const nlohmann::json& r) {
    if (r.is_discarded() || !r.is_object()) {
        std::printf("| %d | failed | | | | | | | |\n", birds);
        return;
    }
    std::printf("| %d | %s | %s | %s | %s | %s | %s | %s | %s |\n", birds, ms_text(r["start_ms"], "%.0f ms").c_str(),
                ms_text(r["start_cpu_ms"], "%.0f ms").c_str(), ms_text(r["placed_seen_ms"], "%.0f ms").c_str(),
                ms_text(r["backlog_ms"], "%.0f ms").c_str(), ms_text(r["hop_cpu_ms"], "%.2f ms").c_str(),
                ms_text(r["send_floor_ms"], "%.2f ms").c_str(), ms_text(r["flight_cpu_percent"], "%.1f %%").c_str(),
                ms_text(r["rss_per_bird_kib"], "%.0f KiB").c_str());
}

bool parse_sizes(const char* text, std::vector<int>& sizes) {
    std::stringstream list(text);
    for (std::string item; std::getline(list, item, ',');) {
        char* end = nullptr;
        long birds = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || birds < 1 || birds > 100000) return false;
        sizes.push_back(static_cast<int>(birds));
    }
    return true;
}

constexpr const char* USAGE =
    "usage: flock_scale [--birds N[,N...]]... [--no-chat] [--stop-after-start] [--flight hop|flock] [--json]\n";

}  // namespace

int main(int argc, char** argv) {
    enum { BIRDS = 1, NO_CHAT, STOP_AFTER_START, JSON, CHILD, FLIGHT };
    const option longs[] = {{"birds", required_argument, nullptr, BIRDS},
                            {"no-chat", no_argument, nullptr, NO_CHAT},
                            {"stop-after-start", no_argument, nullptr, STOP_AFTER_START},
                            {"json", no_argument, nullptr, JSON},
                            {"flight", required_argument, nullptr, FLIGHT},
                            {"child", required_argument, nullptr, CHILD},
                            {nullptr, 0, nullptr, 0}};
    Options options;
    int child = 0;
    for (int opt; (opt = getopt_long(argc, argv, "", longs, nullptr)) != -1;) {
        switch (opt) {
        case BIRDS:
            if (!parse_sizes(optarg, options.sizes)) {
                std::fprintf(stderr, "flock_scale: --birds takes sizes such as 10,100\n%s", USAGE);
                return 2;
            }
            break;
        case NO_CHAT: options.chat = false; break;
        case STOP_AFTER_START: options.fly = false; break;
        case JSON: options.json = true; break;
        case FLIGHT: {
            const std::optional<FlightMode> mode = ParseFlightMode(optarg);
            if (!mode) {
                std::fprintf(stderr, "flock_scale: --flight takes %s\n%s", FLIGHT_MODES, USAGE);
                return 2;
            }
            options.flock = *mode == FlightMode::Flock;
            break;
        }
        case CHILD: child = std::atoi(optarg); break;
        default: std::fprintf(stderr, "%s", USAGE); return 2;
        }
    }
    if (optind != argc) {
        std::fprintf(stderr, "%s", USAGE);
        return 2;
    }
    if (child > 0) return run_one(child, options);
    if (options.sizes.empty()) options.sizes = {10, 100, 1000};
    const double round_trip = loopback_round_trip_us();
    const double connect = loopback_connect_us();
    if (!options.json) {
        std::printf("loopback round trip (median of 2000): %.1f us, connect and accept (median of 500): %.1f us\n\n",
                    round_trip, connect);
        std::printf("| birds | start | start CPU (with backlog) | all placed in worldsim | backlog read "
                    "| program CPU per hop tick | bare sends, same count | program CPU while flying "
                    "| resident memory per bird |\n");
        std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    }
    int status = 0;
    for (int birds : options.sizes) {
        const std::string line = run_child(birds, options);
        nlohmann::json result = nlohmann::json::parse(line, nullptr, false);
        if (!result.is_object()) status = 1;
        if (options.json) {
            if (!result.is_object()) result = {{"birds", birds}, {"mask", options.chat ? 5 : 0}, {"failed", true}};
            result["round_trip_us"] = round_trip;
            result["connect_us"] = connect;
            std::printf("%s\n", result.dump().c_str());
        } else {
            print_row(birds, result);
        }
        std::fflush(stdout);
    }
    return status;
}
