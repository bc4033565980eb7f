#include "tests/support/socket_buffers.h"

#include <sys/socket.h>

void socket_shrink_buffers(SocketHandle handle, int bytes) {
    const int fd = static_cast<int>(handle);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}
