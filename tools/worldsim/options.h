// worldsim's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SimCitizen {
    int32_t number;
    std::string password;
};

struct SimOptions {
    std::string bind = "127.0.0.1";
    int universe_port = 5670;
    int viewer_port = 5680;
    int world_port_base = 0;        // 0: every world on an ephemeral port
    int universe_build = 24;        // above 22: login replies carry a ticket
    int world_build = 30;           // 28 and above: the newest world login
    int bot_limit = 0;              // sessions per owner; 0: no limit
    int heartbeat_ms = 30000;       // a lone bot must never hear nothing for 90 s
    int login_timeout_ms = 30000;   // no login, or half a frame, for this long: dropped
    int socket_buffer = 0;          // SO_SNDBUF of accepted sockets; 0: the system's
    bool verbose = false;
    std::vector<SimCitizen> citizens;  // empty: every citizen and password accepted
    std::vector<std::string> worlds;   // empty: worlds are made on first lookup
};

// Fills `out` from argv. Returns 0; 1 when --help or --version was asked,
// with the text to print in `message`; or 2 with the error in `message`.
int sim_options_parse(int argc, const char* const* argv, SimOptions* out, std::string* message);

// The usage text.
std::string sim_options_usage();

// What --version prints: the builds announced unless told otherwise.
std::string sim_options_version();
