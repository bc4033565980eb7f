#include "tests/support/socket_pair.h"

#include "tests/support/socket_buffers.h"
#include "worldlink/wire/platform.h"

#include <chrono>
#include <thread>

SocketPair::SocketPair(int buffer_bytes) {
    const uint32_t loopback = net_order32(LOOPBACK_ADDRESS);
    SocketHandle listener = NO_SOCKET;
    uint16_t port = 0;
    if (tcp_listen(loopback, 0, &listener, &port) != 0) return;
    SocketHandle client = socket_open();
    // Before the connect: the first window offered is sized from them, and an
    // accepted socket takes the listener's.
    if (buffer_bytes > 0) {
        socket_shrink_buffers(listener, buffer_bytes);
        if (client != NO_SOCKET) socket_shrink_buffers(client, buffer_bytes);
    }
    // The connect completes against the backlog, before any accept.
    if (client != NO_SOCKET && socket_connect(client, loopback, port) == 0 && socket_set_nonblocking(client)) {
        SocketHandle accepted = NO_SOCKET;
        for (int tries = 0; tries < 100 && tcp_accept(listener, &accepted) == WIRE_NOT_YET; ++tries)
            socket_wait(&listener, 1, 20);
        if (accepted != NO_SOCKET && socket_set_nonblocking(accepted)) {
            ends[0] = std::exchange(client, NO_SOCKET);
            ends[1] = accepted;
        } else if (accepted != NO_SOCKET) {
            socket_close(accepted);
        }
    }
    if (client != NO_SOCKET) socket_close(client);
    socket_close(listener);
}

SocketPair::~SocketPair() {
    close(0);
    close(1);
}

void SocketPair::close(int index) {
    if (ends[index] != NO_SOCKET) socket_close(take(index));
}

bool send_all(SocketHandle handle, const std::vector<uint8_t>& bytes) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    size_t sent = 0;
    while (sent < bytes.size()) {
        const int left = static_cast<int>(bytes.size() - sent);
        const int moved = socket_send(handle, bytes.data() + sent, left);
        if (moved > 0) {
            sent += static_cast<size_t>(moved);
            continue;
        }
        if (moved < 0 && socket_last_error() != WSA_WOULD_BLOCK) return false;
        if (std::chrono::steady_clock::now() >= limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::vector<uint8_t> receive_up_to(SocketHandle handle, size_t count, int silence_ms) {
    std::vector<uint8_t> out(count);
    size_t have = 0;
    while (have < count && socket_wait(&handle, 1, silence_ms) == 0) {
        const int got = socket_receive(handle, out.data() + have, static_cast<int>(count - have));
        if (got <= 0) break;
        have += static_cast<size_t>(got);
    }
    out.resize(have);
    return out;
}

bool has_input(SocketHandle handle) { return socket_wait(&handle, 1, 0) == 0; }
