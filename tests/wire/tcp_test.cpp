#include "tcp_loopback.h"

#include "tests/support/black_hole.h"

#include <chrono>
#include <thread>
#include <vector>

namespace {

using wiretest::Bytes;
using wiretest::LOOPBACK;
using wiretest::readable;
using wiretest::TcpLoopback;

TEST_F(TcpLoopback, ReceiveTakesAtMost4096BytesAndNothingIsNotAFailure) {
    int received = -1;
    EXPECT_EQ(tcp_receive(client, Bytes(16).data(), 16, &received), 0);
    EXPECT_EQ(received, 0);

    const Bytes block(10000, 0x5A);
    ASSERT_EQ(tcp_send(server, block.data(), static_cast<int>(block.size())), 0);
    ASSERT_TRUE(readable(client, 2000));
    Bytes into(10000);
    ASSERT_EQ(tcp_receive(client, into.data(), 10000, &received), 0);
    EXPECT_GT(received, 0);
    EXPECT_LE(received, 4096);
}

TEST_F(TcpLoopback, PeerCloseIsReportedNotSignalled) {
    tcp_destroy(server);
    server = nullptr;
    // Writing into a closed connection must come back as a socket error
    // number; a SIGPIPE would end this test binary.
    int reason = 0;
    const Bytes block(512, 1);
    for (int tries = 0; tries < 50 && reason == 0; ++tries) {
        reason = tcp_send(client, block.data(), static_cast<int>(block.size()));
        if (reason == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(reason, 10054);
}

TEST_F(TcpLoopback, WaitWatchesMoreLinksThanItsLocalSlots) {
    EXPECT_EQ(tcp_wait(1, &client, 30), nullptr);
    TcpLink* other_client = nullptr;
    TcpLink* other_server = connect_one(&other_client);
    ASSERT_NE(other_server, nullptr);

    // 70 entries, nulls among them; only the last has input.
    std::vector<TcpLink*> links(70, client);
    for (size_t k = 0; k < links.size(); k += 5) links[k] = nullptr;
    links.back() = other_client;
    const uint8_t byte = 1;
    ASSERT_EQ(tcp_send(other_server, &byte, 1), 0);
    EXPECT_EQ(tcp_wait(static_cast<int>(links.size()), links.data(), 2000), other_client);

    tcp_destroy(other_client);
    tcp_destroy(other_server);
    // Timeout 0 means no limit; with no socket it must still return at once.
    TcpLink* none[3] = {};
    EXPECT_EQ(tcp_wait(3, none, 0), nullptr);
    EXPECT_EQ(tcp_wait(0, nullptr, 0), nullptr);
}

TEST(TcpConnect, OpenedConnectionsDoNotBlockAndRefusedOnesLeaveNothing) {
    const NetworkInUse network;
    SocketHandle listener = NO_SOCKET;
    uint16_t port = 0;
    ASSERT_EQ(tcp_listen(LOOPBACK, 0, &listener, &port), 0);
    Connection* connection = nullptr;
    ASSERT_EQ(connection_open(LOOPBACK, port, &connection), 0);
    EXPECT_FALSE(connection_has_cipher(connection));
    // Never accepted, so nothing can arrive: a blocking socket would hang here.
    EXPECT_EQ(connection_receive(connection), WIRE_NOT_YET);
    connection_close(connection);

    socket_close(listener);
    TcpLink* link = reinterpret_cast<TcpLink*>(&listener);
    EXPECT_EQ(tcp_create(LOOPBACK, port, &link), WIRE_UNABLE_TO_CONNECT);
    EXPECT_EQ(link, nullptr);
    connection = reinterpret_cast<Connection*>(&listener);
    EXPECT_EQ(connection_open(LOOPBACK, port, &connection), WIRE_UNABLE_TO_CONNECT);
    EXPECT_EQ(connection, nullptr);
}

// The wait watches a connecting link for the end of its connect.
TEST(TcpConnect, TheWaitReportsAConnectThatCompletesLater) {
    BlackHole hole;
    if (!hole.ok()) GTEST_SKIP() << "connects to a full accept queue are answered or refused here";
    TcpLink* link = nullptr;
    ASSERT_EQ(tcp_create(LOOPBACK, hole.port_network(), &link), 0);
    ASSERT_TRUE(link->connecting);
    EXPECT_EQ(tcp_connected(link), WIRE_NOT_YET);
    hole.release();
    EXPECT_EQ(tcp_wait(1, &link, 10000), link);
    EXPECT_EQ(tcp_connected(link), 0);
    EXPECT_FALSE(link->connecting);
    tcp_destroy(link);
}

TEST(ResolveHost, DottedAddressesSkipTheLookup) {
    const NetworkInUse network;
    uint32_t address = 0;
    EXPECT_EQ(resolve_host("10.1.2.3", &address), 0);
    EXPECT_EQ(net_order32(address), 0x0A010203u);
    // All-ones is inet_addr's failure value, so it goes to the name lookup,
    // which still reads it as a numeric address.
    EXPECT_EQ(resolve_host("255.255.255.255", &address), 0);
    EXPECT_EQ(address, 0xFFFFFFFFu);
    EXPECT_EQ(resolve_host("", &address), 11001);
    EXPECT_EQ(resolve_host(nullptr, &address), WIRE_NULL_POINTER);
}

}  // namespace
