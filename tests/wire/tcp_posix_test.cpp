// Transport checks that only mean something on POSIX: descriptor numbers,
// descriptor flags and the errno mapping.
#include "tcp_loopback.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

std::atomic<int> name_lookups{0};

}  // namespace

// Counts the resolver's calls, then lets the system's resolver answer.
extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** found) noexcept {
    ++name_lookups;
    using Resolver = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto next = reinterpret_cast<Resolver>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return next(node, service, hints, found);
}

namespace {

using wiretest::TcpLoopback;

TEST_F(TcpLoopback, DescriptorsAboveSelectLimitWork) {
    constexpr int HIGH = 1100;
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_cur <= HIGH + 10) {
        if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max <= HIGH + 10) GTEST_SKIP() << "descriptor limit too low";
        limit.rlim_cur = HIGH + 64;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    }
    const int high = fcntl(static_cast<int>(server->handle), F_DUPFD_CLOEXEC, HIGH);
    ASSERT_GE(high, HIGH);
    close(static_cast<int>(server->handle));
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

// Links are non-blocking and stay out of child processes, on both sides.
TEST_F(TcpLoopback, LinksAreNonBlockingAndCloseOnExec) {
    for (const TcpLink* link : {client, server}) {
        const int fd = static_cast<int>(link->handle);
        EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
        EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    }
    EXPECT_NE(fcntl(static_cast<int>(listener), F_GETFD) & FD_CLOEXEC, 0);
}

TEST(ResolveHost, OnlyNamesGoToTheResolver) {
    const struct {
        const char* host;
        int lookups;
    } cases[] = {{"127.0.0.1", 0}, {"10.1.2.3", 0}, {"127.1", 0}, {"localhost", 1}};
    for (const auto& [host, lookups] : cases) {
        SCOPED_TRACE(host);
        const int before = name_lookups;
        uint32_t address = 0;
        EXPECT_EQ(resolve_host(host, &address), 0);
        EXPECT_EQ(name_lookups - before, lookups);
    }
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
