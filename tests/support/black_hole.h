// A loopback port where connects never complete, as at a host that drops
// packets: a listener with the shortest accept queue, filled and never
// served, so the system drops every further handshake. Where the system
// refuses or completes such connects instead, ok() is false and a test has
// nothing to check.
#pragma once

#include "tests/support/socket_pair.h"

#include <cstdint>
#include <vector>

class BlackHole {
public:
    BlackHole();
    ~BlackHole();
    BlackHole(const BlackHole&) = delete;
    BlackHole& operator=(const BlackHole&) = delete;

    bool ok() const { return holds; }
    // Serves the queue once: a handshake still pending completes at its next
    // try, which the system makes within seconds.
    void release();
    // Host order, and network order as the library holds ports.
    uint16_t port() const { return net_order16(bound); }
    uint16_t port_network() const { return bound; }

private:
    NetworkInUse network;  // first: it outlives every socket below
    SocketHandle listener = NO_SOCKET;
    uint16_t bound = 0;
    std::vector<TcpLink*> queued;
    bool holds = false;
};
