#include "tests/support/socket_buffers.h"

#include <winsock2.h>

void socket_shrink_buffers(SocketHandle handle, int bytes) {
    const auto socket = static_cast<SOCKET>(handle);
    const auto* value = reinterpret_cast<const char*>(&bytes);
    setsockopt(socket, SOL_SOCKET, SO_SNDBUF, value, sizeof bytes);
    setsockopt(socket, SOL_SOCKET, SO_RCVBUF, value, sizeof bytes);
}
