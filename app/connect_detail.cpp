#include "app/connect_detail.h"

#include "app/flock_dialog.h"
#include "worldlink/worldlink.h"

namespace {

// Platform socket error numbers come from 10000 up, and pass through the
// library unchanged.
constexpr int FIRST_SOCKET_ERROR = 10000;

struct SocketError {
    int code;
    const char* words;
};

constexpr SocketError SOCKET_ERRORS[] = {
    {10004, "interrupted"},
    {10009, "bad socket"},
    {10013, "permission denied"},
    {10014, "bad address"},
    {10022, "invalid argument"},
    {10024, "too many open sockets"},
    {10035, "would block"},
    {10036, "operation in progress"},
    {10037, "operation already in progress"},
    {10038, "not a socket"},
    {10040, "message too long"},
    {10047, "address family not supported"},
    {10048, "address in use"},
    {10049, "address not available"},
    {10050, "network down"},
    {10051, "network unreachable"},
    {10052, "network reset"},
    {10053, "connection aborted"},
    {10054, "connection reset"},
    {10055, "no buffer space"},
    {10056, "already connected"},
    {10057, "not connected"},
    {10058, "shut down"},
    {10060, "timed out"},
    {10061, "connection refused"},
    {10064, "host down"},
    {10065, "host unreachable"},
    {10091, "network not ready"},
    {10092, "socket version not supported"},
    {10093, "sockets not started"},
    {11001, "host not found"},
    {11002, "try again"},
    {11003, "name lookup failed"},
    {11004, "no such host data"},
};

bool IsSocketError(int code) {
    return code >= FIRST_SOCKET_ERROR;
}

}  // namespace

const char* SocketErrorWords(int code) {
    for (const SocketError& error : SOCKET_ERRORS) {
        if (error.code == code) {
            return error.words;
        }
    }
    return nullptr;
}

std::string FailureWords(int code) {
    const char* words = SocketErrorWords(code);
    return words ? words : FlockDialog::ReasonText(code);
}

std::string UniverseUnreachable(const std::string& host, int port, int code) {
    if (!IsSocketError(code) && code != REASON_UNABLE_TO_CONNECT) {
        return {};
    }
    int shownPort = port == 0 ? DEFAULT_PORT : port;
    return "could not reach " + host + ":" + std::to_string(shownPort) + " (" + FailureWords(code) + ")";
}

std::string WorldUnreachable(const std::string& world, int code) {
    if (!IsSocketError(code)) {
        return {};
    }
    return "could not reach world " + world + " (" + FailureWords(code) + ")";
}

std::string WithDetail(const std::string& message, const std::string& detail) {
    return detail.empty() ? message : message + "\n" + detail;
}
