#include "tests/support/socket_buffers.h"

#include <winsock2.h>

void socket_shrink_buffers(SocketHandle handle, int bytes) {
    const auto socket = static_cast<SOCKET>(handle);
    const auto* value = reinterpret_cast<const char*>(&bytes);
    setsockopt(socket, SOL_SOCKET, SO_SNDBUF, value, sizeof bytes);
    setsockopt(socket, SOL_SOCKET, SO_RCVBUF, value, sizeof bytes);
}

int socket_listen_short(SocketHandle handle, uint16_t* port) {
    const auto socket = static_cast<SOCKET>(handle);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = net_order32(LOOPBACK_ADDRESS);
    int size = sizeof local;
    if (bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 || listen(socket, 0) != 0 ||
        getsockname(socket, reinterpret_cast<sockaddr*>(&local), &size) != 0)
        return -1;
    *port = local.sin_port;
    return 0;
}
