// The wire layer's platform calls on POSIX sockets.
#include "worldlink/wire/platform.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace worldlink {

namespace {

// Transport failures keep the Windows socket numbering so the reason codes
// the library shows are the same on every platform.
struct ErrorMapping {
    int error;
    bool resolver;  // a getaddrinfo EAI_ value rather than an errno
    int number;
};

constexpr ErrorMapping ERROR_MAP[] = {
    {EINTR, false, 10004},
    {EBADF, false, 10009},
    {EACCES, false, 10013},
    {EPERM, false, 10013},
    {EFAULT, false, 10014},
    {EINVAL, false, 10022},
    {EMFILE, false, 10024},
    {ENFILE, false, 10024},
    {EWOULDBLOCK, false, WSA_WOULD_BLOCK},
#if EAGAIN != EWOULDBLOCK
    {EAGAIN, false, WSA_WOULD_BLOCK},
#endif
    {EINPROGRESS, false, 10036},
    {EALREADY, false, 10037},
    {ENOTSOCK, false, 10038},
    {EDESTADDRREQ, false, 10039},
    {EMSGSIZE, false, 10040},
    {EPROTOTYPE, false, 10041},
    {ENOPROTOOPT, false, 10042},
    {EPROTONOSUPPORT, false, 10043},
    {ESOCKTNOSUPPORT, false, 10044},
    {EOPNOTSUPP, false, 10045},
#if ENOTSUP != EOPNOTSUPP
    {ENOTSUP, false, 10045},
#endif
    {EPFNOSUPPORT, false, 10046},
    {EAFNOSUPPORT, false, 10047},
    {EADDRINUSE, false, 10048},
    {EADDRNOTAVAIL, false, 10049},
    {ENETDOWN, false, 10050},
    {ENETUNREACH, false, 10051},
    {ENETRESET, false, 10052},
    {ECONNABORTED, false, 10053},
    {ECONNRESET, false, 10054},
    // A send to a peer that has gone reports a reset on Windows.
    {EPIPE, false, 10054},
    {ENOBUFS, false, 10055},
    {ENOMEM, false, 10055},
    {EISCONN, false, 10056},
    {ENOTCONN, false, WSA_NOT_CONNECTED},
    {ESHUTDOWN, false, 10058},
    {ETOOMANYREFS, false, 10059},
    {ETIMEDOUT, false, 10060},
    {ECONNREFUSED, false, 10061},
    {ELOOP, false, 10062},
    {ENAMETOOLONG, false, 10063},
    {EHOSTDOWN, false, 10064},
    {EHOSTUNREACH, false, 10065},
    {ENOTEMPTY, false, 10066},
    {EUSERS, false, 10068},
    {EDQUOT, false, 10069},
    {ESTALE, false, 10070},
    {EREMOTE, false, 10071},
    {EAI_NONAME, true, WSA_HOST_NOT_FOUND},
    {EAI_AGAIN, true, 11002},
    {EAI_FAIL, true, 11003},
#ifdef EAI_NODATA
    {EAI_NODATA, true, 11004},
#endif
#ifdef EAI_ADDRFAMILY
    {EAI_ADDRFAMILY, true, 11004},
#endif
    {EAI_MEMORY, true, 10055},
    {EAI_FAMILY, true, 10047},
    {EAI_SOCKTYPE, true, 10044},
    {EAI_SERVICE, true, 10109},
    {EAI_BADFLAGS, true, 10022},
};

// Unknown errno values report the base of the numbering, 10000, which no
// real socket error uses; unknown resolver failures report "non-recoverable".
constexpr int UNKNOWN_SOCKET_ERROR = 10000;
constexpr int UNKNOWN_RESOLVER_ERROR = 11003;

sockaddr_in ipv4(uint32_t address, uint16_t port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = port;
    peer.sin_addr.s_addr = address;
    return peer;
}

}  // namespace

int socket_error_number(int error, bool resolver) {
    for (const ErrorMapping& mapping : ERROR_MAP)
        if (mapping.error == error && mapping.resolver == resolver) return mapping.number;
    return resolver ? UNKNOWN_RESOLVER_ERROR : UNKNOWN_SOCKET_ERROR;
}

uint32_t system_milliseconds() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

// POSIX sockets need no start-up; closed peers must surface as reason codes,
// which every send guarantees with MSG_NOSIGNAL, so nothing process-wide
// (such as the SIGPIPE disposition) is touched here.
int net_start() { return 0; }

int net_stop() { return 0; }

int socket_last_error() { return socket_error_number(errno); }

SocketHandle socket_open() { return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP); }

int socket_close(SocketHandle handle) {
    // Linux releases the descriptor even when close is interrupted.
    return close(static_cast<int>(handle)) == 0 || errno == EINTR ? 0 : socket_last_error();
}

bool socket_set_nonblocking(SocketHandle handle) {
    const int fd = static_cast<int>(handle);
    const int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void socket_no_delay(SocketHandle handle) {
    const int on = 1;
    setsockopt(static_cast<int>(handle), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// An interrupted connect goes on in the background, like one in progress.
int socket_connect(SocketHandle handle, uint32_t address, uint16_t port) {
    const sockaddr_in peer = ipv4(address, port);
    if (connect(static_cast<int>(handle), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return 0;
    return errno == EINPROGRESS || errno == EINTR || errno == EALREADY ? WIRE_NOT_YET : -1;
}

int socket_connect_outcome(SocketHandle handle) {
    const int fd = static_cast<int>(handle);
    pollfd watch{fd, POLLOUT, 0};
    int ready;
    do ready = poll(&watch, 1, 0);
    while (ready < 0 && errno == EINTR);
    if (ready < 0) return socket_last_error();
    if (ready == 0) return WIRE_NOT_YET;
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return socket_last_error();
    return error == 0 ? 0 : socket_error_number(error);
}

int socket_listen(SocketHandle handle, uint32_t address, uint16_t port, uint16_t* bound_port) {
    const int fd = static_cast<int>(handle);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local = ipv4(address, port);
    socklen_t size = sizeof local;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 || listen(fd, SOMAXCONN) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0)
        return -1;
    if (bound_port) *bound_port = local.sin_port;
    return 0;
}

SocketHandle socket_accept(SocketHandle listener) {
    const int accepted = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return accepted >= 0 ? accepted : NO_SOCKET;
}

bool socket_peer(SocketHandle handle, uint32_t* address, uint16_t* port) {
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    if (getpeername(static_cast<int>(handle), reinterpret_cast<sockaddr*>(&peer), &size) != 0 ||
        peer.sin_family != AF_INET)
        return false;
    *address = peer.sin_addr.s_addr;
    *port = peer.sin_port;
    return true;
}

int socket_send(SocketHandle handle, const uint8_t* bytes, int count) {
    return static_cast<int>(send(static_cast<int>(handle), bytes, static_cast<size_t>(count), MSG_NOSIGNAL));
}

int socket_receive(SocketHandle handle, uint8_t* destination, int count) {
    return static_cast<int>(recv(static_cast<int>(handle), destination, static_cast<size_t>(count), 0));
}

// poll has no set size, so every socket is watched (select would stop at
// FD_SETSIZE and fail on descriptors above it).
int socket_wait(const SocketHandle* handles, int count, int timeout_ms, const bool* connecting) {
    ScratchArray<pollfd> watch(count);
    if (!watch.data()) return -1;
    for (int k = 0; k < count; ++k) {
        const short events = connecting != nullptr && connecting[k] ? POLLOUT : POLLIN;
        watch[k] = pollfd{static_cast<int>(handles[k]), events, 0};
    }
    int ready = -1;
    if (poll(watch.data(), static_cast<nfds_t>(count), timeout_ms < 0 ? -1 : timeout_ms) > 0) {
        // A closed or failed socket counts as ready: the next receive or
        // connect check reports it.
        for (int k = 0; k < count && ready < 0; ++k)
            if (watch[k].revents & (POLLIN | POLLOUT | POLLHUP | POLLERR | POLLNVAL)) ready = k;
    }
    return ready;
}

struct SocketSet {
    int epoll;
    epoll_event* events;  // what one wait hands back, kept between waits
    int room;
};

SocketSet* socket_set_create() {
    auto* set = static_cast<SocketSet*>(std::malloc(sizeof(SocketSet)));
    if (!set) return nullptr;
    *set = SocketSet{epoll_create1(EPOLL_CLOEXEC), nullptr, 0};
    if (set->epoll < 0) {
        std::free(set);
        return nullptr;
    }
    return set;
}

void socket_set_destroy(SocketSet* set) {
    if (!set) return;
    close(set->epoll);
    std::free(set->events);
    std::free(set);
}

// Hang-ups and errors are reported whatever is asked for.
int socket_set_watch(SocketSet* set, SocketHandle handle, bool connecting, uintptr_t tag) {
    epoll_event event{};
    event.events = connecting ? EPOLLOUT : EPOLLIN;
    event.data.u64 = tag;
    const int fd = static_cast<int>(handle);
    if (epoll_ctl(set->epoll, EPOLL_CTL_ADD, fd, &event) == 0) return 0;
    if (errno != EEXIST) return -1;
    return epoll_ctl(set->epoll, EPOLL_CTL_MOD, fd, &event) == 0 ? 0 : -1;
}

void socket_set_forget(SocketSet* set, SocketHandle handle) {
    epoll_ctl(set->epoll, EPOLL_CTL_DEL, static_cast<int>(handle), nullptr);
}

int socket_set_wait(SocketSet* set, uintptr_t* tags, int room, int timeout_ms) {
    if (room <= 0) return 0;
    if (room > set->room) {
        auto* grown = static_cast<epoll_event*>(std::realloc(set->events, sizeof(epoll_event) * static_cast<size_t>(room)));
        if (!grown) return -1;
        set->events = grown;
        set->room = room;
    }
    const int ready = epoll_wait(set->epoll, set->events, room, timeout_ms < 0 ? -1 : timeout_ms);
    for (int k = 0; k < ready; ++k) tags[k] = set->events[k].data.u64;
    return ready;
}

int socket_resolve(const char* name, uint32_t* address) {
    const in_addr_t dotted = inet_addr(name);
    if (dotted != INADDR_NONE) {
        *address = dotted;
        return 0;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int status = getaddrinfo(name, nullptr, &hints, &found);
    if (status != 0) return status == EAI_SYSTEM ? socket_last_error() : socket_error_number(status, true);
    // Asked for IPv4 only, so every answer is one.
    *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return 0;
}

}  // namespace worldlink
