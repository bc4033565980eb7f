// worldsim's inbound path: a universe client's and a world client's bytes,
// before or after each has logged in the way the library does, through the
// server's own frame handling, drops and leaves.
//
// Input: a flags byte (bit 0: the universe client logs in first; bit 1: the
// world client then logs in too; bit 2: login replies carry a ticket; bits
// 3-7: the world build, 19 + value % 12), how many of the remaining bytes go
// to the universe link (a word), then the bytes; the rest goes to the world
// link.
#include "fuzz/targets.h"
#include "tools/worldsim/server.h"
#include "worldlink/messages.h"
#include "worldlink/worldlink.h"

#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <vector>

using namespace worldlink;

namespace {

constexpr int ROUNDS = 64;
constexpr const char* WORLD = "fuzz";

// The client's end of a link: a Connection that reads the server's frames
// and keeps the ciphers in step with them.
struct ClientEnd {
    Connection* link = nullptr;
    ~ClientEnd() { connection_close(link); }

    // Reads frames until one of `type` arrives (universe frames carry a result
    // byte first); a key message on the way starts the ciphers.
    bool until(int type, bool universe, uint16_t* session = nullptr, int32_t* ticket = nullptr, bool with_ticket = false) {
        for (int frames = 0; frames < 16; ++frames) {
            if (connection_receive(link) != 0) return false;
            uint8_t result = 0, got = 0;
            if (universe) msg_unpack(link, {unpack_byte(&result), unpack_stop()});
            msg_unpack(link, {unpack_byte(&got), unpack_stop()});
            const int key = universe ? int{MSG_UNIVERSE_KEY} : int{MSG_WORLD_KEY};
            if (got == key) {
                uint16_t receive_discard = 0, send_discard = 0;
                msg_unpack(link, {unpack_word(&receive_discard), unpack_word(&send_discard), unpack_end()});
                connection_start_ciphers(link, receive_discard, send_discard);
            } else {
                if (got == type && session != nullptr) {
                    char text[256];
                    msg_unpack(link, {unpack_word(session), unpack_string(text), unpack_stop()});
                    if (with_ticket) msg_unpack(link, {unpack_long(ticket), unpack_stop()});
                }
                skip_rest();
            }
            if (connection_reason(link) != 0) return false;
            if (got == type) return true;
        }
        return false;
    }

    void skip_rest() {
        int left = 0;
        msg_unpack(link, {unpack_remaining(&left), unpack_stop()});
        msg_unpack(link, {unpack_skip(left), unpack_end()});
    }

    // Raw bytes after the frames packed so far, enciphered once the link is.
    void send_raw(std::string_view bytes) {
        std::vector<uint8_t> copy(bytes.begin(), bytes.end());
        if (link->send_cipher != nullptr) rc4_apply(link->send_cipher, copy.data(), static_cast<int>(copy.size()));
        const SocketHandle handle = connection_handle(link);
        if (!copy.empty()) send(static_cast<int>(handle), copy.data(), copy.size(), MSG_NOSIGNAL);
        shutdown(static_cast<int>(handle), SHUT_WR);
    }
};

// A client the server has just accepted, joined by its far end.
SimClient* accept_client(SimServer* server, SimLinkKind kind, ClientEnd* end) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) return nullptr;
    Connection* link = nullptr;
    if (connection_adopt(pair[0], &link) != 0 || connection_adopt(pair[1], &end->link) != 0) {
        connection_close(link);
        return nullptr;
    }
    auto client = std::make_unique<SimClient>();
    client->id = server->next_id++;
    client->link = link;
    client->kind = kind;
    client->world = kind == SIM_WORLD_LINK ? WORLD : "";
    client->accepted_at = clock_raw();
    SimClient* made = client.get();
    server->clients[made->id] = std::move(client);
    return made;
}

// What the event loop would do while input waits: read, answer, drop.
void serve(SimServer* server) {
    for (int round = 0; round < ROUNDS; ++round) {
        bool live = false;
        for (auto& [id, client] : server->clients) {
            if (client->dead) continue;
            live = true;
            sim_client_readable(server, client.get());
            connection_flush(client->link);
        }
        sim_server_reap(server);
        if (!live) return;
    }
}

}  // namespace

int fuzz_worldsim(const uint8_t* data, size_t size) {
    FuzzInput input{data, size};
    const uint8_t flags = input.byte();
    const bool universe_login = (flags & 1) != 0;
    const bool world_login = universe_login && (flags & 2) != 0;
    const std::string_view universe_bytes = input.text(input.word());
    const std::string_view world_bytes = input.rest();

    SimOptions options;
    options.universe_port = 0;
    options.viewer_port = 0;
    options.universe_build = (flags & 4) != 0 ? 24 : 22;
    options.world_build = 19 + (flags >> 3) % 12;
    options.worlds = {WORLD};
    SimShared shared;
    auto server = std::make_unique<SimServer>();
    std::string error;
    if (sim_server_start(server.get(), options, &shared, &error) == 0) {
        server->random.seed(1);
        ClientEnd universe, world;
        SimClient* universe_client = accept_client(server.get(), SIM_UNIVERSE_LINK, &universe);
        SimClient* world_client = accept_client(server.get(), SIM_WORLD_LINK, &world);
        if (universe_client != nullptr && world_client != nullptr) {
            uint16_t session = 0;
            int32_t ticket = 0;
            if (universe_login) {
                msg_pack(universe.link, {pack_begin_sealed(MSG_LOGIN), pack_long(LIBRARY_BUILD), pack_string("bird"),
                                         pack_long(1), pack_string("secret"), pack_string("fuzz"), pack_end()});
                serve(server.get());
                universe.until(MSG_LOGIN_REPLY, true, &session, &ticket, options.universe_build > 22);
            }
            if (world_login) {
                msg_pack(world.link, {pack_begin_sealed(MSG_WORLD_LOGIN_V4), pack_string(WORLD), pack_long(session),
                                      pack_long(ticket), pack_word(options.world_build), pack_end()});
                serve(server.get());
                world.until(MSG_WORLD_PROPERTIES, false);
            }
            universe.send_raw(universe_bytes);
            world.send_raw(world_bytes);
            serve(server.get());
            sim_world_heartbeat(server.get());
            sim_view_build(server.get());
        }
        for (auto& [id, client] : server->clients) sim_client_mark_dead(server.get(), client.get());
        sim_server_reap(server.get());
    }
    sim_server_stop(server.get());
    if (shared.wake_fd >= 0) close(shared.wake_fd);
    return 0;
}
