// Transport checks that only mean something on Windows: socket handles are
// kernel handles, which child processes would otherwise inherit.
#include "tcp_loopback.h"

#include <windows.h>

namespace {

using wiretest::TcpLoopback;

bool inherited(SocketHandle handle) {
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(handle), &flags));
    return (flags & HANDLE_FLAG_INHERIT) != 0;
}

TEST_F(TcpLoopback, SocketsStayOutOfChildProcesses) {
    EXPECT_FALSE(inherited(client->handle)) << "connected";
    EXPECT_FALSE(inherited(server->handle)) << "accepted";
    EXPECT_FALSE(inherited(listener)) << "listening";
}

}  // namespace
