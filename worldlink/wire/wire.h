// The wire layer: framed, enciphered TCP links and the message codec.
// Private to the library (and to the test peer and worldsim, which speak the
// same protocol from the server side).
//
// Conventions:
// 1. Every operation returns a reason code, 0 for success; 401 ("not yet") is
//    never a failure.
// 2. A Connection's first failure is recorded and sticky: every later pack or
//    unpack on it returns that reason and does nothing; its owner closes it.
// 3. Platform socket errors are reported in the Windows socket numbering
//    (10000 and up), so they never collide with reason codes.
// 4. All multi-byte integers on the wire are big-endian. Addresses and ports
//    handed to this layer are in network byte order.
// 5. Single-threaded: nothing here takes a lock.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace worldlink {

// ---------------------------------------------------------------- clock

// Milliseconds of a steady clock, truncated to 32 bits; wraps after 49.7 days.
uint32_t clock_raw();
// Tests replace the clock; a null source restores the steady clock.
void clock_replace(uint32_t (*source)());
// The library tick is clock_raw() minus the base taken by tick_start().
void tick_start();
uint32_t tick_now();
// Signed difference now - then, floored at 0: a stamp taken after `now` was
// read (later in the same pass) counts as no time at all, never as 49 days.
uint32_t tick_elapsed(uint32_t now, uint32_t then);
// True once `now` is at or past `deadline` (within half the tick range).
bool tick_reached(uint32_t now, uint32_t deadline);

// ---------------------------------------------------------------- reasons

enum : int {
    WIRE_OUT_OF_MEMORY = 400,
    WIRE_NOT_YET = 401,
    WIRE_TIMEOUT = 402,
    WIRE_NULL_POINTER = 403,
    WIRE_SEND_FAILED = 415,
    WIRE_RECEIVE_FAILED = 416,
    WIRE_STREAM_EMPTY = 421,
    WIRE_MESSAGE_TOO_LONG = 422,
    WIRE_NO_SOCKET = 428,
    WIRE_UNABLE_TO_CONNECT = 429,
    WIRE_NO_NONBLOCKING = 430,
    WIRE_NO_CONNECTION = 439,
    WIRE_NETWORK_START = 442,
    WIRE_BAD_LENGTH = 443,
    WIRE_OUT_BUFFER_FULL = 446,
    WIRE_STRING_TOO_LONG = 450,
    WIRE_IN_BUFFER_FULL = 461,
    WIRE_PROTOCOL_ERROR = 463,
    WIRE_NOT_OPEN = 473,
};

// Windows socket error numbers that the layer itself tests for.
enum : int {
    WSA_INTERRUPTED = 10004,
    WSA_WOULD_BLOCK = 10035,
    WSA_CONNECTION_ABORTED = 10053,
    WSA_NOT_CONNECTED = 10057,
    WSA_TIMED_OUT = 10060,
    WSA_HOST_NOT_FOUND = 11001,
};

// POSIX builds: the Windows socket number for an errno (or a resolver error
// when `resolver` is true); unknown values map to a number at 10000 and up.
int socket_error_number(int error, bool resolver = false);

// Words for a socket error number (10000 and up), or null when there are
// none.
const char* socket_error_words(int number);

// ---------------------------------------------------------------- byte order

// Host order to network order and back (the same swap both ways).
constexpr uint16_t net_order16(uint16_t value) {
    return std::endian::native == std::endian::big ? value : static_cast<uint16_t>(value << 8 | value >> 8);
}
constexpr uint32_t net_order32(uint32_t value) {
    if constexpr (std::endian::native == std::endian::big) return value;
    return value << 24 | (value & 0xFF00u) << 8 | (value >> 8 & 0xFF00u) | value >> 24;
}

// ---------------------------------------------------------------- transport

// 127.0.0.1 in host order.
inline constexpr uint32_t LOOPBACK_ADDRESS = 0x7F000001;

// A socket: a descriptor on POSIX, a SOCKET on Windows; both fit.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle NO_SOCKET = -1;

struct TcpLink {
    SocketHandle handle;
    uint32_t address;       // peer IPv4, network order
    uint16_t port;          // peer port, network order
    uint32_t last_send_at;  // tick of creation, of the connect, then of the last whole send
    bool connecting;        // the connect has neither completed nor failed yet
};

int net_start();
int net_stop();
int resolve_host(const char* name, uint32_t* address);
// Starts a connect without waiting for it: a link whose connect goes on is
// handed out with `connecting` set (tcp_connected tells how it ends); one
// refused at once is 429.
int tcp_create(uint32_t address, uint16_t port, TcpLink** out);
// 0 once connected, 401 while the connect goes on, 429 when it failed, 10060
// when it has not completed within 10 seconds of tcp_create.
int tcp_connected(TcpLink* link);
// The tick from which tcp_connected gives a connect that goes on up (10060).
uint32_t tcp_connect_deadline(const TcpLink* link);
// Wraps a socket that a listener accepted; the link takes ownership (on
// failure the socket is closed).
int tcp_adopt(SocketHandle handle, TcpLink** out);
int tcp_destroy(TcpLink* link);
int tcp_receive(TcpLink* link, uint8_t* destination, int wanted, int* received);
// Sends the block in one call. With `taken` null a partial send is 415; with
// it, the count taken is stored and a partial send is 401 like a full block
// that would block, so a caller can keep the rest instead of losing the link.
int tcp_send(TcpLink* link, const uint8_t* bytes, int count, int* taken = nullptr);
// First link in array order with input (or a closed peer), or whose connect
// has ended, else null.
TcpLink* tcp_wait(int count, TcpLink* const* links, int timeout_ms);
// A non-blocking listening socket on address:port (port 0 picks one);
// the bound port is stored in network order.
int tcp_listen(uint32_t address, uint16_t port, SocketHandle* handle, uint16_t* bound_port);
// Accepts one pending connection: 0 and the new handle, or 401 when none.
int tcp_accept(SocketHandle listener, SocketHandle* handle);

// ---------------------------------------------------------------- cipher

inline constexpr uint8_t LINK_KEY[16] = {'s', 'k', 'y', 'f', 'l', 'i', 't', '-',
                                         'l', 'i', 'n', 'k', '-', 'k', 'e', 'y'};

struct Rc4State {
    int i;
    int j;
    uint8_t S[256];
};

Rc4State* rc4_create(const uint8_t* key, int key_length);
void rc4_destroy(Rc4State* state);
uint8_t rc4_next(Rc4State* state);
uint8_t rc4_byte(Rc4State* state, uint8_t byte);
void rc4_apply(Rc4State* state, uint8_t* buffer, int count);
// Drops count mod 65536 keystream bytes.
void rc4_skip(Rc4State* state, int count);

// ---------------------------------------------------------------- connection

// The most either buffer of a Connection holds: the frame limits derive from it.
inline constexpr int CONNECTION_BUFFER = 32768;
// What each buffer keeps once drained: a frame larger than this borrows room
// up to CONNECTION_BUFFER and gives it back afterwards, so idle links stay small.
inline constexpr int CONNECTION_BUFFER_START = 256;

struct WatchSet;

// A connection's place in a WatchSet; `set` is null while it is in none.
struct LinkWatch {
    WatchSet* set;
    uintptr_t tag;
    int owed_slot;  // its place among the set's owed links, or -1
    bool paused;
};

struct Connection {
    TcpLink* link;
    int reason;
    uint32_t address;
    uint16_t port;
    int recv_unread;     // of the current frame (its length bytes first)
    int recv_read_pos;
    int recv_write_pos;  // where the current frame's bytes end
    int recv_ahead;      // bytes of later frames received behind it
    bool frame_clear;    // the current frame's content was deciphered whole
    uint16_t pending_length;
    int send_fill;
    // A server gathers what one round of its loop packs for a link and
    // flushes it once: frames then wait until half the buffer is used.
    bool hold_output;
    int message_start;
    int message_left;
    uint32_t last_send_at;
    Rc4State* recv_cipher;
    Rc4State* send_cipher;
    LinkWatch watch;
    uint8_t* recv_buffer;  // null until the first byte arrives
    uint8_t* send_buffer;  // null until the first byte is packed
    int recv_capacity;
    int send_capacity;
};

// The connect may still be going on: receives and flushes wait for it, and
// connection_connected reports how it ended.
int connection_open(uint32_t address, uint16_t port, Connection** out);
// A Connection over an accepted socket (server side).
int connection_adopt(SocketHandle handle, Connection** out);
void connection_close(Connection* connection);
int connection_reason(const Connection* connection);
uint32_t connection_last_send(const Connection* connection);
bool connection_has_cipher(const Connection* connection);
bool connection_connecting(const Connection* connection);
// tcp_connected of the link; a failed connect is recorded like any failure.
int connection_connected(Connection* connection);
uint32_t connection_connect_deadline(const Connection* connection);
// 0 when one whole frame is ready for msg_unpack, 401 while it is not.
int connection_receive(Connection* connection);
int connection_flush(Connection* connection);
// The first connection with input: one holding bytes received ahead, else
// the first ready socket in array order.
Connection* connection_wait(int count, Connection* const* connections, int timeout_ms);
// Both directions restart from LINK_KEY; a failed allocation records 400.
void connection_start_ciphers(Connection* connection, int receive_discard, int send_discard);
// Server side: deciphers the rest of the current frame with a fresh LINK_KEY
// state, undoing the seal of a login sent before the key message.
void connection_unseal(Connection* connection);
// The socket, for servers that multiplex with their own poll loop.
SocketHandle connection_handle(const Connection* connection);
// The codec's byte access. read_byte takes the next byte of the current
// frame (deciphered once the link has ciphers) and yields 0 once a reason is
// recorded; put_byte appends to the send buffer. Both record their failures.
uint8_t connection_read_byte(Connection* connection);
void connection_put_byte(Connection* connection, uint8_t byte);
// Records a failure unless one is already recorded (the first one sticks).
void connection_record(Connection* connection, int reason);
// Ends the current inbound frame: the receive buffer starts over empty.
void connection_frame_done(Connection* connection);

// ---------------------------------------------------------------- watch set

// The links a client serves, registered once and asked together which are
// ready, so that a pass need not try every link. Level-triggered: a link is
// reported for as long as it is ready. A connecting link is ready once its
// connect has ended, any other once it has input or its peer has gone. Each
// link carries its owner's tag.
WatchSet* watch_create();
// Every link must have left the set first.
void watch_destroy(WatchSet* set);
// Registers the link under the tag; connection_close takes it out again.
int connection_watch(WatchSet* set, Connection* connection, uintptr_t tag);
// A paused link is left out of watch_wait and watch_ready until resumed.
void connection_watch_pause(Connection* connection, bool paused);
// Room that watch_ready may fill: every link twice.
int watch_room(const WatchSet* set);
// The tags of the links ready now, and of the links owed a visit whatever
// their sockets say: those with a recorded failure, with bytes still to
// send or with bytes received ahead. A link may be listed twice.
int watch_ready(WatchSet* set, uintptr_t* tags, int room);
// Waits up to timeout_ms while no link has input (a ready socket or bytes
// received ahead), then stores the tags of the ready ones and returns their
// count; at once when nothing is watched.
int watch_wait(WatchSet* set, uintptr_t* tags, int room, int timeout_ms);
// The connection's own calls: it owes a visit, its connect has ended, it is
// being closed.
void watch_owe(Connection* connection);
void watch_connected(Connection* connection);
void watch_forget(Connection* connection);

// ---------------------------------------------------------------- codec

enum FieldCode : int {
    FIELD_BEGIN_SEALED = 0,
    FIELD_BEGIN = 1,
    FIELD_BYTE = 2,
    FIELD_WORD = 3,
    FIELD_LONG = 4,
    FIELD_BYTE_STRING = 5,
    FIELD_STRING = 6,
    FIELD_DATA = 7,
    FIELD_ADDRESS = 8,
    FIELD_STOP = 9,
    FIELD_REMAINING = 10,
    FIELD_SKIP = 11,
    FIELD_END = 12,
};

// One item of an outbound field list. Build items with the pack_ helpers so
// the compiler checks each code's arguments.
struct PackItem {
    int code;
    int32_t value;
    const void* pointer;
};

constexpr PackItem pack_begin(int type) { return {FIELD_BEGIN, type, nullptr}; }
constexpr PackItem pack_begin_sealed(int type) { return {FIELD_BEGIN_SEALED, type, nullptr}; }
constexpr PackItem pack_byte(int32_t value) { return {FIELD_BYTE, value, nullptr}; }
constexpr PackItem pack_word(int32_t value) { return {FIELD_WORD, value, nullptr}; }
constexpr PackItem pack_long(int32_t value) { return {FIELD_LONG, value, nullptr}; }
constexpr PackItem pack_byte_string(int32_t value, const char* text) { return {FIELD_BYTE_STRING, value, text}; }
constexpr PackItem pack_string(const char* text) { return {FIELD_STRING, 0, text}; }
constexpr PackItem pack_data(int32_t length, const void* bytes) { return {FIELD_DATA, length, bytes}; }
// An IPv4 address in network order: its bytes go out as they lie in memory.
constexpr PackItem pack_address(uint32_t address) { return {FIELD_ADDRESS, static_cast<int32_t>(address), nullptr}; }
constexpr PackItem pack_stop() { return {FIELD_STOP, 0, nullptr}; }
constexpr PackItem pack_end() { return {FIELD_END, 0, nullptr}; }

// One item of an inbound field list, built with the unpack_ helpers.
struct UnpackItem {
    int code;
    void* out;
    void* out2;
    int count;
};

inline UnpackItem unpack_byte(uint8_t* out) { return {FIELD_BYTE, out, nullptr, 0}; }
inline UnpackItem unpack_word(uint16_t* out) { return {FIELD_WORD, out, nullptr, 0}; }
inline UnpackItem unpack_long(int32_t* out) { return {FIELD_LONG, out, nullptr, 0}; }
inline UnpackItem unpack_string(char (&out)[256]) { return {FIELD_STRING, out, nullptr, 0}; }
inline UnpackItem unpack_data(int* length, uint8_t (&out)[255]) { return {FIELD_DATA, length, out, 0}; }
// Four bytes stored in the order read (network order for an IPv4 address).
inline UnpackItem unpack_address(uint32_t* out) { return {FIELD_ADDRESS, out, nullptr, 0}; }
inline UnpackItem unpack_remaining(int* out) { return {FIELD_REMAINING, out, nullptr, 0}; }
inline UnpackItem unpack_skip(int count) { return {FIELD_SKIP, nullptr, nullptr, count}; }
inline UnpackItem unpack_stop() { return {FIELD_STOP, nullptr, nullptr, 0}; }
inline UnpackItem unpack_end() { return {FIELD_END, nullptr, nullptr, 0}; }

int msg_pack(Connection* connection, std::initializer_list<PackItem> items);
int msg_unpack(Connection* connection, std::initializer_list<UnpackItem> items);

// ---------------------------------------------------------------- keyed table

struct TableEntry;

struct KeyedTable {
    TableEntry** buckets;
    int count;
    int bucket_count;
};

KeyedTable* table_create(int bucket_count);
void table_destroy(KeyedTable* table);
// Frees every entry; the table stays, empty.
void table_clear(KeyedTable* table);
TableEntry* table_add(KeyedTable* table, const void* key, int key_length, int value_size, int* found);
TableEntry* table_find(KeyedTable* table, const void* key, int key_length);
int table_remove(KeyedTable* table, const void* key, int key_length);
void* table_value(TableEntry* entry);
uint32_t table_hash(const void* bytes, int length);

}  // namespace worldlink
