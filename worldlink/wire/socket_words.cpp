// Words for the platform socket error numbers, the same on every platform:
// POSIX builds map errno to these numbers first (socket_error_number).
#include "worldlink/wire/wire.h"

namespace worldlink {

namespace {

struct SocketWords {
    int number;
    const char* words;
};

constexpr SocketWords SOCKET_WORDS[] = {
    {10004, "interrupted"},
    {10009, "bad socket"},
    {10013, "permission denied"},
    {10014, "bad address"},
    {10022, "invalid argument"},
    {10024, "too many open sockets"},
    {10035, "would block"},
    {10036, "operation in progress"},
    {10037, "operation already in progress"},
    {10038, "not a socket"},
    {10040, "message too long"},
    {10047, "address family not supported"},
    {10048, "address in use"},
    {10049, "address not available"},
    {10050, "network down"},
    {10051, "network unreachable"},
    {10052, "network reset"},
    {10053, "connection aborted"},
    {10054, "connection reset"},
    {10055, "no buffer space"},
    {10056, "already connected"},
    {10057, "not connected"},
    {10058, "shut down"},
    {10060, "timed out"},
    {10061, "connection refused"},
    {10064, "host down"},
    {10065, "host unreachable"},
    {10091, "network not ready"},
    {10092, "socket version not supported"},
    {10093, "sockets not started"},
    {11001, "host not found"},
    {11002, "try again"},
    {11003, "name lookup failed"},
    {11004, "no such host data"},
};

}  // namespace

const char* socket_error_words(int number) {
    for (const SocketWords& entry : SOCKET_WORDS) {
        if (entry.number == number) return entry.words;
    }
    return nullptr;
}

}  // namespace worldlink
