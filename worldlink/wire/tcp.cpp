// The TCP transport: links, reason codes and the send stall limit, over the
// platform's socket calls (platform.h).
#include "worldlink/wire/platform.h"

#include <cstdlib>

namespace worldlink {

namespace {

// Longest a send may keep blocking before the link counts as dead.
constexpr uint32_t SEND_STALL_LIMIT_MS = 20000;
// Longest a connect may go on: a peer that drops packets would otherwise hold
// it for the kernel's own limit of minutes.
constexpr uint32_t CONNECT_LIMIT_MS = 10000;
constexpr int RECEIVE_CHUNK = 4096;

TcpLink* link_allocate(SocketHandle handle) {
    auto* link = static_cast<TcpLink*>(std::malloc(sizeof(TcpLink)));
    if (!link) return nullptr;
    link->handle = handle;
    link->address = 0;
    link->port = 0;
    link->last_send_at = tick_now();
    link->connecting = false;
    return link;
}

bool would_block(int number) { return number == WSA_WOULD_BLOCK || number == WSA_NOT_CONNECTED; }

}  // namespace

int resolve_host(const char* name, uint32_t* address) {
    if (!name || !address) return WIRE_NULL_POINTER;
    // Some resolvers take "" for the local machine; no host was named.
    if (*name == '\0') return WSA_HOST_NOT_FOUND;
    return socket_resolve(name, address);
}

int tcp_create(uint32_t address, uint16_t port, TcpLink** out) {
    if (!out) return WIRE_NULL_POINTER;
    *out = nullptr;
    TcpLink* link = link_allocate(NO_SOCKET);
    if (!link) return WIRE_OUT_OF_MEMORY;
    link->handle = socket_open();
    if (link->handle == NO_SOCKET) {
        std::free(link);
        return WIRE_NO_SOCKET;
    }
    link->address = address;
    link->port = port;
    int reason = socket_set_nonblocking(link->handle) ? 0 : WIRE_NO_NONBLOCKING;
    if (reason == 0) {
        const int started = socket_connect(link->handle, address, port);
        link->connecting = started == WIRE_NOT_YET;
        // A loopback connect has often ended by now, refused ones included.
        reason = started == -1 ? WIRE_UNABLE_TO_CONNECT : tcp_connected(link);
    }
    if (reason != 0 && reason != WIRE_NOT_YET) {
        socket_close(link->handle);
        std::free(link);
        return reason;
    }
    if (!link->connecting) socket_no_delay(link->handle);
    *out = link;
    return 0;
}

int tcp_connected(TcpLink* link) {
    if (!link) return WIRE_NULL_POINTER;
    if (!link->connecting) return 0;
    const int outcome = socket_connect_outcome(link->handle);
    if (outcome == WIRE_NOT_YET) {
        if (tick_elapsed(tick_now(), link->last_send_at) >= CONNECT_LIMIT_MS) return WSA_TIMED_OUT;
        return WIRE_NOT_YET;
    }
    if (outcome != 0) return WIRE_UNABLE_TO_CONNECT;
    link->connecting = false;
    socket_no_delay(link->handle);
    // The send stall limit counts from here, not from the start of the connect.
    link->last_send_at = tick_now();
    return 0;
}

uint32_t tcp_connect_deadline(const TcpLink* link) { return link->last_send_at + CONNECT_LIMIT_MS; }

int tcp_adopt(SocketHandle handle, TcpLink** out) {
    if (!out) return WIRE_NULL_POINTER;
    *out = nullptr;
    if (handle == NO_SOCKET) return WIRE_NO_SOCKET;
    if (!socket_set_nonblocking(handle)) {
        socket_close(handle);
        return WIRE_NO_NONBLOCKING;
    }
    TcpLink* link = link_allocate(handle);
    if (!link) {
        socket_close(handle);
        return WIRE_OUT_OF_MEMORY;
    }
    socket_peer(handle, &link->address, &link->port);
    socket_no_delay(handle);
    *out = link;
    return 0;
}

int tcp_destroy(TcpLink* link) {
    if (!link) return 0;
    const int reason = socket_close(link->handle);
    std::free(link);
    return reason;
}

int tcp_receive(TcpLink* link, uint8_t* destination, int wanted, int* received) {
    if (received) *received = 0;
    if (!link || !destination || !received) return WIRE_NULL_POINTER;
    // recv of 0 bytes would read as a closed peer.
    if (wanted <= 0) return 0;
    int got;
    do got = socket_receive(link->handle, destination, wanted < RECEIVE_CHUNK ? wanted : RECEIVE_CHUNK);
    while (got < 0 && socket_last_error() == WSA_INTERRUPTED);
    if (got == 0) return WIRE_RECEIVE_FAILED;
    if (got < 0) {
        const int number = socket_last_error();
        return would_block(number) ? 0 : number;
    }
    *received = got;
    return 0;
}

int tcp_send(TcpLink* link, const uint8_t* bytes, int count, int* taken) {
    if (!link || (!bytes && count > 0)) return WIRE_NULL_POINTER;
    if (taken) *taken = 0;
    if (count <= 0) return 0;
    int sent;
    do sent = socket_send(link->handle, bytes, count);
    while (sent < 0 && socket_last_error() == WSA_INTERRUPTED);
    if (sent < 0) {
        const int number = socket_last_error();
        if (!would_block(number)) return number;
        return tick_elapsed(tick_now(), link->last_send_at) > SEND_STALL_LIMIT_MS ? WIRE_TIMEOUT : WIRE_NOT_YET;
    }
    if (sent < count) {
        if (!taken) return WIRE_SEND_FAILED;
        // Progress, so the link is not stalled: the 20000 ms limit restarts.
        *taken = sent;
        link->last_send_at = tick_now();
        return WIRE_NOT_YET;
    }
    if (taken) *taken = count;
    link->last_send_at = tick_now();
    return 0;
}

TcpLink* tcp_wait(int count, TcpLink* const* links, int timeout_ms) {
    if (count <= 0 || !links) return nullptr;
    ScratchArray<SocketHandle> handles(count);
    ScratchArray<bool> connecting(count);
    if (!handles.data() || !connecting.data()) return nullptr;
    int watched = 0;
    for (int k = 0; k < count; ++k) {
        if (!links[k]) continue;
        handles[watched] = links[k]->handle;
        connecting[watched++] = links[k]->connecting;
    }
    TcpLink* ready = nullptr;
    const int first =
        watched > 0 ? socket_wait(handles.data(), watched, timeout_ms > 0 ? timeout_ms : -1, connecting.data()) : -1;
    for (int k = 0, slot = 0; k < count && first >= 0 && !ready; ++k)
        if (links[k] && slot++ == first) ready = links[k];
    return ready;
}

int tcp_listen(uint32_t address, uint16_t port, SocketHandle* handle, uint16_t* bound_port) {
    if (!handle) return WIRE_NULL_POINTER;
    *handle = NO_SOCKET;
    const SocketHandle listener = socket_open();
    if (listener == NO_SOCKET) return WIRE_NO_SOCKET;
    if (socket_listen(listener, address, port, bound_port) != 0) {
        const int number = socket_last_error();
        socket_close(listener);
        return number;
    }
    if (!socket_set_nonblocking(listener)) {
        socket_close(listener);
        return WIRE_NO_NONBLOCKING;
    }
    *handle = listener;
    return 0;
}

int tcp_accept(SocketHandle listener, SocketHandle* handle) {
    if (!handle) return WIRE_NULL_POINTER;
    *handle = NO_SOCKET;
    SocketHandle accepted;
    do accepted = socket_accept(listener);
    while (accepted == NO_SOCKET && socket_last_error() == WSA_INTERRUPTED);
    if (accepted != NO_SOCKET) {
        *handle = accepted;
        return 0;
    }
    // A client that gave up before being accepted is simply not there.
    const int number = socket_last_error();
    return number == WSA_WOULD_BLOCK || number == WSA_CONNECTION_ABORTED ? WIRE_NOT_YET : number;
}

}  // namespace worldlink
