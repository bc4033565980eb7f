#include "app/connect_detail.h"

#include "app/flock_dialog.h"
#include "worldlink/wire/wire.h"
#include "worldlink/worldlink.h"

namespace {

// Platform socket error numbers come from 10000 up, and pass through the
// library unchanged.
constexpr int FIRST_SOCKET_ERROR = 10000;

bool IsSocketError(int code) {
    return code >= FIRST_SOCKET_ERROR;
}

}  // namespace

const char* SocketErrorWords(int code) {
    return worldlink::socket_error_words(code);
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
