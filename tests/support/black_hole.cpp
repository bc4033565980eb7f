#include "tests/support/black_hole.h"

#include "tests/support/socket_buffers.h"
#include "worldlink/wire/platform.h"

namespace {

// How long a probe must stay unanswered; a loopback handshake takes far less.
constexpr int PROBE_MS = 200;
constexpr int MOST_QUEUED = 8;

}  // namespace

BlackHole::BlackHole() {
    listener = socket_open();
    if (listener == NO_SOCKET || socket_listen_short(listener, &bound) != 0) return;
    const uint32_t loopback = net_order32(LOOPBACK_ADDRESS);
    for (int k = 0; k < MOST_QUEUED; ++k) {
        TcpLink* probe = nullptr;
        if (tcp_create(loopback, bound, &probe) != 0) return;
        const bool connecting = true;
        if (probe->connecting && socket_wait(&probe->handle, 1, PROBE_MS, &connecting) < 0) {
            holds = tcp_connected(probe) == WIRE_NOT_YET;
            tcp_destroy(probe);
            return;
        }
        // Completed (or ended otherwise): it takes a place in the queue.
        queued.push_back(probe);
    }
}

void BlackHole::release() {
    for (size_t k = 0; k < queued.size(); ++k) {
        const SocketHandle accepted = socket_accept(listener);
        if (accepted != NO_SOCKET) socket_close(accepted);
    }
}

BlackHole::~BlackHole() {
    for (TcpLink* link : queued) tcp_destroy(link);
    if (listener != NO_SOCKET) socket_close(listener);
}
