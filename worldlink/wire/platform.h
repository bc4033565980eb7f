// What each operating system provides to the wire layer: the socket calls of
// the TCP transport and the millisecond clock. platform_posix.cpp and
// platform_windows.cpp each implement all of it; nothing above this header
// knows which one it runs on.
//
// Failures are reported in the Windows socket numbering (10000 and up):
// socket_last_error() gives the number of the calling thread's last failed
// call here.
#pragma once

#include "worldlink/wire/wire.h"

#include <cstdlib>

namespace worldlink {

// Room for `count` items: on the stack up to 64, on the heap beyond. Empty
// (data() null) when the heap has none to give.
template <typename Item>
class ScratchArray {
public:
    explicit ScratchArray(int count)
        : items(count <= LOCAL ? local : static_cast<Item*>(std::malloc(sizeof(Item) * static_cast<size_t>(count)))) {}
    ~ScratchArray() {
        if (items != local) std::free(items);
    }
    ScratchArray(const ScratchArray&) = delete;
    ScratchArray& operator=(const ScratchArray&) = delete;
    Item* data() { return items; }
    Item& operator[](int k) { return items[k]; }

private:
    static constexpr int LOCAL = 64;
    Item local[LOCAL];
    Item* items;
};

// The operating system's own millisecond count (wraps at 32 bits).
uint32_t system_milliseconds();

int socket_last_error();
// A TCP socket that child processes do not inherit, or NO_SOCKET.
SocketHandle socket_open();
// 0, or the error number.
int socket_close(SocketHandle handle);
bool socket_set_nonblocking(SocketHandle handle);
// Small frames leave one at a time: waiting to coalesce them only adds delay.
void socket_no_delay(SocketHandle handle);
// Connects to an IPv4 address and port in network order: 0 once connected,
// -1 on failure, and on a non-blocking socket 401 while the connect goes on.
int socket_connect(SocketHandle handle, uint32_t address, uint16_t port);
// How a connect that went on has ended, without waiting: 401 not yet, 0
// connected, else the error number.
int socket_connect_outcome(SocketHandle handle);
// Binds, listens and reports the bound port (network order); 0 or -1.
int socket_listen(SocketHandle handle, uint32_t address, uint16_t port, uint16_t* bound_port);
// An accepted socket (not inherited by children), or NO_SOCKET.
SocketHandle socket_accept(SocketHandle listener);
// The peer's IPv4 address and port in network order; false when unknown.
bool socket_peer(SocketHandle handle, uint32_t* address, uint16_t* port);
// Bytes moved, or -1. A send to a closed peer fails with an error, never
// with a signal.
int socket_send(SocketHandle handle, const uint8_t* bytes, int count);
int socket_receive(SocketHandle handle, uint8_t* destination, int count);
// Waits up to timeout_ms (negative: for ever) until one of the sockets is
// readable, closed or failed; a socket whose `connecting` entry is true is
// watched instead for the end of its connect (writable or failed). Returns
// the index of the first such socket in array order, or -1 on timeout or
// failure.
int socket_wait(const SocketHandle* handles, int count, int timeout_ms, const bool* connecting = nullptr);
// Dotted text or a host name to an IPv4 address in network order; 0 or the
// error number.
int socket_resolve(const char* name, uint32_t* address);

// A readiness set: sockets registered once, then asked together which are
// ready. Level-triggered: a socket is reported for as long as it is ready.
// POSIX serves it with epoll, Windows with WSAPoll over the registered
// sockets.
struct SocketSet;
// Null when the operating system has none to give.
SocketSet* socket_set_create();
void socket_set_destroy(SocketSet* set);
// Watches the socket for input, or with `connecting` for the end of its
// connect (writable); a closed or failed socket is ready either way. A socket
// already in the set is watched anew. 0, or -1 (socket_last_error()).
int socket_set_watch(SocketSet* set, SocketHandle handle, bool connecting, uintptr_t tag);
void socket_set_forget(SocketSet* set, SocketHandle handle);
// Waits up to timeout_ms (0: not at all) while no socket is ready, then
// stores the tags of up to `room` ready ones. Their count, or -1 on failure.
int socket_set_wait(SocketSet* set, uintptr_t* tags, int room, int timeout_ms);
}  // namespace worldlink
