// The library's inbound path: bytes reach the universe and world links of one
// instance as a server would send them, in the state the input's header
// picks, and go through the real dispatchers, handlers and events. The event
// handlers call back into the library.
//
// Input: a header of eight bytes, then the streams.
//   0     bit 0: the universe has logged the instance in (else the login
//         awaits its reply); bits 1-2: the world link (0 none, 1 login sent,
//         2 or 3 in the world); bit 3: the universe link is keyed; bit 4: the
//         world link is keyed
//   1     the world build: 19 + value % 12
//   2..5  what the event handlers do, one byte for each of the first four
//         events (HandlerAction)
//   6..7  how many of the remaining bytes go to the universe link; the rest
//         goes to the world link
//
// Every connect the library makes is answered here instead of by the
// network: during the set-up with a local socket pair, afterwards with a
// refusal, so redirects and reconnects never leave the process.
#include "fuzz/targets.h"
#include "worldlink/library.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

using namespace worldlink;

namespace {

constexpr uint32_t FIXED_CLOCK = 1000000;
constexpr int ACTIONS = 4;

enum HandlerAction { ACT_NOTHING, ACT_WHISPER, ACT_EXIT, ACT_ENTER, ACT_DESTROY, ACT_STATE, ACT_KINDS };

bool connects_allowed = false;
std::vector<int> server_ends;  // the far end of each connect, in order
uint8_t actions[ACTIONS];
int actions_used = 0;

uint32_t fixed_clock() { return FIXED_CLOCK; }

void on_event() {
    if (actions_used >= ACTIONS) return;
    switch (actions[actions_used++] % ACT_KINDS) {
    case ACT_WHISPER:
        wl_whisper(wl_int(ATTR_AVATAR_SESSION), "fuzz");
        break;
    case ACT_EXIT:
        wl_exit();
        break;
    case ACT_ENTER:
        wl_enter("fuzz");
        break;
    case ACT_DESTROY:
        wl_destroy();
        break;
    case ACT_STATE:
        wl_state_change();
        break;
    default:
        break;
    }
}

// A frame as a server sends it: two length bytes, then the content.
void add_frame(std::vector<uint8_t>& stream, const std::vector<uint8_t>& content) {
    stream.push_back(static_cast<uint8_t>(content.size() >> 8));
    stream.push_back(static_cast<uint8_t>(content.size()));
    stream.insert(stream.end(), content.begin(), content.end());
}

// The key message (its content starts with `header`), then the rest
// enciphered the way the client will decipher it.
void add_key(std::vector<uint8_t>& stream, std::vector<uint8_t> header, uint16_t receive_discard) {
    header.insert(header.end(), {static_cast<uint8_t>(receive_discard >> 8), static_cast<uint8_t>(receive_discard), 0, 0});
    add_frame(stream, header);
}

void encipher_from(std::vector<uint8_t>& stream, size_t start, uint16_t discard) {
    Rc4State* cipher = rc4_create(LINK_KEY, sizeof LINK_KEY);
    if (cipher == nullptr) return;
    rc4_skip(cipher, discard);
    rc4_apply(cipher, stream.data() + start, static_cast<int>(stream.size() - start));
    rc4_destroy(cipher);
}

// Hands the stream to the link, then ends the server's side of it: the
// client reads every byte, then the close.
void deliver(int end, const std::vector<uint8_t>& stream) {
    size_t sent = 0;
    while (sent < stream.size()) {
        const ssize_t taken = send(end, stream.data() + sent, stream.size() - sent, MSG_NOSIGNAL);
        if (taken <= 0) break;
        sent += static_cast<size_t>(taken);
    }
    shutdown(end, SHUT_WR);
}

}  // namespace

extern "C" int connect(int fd, const sockaddr*, socklen_t) {
    int pair[2];
    if (!connects_allowed || socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
        errno = ECONNREFUSED;
        return -1;
    }
    // The library's socket becomes the near end; the descriptor keeps its number.
    dup2(pair[0], fd);
    close(pair[0]);
    server_ends.push_back(pair[1]);
    return 0;
}

int fuzz_library(const uint8_t* data, size_t size) {
    FuzzInput input{data, size};
    const uint8_t flags = input.byte();
    const bool logged_in = (flags & 1) != 0;
    const int world_mode = flags >> 1 & 3;
    const bool universe_keyed = (flags & 8) != 0;
    const bool world_keyed = (flags & 16) != 0;
    const int build = 19 + input.byte() % 12;
    for (uint8_t& action : actions) action = input.byte();
    actions_used = 0;
    const std::string_view universe_bytes = input.text(input.word());
    const std::string_view world_bytes = input.rest();

    clock_replace(fixed_clock);
    if (wl_init(LIBRARY_BUILD) != 0) return 0;
    // Blocking calls that handlers make end after one pass instead of
    // waiting for answers that only the input could bring.
    wl_cancel();
    for (int slot = 0; slot < EVENT_COUNT; ++slot) wl_event_set(slot, on_event);

    server_ends.clear();
    connects_allowed = true;
    Instance* instance = nullptr;
    if (wl_create("127.0.0.1", 1, &instance) == 0) {
        instance->world_build = build;
        std::strcpy(instance->world_name, "fuzz");
        instance->world_name_length = 4;
        instance->world_address = net_order32(LOOPBACK_ADDRESS);
        instance->world_port = net_order16(2);
        if (world_mode != 0 && world_connect(instance) == 0) world_connect_finish(instance);
        connects_allowed = false;

        // The streams are enciphered from the position the key takes effect.
        const uint16_t discard = static_cast<uint16_t>(flags * 131);
        std::vector<uint8_t> universe;
        if (universe_keyed) add_key(universe, {0, MSG_UNIVERSE_KEY}, discard);
        const size_t universe_plain = universe.size();
        if (logged_in) add_frame(universe, {0, MSG_LOGIN_REPLY, 0, 7, 0});
        universe.insert(universe.end(), universe_bytes.begin(), universe_bytes.end());
        if (universe_keyed) encipher_from(universe, universe_plain, discard);
        deliver(server_ends[0], universe);

        if (server_ends.size() > 1) {
            std::vector<uint8_t> world;
            if (world_keyed) add_key(world, {MSG_WORLD_KEY}, discard);
            const size_t world_plain = world.size();
            world.insert(world.end(), world_bytes.begin(), world_bytes.end());
            if (world_keyed) encipher_from(world, world_plain, discard);
            deliver(server_ends[1], world);
            if (world_mode >= 2) {
                instance->world_state = WORLD_IN;
                instance->entered = 1;
            }
        }
        wl_login();
        wl_wait(0);
    }
    connects_allowed = false;
    for (int slot = 0; slot < EVENT_COUNT; ++slot) wl_event_set(slot, nullptr);
    wl_term();
    for (int end : server_ends) close(end);
    server_ends.clear();
    clock_replace(nullptr);
    return 0;
}
