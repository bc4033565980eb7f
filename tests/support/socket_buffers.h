// What each platform provides to the socket test helpers beyond the wire
// layer's own calls: socket_buffers_posix.cpp and socket_buffers_windows.cpp.
#pragma once

#include "worldlink/wire/wire.h"

using namespace worldlink;

// Asks for small kernel send and receive buffers, so a test fills them with
// a few kilobytes; the system may round the size up.
void socket_shrink_buffers(SocketHandle handle, int bytes);
// Binds the socket to 127.0.0.1 at an ephemeral port and listens with the
// shortest accept queue the system allows; the port in network order. 0 or -1.
int socket_listen_short(SocketHandle handle, uint16_t* port);
