// Shared by the wire tests: a Connection whose peer is the raw other end of a
// local socket pair, and the LINK_KEY keystream to check enciphered bytes.
#pragma once

#include "tests/support/scripted_peer.h"
#include "worldlink/wire/wire.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

namespace wiretest {

using Bytes = std::vector<uint8_t>;

// The big-endian length, then the content.
inline Bytes framed(const Bytes& content) {
    Bytes frame{static_cast<uint8_t>(content.size() >> 8), static_cast<uint8_t>(content.size())};
    frame.insert(frame.end(), content.begin(), content.end());
    return frame;
}

// Keeps calling connection_receive until a frame is whole (bounded).
inline int receive_frame(Connection* connection) {
    int reason = WIRE_NOT_YET;
    for (int tries = 0; tries < 200 && reason == WIRE_NOT_YET; ++tries) {
        reason = connection_receive(connection);
        if (reason == WIRE_NOT_YET) connection_wait(1, &connection, 10);
    }
    return reason;
}

// `connection` drives one end of a socketpair; the test plays the server on
// `peer` with plain reads and writes.
struct LinkedPair {
    Connection* connection = nullptr;
    int peer = -1;

    LinkedPair() {
        int ends[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        EXPECT_EQ(connection_adopt(ends[0], &connection), 0);
        peer = ends[1];
    }
    ~LinkedPair() {
        connection_close(connection);
        if (peer >= 0) close(peer);
    }
    LinkedPair(const LinkedPair&) = delete;
    LinkedPair& operator=(const LinkedPair&) = delete;

    void write(const Bytes& bytes) const {
        ASSERT_EQ(::send(peer, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    }
    // Reads exactly `count` bytes, giving up after two seconds of silence.
    Bytes read(size_t count) const {
        Bytes out(count);
        size_t have = 0;
        pollfd watch{peer, POLLIN, 0};
        while (have < count && poll(&watch, 1, 2000) > 0) {
            const ssize_t got = ::recv(peer, out.data() + have, count - have, 0);
            if (got <= 0) break;
            have += static_cast<size_t>(got);
        }
        out.resize(have);
        return out;
    }
    bool peer_has_input() const {
        pollfd watch{peer, POLLIN, 0};
        return poll(&watch, 1, 0) > 0;
    }
    // Fills the connection's outgoing socket buffer until it would block;
    // returns how many filler bytes the peer must drain.
    size_t choke() const {
        const int handle = connection_handle(connection);
        const int small = 4096;
        setsockopt(handle, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        const Bytes filler(1024, 0xEE);
        size_t sent = 0;
        for (int k = 0; k < 100000; ++k) {
            const ssize_t n = ::send(handle, filler.data(), filler.size(), MSG_DONTWAIT);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        return sent;
    }
};

// A Connection on a socket pair, with the fake clock installed.
struct PairTest : ::testing::Test {
    FakeClock clock;
    LinkedPair pair;
    Connection* c = pair.connection;
    uint8_t type = 0;

    // Packs one message and checks the bytes the peer receives.
    void expect_sent(std::initializer_list<PackItem> items, const Bytes& wire) {
        ASSERT_EQ(msg_pack(c, items), 0);
        EXPECT_EQ(pair.read(wire.size()), wire);
    }
    void deliver(const Bytes& frame) {
        pair.write(frame);
        ASSERT_EQ(receive_frame(c), 0);
    }
};

// The first `count` bytes of the LINK_KEY keystream after `discard` bytes.
inline Bytes link_keystream(size_t count, int discard = 0) {
    Rc4State* state = rc4_create(LINK_KEY, sizeof LINK_KEY);
    rc4_skip(state, discard);
    Bytes out(count);
    for (auto& b : out) b = rc4_next(state);
    rc4_destroy(state);
    return out;
}

inline Bytes xor_with(Bytes bytes, const Bytes& key, size_t from = 0) {
    for (size_t k = from; k < bytes.size(); ++k) bytes[k] ^= key[k - from];
    return bytes;
}

}  // namespace wiretest
