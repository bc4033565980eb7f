// Portable stand-ins for socketpair, poll and plain reads and writes in tests:
// both ends of one loopback TCP connection, made and driven with the wire
// layer's own calls so every platform runs the same tests.
#pragma once

#include "worldlink/wire/wire.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

using namespace worldlink;

// Holds the socket layer started while it lives. Starts nest (Winsock counts
// them), so tests and the library each keep their own.
class NetworkInUse {
public:
    NetworkInUse() : started(net_start() == 0) {}
    ~NetworkInUse() {
        if (started) net_stop();
    }
    NetworkInUse(const NetworkInUse&) = delete;
    NetworkInUse& operator=(const NetworkInUse&) = delete;
    bool ok() const { return started; }

private:
    bool started;
};

// Two connected non-blocking sockets on 127.0.0.1. Each end is closed with
// the pair unless taken; ok() is false when the connection could not be made.
// With buffer_bytes, both ends get kernel buffers of about that size, so a
// few kilobytes unread fill the connection.
class SocketPair {
public:
    explicit SocketPair(int buffer_bytes = 0);
    ~SocketPair();
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;

    bool ok() const { return ends[0] != NO_SOCKET && ends[1] != NO_SOCKET; }
    SocketHandle end(int index) const { return ends[index]; }
    // The caller owns the end from here (for example connection_adopt).
    SocketHandle take(int index) { return std::exchange(ends[index], NO_SOCKET); }
    // Closes one end now: the other sees the peer gone.
    void close(int index);

private:
    NetworkInUse network;  // first: it outlives both ends
    SocketHandle ends[2] = {NO_SOCKET, NO_SOCKET};
};

// Writes every byte, retrying while the socket would block, for at most two
// seconds; false when the socket fails or stays full.
bool send_all(SocketHandle handle, const std::vector<uint8_t>& bytes);
// Reads up to `count` bytes, giving up after `silence_ms` without input.
std::vector<uint8_t> receive_up_to(SocketHandle handle, size_t count, int silence_ms = 2000);
// True when input (or the peer's close) is waiting now.
bool has_input(SocketHandle handle);
