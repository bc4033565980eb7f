// Shared by the wire tests: a Connection whose peer is the raw other end of a
// loopback socket pair, and the LINK_KEY keystream to check enciphered bytes.
#pragma once

#include "tests/support/scripted_peer.h"
#include "tests/support/socket_pair.h"
#include "worldlink/wire/platform.h"
#include "worldlink/wire/wire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

using namespace worldlink;

namespace wiretest {

using Bytes = std::vector<uint8_t>;

// The big-endian length, then the content.
// Sized up front: inserting into the two-byte head trips a false
// -Warray-bounds in g++ 12 at -O3.
inline Bytes framed(const Bytes& content) {
    Bytes frame(content.size() + 2);
    frame[0] = static_cast<uint8_t>(content.size() >> 8);
    frame[1] = static_cast<uint8_t>(content.size());
    std::copy(content.begin(), content.end(), frame.begin() + 2);
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

// `connection` drives one end of a loopback socket pair; the test plays the
// server on `peer()` with plain reads and writes.
struct LinkedPair {
    SocketPair sockets;  // first: it outlives the connection
    Connection* connection = nullptr;

    explicit LinkedPair(int buffer_bytes = 0) : sockets(buffer_bytes) {
        EXPECT_TRUE(sockets.ok());
        EXPECT_EQ(connection_adopt(sockets.take(0), &connection), 0);
    }
    ~LinkedPair() { connection_close(connection); }
    LinkedPair(const LinkedPair&) = delete;
    LinkedPair& operator=(const LinkedPair&) = delete;

    SocketHandle peer() const { return sockets.end(1); }
    void write(const Bytes& bytes) const { ASSERT_TRUE(send_all(peer(), bytes)); }
    // Reads exactly `count` bytes, giving up after two seconds of silence.
    Bytes read(size_t count) const { return receive_up_to(peer(), count); }
    bool peer_has_input() const { return has_input(peer()); }
    // Fills the connection's outgoing socket buffers until they would block;
    // returns how many filler bytes the peer must drain. The bytes in flight
    // settle after the first refusal, so it stops only once several pauses
    // gained nothing (wine moves socket data in the background, in bursts).
    size_t choke() const {
        const SocketHandle handle = connection_handle(connection);
        const Bytes filler(1024, 0xEE);
        size_t sent = 0;
        for (int round = 0, idle = 0; round < 500 && idle < 6; ++round) {
            const size_t before = sent;
            for (int k = 0, n; k < 10000 && (n = socket_send(handle, filler.data(), 1024)) > 0; ++k)
                sent += static_cast<size_t>(n);
            idle = sent == before ? idle + 1 : 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(idle == 0 ? 2 : 10));
        }
        return sent;
    }
};

// A Connection on a socket pair with small buffers (so choke() is quick and
// partial sends happen), with the fake clock installed.
struct PairTest : ::testing::Test {
    static constexpr int SMALL_BUFFERS = 4096;
    FakeClock clock;
    LinkedPair pair{SMALL_BUFFERS};
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
