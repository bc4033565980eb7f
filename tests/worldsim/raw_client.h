// A protocol client built on the wire layer alone, for what the library never
// does: choose its own event mask, stop reading, or send malformed frames.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace worldlink {
struct Connection;
}
using worldlink::Connection;

struct RawFrame {
    int result = -1;  // universe frames only
    int type = -1;
    std::vector<uint8_t> body;
};

// Reads the fields of a frame body in order; reads past the end yield 0.
class RawReader {
public:
    explicit RawReader(const std::vector<uint8_t>& body) : body_(body) {}
    uint8_t Byte();
    uint16_t Word();
    uint32_t Long();
    std::string String();
    size_t Left() const { return body_.size() - at_; }

private:
    const std::vector<uint8_t>& body_;
    size_t at_ = 0;
};

struct RawSession {
    uint16_t session = 0;
    uint32_t ticket = 0;
};

// A Connection to 127.0.0.1:port, or null.
Connection* raw_connect(int port);
// The same, closed when the owner goes.
using RawLink = std::unique_ptr<Connection, void (*)(Connection*)>;
RawLink raw_link(int port);
// Waits up to timeout_ms for one whole frame and reads it.
bool raw_read(Connection* link, bool universe, RawFrame* out, int timeout_ms);
// Reads frames until one of `type` arrives (true) or time runs out.
bool raw_read_type(Connection* link, bool universe, int type, RawFrame* out, int timeout_ms);
// Drains frames for `ms` milliseconds and returns their types.
std::vector<int> raw_drain(Connection* link, bool universe, int ms);
// True once the server has closed the link (within timeout_ms).
bool raw_closed_by_server(Connection* link, int timeout_ms);

// A whole universe login: the sealed login, the key, the properties and the
// reply. The reply's result (0 on success), or -1 when the protocol broke.
int raw_universe_login(Connection* link, int32_t owner, const char* password, const char* name, RawSession* out);
// Its two halves, for a client that sends before it reads: the sealed login
// (0, or -1), and the key, the properties and the reply read as above.
int raw_send_login(Connection* link, int32_t owner, const char* password, const char* name);
int raw_login_reply(Connection* link, RawSession* out);
// The world's port from a lookup; 0 on success, else the refusal or -1.
int raw_lookup(Connection* universe, const char* world, int* port);
// A newest-variant world login, its key and the world's properties. 0 once
// the properties arrived, the type of a close message, or -1.
int raw_world_login(Connection* link, const char* world, const RawSession& session);

int raw_send_mask(Connection* link, uint32_t mask);
int raw_send_state(Connection* link, int32_t x, int32_t y, int32_t z, int yaw);
int raw_send_whisper(Connection* link, int session, const char* text);
// Raw bytes straight onto the socket, around the codec and the cipher.
bool raw_send_bytes(Connection* link, const std::vector<uint8_t>& bytes);

// A universe login and a world entry in one step, for tests that only need a
// client in the world. Both links are closed by raw_leave.
struct RawBot {
    Connection* universe = nullptr;
    Connection* world = nullptr;
    RawSession session;
};
bool raw_enter(int universe_port, const char* world, const char* name, uint32_t mask, RawBot* out);
void raw_leave(RawBot* bot);
