// Outbound world messages, one function per message. Each returns the
// msg_pack reason; the layout of every message is written beside its packer.
#pragma once

#include <cstdint>
#include <string>

namespace worldlink {
struct Connection;
}
using worldlink::Connection;
struct SimAvatar;

int sim_send_world_key(Connection* link, int client_receive_discard, int client_send_discard);
int sim_send_world_properties(Connection* link, int build);
int sim_send_avatar_add(Connection* link, int build, const SimAvatar& avatar);
int sim_send_avatar_change(Connection* link, const SimAvatar& avatar);
int sim_send_avatar_delete(Connection* link, uint32_t session);
// chat_type 0 is a line said aloud, 2 a whisper.
int sim_send_chat(Connection* link, int chat_type, uint32_t speaker, const std::string& text);
int sim_send_flag_set(Connection* link);
// One of the close messages; reason 465, 466, 467, 489 or 1 (drop both links).
int sim_send_world_close(Connection* link, int reason);
