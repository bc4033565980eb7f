#include "wire_test_support.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <sys/resource.h>

#include <vector>

namespace {

using wiretest::Bytes;

const uint32_t LOOPBACK = htonl(INADDR_LOOPBACK);

bool readable(const TcpLink* link, int timeout_ms) {
    pollfd watch{static_cast<int>(link->handle), POLLIN, 0};
    return poll(&watch, 1, timeout_ms) > 0;
}

// A client link and the server side of the same loopback connection.
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
        if (listener >= 0) close(listener);
        EXPECT_EQ(net_stop(), 0);
    }

    // Connects a new client; returns the adopted server end.
    TcpLink* connect_one(TcpLink** out_client) const {
        if (tcp_create(LOOPBACK, port, out_client) != 0) return nullptr;
        SocketHandle accepted = NO_SOCKET;
        pollfd watch{static_cast<int>(listener), POLLIN, 0};
        for (int tries = 0; tries < 100 && tcp_accept(listener, &accepted) == WIRE_NOT_YET; ++tries) poll(&watch, 1, 20);
        TcpLink* link = nullptr;
        return tcp_adopt(accepted, &link) == 0 ? link : nullptr;
    }
};

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
        if (reason == 0) poll(nullptr, 0, 10);
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

TEST_F(TcpLoopback, DescriptorsAboveSelectLimitWork) {
    constexpr int HIGH = 1100;
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_cur <= HIGH + 10) {
        if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max <= HIGH + 10) GTEST_SKIP() << "descriptor limit too low";
        limit.rlim_cur = HIGH + 64;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    }
    const int high = fcntl(server->handle, F_DUPFD_CLOEXEC, HIGH);
    ASSERT_GE(high, HIGH);
    close(server->handle);
    server->handle = high;

    const uint8_t byte = 9;
    ASSERT_EQ(tcp_send(client, &byte, 1), 0);
    TcpLink* links[] = {client, server};
    EXPECT_EQ(tcp_wait(2, links, 2000), server);
    uint8_t got = 0;
    int received = 0;
    EXPECT_EQ(tcp_receive(server, &got, 1, &received), 0);
    EXPECT_EQ(received, 1);
    EXPECT_EQ(got, 9);
}

TEST(TcpConnect, OpenedConnectionsDoNotBlockAndRefusedOnesLeaveNothing) {
    SocketHandle listener = NO_SOCKET;
    uint16_t port = 0;
    ASSERT_EQ(tcp_listen(LOOPBACK, 0, &listener, &port), 0);
    Connection* connection = nullptr;
    ASSERT_EQ(connection_open(LOOPBACK, port, &connection), 0);
    EXPECT_FALSE(connection_has_cipher(connection));
    EXPECT_GE(fcntl(connection_handle(connection), F_GETFL) & O_NONBLOCK, 1);
    connection_close(connection);

    close(listener);
    TcpLink* link = reinterpret_cast<TcpLink*>(&listener);
    EXPECT_EQ(tcp_create(LOOPBACK, port, &link), WIRE_UNABLE_TO_CONNECT);
    EXPECT_EQ(link, nullptr);
    connection = reinterpret_cast<Connection*>(&listener);
    EXPECT_EQ(connection_open(LOOPBACK, port, &connection), WIRE_UNABLE_TO_CONNECT);
    EXPECT_EQ(connection, nullptr);
}

TEST(ResolveHost, DottedAddressesSkipTheLookup) {
    uint32_t address = 0;
    EXPECT_EQ(resolve_host("10.1.2.3", &address), 0);
    EXPECT_EQ(ntohl(address), 0x0A010203u);
    // All-ones is inet_addr's failure value, so it goes to the name lookup,
    // which still reads it as a numeric address.
    EXPECT_EQ(resolve_host("255.255.255.255", &address), 0);
    EXPECT_EQ(address, 0xFFFFFFFFu);
    EXPECT_EQ(resolve_host("", &address), 11001);
    EXPECT_EQ(resolve_host(nullptr, &address), WIRE_NULL_POINTER);
}

TEST(SocketErrors, ResolverAndSocketNumbersAreSeparateSpaces) {
    EXPECT_EQ(socket_error_number(EAI_NONAME, true), 11001);
    EXPECT_EQ(socket_error_number(EWOULDBLOCK), 10035);
    // The same small number means different things in the two spaces.
    EXPECT_NE(socket_error_number(-2, true), socket_error_number(-2));
    EXPECT_EQ(socket_error_number(99999), 10000);
    EXPECT_GE(socket_error_number(99999, true), 10000);
}

}  // namespace
