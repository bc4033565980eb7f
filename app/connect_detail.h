// The line that goes under a failed connect's message: which host and port,
// or which world, could not be reached, and why in words. The messages
// themselves keep the reason text as it is, a bare number included.
#pragma once

#include <string>

// Words for a platform socket error number (10000 and up), or null when
// there are none.
const char* SocketErrorWords(int code);

// Socket words where there are some, else the reason text (which may be the
// bare number).
std::string FailureWords(int code);

// "could not reach HOST:PORT (WORDS)" for a universe that wl_create could not
// resolve or connect to; empty for any other failure. Port 0 is the default
// port, as wl_create takes it.
std::string UniverseUnreachable(const std::string& host, int port, int code);

// "could not reach world NAME (WORDS)" when wl_enter failed with a socket
// error number; empty otherwise (the library does not tell a world's
// address).
std::string WorldUnreachable(const std::string& world, int code);

// The message and, when there is one, the detail on a line of its own.
std::string WithDetail(const std::string& message, const std::string& detail);
