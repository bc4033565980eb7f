#include "tools/worldsim/options.h"

#include <getopt.h>

#include <cctype>
#include <charconv>
#include <cstring>
#include <iterator>

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
           "  --help                  print this text\n"
           "  --version               print worldsim's build and the builds it announces\n"
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

namespace {

// getopt_long's values for the options that are not numbers, above every
// character so that optopt tells an unknown short option from a long one; a
// number option's value is its index in the table of numbers.
enum : int {
    OPTION_SHORT_HELP = 'h',
    OPTION_HELP = 1000,
    OPTION_VERSION,
    OPTION_VERBOSE,
    OPTION_BIND,
    OPTION_WORLD,
    OPTION_CITIZEN,
};

std::string quoted(const char* word) { return std::string("'") + word + "'"; }

}  // namespace

std::string sim_options_version() {
    const SimOptions defaults;
    return "worldsim announces universe build " + std::to_string(defaults.universe_build) + " and world build " +
           std::to_string(defaults.world_build) + "\n";
}

int sim_options_parse(int argc, const char* const* argv, SimOptions* out, std::string* message) {
    struct IntOption {
        const char* name;
        int* target;
        int low;
        int high;
    };
    const IntOption ints[] = {
        {"port", &out->universe_port, 0, 65535},
        {"viewer-port", &out->viewer_port, 0, 65535},
        {"world-port-base", &out->world_port_base, 0, 65535},
        {"bot-limit", &out->bot_limit, 0, 1000000},
        {"universe-build", &out->universe_build, 0, 65535},
        {"world-build", &out->world_build, 19, 65535},
        {"heartbeat", &out->heartbeat_ms, 10, 3600000},
        {"login-timeout", &out->login_timeout_ms, 10, 3600000},
        {"socket-buffer", &out->socket_buffer, 0, 64 << 20},
    };
    std::vector<option> options;
    for (const IntOption& o : ints) {
        options.push_back({o.name, required_argument, nullptr, static_cast<int>(&o - ints)});
    }
    options.insert(options.end(), {
                                      {"help", no_argument, nullptr, OPTION_HELP},
                                      {"version", no_argument, nullptr, OPTION_VERSION},
                                      {"verbose", no_argument, nullptr, OPTION_VERBOSE},
                                      {"bind", required_argument, nullptr, OPTION_BIND},
                                      {"world", required_argument, nullptr, OPTION_WORLD},
                                      {"citizen", required_argument, nullptr, OPTION_CITIZEN},
                                      {nullptr, 0, nullptr, 0},
                                  });
    // getopt_long reorders the words it is given (never their text), so it
    // gets a copy; optind 0 starts it afresh on every parse.
    std::vector<char*> words;
    for (int i = 0; i < argc; ++i) words.push_back(const_cast<char*>(argv[i]));
    words.push_back(nullptr);
    optind = 0;
    opterr = 0;
    for (;;) {
        const int found = getopt_long(argc, words.data(), ":h", options.data(), nullptr);
        if (found == -1) break;
        if (found >= 0 && found < static_cast<int>(std::size(ints))) {
            const IntOption& o = ints[found];
            if (!parse_int(optarg, o.low, o.high, o.target)) {
                *message = std::string("worldsim: --") + o.name + " wants a number from " + std::to_string(o.low) +
                           " to " + std::to_string(o.high) + ", not \"" + optarg + "\"";
                return 2;
            }
            continue;
        }
        switch (found) {
        case OPTION_SHORT_HELP:
        case OPTION_HELP:
            *message = sim_options_usage();
            return 1;
        case OPTION_VERSION:
            *message = sim_options_version();
            return 1;
        case OPTION_VERBOSE:
            out->verbose = true;
            break;
        case OPTION_BIND:
            out->bind = optarg;
            break;
        case OPTION_WORLD:
            if (!valid_world_name(optarg)) {
                *message = std::string("worldsim: a world name has 1 to 8 printable characters without blanks: \"") +
                           optarg + "\"";
                return 2;
            }
            out->worlds.push_back(optarg);
            break;
        case OPTION_CITIZEN: {
            SimCitizen citizen{};
            if (!parse_citizen(optarg, &citizen)) {
                *message = std::string("worldsim: --citizen wants NUMBER:PASSWORD, not \"") + optarg + "\"";
                return 2;
            }
            out->citizens.push_back(citizen);
            break;
        }
        case ':':
            *message = "worldsim: option " + quoted(words[optind - 1]) + " needs a value";
            return 2;
        default: {
            const bool short_option = optopt > 0 && optopt < OPTION_HELP;
            const std::string word = short_option ? std::string{'-', static_cast<char>(optopt)} : words[optind - 1];
            *message = "worldsim: unknown option " + quoted(word.c_str()) + "\n" +
                       sim_options_usage();
            return 2;
        }
        }
    }
    if (optind < argc) {
        *message = "worldsim: unexpected argument " + quoted(words[optind]) + "\n" + sim_options_usage();
        return 2;
    }
    return 0;
}
