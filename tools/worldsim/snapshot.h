// What the protocol thread and the viewer threads share: a read-only picture
// of the worlds, republished by the protocol thread, and a queue of commands
// that the viewer hands to the protocol thread. Nothing else crosses threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct ViewPoint {
    int32_t x;
    int32_t z;
};

struct ViewAvatar {
    uint32_t session;
    std::string name;
    int32_t x;
    int32_t y;
    int32_t z;
    int yaw;  // tenths of a degree from north towards west, as the client sent it
    int type;
    int extra;
    bool visitor;
    std::vector<ViewPoint> trail;  // oldest first, the current position not included
    bool moved;         // has changed place since it entered
    uint32_t still_at;  // clock_raw() of its entry or its last change of place
};

struct ViewChat {
    uint64_t seq;  // grows by one per line across all worlds
    std::string kind;  // "say" or "whisper"
    uint32_t from;
    std::string from_name;
    uint32_t to;  // 0 for a line said to everyone
    std::string to_name;
    std::string text;
};

struct ViewWorld {
    std::string name;
    uint16_t port;  // host order
    int build;
    uint32_t visitor;  // the session of the world's visitor avatar
    std::vector<ViewAvatar> avatars;
    std::vector<ViewChat> chat;  // the latest lines, oldest first
};

struct ViewState {
    uint64_t version;
    std::string universe;  // "address:port"
    std::vector<ViewWorld> worlds;
};

struct SimReply {
    int status;  // an HTTP status
    std::string message;
};

enum SimCommandKind {
    SIM_SAY,             // the world's visitor says `text`
    SIM_DROP_WORLD,      // end `session`'s world link; `reason` picks the message
    SIM_DROP_UNIVERSE,   // close `session`'s universe link without a word
};

// Reasons for SIM_DROP_WORLD besides the four close codes 465, 466, 467, 489.
inline constexpr int SIM_DROP_ALL = 1;    // tell the client to drop both links
inline constexpr int SIM_DROP_CLOSE = 0;  // close the socket without a message

struct SimCommand {
    SimCommandKind kind;
    std::string world;
    std::string text;
    uint32_t session;
    int reason;
    std::promise<SimReply> reply;
};

struct SimShared {
    std::mutex lock;
    std::shared_ptr<const ViewState> view;  // never null once the server runs
    std::deque<SimCommand> commands;
    int wake_fd = -1;  // an eventfd the protocol thread polls
    std::atomic<bool> stopping{false};
};

// Viewer side: the current picture (never null after sim_shared_publish).
std::shared_ptr<const ViewState> sim_shared_view(SimShared* shared);
// Viewer side: queues a command and waits up to timeout_ms for its reply.
SimReply sim_shared_command(SimShared* shared, SimCommand command, int timeout_ms);
// Protocol side: replaces the picture.
void sim_shared_publish(SimShared* shared, std::shared_ptr<const ViewState> view);
// Protocol side: takes every queued command.
std::deque<SimCommand> sim_shared_take(SimShared* shared);
// Either side: wakes the protocol thread (async-signal-safe).
void sim_shared_wake(SimShared* shared);
