// The protocol side of worldsim: one universe and any number of worlds, all
// served by one thread that multiplexes every socket with epoll.
//
// 1. Every connection is a wire-layer Connection; frames are read with
//    connection_receive and msg_unpack, exactly as a client reads them.
// 2. A client that breaks the protocol in any way is dropped alone; failures
//    found while sending to one client mark it dead and it is dropped after
//    the current event, so no loop ever runs over a changing client table.
// 3. Times are clock_raw() milliseconds compared with tick_elapsed.
#pragma once

#include "worldlink/wire/wire.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "tools/worldsim/options.h"
#include "tools/worldsim/snapshot.h"

using namespace worldlink;

inline constexpr int SIM_TRAIL_LENGTH = 8;
inline constexpr size_t SIM_CHAT_KEPT = 100;

// Event-mask bits a world client sends with MSG_EVENT_MASK.
inline constexpr uint32_t SIM_MASK_AVATARS = 0x01;
inline constexpr uint32_t SIM_MASK_CHANGES = 0x02;
inline constexpr uint32_t SIM_MASK_CHAT = 0x04;
inline constexpr int SIM_MASK_BITS = 3;

struct SimAvatar {
    uint32_t session;
    std::string name;
    int32_t x, y, z;
    uint16_t yaw;  // as sent: the client's heading cut to 16 bits
    uint8_t type, extra;
    std::vector<ViewPoint> trail;  // oldest first, at most SIM_TRAIL_LENGTH; empty, it allocates nothing
    bool visitor;
    bool moved;         // has changed place since it entered
    uint32_t still_at;  // clock_raw() of its entry or its last change of place
};

struct SimSession {
    uint32_t number;
    uint32_t ticket;
    int32_t owner;
    std::string name;
    uint64_t universe_client;  // 0 once its universe link is gone
};

enum SimLinkKind { SIM_UNIVERSE_LINK, SIM_WORLD_LINK };

struct SimClient {
    uint64_t id;
    Connection* link;
    SimLinkKind kind;
    std::string world;     // world links: the world whose port it came to
    bool keyed;            // ciphers running: later logins arrive enciphered
    bool logged_in;
    uint32_t session;      // valid while logged_in
    uint32_t accepted_at;
    bool partial;          // part of a frame has arrived and the rest not yet
    uint32_t partial_since;
    uint32_t mask;         // world links: the event mask
    bool watching_output;  // registered for EPOLLOUT while bytes wait
    bool unflushed;        // listed in SimServer::unflushed
    bool news_held;        // listed in SimServer::news
    bool closing;          // being closed: input is discarded
    bool shut;             // closing and our side shut down after the last byte
    uint32_t closing_since;
    bool dead;
};

struct SimWorld {
    std::string name;  // lower case
    SocketHandle listener;
    uint16_t port;     // host order
    uint32_t visitor;  // the visitor's session
    std::map<uint32_t, SimAvatar> avatars;     // by session, the visitor included
    std::map<uint32_t, uint64_t> members;      // session to world client id
    // Per event-mask bit, the members whose mask has it, so that news goes
    // only to those who asked without a walk over everyone present.
    std::map<uint32_t, uint64_t> hearing[SIM_MASK_BITS];
    std::deque<ViewChat> chat;
};

struct SimServer {
    SimOptions options;
    SimShared* shared;
    int epoll;
    uint32_t address;  // network order
    SocketHandle universe_listener;
    uint16_t universe_port;  // host order
    uint64_t next_id;
    uint32_t next_session;
    uint64_t next_chat_seq;
    uint32_t last_heartbeat;
    uint32_t last_publish;
    uint32_t last_sweep;
    bool view_dirty;
    uint64_t view_version;
    std::unordered_map<uint64_t, std::unique_ptr<SimClient>> clients;
    // Clients with a time limit running (no login yet, half a frame, or
    // closing): the sweep looks at these alone, not at every idle client.
    std::unordered_set<uint64_t> timed;
    // Clients whose frames were received ahead of their turn: no socket
    // event will announce those again.
    std::vector<uint64_t> again;
    // Clients whose link holds frames packed in this round of the loop: each
    // gets one send for all of them when the round ends.
    std::vector<uint64_t> unflushed;
    // Clients holding news of others (adds, changes, chat): these go out on
    // the next news tick, so a busy world sends each client one batch per
    // tick rather than a segment per event. A reply flushes what is held
    // before it, so each link keeps its order.
    std::vector<uint64_t> news;
    uint32_t last_news;
    std::unordered_map<uint64_t, std::string> listeners;  // id to world name
    std::map<std::string, std::unique_ptr<SimWorld>> worlds;
    std::unordered_map<uint32_t, SimSession> sessions;
    std::vector<uint64_t> dead;  // marked for dropping after the current event
    std::mt19937 random;
};

// Binds the universe port and the worlds named in the options. 0, or an error
// text in `error`.
int sim_server_start(SimServer* server, const SimOptions& options, SimShared* shared, std::string* error);
// Serves until shared->stopping is set.
void sim_server_run(SimServer* server);
// Closes every socket and answers queued commands.
void sim_server_stop(SimServer* server);

// ---- inside the server

SimWorld* sim_world_find(SimServer* server, const std::string& name);
// The world of that name, made when the options allow; null otherwise.
SimWorld* sim_world_open(SimServer* server, const std::string& name);
SimClient* sim_client(SimServer* server, uint64_t id);
uint32_t sim_session_allocate(SimServer* server);
void sim_client_mark_dead(SimServer* server, SimClient* client);
// Logs why the client goes ("client N dropped: why") and marks it dead.
void sim_client_drop(SimServer* server, SimClient* client, const std::string& why);
// Records that a message was packed for the client: output may be pending.
void sim_client_packed(SimServer* server, SimClient* client);
// The same for news packed for the client: it waits for the news tick.
void sim_client_news(SimServer* server, SimClient* client);
// Lets the pending bytes go out, then shuts our side and waits (briefly) for
// the client to close, so that a close message is not lost to a reset.
void sim_client_close_soon(SimServer* server, SimClient* client);
// Reads and handles the frames waiting on the client's link (a bounded number).
void sim_client_readable(SimServer* server, SimClient* client);
// Drops the clients marked dead: their links close and they leave their world.
void sim_server_reap(SimServer* server);
void sim_log(const SimServer* server, const std::string& line);

// Universe link: one complete frame is waiting.
void sim_universe_frame(SimServer* server, SimClient* client);
void sim_universe_gone(SimServer* server, SimClient* client);

// World link: one complete frame is waiting.
void sim_world_frame(SimServer* server, SimClient* client);
void sim_world_gone(SimServer* server, SimClient* client);
void sim_world_say(SimServer* server, SimWorld* world, const std::string& text);
void sim_world_heartbeat(SimServer* server);
// Sends one of the close messages (465, 466, 467, 489, or SIM_DROP_ALL) and
// closes the link once it is out; SIM_DROP_CLOSE closes at once.
void sim_world_drop(SimServer* server, SimClient* client, int reason);
void sim_chat_log(SimServer* server, SimWorld* world, const std::string& kind, uint32_t from, uint32_t to,
                  const std::string& text);

// Viewer picture.
std::shared_ptr<const ViewState> sim_view_build(SimServer* server);
