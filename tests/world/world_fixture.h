// A logged-in bot against two scripted peers, one playing the universe and one
// the world, with the library's clock under the test's control.
#pragma once

#include "tests/support/scripted_peer.h"
#include "worldlink/library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace worldlink;

inline constexpr int SESSION = 0x1234;
inline constexpr int32_t TICKET = 0x0A0B0C0D;
inline constexpr int32_t LOOPBACK = 0x7F000001;  // 127.0.0.1 as a number

// What the event handlers saw. Handlers are plain functions, so this is global.
struct Heard {
    int count[EVENT_COUNT] = {};
    std::vector<std::string> speakers;
    std::vector<std::string> lines;
    std::vector<int> chat_types;
    std::vector<int> object_x;
    std::vector<int> object_z;
    int disconnect_reason = -1;
};
extern Heard heard;

// Counts the event and keeps what the tests look at.
template <int Slot>
void record_event() {
    ++heard.count[Slot];
    if (Slot == EVENT_CHAT) {
        heard.speakers.emplace_back(wl_string(ATTR_AVATAR_NAME));
        heard.lines.emplace_back(wl_string(ATTR_CHAT_MESSAGE));
        heard.chat_types.push_back(wl_int(ATTR_CHAT_TYPE));
    }
    if (Slot == EVENT_CELL_OBJECT) {
        heard.object_x.push_back(wl_int(ATTR_OBJECT_X));
        heard.object_z.push_back(wl_int(ATTR_OBJECT_Z));
    }
    if (Slot == EVENT_WORLD_DISCONNECT) heard.disconnect_reason = wl_int(ATTR_WORLD_DISCONNECT_REASON);
}

void install_every_event();

// The frames of one type a peer received, in order.
std::vector<PeerFrame> frames(ScriptedPeer& peer, int type);
// Checks integer attributes of the current instance.
void expect_ints(std::initializer_list<std::pair<int, int>> attributes);

class WorldFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Every world login is answered with these world properties.
    void world_answers(const Body& properties = Body());
    // Every world login is answered with this message instead.
    void world_answers_with(int type, const Body& body = Body());
    int enter(const char* name);
    // Runs the library until the condition holds (bounded in real time).
    bool pump_until(const std::function<bool()>& condition);
    void pump();
    // Pumps until the event has been heard this many times in all.
    bool until_heard(int slot, int times) {
        return pump_until([=] { return heard.count[slot] == times; });
    }
    // Five idle seconds later no new world link has been opened.
    bool stays_out();
    std::vector<PeerFrame> world_frames(int type) { return frames(world, type); }
    int lookups() { return universe.count(MSG_WORLD_LOOKUP); }

    FakeClock clock;  // before wl_init: the library takes its tick base from it
    ScriptedPeer universe{PeerRole::universe};
    ScriptedPeer world{PeerRole::world};
    Instance* bot = nullptr;
    std::atomic<int> lookup_build{30};
    std::atomic<int> lookup_result{0};
    std::atomic<int> lookup_port{0};  // 0: the world peer's
};

// Bodies of the world messages the tests send.
Body avatar_add_body(int build, int session, const std::string& name);
Body object_body(int32_t number, int x_offset, int y, int z_offset);
