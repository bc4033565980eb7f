// The world link: the four logins, presence, movement, whispers, the event
// mask and the chat of the world's visitor.
//
// Who hears what follows each client's event mask: avatar adds and deletes
// need SIM_MASK_AVATARS, changes SIM_MASK_CHANGES, chat SIM_MASK_CHAT. A
// whisper arrives as chat type 2 (MSG_CHAT_2) from the whisperer's session;
// the visitor speaks as chat type 0 (MSG_CHAT_0).

#include <bit>
#include <cctype>

#include "tools/worldsim/server.h"
#include "tools/worldsim/world_send.h"
#include "worldlink/messages.h"
#include "worldlink/wire/wire.h"

namespace {

constexpr int REASON_NOT_WELCOME = 467;
constexpr uint32_t ALL_EVENTS = SIM_MASK_AVATARS | SIM_MASK_CHANGES | SIM_MASK_CHAT;

bool is_login(int type) {
    return type == MSG_WORLD_LOGIN_V1 || type == MSG_WORLD_LOGIN_V2 || type == MSG_WORLD_LOGIN_V3 ||
           type == MSG_WORLD_LOGIN_V4;
}

bool same_name(const char* a, const std::string& b) {
    std::string lowered = a;
    for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lowered == b;
}

SimClient* member_client(SimServer* server, SimWorld* world, uint32_t session) {
    auto member = world->members.find(session);
    return member == world->members.end() ? nullptr : sim_client(server, member->second);
}

// Calls send(client) for every live member whose mask has `bit` (any member
// when `bit` is 0), except `skip`.
template <typename Send>
void broadcast(SimServer* server, SimWorld* world, uint32_t bit, uint32_t skip, Send send) {
    const auto& to = bit == 0 ? world->members : world->hearing[std::countr_zero(bit)];
    for (const auto& [session, id] : to) {
        if (session == skip) continue;
        SimClient* client = sim_client(server, id);
        if (client == nullptr || client->dead || client->closing) continue;
        send(client);
        sim_client_news(server, client);
    }
}

// Files the member under each mask bit it has; mask 0 forgets it.
void hear(SimWorld* world, uint32_t session, uint64_t id, uint32_t mask) {
    for (int bit = 0; bit < SIM_MASK_BITS; ++bit) {
        if (mask & (1u << bit)) {
            world->hearing[bit][session] = id;
        } else {
            world->hearing[bit].erase(session);
        }
    }
}

// One add per avatar present, all in the client's next flush.
void send_everyone_present(SimServer* server, SimWorld* world, SimClient* client) {
    int build = server->options.world_build;
    for (const auto& [session, avatar] : world->avatars) {
        if (session == client->session) continue;
        if (sim_send_avatar_add(client->link, build, avatar) != 0) break;
    }
    sim_client_packed(server, client);
}

void leave(SimServer* server, SimWorld* world, SimClient* client) {
    if (!client->logged_in) return;
    client->logged_in = false;
    uint32_t session = client->session;
    auto member = world->members.find(session);
    if (member == world->members.end() || member->second != client->id) return;
    world->members.erase(member);
    hear(world, session, 0, 0);
    world->avatars.erase(session);
    server->view_dirty = true;
    broadcast(server, world, SIM_MASK_AVATARS, session,
              [&](SimClient* other) { sim_send_avatar_delete(other->link, session); });
}

void join(SimServer* server, SimWorld* world, SimClient* client, const SimSession& session) {
    if (SimClient* earlier = member_client(server, world, session.number); earlier && earlier != client) {
        // The same session from a new link: the client gave up the old one.
        leave(server, world, earlier);
        sim_client_mark_dead(server, earlier);
    }
    leave(server, world, client);
    SimAvatar avatar{};
    avatar.session = session.number;
    avatar.name = session.name;
    avatar.still_at = clock_raw();
    world->avatars[session.number] = avatar;
    world->members[session.number] = client->id;
    hear(world, session.number, client->id, client->mask);
    client->logged_in = true;
    client->session = session.number;
    server->view_dirty = true;
    sim_send_world_properties(client->link, server->options.world_build);
    if (client->mask & SIM_MASK_AVATARS) send_everyone_present(server, world, client);
    sim_client_packed(server, client);
    broadcast(server, world, SIM_MASK_AVATARS, session.number,
              [&](SimClient* other) { sim_send_avatar_add(other->link, server->options.world_build, avatar); });
}

// The four world logins, sealed while the link has no cipher:
//   V1 (10): word session, byte 50
//   V2 (12): string world, word session, byte 50
//   V3 (20): string world, word session, byte 50, long ticket
//   V4 (27): string world, long session, long ticket, word client build
// Answered by the key (first login only), then MSG_WORLD_PROPERTIES; a login
// that names another world, an unknown session or a wrong ticket is told
// "not welcome" (467) and closed.
void login(SimServer* server, SimClient* client, int type) {
    Connection* link = client->link;
    if (!client->keyed) connection_unseal(link);
    char name[256] = "";
    uint16_t short_session = 0;
    int32_t long_session = 0;
    int32_t ticket = 0;
    uint8_t constant = 0;
    uint16_t client_build = 0;
    int read = 0;
    switch (type) {
        case MSG_WORLD_LOGIN_V1:
            read = msg_unpack(link, {unpack_word(&short_session), unpack_byte(&constant), unpack_end()});
            break;
        case MSG_WORLD_LOGIN_V2:
            read = msg_unpack(link, {unpack_string(name), unpack_word(&short_session), unpack_byte(&constant),
                                     unpack_end()});
            break;
        case MSG_WORLD_LOGIN_V3:
            read = msg_unpack(link, {unpack_string(name), unpack_word(&short_session), unpack_byte(&constant),
                                     unpack_long(&ticket), unpack_end()});
            break;
        default:
            read = msg_unpack(link, {unpack_string(name), unpack_long(&long_session), unpack_long(&ticket),
                                     unpack_word(&client_build), unpack_end()});
            break;
    }
    if (read != 0) {
        sim_client_drop(server, client, "unreadable world login");
        return;
    }
    if (!client->keyed) {
        int client_receive = static_cast<int>(server->random() % 4096);
        int client_send = static_cast<int>(server->random() % 4096);
        sim_send_world_key(link, client_receive, client_send);
        connection_start_ciphers(link, client_send, client_receive);
        client->keyed = true;
        // A client that is never told a build above 20 never sends a mask.
        client->mask = server->options.world_build > 20 ? 0 : ALL_EVENTS;
    }
    uint32_t number = type == MSG_WORLD_LOGIN_V4 ? static_cast<uint32_t>(long_session) : short_session;
    bool has_ticket = type == MSG_WORLD_LOGIN_V3 || type == MSG_WORLD_LOGIN_V4;
    bool has_name = type != MSG_WORLD_LOGIN_V1;
    SimWorld* world = sim_world_find(server, client->world);
    auto session = server->sessions.find(number);
    const char* refusal = nullptr;
    if (world == nullptr) {
        refusal = "no such world";
    } else if (has_name && !same_name(name, world->name)) {
        refusal = "login names another world";
    } else if (session == server->sessions.end()) {
        refusal = "unknown session";
    } else if (has_ticket && server->options.universe_build > 22 &&
               static_cast<uint32_t>(ticket) != session->second.ticket) {
        refusal = "wrong ticket";
    }
    if (refusal != nullptr) {
        sim_log(server, "world login of session " + std::to_string(number) + " refused: " + refusal);
        sim_world_drop(server, client, REASON_NOT_WELCOME);
        return;
    }
    join(server, world, client, session->second);
}

// MSG_STATE_CHANGE: long x, y, z, word yaw, byte type, byte extra.
void state_change(SimServer* server, SimWorld* world, SimClient* client) {
    int32_t x = 0, y = 0, z = 0;
    uint16_t yaw = 0;
    uint8_t type = 0, extra = 0;
    if (msg_unpack(client->link, {unpack_long(&x), unpack_long(&y), unpack_long(&z), unpack_word(&yaw),
                                  unpack_byte(&type), unpack_byte(&extra), unpack_end()}) != 0) {
        sim_client_mark_dead(server, client);
        return;
    }
    auto found = world->avatars.find(client->session);
    if (found == world->avatars.end()) return;
    SimAvatar& avatar = found->second;
    if (avatar.x != x || avatar.z != z) {
        if (avatar.trail.size() == SIM_TRAIL_LENGTH) avatar.trail.erase(avatar.trail.begin());
        avatar.trail.push_back({avatar.x, avatar.z});
    }
    if (avatar.x != x || avatar.y != y || avatar.z != z) {
        avatar.moved = true;
        avatar.still_at = clock_raw();
    }
    avatar.x = x;
    avatar.y = y;
    avatar.z = z;
    avatar.yaw = yaw;
    avatar.type = type;
    avatar.extra = extra;
    server->view_dirty = true;
    broadcast(server, world, SIM_MASK_CHANGES, client->session,
              [&](SimClient* other) { sim_send_avatar_change(other->link, avatar); });
}

// MSG_WHISPER: word session, string text. Delivered to that session in the
// same world as chat type 2; whispers to the visitor go to the viewer's log.
void whisper(SimServer* server, SimWorld* world, SimClient* client) {
    uint16_t target = 0;
    char text[256];
    if (msg_unpack(client->link, {unpack_word(&target), unpack_string(text), unpack_end()}) != 0) {
        sim_client_mark_dead(server, client);
        return;
    }
    if (target == world->visitor) {
        sim_chat_log(server, world, "whisper", client->session, target, text);
        return;
    }
    SimClient* to = member_client(server, world, target);
    if (to == nullptr || to->dead || to->closing || (to->mask & SIM_MASK_CHAT) == 0) return;
    sim_send_chat(to->link, 2, client->session, text);
    sim_client_packed(server, to);
}

// MSG_EVENT_MASK: long mask. Gaining the avatar bit brings the adds of
// everyone already present, which a client asking late would otherwise miss.
void event_mask(SimServer* server, SimWorld* world, SimClient* client) {
    int32_t mask = 0;
    if (msg_unpack(client->link, {unpack_long(&mask), unpack_end()}) != 0) {
        sim_client_mark_dead(server, client);
        return;
    }
    uint32_t before = client->mask;
    client->mask = static_cast<uint32_t>(mask);
    hear(world, client->session, client->id, client->mask);
    if ((before & SIM_MASK_AVATARS) == 0 && (client->mask & SIM_MASK_AVATARS) != 0) {
        send_everyone_present(server, world, client);
    }
}

}  // namespace

void sim_world_frame(SimServer* server, SimClient* client) {
    Connection* link = client->link;
    uint8_t type = 0;
    if (msg_unpack(link, {unpack_byte(&type), unpack_stop()}) != 0) {
        sim_client_mark_dead(server, client);
        return;
    }
    if (is_login(type)) {
        login(server, client, type);
        return;
    }
    SimWorld* world = sim_world_find(server, client->world);
    if (!client->logged_in || world == nullptr) {
        sim_client_drop(server, client, "world message " + std::to_string(type) + " before a login");
        return;
    }
    switch (type) {
        case MSG_STATE_CHANGE:
            state_change(server, world, client);
            break;
        case MSG_WHISPER:
            whisper(server, world, client);
            break;
        case MSG_EVENT_MASK:
            event_mask(server, world, client);
            break;
        case MSG_WORLD_KEEPALIVE:
            if (msg_unpack(link, {unpack_end()}) != 0) sim_client_mark_dead(server, client);
            break;
        default:
            // No client sends anything else: this one is broken or hostile.
            sim_client_drop(server, client, "unknown message " + std::to_string(type));
            break;
    }
}

void sim_world_gone(SimServer* server, SimClient* client) {
    if (SimWorld* world = sim_world_find(server, client->world)) leave(server, world, client);
}

void sim_world_drop(SimServer* server, SimClient* client, int reason) {
    if (SimWorld* world = sim_world_find(server, client->world)) leave(server, world, client);
    if (reason == SIM_DROP_CLOSE) {
        sim_client_mark_dead(server, client);
        return;
    }
    sim_send_world_close(client->link, reason);
    sim_client_close_soon(server, client);
}

void sim_world_say(SimServer* server, SimWorld* world, const std::string& text) {
    sim_chat_log(server, world, "say", world->visitor, 0, text);
    broadcast(server, world, SIM_MASK_CHAT, world->visitor,
              [&](SimClient* other) { sim_send_chat(other->link, 0, world->visitor, text); });
}

void sim_world_heartbeat(SimServer* server) {
    for (auto& [name, world] : server->worlds) {
        broadcast(server, world.get(), 0, 0, [&](SimClient* other) { sim_send_flag_set(other->link); });
    }
}
