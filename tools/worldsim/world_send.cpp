#include "tools/worldsim/world_send.h"

#include "tools/worldsim/server.h"
#include "worldlink/messages.h"
#include "worldlink/wire/wire.h"

// MSG_WORLD_KEY: word receive discard (for the client's reading side), word
// send discard (for its writing side). Packed before the ciphers start, so
// it travels plain.
int sim_send_world_key(Connection* link, int client_receive_discard, int client_send_discard) {
    return msg_pack(link, {pack_begin(MSG_WORLD_KEY), pack_word(client_receive_discard),
                           pack_word(client_send_discard), pack_end()});
}

// MSG_WORLD_PROPERTIES: pairs of (byte tag, data value) to the end; tag 21
// carries the build as text.
int sim_send_world_properties(Connection* link, int build) {
    std::string text = std::to_string(build);
    return msg_pack(link, {pack_begin(MSG_WORLD_PROPERTIES), pack_byte(21),
                           pack_data(static_cast<int32_t>(text.size()), text.data()), pack_end()});
}

// MSG_AVATAR_ADD: session (word below build 28, long from 28), string name,
// long x, y, z, word yaw, byte type, byte extra; from build 28 also a word
// and two longs that worldsim leaves at 0, -1, -1.
int sim_send_avatar_add(Connection* link, int build, const SimAvatar& a) {
    if (build < 28) {
        return msg_pack(link, {pack_begin(MSG_AVATAR_ADD), pack_word(static_cast<int32_t>(a.session)),
                               pack_string(a.name.c_str()), pack_long(a.x), pack_long(a.y), pack_long(a.z),
                               pack_word(a.yaw), pack_byte(a.type), pack_byte(a.extra), pack_end()});
    }
    return msg_pack(link, {pack_begin(MSG_AVATAR_ADD), pack_long(static_cast<int32_t>(a.session)),
                           pack_string(a.name.c_str()), pack_long(a.x), pack_long(a.y), pack_long(a.z),
                           pack_word(a.yaw), pack_byte(a.type), pack_byte(a.extra), pack_word(0), pack_long(-1),
                           pack_long(-1), pack_end()});
}

// MSG_AVATAR_CHANGE: word session, long x, y, z, word yaw, byte type, byte extra.
int sim_send_avatar_change(Connection* link, const SimAvatar& a) {
    return msg_pack(link, {pack_begin(MSG_AVATAR_CHANGE), pack_word(static_cast<int32_t>(a.session)),
                           pack_long(a.x), pack_long(a.y), pack_long(a.z), pack_word(a.yaw), pack_byte(a.type),
                           pack_byte(a.extra), pack_end()});
}

// MSG_AVATAR_DELETE: word session.
int sim_send_avatar_delete(Connection* link, uint32_t session) {
    return msg_pack(link, {pack_begin(MSG_AVATAR_DELETE), pack_word(static_cast<int32_t>(session)), pack_end()});
}

// MSG_CHAT_0 / MSG_CHAT_2: word speaker session, string text.
int sim_send_chat(Connection* link, int chat_type, uint32_t speaker, const std::string& text) {
    int type = chat_type == 2 ? MSG_CHAT_2 : MSG_CHAT_0;
    return msg_pack(link, {pack_begin(type), pack_word(static_cast<int32_t>(speaker)), pack_string(text.c_str()),
                           pack_end()});
}

// MSG_WORLD_FLAG_SET: no fields.
int sim_send_flag_set(Connection* link) {
    return msg_pack(link, {pack_begin(MSG_WORLD_FLAG_SET), pack_end()});
}

// The close messages carry no fields; their type says the reason.
int sim_send_world_close(Connection* link, int reason) {
    int type = MSG_WORLD_DROP_ALL;
    switch (reason) {
        case 465: type = MSG_WORLD_DROP_465; break;
        case 466: type = MSG_WORLD_DROP_466; break;
        case 467: type = MSG_WORLD_DROP_467; break;
        case 489: type = MSG_WORLD_DROP_489; break;
        default: break;
    }
    return msg_pack(link, {pack_begin(type), pack_end()});
}
