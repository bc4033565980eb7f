#include "tools/worldsim/options.h"

#include <cctype>
#include <charconv>
#include <cstring>

namespace {

bool parse_int(const char* text, int low, int high, int* out) {
    int value = 0;
    const char* end = text + std::strlen(text);
    auto [rest, error] = std::from_chars(text, end, value);
    if (error != std::errc() || rest != end || value < low || value > high) return false;
    *out = value;
    return true;
}

// "NUMBER:PASSWORD"; the password may be empty but the colon is required.
bool parse_citizen(const char* text, SimCitizen* out) {
    const char* colon = std::strchr(text, ':');
    if (colon == nullptr || colon == text) return false;
    int number = 0;
    std::string digits(text, colon);
    if (!parse_int(digits.c_str(), 0, 0x7fffffff, &number)) return false;
    out->number = number;
    out->password = colon + 1;
    return out->password.size() <= 255;
}

bool valid_world_name(const std::string& name) {
    if (name.empty() || name.size() > 8) return false;
    for (char c : name) {
        if (std::isspace(static_cast<unsigned char>(c)) || !std::isprint(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

}  // namespace

std::string sim_options_usage() {
    return "usage: worldsim [options]\n"
           "  --bind ADDRESS          listen address (default 127.0.0.1)\n"
           "  --port N                universe port, 0 picks one (default 5670)\n"
           "  --viewer-port N         web viewer port, 0 picks one (default 5680)\n"
           "  --world-port-base N     first world port; 0 picks one per world (default 0)\n"
           "  --world NAME            serve only the named worlds (repeatable)\n"
           "  --citizen N:PASSWORD    accept only these citizens (repeatable)\n"
           "  --bot-limit N           sessions per owner (default: no limit)\n"
           "  --universe-build N      universe build announced (default 24)\n"
           "  --world-build N         world build announced (default 30)\n"
           "  --heartbeat MS          world flag period (default 30000)\n"
           "  --login-timeout MS      drop connections that do not log in, or stop\n"
           "                          half-way through a frame, for this long (default 30000)\n"
           "  --socket-buffer BYTES   send buffer of accepted sockets (default: the system's)\n"
           "  --verbose               log logins and drops on stderr\n"
           "With --port 0 or --viewer-port 0 the chosen ports appear on the first line\n"
           "of stdout: universe ADDRESS:PORT viewer http://ADDRESS:PORT/\n";
}

int sim_options_parse(int argc, const char* const* argv, SimOptions* out, std::string* message) {
    struct IntOption {
        const char* name;
        int* target;
        int low;
        int high;
    };
    const IntOption ints[] = {
        {"--port", &out->universe_port, 0, 65535},
        {"--viewer-port", &out->viewer_port, 0, 65535},
        {"--world-port-base", &out->world_port_base, 0, 65535},
        {"--bot-limit", &out->bot_limit, 0, 1000000},
        {"--universe-build", &out->universe_build, 0, 65535},
        {"--world-build", &out->world_build, 19, 65535},
        {"--heartbeat", &out->heartbeat_ms, 10, 3600000},
        {"--login-timeout", &out->login_timeout_ms, 10, 3600000},
        {"--socket-buffer", &out->socket_buffer, 0, 64 << 20},
    };
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            *message = sim_options_usage();
            return 1;
        }
        if (option == "--verbose") {
            out->verbose = true;
            continue;
        }
        if (i + 1 >= argc) {
            *message = "worldsim: " + option + (option.rfind("--", 0) == 0 ? " needs a value" : ": unknown option");
            return 2;
        }
        const char* value = argv[++i];
        bool known = false;
        for (const IntOption& o : ints) {
            if (option != o.name) continue;
            known = true;
            if (!parse_int(value, o.low, o.high, o.target)) {
                *message = "worldsim: " + option + " wants a number from " + std::to_string(o.low) + " to " +
                           std::to_string(o.high) + ", not \"" + value + "\"";
                return 2;
            }
        }
        if (known) continue;
        if (option == "--bind") {
            out->bind = value;
        } else if (option == "--world") {
            std::string name = value;
            if (!valid_world_name(name)) {
                *message = "worldsim: a world name has 1 to 8 printable characters without blanks: \"" + name + "\"";
                return 2;
            }
            out->worlds.push_back(name);
        } else if (option == "--citizen") {
            SimCitizen citizen{};
            if (!parse_citizen(value, &citizen)) {
                *message = std::string("worldsim: --citizen wants NUMBER:PASSWORD, not \"") + value + "\"";
                return 2;
            }
            out->citizens.push_back(citizen);
        } else {
            *message = "worldsim: unknown option " + option + "\n" + sim_options_usage();
            return 2;
        }
    }
    return 0;
}
