#include "worldlink/wire/wire.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

// Longest a send may keep blocking before the link counts as dead.
constexpr uint32_t SEND_STALL_LIMIT_MS = 20000;
constexpr int RECEIVE_CHUNK = 4096;

int last_error() { return socket_error_number(errno); }

bool set_nonblocking(int handle) {
    const int flags = fcntl(handle, F_GETFL, 0);
    return flags >= 0 && fcntl(handle, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Small frames leave one at a time; waiting to coalesce them only adds delay.
void disable_coalescing(int handle) {
    const int on = 1;
    setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// A blocking connect interrupted by a signal goes on in the background;
// wait for its outcome instead of calling it a failure.
int connect_blocking(int handle, const sockaddr_in& peer) {
    if (connect(handle, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return 0;
    if (errno == EWOULDBLOCK || errno == EAGAIN) return 0;
    if (errno != EINTR && errno != EINPROGRESS && errno != EALREADY) return -1;
    pollfd watch{handle, POLLOUT, 0};
    int ready;
    do ready = poll(&watch, 1, -1);
    while (ready < 0 && errno == EINTR);
    if (ready < 0) return -1;
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return -1;
    if (error == 0) return 0;
    errno = error;
    return -1;
}

TcpLink* link_allocate(int handle) {
    auto* link = static_cast<TcpLink*>(std::malloc(sizeof(TcpLink)));
    if (!link) return nullptr;
    link->handle = handle;
    link->address = 0;
    link->port = 0;
    link->last_send_at = tick_now();
    return link;
}

}  // namespace

int socket_error_number(int error, bool resolver) {
    for (const ErrorMapping& mapping : ERROR_MAP)
        if (mapping.error == error && mapping.resolver == resolver) return mapping.number;
    return resolver ? UNKNOWN_RESOLVER_ERROR : UNKNOWN_SOCKET_ERROR;
}

// POSIX sockets need no start-up; closed peers must surface as reason codes,
// which every send guarantees with MSG_NOSIGNAL, so nothing process-wide
// (such as the SIGPIPE disposition) is touched here.
int net_start() { return 0; }

int net_stop() { return 0; }

int resolve_host(const char* name, uint32_t* address) {
    if (!name || !address) return WIRE_NULL_POINTER;
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
    if (status != 0) return status == EAI_SYSTEM ? last_error() : socket_error_number(status, true);
    int reason = WSA_HOST_NOT_FOUND;
    for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET) {
            *address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
            reason = 0;
            break;
        }
    }
    freeaddrinfo(found);
    return reason;
}

int tcp_create(uint32_t address, uint16_t port, TcpLink** out) {
    if (!out) return WIRE_NULL_POINTER;
    *out = nullptr;
    TcpLink* link = link_allocate(-1);
    if (!link) return WIRE_OUT_OF_MEMORY;
    link->handle = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (link->handle < 0) {
        std::free(link);
        return WIRE_NO_SOCKET;
    }
    link->address = address;
    link->port = port;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = port;
    peer.sin_addr.s_addr = address;
    int reason = 0;
    if (connect_blocking(link->handle, peer) != 0)
        reason = WIRE_UNABLE_TO_CONNECT;
    else if (!set_nonblocking(link->handle))
        reason = WIRE_NO_NONBLOCKING;
    if (reason != 0) {
        close(link->handle);
        std::free(link);
        return reason;
    }
    disable_coalescing(link->handle);
    link->last_send_at = tick_now();
    *out = link;
    return 0;
}

int tcp_adopt(int handle, TcpLink** out) {
    if (!out) return WIRE_NULL_POINTER;
    *out = nullptr;
    if (handle < 0) return WIRE_NO_SOCKET;
    if (!set_nonblocking(handle)) {
        close(handle);
        return WIRE_NO_NONBLOCKING;
    }
    TcpLink* link = link_allocate(handle);
    if (!link) {
        close(handle);
        return WIRE_OUT_OF_MEMORY;
    }
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    if (getpeername(handle, reinterpret_cast<sockaddr*>(&peer), &size) == 0 && peer.sin_family == AF_INET) {
        link->address = peer.sin_addr.s_addr;
        link->port = peer.sin_port;
    }
    disable_coalescing(handle);
    *out = link;
    return 0;
}

int tcp_destroy(TcpLink* link) {
    if (!link) return 0;
    // Linux releases the descriptor even when close is interrupted.
    const int reason = close(link->handle) == 0 || errno == EINTR ? 0 : last_error();
    std::free(link);
    return reason;
}

int tcp_receive(TcpLink* link, uint8_t* destination, int wanted, int* received) {
    if (received) *received = 0;
    if (!link || !destination || !received) return WIRE_NULL_POINTER;
    // recv of 0 bytes would read as a closed peer.
    if (wanted <= 0) return 0;
    const size_t ask = static_cast<size_t>(wanted < RECEIVE_CHUNK ? wanted : RECEIVE_CHUNK);
    ssize_t got;
    do got = recv(link->handle, destination, ask, 0);
    while (got < 0 && errno == EINTR);
    if (got == 0) return WIRE_RECEIVE_FAILED;
    if (got < 0) {
        const int number = last_error();
        return number == WSA_WOULD_BLOCK || number == WSA_NOT_CONNECTED ? 0 : number;
    }
    *received = static_cast<int>(got);
    return 0;
}

int tcp_send(TcpLink* link, const uint8_t* bytes, int count, int* taken) {
    if (!link || (!bytes && count > 0)) return WIRE_NULL_POINTER;
    if (taken) *taken = 0;
    if (count <= 0) return 0;
    ssize_t sent;
    do sent = send(link->handle, bytes, static_cast<size_t>(count), MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        const int number = last_error();
        if (number != WSA_WOULD_BLOCK && number != WSA_NOT_CONNECTED) return number;
        return tick_elapsed(tick_now(), link->last_send_at) > SEND_STALL_LIMIT_MS ? WIRE_TIMEOUT : WIRE_NOT_YET;
    }
    if (sent < count) {
        if (!taken) return WIRE_SEND_FAILED;
        // Progress, so the link is not stalled: the 20000 ms limit restarts.
        *taken = static_cast<int>(sent);
        link->last_send_at = tick_now();
        return WIRE_NOT_YET;
    }
    if (taken) *taken = count;
    link->last_send_at = tick_now();
    return 0;
}

// poll has no set size, so every non-null link is watched (select would
// stop at FD_SETSIZE and fail on descriptors above it).
TcpLink* tcp_wait(int count, TcpLink* const* links, int timeout_ms) {
    if (count <= 0 || !links) return nullptr;
    constexpr int LOCAL_SLOTS = 64;
    pollfd local[LOCAL_SLOTS];
    pollfd* watch = local;
    if (count > LOCAL_SLOTS) {
        watch = static_cast<pollfd*>(std::malloc(sizeof(pollfd) * static_cast<size_t>(count)));
        if (!watch) return nullptr;
    }
    int watched = 0;
    for (int k = 0; k < count; ++k)
        if (links[k]) watch[watched++] = pollfd{links[k]->handle, POLLIN, 0};
    TcpLink* ready = nullptr;
    if (watched > 0 && poll(watch, static_cast<nfds_t>(watched), timeout_ms > 0 ? timeout_ms : -1) > 0) {
        int slot = 0;
        for (int k = 0; k < count && !ready; ++k) {
            if (!links[k]) continue;
            // A closed or failed socket counts as readable: the next receive
            // reports it.
            if (watch[slot++].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) ready = links[k];
        }
    }
    if (watch != local) std::free(watch);
    return ready;
}

int tcp_listen(uint32_t address, uint16_t port, int* handle, uint16_t* bound_port) {
    if (!handle) return WIRE_NULL_POINTER;
    *handle = -1;
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (listener < 0) return WIRE_NO_SOCKET;
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = port;
    local.sin_addr.s_addr = address;
    socklen_t size = sizeof local;
    if (bind(listener, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 || listen(listener, SOMAXCONN) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        const int number = last_error();
        close(listener);
        return number;
    }
    if (!set_nonblocking(listener)) {
        close(listener);
        return WIRE_NO_NONBLOCKING;
    }
    if (bound_port) *bound_port = local.sin_port;
    *handle = listener;
    return 0;
}

int tcp_accept(int listener, int* handle) {
    if (!handle) return WIRE_NULL_POINTER;
    *handle = -1;
    int accepted;
    do accepted = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    while (accepted < 0 && errno == EINTR);
    if (accepted >= 0) {
        *handle = accepted;
        return 0;
    }
    // A client that gave up before being accepted is simply not there.
    if (errno == EWOULDBLOCK || errno == EAGAIN || errno == ECONNABORTED) return WIRE_NOT_YET;
    return last_error();
}
