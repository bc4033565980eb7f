// Who may use the viewer's HTTP API. Any web page the user visits can make
// the browser send a simple request (a form or text/plain POST) to our port,
// and a page whose host name is rebound to 127.0.0.1 can even read the
// answers. So every request must name us in Host, a browser's Origin must be
// ours, and writes must carry JSON, which browsers send across sites only
// after a preflight that is never answered. Off loopback, writes also need
// the token worldsim prints at start.
#pragma once

#include <string>

inline constexpr const char* SIM_TOKEN_HEADER = "X-Worldsim-Token";

struct SimGuard {
    std::string bound;  // the IPv4 address the viewer listens on
    int port;
    std::string token;  // empty: writes need none
};

struct SimGuardRequest {
    std::string method;
    std::string host;          // the Host header
    std::string origin;        // the Origin header; empty when absent
    std::string content_type;
    std::string token;         // the SIM_TOKEN_HEADER header
};

// 0 when the request may proceed; otherwise the HTTP status to refuse it
// with (403, 405 or 415) and the reason in `why`.
int sim_guard_check(const SimGuard& guard, const SimGuardRequest& request, std::string* why);

// True for 127.0.0.0/8: nobody else can reach the viewer there.
bool sim_address_is_loopback(const std::string& address);

// 32 hex digits from the system's random source.
std::string sim_guard_new_token();
