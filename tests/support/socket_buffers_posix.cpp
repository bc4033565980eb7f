#include "tests/support/socket_buffers.h"

#include <netinet/in.h>
#include <sys/socket.h>

void socket_shrink_buffers(SocketHandle handle, int bytes) {
    const int fd = static_cast<int>(handle);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

int socket_listen_short(SocketHandle handle, uint16_t* port) {
    const int fd = static_cast<int>(handle);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = net_order32(LOOPBACK_ADDRESS);
    socklen_t size = sizeof local;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 || listen(fd, 0) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0)
        return -1;
    *port = local.sin_port;
    return 0;
}
