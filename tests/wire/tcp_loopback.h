// A client link and the server side of the same loopback connection, for the
// transport tests of every platform.
#pragma once

#include "wire_test_support.h"

namespace wiretest {

inline const uint32_t LOOPBACK = net_order32(LOOPBACK_ADDRESS);

inline bool readable(const TcpLink* link, int timeout_ms) { return socket_wait(&link->handle, 1, timeout_ms) == 0; }

struct TcpLoopback : ::testing::Test {
    SocketHandle listener = NO_SOCKET;
    uint16_t port = 0;
    TcpLink* client = nullptr;
    TcpLink* server = nullptr;

    void SetUp() override {
        ASSERT_EQ(net_start(), 0);
        ASSERT_EQ(tcp_listen(LOOPBACK, 0, &listener, &port), 0);
        ASSERT_NE(port, 0);
        server = connect_one(&client);
        ASSERT_NE(server, nullptr);
    }
    void TearDown() override {
        tcp_destroy(client);
        tcp_destroy(server);
        if (listener != NO_SOCKET) socket_close(listener);
        EXPECT_EQ(net_stop(), 0);
    }

    // Connects a new client; returns the adopted server end.
    TcpLink* connect_one(TcpLink** out_client) const {
        if (tcp_create(LOOPBACK, port, out_client) != 0) return nullptr;
        SocketHandle accepted = NO_SOCKET;
        for (int tries = 0; tries < 100 && tcp_accept(listener, &accepted) == WIRE_NOT_YET; ++tries)
            socket_wait(&listener, 1, 20);
        TcpLink* link = nullptr;
        return tcp_adopt(accepted, &link) == 0 ? link : nullptr;
    }
};

}  // namespace wiretest
