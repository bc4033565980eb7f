#include "tools/worldsim/viewer_guard.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <random>

namespace {

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool is_ipv4(const std::string& text) {
    in_addr address{};
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// "name:port" with our port and a name we answer to. A wildcard bind answers
// on every address of the machine, and an address literal cannot be
// rebound, so any IPv4 literal is ours there.
bool host_allowed(const SimGuard& guard, const std::string& host) {
    size_t colon = host.rfind(':');
    if (colon == std::string::npos || host.substr(colon + 1) != std::to_string(guard.port)) return false;
    std::string name = lower(host.substr(0, colon));
    if (name == "localhost" || name == "127.0.0.1" || name == guard.bound) return true;
    return guard.bound == "0.0.0.0" && is_ipv4(name);
}

// No Origin: not a browser, or a browser fetching from its own page.
bool origin_allowed(const SimGuard& guard, const std::string& origin) {
    static const std::string scheme = "http://";
    if (origin.empty()) return true;
    return lower(origin).rfind(scheme, 0) == 0 && host_allowed(guard, origin.substr(scheme.size()));
}

bool is_json(const std::string& content_type) {
    std::string media = content_type.substr(0, content_type.find(';'));
    size_t first = media.find_first_not_of(" \t");
    size_t last = media.find_last_not_of(" \t");
    if (first == std::string::npos) return false;
    return lower(media.substr(first, last - first + 1)) == "application/json";
}

// Compares every byte, so the time taken tells nothing of the token.
bool same_token(const std::string& expected, const std::string& given) {
    if (expected.size() != given.size()) return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        difference |= static_cast<unsigned char>(expected[i] ^ given[i]);
    }
    return difference == 0;
}

}  // namespace

int sim_guard_check(const SimGuard& guard, const SimGuardRequest& request, std::string* why) {
    if (!host_allowed(guard, request.host)) {
        std::string names = guard.bound == "127.0.0.1" ? "" : guard.bound + ", ";
        *why = "worldsim answers only to " + names + "localhost or 127.0.0.1 with port " + std::to_string(guard.port);
        return 403;
    }
    if (!origin_allowed(guard, request.origin)) {
        *why = "requests from other web pages are refused";
        return 403;
    }
    if (request.method == "GET" || request.method == "HEAD") return 0;
    if (request.method != "POST") {
        *why = "only GET and POST are answered";
        return 405;
    }
    if (!is_json(request.content_type)) {
        *why = "send the body as application/json";
        return 415;
    }
    if (!guard.token.empty() && !same_token(guard.token, request.token)) {
        *why = "the viewer token is missing or wrong: open the viewer address worldsim printed at start";
        return 403;
    }
    return 0;
}

bool sim_address_is_loopback(const std::string& address) {
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) return false;
    return (ntohl(parsed.s_addr) >> 24) == 127;
}

std::string sim_guard_new_token() {
    std::random_device source;
    std::string token;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<uint32_t>(source()));
        token += part;
    }
    return token;
}
