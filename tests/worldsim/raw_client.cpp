#include "tests/worldsim/raw_client.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>

#include "worldlink/messages.h"
#include "worldlink/wire/wire.h"

using namespace worldlink;

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void wait_readable(Connection* link, int ms) {
    pollfd watch{static_cast<int>(connection_handle(link)), POLLIN, 0};
    poll(&watch, 1, ms);
}

// Starts the link's ciphers from a key message body: the client's receive
// discard comes first, its send discard second.
void start_ciphers(Connection* link, const RawFrame& key) {
    RawReader reader(key.body);
    int receive = reader.Word();
    int send = reader.Word();
    connection_start_ciphers(link, receive, send);
}

}  // namespace

uint8_t RawReader::Byte() { return at_ < body_.size() ? body_[at_++] : 0; }

uint16_t RawReader::Word() {
    uint16_t high = Byte();
    return static_cast<uint16_t>(high << 8 | Byte());
}

uint32_t RawReader::Long() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
    return value;
}

std::string RawReader::String() {
    std::string text;
    for (int n = Byte(); n > 0 && at_ < body_.size(); --n) text += static_cast<char>(Byte());
    return text;
}

Connection* raw_connect(int port) {
    Connection* link = nullptr;
    if (connection_open(htonl(INADDR_LOOPBACK), htons(static_cast<uint16_t>(port)), &link) != 0) return nullptr;
    return link;
}

RawLink raw_link(int port) { return RawLink(raw_connect(port), connection_close); }

bool raw_read(Connection* link, bool universe, RawFrame* out, int timeout_ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int reason = connection_receive(link);
        if (reason == 0) break;
        if (reason != WIRE_NOT_YET || remaining_ms(deadline) == 0) return false;
        wait_readable(link, std::min(remaining_ms(deadline), 20));
    }
    uint8_t result = 0, type = 0;
    int left = 0;
    if (universe) msg_unpack(link, {unpack_byte(&result), unpack_stop()});
    msg_unpack(link, {unpack_byte(&type), unpack_remaining(&left), unpack_stop()});
    out->result = universe ? result : -1;
    out->type = type;
    out->body.assign(static_cast<size_t>(left), 0);
    for (uint8_t& byte : out->body) msg_unpack(link, {unpack_byte(&byte), unpack_stop()});
    return msg_unpack(link, {unpack_end()}) == 0;
}

bool raw_read_type(Connection* link, bool universe, int type, RawFrame* out, int timeout_ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (raw_read(link, universe, out, remaining_ms(deadline))) {
        if (out->type == type) return true;
    }
    return false;
}

std::vector<int> raw_drain(Connection* link, bool universe, int ms) {
    std::vector<int> types;
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    RawFrame frame;
    while (remaining_ms(deadline) > 0) {
        if (raw_read(link, universe, &frame, remaining_ms(deadline))) types.push_back(frame.type);
        else if (connection_reason(link) != 0) break;
    }
    return types;
}

bool raw_closed_by_server(Connection* link, int timeout_ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    uint8_t scratch[4096];
    while (remaining_ms(deadline) > 0) {
        wait_readable(link, std::min(remaining_ms(deadline), 20));
        ssize_t got = recv(connection_handle(link), scratch, sizeof scratch, MSG_DONTWAIT);
        if (got == 0) return true;
        if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return true;
    }
    return false;
}

int raw_send_login(Connection* link, int32_t owner, const char* password, const char* name) {
    return msg_pack(link, {pack_begin_sealed(MSG_LOGIN), pack_long(20), pack_string(name), pack_long(owner),
                           pack_string(password), pack_string("raw"), pack_end()}) == 0
               ? 0
               : -1;
}

int raw_login_reply(Connection* link, RawSession* out) {
    RawFrame frame;
    while (raw_read(link, true, &frame, 5000)) {
        if (frame.type == MSG_UNIVERSE_KEY) start_ciphers(link, frame);
        if (frame.type != MSG_LOGIN_REPLY) continue;
        if (frame.result != 0) return frame.result;
        RawReader reader(frame.body);
        out->session = reader.Word();
        reader.String();
        out->ticket = reader.Long();  // universes up to build 22 send none: read as 0
        return 0;
    }
    return -1;
}

int raw_universe_login(Connection* link, int32_t owner, const char* password, const char* name, RawSession* out) {
    if (raw_send_login(link, owner, password, name) != 0) return -1;
    return raw_login_reply(link, out);
}

int raw_lookup(Connection* universe, const char* world, int* port) {
    if (msg_pack(universe, {pack_begin(MSG_WORLD_LOOKUP), pack_string(world), pack_end()}) != 0) return -1;
    RawFrame frame;
    if (!raw_read_type(universe, true, MSG_WORLD_ADDRESS, &frame, 5000)) return -1;
    if (frame.result != 0) return frame.result;
    RawReader reader(frame.body);
    reader.String();
    reader.Long();
    *port = reader.Word();
    return 0;
}

int raw_world_login(Connection* link, const char* world, const RawSession& session) {
    if (msg_pack(link, {pack_begin_sealed(MSG_WORLD_LOGIN_V4), pack_string(world),
                        pack_long(static_cast<int32_t>(session.session)),
                        pack_long(static_cast<int32_t>(session.ticket)), pack_word(20), pack_end()}) != 0) {
        return -1;
    }
    RawFrame frame;
    while (raw_read(link, false, &frame, 5000)) {
        if (frame.type == MSG_WORLD_KEY) start_ciphers(link, frame);
        if (frame.type == MSG_WORLD_PROPERTIES) return 0;
        if (frame.type == MSG_WORLD_DROP_465 || frame.type == MSG_WORLD_DROP_466 ||
            frame.type == MSG_WORLD_DROP_467 || frame.type == MSG_WORLD_DROP_489 || frame.type == MSG_WORLD_DROP_ALL) {
            return frame.type;
        }
    }
    return -1;
}

int raw_send_mask(Connection* link, uint32_t mask) {
    return msg_pack(link, {pack_begin(MSG_EVENT_MASK), pack_long(static_cast<int32_t>(mask)), pack_end()});
}

int raw_send_state(Connection* link, int32_t x, int32_t y, int32_t z, int yaw) {
    return msg_pack(link, {pack_begin(MSG_STATE_CHANGE), pack_long(x), pack_long(y), pack_long(z), pack_word(yaw),
                           pack_byte(3), pack_byte(0), pack_end()});
}

int raw_send_whisper(Connection* link, int session, const char* text) {
    return msg_pack(link, {pack_begin(MSG_WHISPER), pack_word(session), pack_string(text), pack_end()});
}

bool raw_send_bytes(Connection* link, const std::vector<uint8_t>& bytes) {
    return send(connection_handle(link), bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

bool raw_enter(int universe_port, const char* world, const char* name, uint32_t mask, RawBot* out) {
    out->universe = raw_connect(universe_port);
    if (out->universe == nullptr || raw_universe_login(out->universe, 1, "", name, &out->session) != 0) return false;
    int port = 0;
    if (raw_lookup(out->universe, world, &port) != 0) return false;
    out->world = raw_connect(port);
    if (out->world == nullptr || raw_world_login(out->world, world, out->session) != 0) return false;
    return raw_send_mask(out->world, mask) == 0;
}

void raw_leave(RawBot* bot) {
    connection_close(bot->world);
    connection_close(bot->universe);
    bot->world = nullptr;
    bot->universe = nullptr;
}
