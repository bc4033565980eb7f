// The wire layer's platform calls on Winsock 2. Winsock already numbers its
// errors the way the layer reports them, so they pass through unchanged.
#include "worldlink/wire/platform.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdlib>
namespace worldlink {


namespace {

SOCKET native(SocketHandle handle) { return static_cast<SOCKET>(handle); }

// A closed or failed socket counts as ready: the next receive or connect
// check reports it.
constexpr SHORT READY_EVENTS = POLLRDNORM | POLLWRNORM | POLLHUP | POLLERR | POLLNVAL;

SocketHandle ours(SOCKET socket) { return socket == INVALID_SOCKET ? NO_SOCKET : static_cast<SocketHandle>(socket); }

// Sockets are kernel handles: keep them out of child processes.
SocketHandle not_inherited(SOCKET socket) {
    if (socket != INVALID_SOCKET) SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    return ours(socket);
}

sockaddr_in ipv4(uint32_t address, uint16_t port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = port;
    peer.sin_addr.s_addr = address;
    return peer;
}

}  // namespace

uint32_t system_milliseconds() { return GetTickCount(); }

// WSAPoll is a Winsock 2 call, so 2.2 is asked for.
int net_start() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return WIRE_NETWORK_START;
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
        WSACleanup();
        return WIRE_NETWORK_START;
    }
    return 0;
}

int net_stop() { return WSACleanup() == 0 ? 0 : WSAGetLastError(); }

int socket_last_error() { return WSAGetLastError(); }

SocketHandle socket_open() { return not_inherited(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)); }

int socket_close(SocketHandle handle) { return closesocket(native(handle)) == 0 ? 0 : WSAGetLastError(); }

bool socket_set_nonblocking(SocketHandle handle) {
    u_long on = 1;
    return ioctlsocket(native(handle), FIONBIO, &on) == 0;
}

void socket_no_delay(SocketHandle handle) {
    const BOOL on = TRUE;
    setsockopt(native(handle), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

int socket_connect(SocketHandle handle, uint32_t address, uint16_t port) {
    const sockaddr_in peer = ipv4(address, port);
    if (connect(native(handle), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return 0;
    return WSAGetLastError() == WSAEWOULDBLOCK ? WIRE_NOT_YET : -1;
}

// A failed connect shows as POLLERR or POLLHUP without POLLWRNORM; should
// SO_ERROR then hold nothing, the connect still counts as refused.
int socket_connect_outcome(SocketHandle handle) {
    WSAPOLLFD watch{native(handle), POLLWRNORM, 0};
    const int ready = WSAPoll(&watch, 1, 0);
    if (ready < 0) return WSAGetLastError();
    if (ready == 0) return WIRE_NOT_YET;
    int error = 0;
    int size = sizeof error;
    if (getsockopt(native(handle), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
        return WSAGetLastError();
    if (error == 0 && !(watch.revents & POLLWRNORM)) return WSAECONNREFUSED;
    return error;
}

// No SO_REUSEADDR: on Windows it lets another socket take over a bound port.
int socket_listen(SocketHandle handle, uint32_t address, uint16_t port, uint16_t* bound_port) {
    sockaddr_in local = ipv4(address, port);
    int size = sizeof local;
    if (bind(native(handle), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        listen(native(handle), SOMAXCONN) != 0 ||
        getsockname(native(handle), reinterpret_cast<sockaddr*>(&local), &size) != 0)
        return -1;
    if (bound_port) *bound_port = local.sin_port;
    return 0;
}

SocketHandle socket_accept(SocketHandle listener) {
    return not_inherited(accept(native(listener), nullptr, nullptr));
}

bool socket_peer(SocketHandle handle, uint32_t* address, uint16_t* port) {
    sockaddr_in peer{};
    int size = sizeof peer;
    if (getpeername(native(handle), reinterpret_cast<sockaddr*>(&peer), &size) != 0 || peer.sin_family != AF_INET)
        return false;
    *address = peer.sin_addr.s_addr;
    *port = peer.sin_port;
    return true;
}

int socket_send(SocketHandle handle, const uint8_t* bytes, int count) {
    return send(native(handle), reinterpret_cast<const char*>(bytes), count, 0);
}

int socket_receive(SocketHandle handle, uint8_t* destination, int count) {
    return recv(native(handle), reinterpret_cast<char*>(destination), count, 0);
}

// WSAPoll, unlike select, has no 64-socket limit. Some Windows versions never
// report a failed connect through it; the transport's connect limit bounds
// that wait.
int socket_wait(const SocketHandle* handles, int count, int timeout_ms, const bool* connecting) {
    ScratchArray<WSAPOLLFD> watch(count);
    if (!watch.data()) return -1;
    for (int k = 0; k < count; ++k) {
        const SHORT events = connecting != nullptr && connecting[k] ? POLLWRNORM : POLLRDNORM;
        watch[k] = WSAPOLLFD{native(handles[k]), events, 0};
    }
    int ready = -1;
    if (WSAPoll(watch.data(), static_cast<ULONG>(count), timeout_ms < 0 ? -1 : timeout_ms) > 0) {
        for (int k = 0; k < count && ready < 0; ++k)
            if (watch[k].revents & READY_EVENTS) ready = k;
    }
    return ready;
}

// Sockets in registration order; a socket's place is found by a search, as
// registering and forgetting are rare beside waiting.
struct SocketSet {
    WSAPOLLFD* watch;
    uintptr_t* tags;
    int count;
    int capacity;
};

namespace {

int set_find(const SocketSet* set, SocketHandle handle) {
    for (int k = 0; k < set->count; ++k)
        if (set->watch[k].fd == native(handle)) return k;
    return -1;
}

bool set_grow(SocketSet* set) {
    const int capacity = set->capacity > 0 ? 2 * set->capacity : 64;
    auto* watch = static_cast<WSAPOLLFD*>(std::realloc(set->watch, sizeof(WSAPOLLFD) * static_cast<size_t>(capacity)));
    if (!watch) return false;
    set->watch = watch;
    auto* tags = static_cast<uintptr_t*>(std::realloc(set->tags, sizeof(uintptr_t) * static_cast<size_t>(capacity)));
    if (!tags) return false;
    set->tags = tags;
    set->capacity = capacity;
    return true;
}

}  // namespace

SocketSet* socket_set_create() {
    auto* set = static_cast<SocketSet*>(std::malloc(sizeof(SocketSet)));
    if (set) *set = SocketSet{nullptr, nullptr, 0, 0};
    return set;
}

void socket_set_destroy(SocketSet* set) {
    if (!set) return;
    std::free(set->watch);
    std::free(set->tags);
    std::free(set);
}

int socket_set_watch(SocketSet* set, SocketHandle handle, bool connecting, uintptr_t tag) {
    int slot = set_find(set, handle);
    if (slot < 0) {
        if (set->count == set->capacity && !set_grow(set)) {
            WSASetLastError(WSAENOBUFS);
            return -1;
        }
        slot = set->count++;
    }
    set->watch[slot] = WSAPOLLFD{native(handle), static_cast<SHORT>(connecting ? POLLWRNORM : POLLRDNORM), 0};
    set->tags[slot] = tag;
    return 0;
}

void socket_set_forget(SocketSet* set, SocketHandle handle) {
    const int slot = set_find(set, handle);
    if (slot < 0) return;
    --set->count;
    set->watch[slot] = set->watch[set->count];
    set->tags[slot] = set->tags[set->count];
}

int socket_set_wait(SocketSet* set, uintptr_t* tags, int room, int timeout_ms) {
    if (set->count == 0 || room <= 0) return 0;
    if (WSAPoll(set->watch, static_cast<ULONG>(set->count), timeout_ms < 0 ? -1 : timeout_ms) < 0) return -1;
    int ready = 0;
    for (int k = 0; k < set->count && ready < room; ++k)
        if (set->watch[k].revents & READY_EVENTS) tags[ready++] = set->tags[k];
    return ready;
}

int socket_resolve(const char* name, uint32_t* address) {
    const unsigned long dotted = inet_addr(name);
    if (dotted != INADDR_NONE) {
        *address = static_cast<uint32_t>(dotted);
        return 0;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int status = getaddrinfo(name, nullptr, &hints, &found); status != 0) return status;
    // Asked for IPv4 only, so every answer is one.
    *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return 0;
}

}  // namespace worldlink
