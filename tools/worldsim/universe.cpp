// The universe link: login, world lookup, keep-alives.
//
// Outbound universe frames carry a result byte before the type, which is why
// every message here begins with pack_begin(result), pack_byte(type).
#include <arpa/inet.h>

#include <algorithm>

#include "tools/worldsim/server.h"
#include "worldlink/messages.h"
#include "worldlink/wire/wire.h"

namespace {

constexpr int RESULT_NO_SUCH_CITIZEN = 3;
constexpr int RESULT_INVALID_PASSWORD = 13;
constexpr int RESULT_SERVER_OUT_OF_MEMORY = 17;
constexpr int RESULT_WORLD_NOT_RUNNING = 27;
constexpr int RESULT_BOT_LIMIT_EXCEEDED = 59;
constexpr int UNIVERSE_BUILD_TAG = 6;

// MSG_UNIVERSE_KEY: word receive discard, word send discard (the client's).
// Everything after it is enciphered in both directions.
void send_key(SimServer* server, SimClient* client) {
    int client_receive = static_cast<int>(server->random() % 4096);
    int client_send = static_cast<int>(server->random() % 4096);
    msg_pack(client->link, {pack_begin(0), pack_byte(MSG_UNIVERSE_KEY), pack_word(client_receive),
                            pack_word(client_send), pack_end()});
    connection_start_ciphers(client->link, client_send, client_receive);
    client->keyed = true;
}

// MSG_UNIVERSE_PROPERTIES: pairs of (byte tag, string text); tag 6 is the
// build, which decides whether login replies carry a ticket.
void send_properties(SimServer* server, SimClient* client) {
    std::string build = std::to_string(server->options.universe_build);
    msg_pack(client->link, {pack_begin(0), pack_byte(MSG_UNIVERSE_PROPERTIES), pack_byte(UNIVERSE_BUILD_TAG),
                            pack_string(build.c_str()), pack_end()});
}

int login_result(const SimServer* server, int32_t owner, const char* password) {
    const std::vector<SimCitizen>& citizens = server->options.citizens;
    if (!citizens.empty()) {
        auto citizen = std::find_if(citizens.begin(), citizens.end(),
                                    [&](const SimCitizen& c) { return c.number == owner; });
        if (citizen == citizens.end()) return RESULT_NO_SUCH_CITIZEN;
        if (citizen->password != password) return RESULT_INVALID_PASSWORD;
    }
    if (server->options.bot_limit > 0) {
        long running = std::count_if(server->sessions.begin(), server->sessions.end(),
                                     [&](const auto& entry) { return entry.second.owner == owner; });
        if (running >= server->options.bot_limit) return RESULT_BOT_LIMIT_EXCEEDED;
    }
    return 0;
}

void end_session(SimServer* server, SimClient* client) {
    if (!client->logged_in) return;
    server->sessions.erase(client->session);
    client->logged_in = false;
}

// MSG_LOGIN, sealed while the link has no cipher: long build, string name,
// long owner, string password, string application. The key goes out only
// after the login was read, so the client can never race a sealed login
// against our key. Reply MSG_LOGIN_REPLY: on success word session, string
// text and, above universe build 22, long ticket; on refusal no fields.
void login(SimServer* server, SimClient* client) {
    Connection* link = client->link;
    if (!client->keyed) connection_unseal(link);
    int32_t build = 0;
    int32_t owner = 0;
    char name[256];
    char password[256];
    char application[256];
    if (msg_unpack(link, {unpack_long(&build), unpack_string(name), unpack_long(&owner), unpack_string(password),
                          unpack_string(application), unpack_end()}) != 0) {
        sim_client_drop(server, client, "unreadable login");
        return;
    }
    if (!client->keyed) {
        send_key(server, client);
        send_properties(server, client);
    }
    end_session(server, client);
    int result = login_result(server, owner, password);
    uint32_t number = result == 0 ? sim_session_allocate(server) : 0;
    if (result == 0 && number == 0) result = RESULT_SERVER_OUT_OF_MEMORY;
    if (result != 0) {
        sim_log(server, "login of " + std::string(name) + " for citizen " + std::to_string(owner) + " refused: " +
                            std::to_string(result));
        msg_pack(link, {pack_begin(result), pack_byte(MSG_LOGIN_REPLY), pack_end()});
        return;
    }
    SimSession session{number, static_cast<uint32_t>(server->random()), owner, name, client->id};
    server->sessions[number] = session;
    client->logged_in = true;
    client->session = number;
    sim_log(server, "login of " + session.name + " for citizen " + std::to_string(owner) + ": session " +
                        std::to_string(number));
    const char* welcome = "Welcome to worldsim.";
    if (server->options.universe_build > 22) {
        msg_pack(link, {pack_begin(0), pack_byte(MSG_LOGIN_REPLY), pack_word(static_cast<int32_t>(number)),
                        pack_string(welcome), pack_long(static_cast<int32_t>(session.ticket)), pack_end()});
    } else {
        msg_pack(link, {pack_begin(0), pack_byte(MSG_LOGIN_REPLY), pack_word(static_cast<int32_t>(number)),
                        pack_string(welcome), pack_end()});
    }
}

// MSG_WORLD_LOOKUP: string name. Reply MSG_WORLD_ADDRESS: string name, then
// on success long address (host order), word port, word build; a world that
// is not served is refused with 27 and the name alone.
void lookup(SimServer* server, SimClient* client) {
    char name[256];
    if (msg_unpack(client->link, {unpack_string(name), unpack_end()}) != 0) {
        sim_client_mark_dead(server, client);
        return;
    }
    SimWorld* world = sim_world_open(server, name);
    if (world == nullptr) {
        msg_pack(client->link, {pack_begin(RESULT_WORLD_NOT_RUNNING), pack_byte(MSG_WORLD_ADDRESS), pack_string(name),
                                pack_end()});
        return;
    }
    msg_pack(client->link, {pack_begin(0), pack_byte(MSG_WORLD_ADDRESS), pack_string(name),
                            pack_long(static_cast<int32_t>(ntohl(server->address))), pack_word(world->port),
                            pack_word(server->options.world_build), pack_end()});
}

}  // namespace

void sim_universe_frame(SimServer* server, SimClient* client) {
    uint8_t type = 0;
    if (msg_unpack(client->link, {unpack_byte(&type), unpack_stop()}) != 0) {
        sim_client_mark_dead(server, client);
        return;
    }
    if (type == MSG_LOGIN) {
        login(server, client);
        return;
    }
    if (!client->logged_in) {
        sim_client_drop(server, client, "message " + std::to_string(type) + " before a login");
        return;
    }
    switch (type) {
        case MSG_WORLD_LOOKUP:
            lookup(server, client);
            break;
        case MSG_UNIVERSE_KEEPALIVE:
        case MSG_UNIVERSE_PONG:
            if (msg_unpack(client->link, {unpack_end()}) != 0) sim_client_mark_dead(server, client);
            break;
        default:
            // No client sends anything else: this one is broken or hostile.
            sim_client_drop(server, client, "unknown message " + std::to_string(type));
            break;
    }
}

void sim_universe_gone(SimServer* server, SimClient* client) {
    if (client->logged_in) sim_log(server, "universe link of session " + std::to_string(client->session) + " closed");
    end_session(server, client);
}
